"""The manual in the HTML Help viewer, opened as the program's help command
opens it ("<program folder>\\Velm131.chm>Velm131Help", HH_DISPLAY_TOPIC).

help_probe.exe (tests/tools) opens it under the test session's Wine and
reports the window; this test checks the window type's caption, that the
contents tab lists every entry of the contents file in Japanese, and keeps
a screenshot of the display in e2e-artifacts/help_viewer.png for a person to
look at.

Environment (set by CTest): VELLUM_BIN, VELLUM_WINE_RUN, VELLUM_WINE_DIR,
VELLUM_E2E_ARTIFACTS, VELLUM_MANUAL_SOURCE.
"""
import os
import pathlib
import re
import subprocess
import threading
import unittest

CAPTION = 'Vellum 1.31b マニュアル'


def window_type_rect(hhp):
    """The position of the Velm131Help window type: [left,top,right,bottom]."""
    text = hhp.read_text(encoding='utf-8')
    definition = re.search(r'^Velm131Help=.*$', text, re.MULTILINE).group(0)
    return [int(n) for n in re.search(r'\[(\d+),(\d+),(\d+),(\d+)\]', definition).groups()]


def contents_entries(hhc):
    """The entry names of the contents file, in order."""
    text = hhc.read_text(encoding='utf-8')
    return re.findall(r'<param name="Name" value="([^"]*)">', text)


class HelpViewerTest(unittest.TestCase):
    def setUp(self):
        self.bin = pathlib.Path(os.environ['VELLUM_BIN'])
        self.artifacts = pathlib.Path(os.environ['VELLUM_E2E_ARTIFACTS'])
        self.artifacts.mkdir(parents=True, exist_ok=True)
        display_file = pathlib.Path(os.environ['VELLUM_WINE_DIR']) / 'display'
        self.display = display_file.read_text().strip()
        source = pathlib.Path(os.environ['VELLUM_MANUAL_SOURCE'])
        self.expected_entries = contents_entries(source / 'Velm131.hhc')
        self.expected_rect = window_type_rect(source / 'Velm131.hhp')

    def open_manual(self):
        """Runs the probe until it is ready; returns its report lines and the process."""
        probe = subprocess.Popen([os.environ['VELLUM_WINE_RUN'], str(self.bin / 'help_probe.exe')],
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        self.addCleanup(self.close, probe)
        lines = []
        timer = threading.Timer(90, probe.kill)   # a viewer that never gets ready
        timer.start()
        try:
            for raw in probe.stdout:
                line = raw.decode('utf-8').rstrip('\r\n')
                if line == 'ready':
                    break
                lines.append(line)
        finally:
            timer.cancel()
        return lines, probe

    def close(self, probe):
        if probe.poll() is None:
            try:
                probe.stdin.write(b'close\n')
                probe.stdin.close()
                probe.wait(timeout=30)
            except (OSError, subprocess.TimeoutExpired):
                probe.kill()
                probe.wait()

    def screenshot(self, name):
        path = self.artifacts / name
        subprocess.run(['import', '-display', self.display, '-window', 'root', str(path)],
                       check=True, timeout=60)
        return path

    def test_the_manual_opens_in_its_window_type_with_japanese_contents(self):
        self.assertTrue((self.bin / 'Velm131.chm').is_file(), 'Velm131.chm is not beside the programs')
        lines, probe = self.open_manual()
        # Taken before anything is judged, so that a failure can be looked at too.
        shot = self.screenshot('help_viewer.png')
        self.assertIsNone(probe.poll(), f'the probe ended early: {lines}')

        report = {}
        for line in lines:
            key, _, value = line.partition(' ')
            report.setdefault(key, []).append(value)
        self.assertEqual(report.get('window'), ['HH Parent'], lines)
        self.assertEqual(report.get('title'), [CAPTION])
        visible, *rect = report['visible'][0].split()
        self.assertEqual(visible, '1')
        # The viewer falls back to its own title and position when it can't
        # find the window type; the caption alone wouldn't tell, as the help
        # file's title is the same text.
        self.assertEqual(list(map(int, rect)), self.expected_rect)
        self.assertTrue(report.get('tab'), 'no navigation pane tab')
        self.assertEqual(report.get('toc'), [f'0 {name}' for name in self.expected_entries])
        self.assertGreater(shot.stat().st_size, 0)

        self.close(probe)
        self.assertEqual(probe.returncode, 0)


if __name__ == '__main__':
    unittest.main(verbosity=2)
