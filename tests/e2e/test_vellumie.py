"""vellumie.exe from outside: every path through its questions, answered in
its real message boxes, and the registry it leaves behind. Each test runs a
copy of the installer from its own folder, with tessel.dll and the two pages
beside it as they ship."""
import os
import shutil
import subprocess
import tempfile
import unittest

from browser_integration import (INSTALLER_CAPTION, REG_SZ, create_key, delete_key, dword_value, finish, read_box,
                                 regsvr32, registry_tree, set_value, start, text_value, tool_path)
from vellum_e2e import BIN, windows_path

IE_KEY = "Software\\Microsoft\\Internet Explorer"
MENU_EXT = IE_KEY + "\\MenuExt"
PAGE_ENTRY = "Vellum：自動取得に予約"
PARENT_ENTRY = "Vellum：自動取得に予約（親フレーム）"
CLOSE_BROWSERS = "全ての Internet Explorer を閉じてありますか"
INSTALL = "IE拡張のインストールを実行しますか\n\nアンインストールの場合は、「いいえ」を実行して下さい"
UNINSTALL = "IE拡張のアンインストールを実行しますか"
INSTALLED = "IE拡張をインストールしました"
UNINSTALLED = "IE拡張をアンインストールしました"
CLASS_KEY = "CLSID\\{B728B937-51B7-4EA4-93C2-879CDFF8635E}"
# The native messaging host's key of each browser, and the manifest it names.
HOST_NAME = "marlow.vellumhost"
CHROME_HOST = "Software\\Google\\Chrome\\NativeMessagingHosts\\" + HOST_NAME
EDGE_HOST = "Software\\Microsoft\\Edge\\NativeMessagingHosts\\" + HOST_NAME
FIREFOX_HOST = "Software\\Mozilla\\NativeMessagingHosts\\" + HOST_NAME
HOST_KEYS = {CHROME_HOST: "vellumhost-chrome.json", EDGE_HOST: "vellumhost-chrome.json",
             FIREFOX_HOST: "vellumhost-firefox.json"}
MANIFESTS = {
    "vellumhost-chrome.json": (
        b'{\r\n  "name": "marlow.vellumhost",\r\n  "description": "Vellum auto-get reservation",\r\n'
        b'  "path": "vellumhost.exe",\r\n  "type": "stdio",\r\n'
        b'  "allowed_origins": ["chrome-extension://eelnffiffmknaahhhgdckbdfmkbcdddo/"]\r\n}\r\n'),
    "vellumhost-firefox.json": (
        b'{\r\n  "name": "marlow.vellumhost",\r\n  "description": "Vellum auto-get reservation",\r\n'
        b'  "path": "vellumhost.exe",\r\n  "type": "stdio",\r\n'
        b'  "allowed_extensions": ["reserve@vellum.invalid"]\r\n}\r\n'),
}


def delete_host_keys():
    for key in HOST_KEYS:
        delete_key("HKCU", key)


def key_failure(path, what, code):
    return "レジストリ：HKEY_CURRENT_USER\\%s\r\n%s\r\nエラーコード：%s" % (path, what, code)


class InstallerTest(unittest.TestCase):
    def setUp(self):
        regsvr32("/u")
        delete_key("HKCU", MENU_EXT)
        delete_host_keys()
        self.work = tempfile.TemporaryDirectory()
        # A folder name whose first character ends in the byte of a backslash
        # in code page 932 (表 is 0x95 0x5C).
        self.folder = self.install_folder("表示")

    def tearDown(self):
        regsvr32("/u")
        delete_key("HKCU", MENU_EXT)
        delete_host_keys()
        self.work.cleanup()

    def install_folder(self, name, program="vellumie.exe"):
        folder = os.path.join(self.work.name, name)
        os.makedirs(folder)
        shutil.copy(os.path.join(BIN, "vellumie.exe"), os.path.join(folder, program))
        for shipped in ("tessel.dll", "ReserveAutoGet.htm", "ReserveAutoGetParent.htm"):
            shutil.copy(os.path.join(BIN, shipped), folder)
        self.program = os.path.join(folder, program)
        return folder

    def run_installer(self, *answers):
        """Runs the installer, answering its boxes in turn; returns the texts of
        the boxes seen. A box more than the answers fails the test."""
        installer = start(self.program)
        texts = []
        for answer in answers:
            texts.append(read_box(INSTALLER_CAPTION, answer))
        # An installer that has ended shows no further box; one still running
        # after its last answer is held by a box nobody expected.
        try:
            installer.wait(timeout=20)
        except subprocess.TimeoutExpired:
            extra = read_box(INSTALLER_CAPTION, "ok", seconds=2)
            finish(installer)
            self.fail("a box more than expected: %r" % (extra,))
        code, out = finish(installer)
        self.assertEqual((code, out), (0, ""), "exit code 0 and nothing on the console")
        return texts

    def install(self):
        self.assertEqual(self.run_installer("yes", "yes", "ok"), [CLOSE_BROWSERS, INSTALL, INSTALLED])

    def entries(self, folder):
        return {
            "": {},
            PAGE_ENTRY: {"": text_value(windows_path(os.path.join(folder, "ReserveAutoGet.htm"))),
                         "contexts": dword_value(1)},
            PARENT_ENTRY: {"": text_value(windows_path(os.path.join(folder, "ReserveAutoGetParent.htm"))),
                           "contexts": dword_value(1)},
        }

    def host_keys(self):
        return {key: registry_tree("HKCU", key) for key in HOST_KEYS}

    def installed_host_keys(self, folder):
        return {key: {"": {"": text_value(windows_path(os.path.join(folder, manifest)))}}
                for key, manifest in HOST_KEYS.items()}

    def manifests(self, folder):
        found = {}
        for name in MANIFESTS:
            path = os.path.join(folder, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    found[name] = f.read()
        return found

    def registered_component(self):
        tree = registry_tree("HKCR", CLASS_KEY)
        return tree and tree["InprocServer32"][""]

    # --- the questions -------------------------------------------------------------

    def test_no_to_the_first_question_asks_to_close_the_browser_and_changes_nothing(self):
        self.assertEqual(self.run_installer("no", "ok"),
                         [CLOSE_BROWSERS, "全ての Internet Explorer を閉じてから再度実行願います"])
        self.assertIsNone(registry_tree("HKCU", MENU_EXT))
        self.assertIsNone(self.registered_component())

    def test_no_to_both_the_other_questions_ends_without_a_word(self):
        self.assertEqual(self.run_installer("yes", "no", "no"), [CLOSE_BROWSERS, INSTALL, UNINSTALL])
        self.assertIsNone(registry_tree("HKCU", MENU_EXT))
        self.assertIsNone(self.registered_component())

    # --- installation ----------------------------------------------------------------

    def test_installation_writes_both_entries_and_registers_the_component(self):
        self.install()
        self.assertEqual(registry_tree("HKCU", MENU_EXT), self.entries(self.folder))
        self.assertEqual(self.registered_component(), text_value(windows_path(os.path.join(self.folder, "tessel.dll"))))

    def test_installation_writes_the_hosts_manifests_beside_it_and_a_key_per_browser(self):
        self.install()
        self.assertEqual(self.manifests(self.folder), MANIFESTS)
        self.assertEqual(self.host_keys(), self.installed_host_keys(self.folder))
        self.assertEqual(sorted(os.listdir(self.folder)),
                         sorted(["vellumie.exe", "tessel.dll", "ReserveAutoGet.htm", "ReserveAutoGetParent.htm",
                                 *MANIFESTS]), "no receiving file is left")

    def test_installing_twice_leaves_the_same_keys(self):
        self.install()
        first = registry_tree("HKCU", MENU_EXT)
        # A manifest changed by hand is written again whole.
        with open(os.path.join(self.folder, "vellumhost-chrome.json"), "wb") as f:
            f.write(b"{}" * 1000)
        self.install()
        self.assertEqual(registry_tree("HKCU", MENU_EXT), first)
        self.assertEqual(self.manifests(self.folder), MANIFESTS)
        self.assertEqual(self.host_keys(), self.installed_host_keys(self.folder))

    def test_paths_come_from_a_program_name_with_a_backslash_trail_byte(self):
        # ソ is 0x83 0x5C: the folder ends at the real separator before it.
        folder = self.install_folder("別", "vellumieソ.exe")
        self.install()
        self.assertEqual(registry_tree("HKCU", MENU_EXT), self.entries(folder))
        self.assertEqual(self.host_keys(), self.installed_host_keys(folder))

    # --- removal -----------------------------------------------------------------------

    def test_removal_takes_every_entry_of_ours_and_leaves_the_others(self):
        self.install()
        create_key("HKCU", MENU_EXT + "\\Other tool")
        set_value("HKCU", MENU_EXT + "\\Other tool", "", REG_SZ, "C:\\other\\menu.htm".encode())
        # An entry of an older installation, with a subkey of its own.
        create_key("HKCU", MENU_EXT + "\\Vellum old entry\\Inner")
        self.assertEqual(self.run_installer("yes", "no", "yes", "ok"), [CLOSE_BROWSERS, INSTALL, UNINSTALL, UNINSTALLED])
        self.assertEqual(registry_tree("HKCU", MENU_EXT),
                         {"": {}, "Other tool": {"": (REG_SZ, b"C:\\other\\menu.htm\0")}})
        self.assertIsNone(self.registered_component())
        self.assertEqual(self.host_keys(), dict.fromkeys(HOST_KEYS))
        self.assertEqual(self.manifests(self.folder), {})

    def test_removal_leaves_other_hosts_of_the_browsers(self):
        self.install()
        other = "Software\\Google\\Chrome\\NativeMessagingHosts\\other.host"
        create_key("HKCU", other)
        self.addCleanup(delete_key, "HKCU", other)
        self.assertEqual(self.run_installer("yes", "no", "yes", "ok"), [CLOSE_BROWSERS, INSTALL, UNINSTALL, UNINSTALLED])
        self.assertEqual(registry_tree("HKCU", other), {"": {}})
        self.assertIsNone(registry_tree("HKCU", CHROME_HOST))

    def test_removal_without_entries_still_unregisters_and_reports_success(self):
        self.assertEqual(regsvr32(), 0)
        self.assertEqual(self.run_installer("yes", "no", "yes", "ok"), [CLOSE_BROWSERS, INSTALL, UNINSTALL, UNINSTALLED])
        self.assertIsNone(self.registered_component())
        self.assertEqual(registry_tree("HKCU", MENU_EXT), {"": {}})

    # --- failures ------------------------------------------------------------------------

    def test_missing_component_stops_installation_and_removal_before_any_entry(self):
        os.remove(os.path.join(self.folder, "tessel.dll"))
        create_key("HKCU", MENU_EXT)
        self.assertEqual(self.run_installer("yes", "yes", "ok"),
                         [CLOSE_BROWSERS, INSTALL, "tessel.dll をインストールできません！"])
        self.assertEqual(registry_tree("HKCU", MENU_EXT), {"": {}})

        create_key("HKCU", MENU_EXT + "\\" + PAGE_ENTRY)
        self.assertEqual(self.run_installer("yes", "no", "yes", "ok"),
                         [CLOSE_BROWSERS, INSTALL, UNINSTALL, "tessel.dll をアンインストールできません！"])
        self.assertEqual(registry_tree("HKCU", MENU_EXT), {"": {}, PAGE_ENTRY: {}})

    def test_an_entry_that_cannot_be_created_leaves_the_component_registered(self):
        # Below a volatile key only volatile keys can be made.
        create_key("HKCU", MENU_EXT, volatile=True)
        self.assertEqual(self.run_installer("yes", "yes", "ok"), [
            CLOSE_BROWSERS, INSTALL,
            key_failure(MENU_EXT + "\\" + PAGE_ENTRY, "作成できません！", "3FD")])
        self.assertIsNotNone(self.registered_component())

    def test_the_parent_frame_entry_that_cannot_be_created(self):
        create_key("HKCU", MENU_EXT, volatile=True)
        create_key("HKCU", MENU_EXT + "\\" + PAGE_ENTRY, volatile=True)
        self.assertEqual(self.run_installer("yes", "yes", "ok"), [
            CLOSE_BROWSERS, INSTALL,
            key_failure(MENU_EXT + "\\" + PARENT_ENTRY, "作成できません！", "3FD")])
        page = registry_tree("HKCU", MENU_EXT)[PAGE_ENTRY]
        self.assertEqual(page["contexts"], dword_value(1))
        self.assertEqual(self.host_keys(), dict.fromkeys(HOST_KEYS), "the host comes after the menu entries")

    def test_a_host_key_that_cannot_be_created_ends_the_installation(self):
        # Edge's key below a volatile one: Chrome's is written, Firefox's never.
        # The browser's key is made again first: a volatile key's missing
        # parents would be made volatile with it, and stay after it; an
        # earlier test may have left the hosts' key non-volatile.
        edge = "Software\\Microsoft\\Edge"
        delete_key("HKCU", edge)
        create_key("HKCU", edge)
        self.addCleanup(delete_key, "HKCU", edge)
        create_key("HKCU", edge + "\\NativeMessagingHosts", volatile=True)
        self.assertEqual(self.run_installer("yes", "yes", "ok"), [
            CLOSE_BROWSERS, INSTALL, key_failure(EDGE_HOST, "作成できません！", "3FD")])
        keys = self.host_keys()
        self.assertEqual(keys[CHROME_HOST], self.installed_host_keys(self.folder)[CHROME_HOST])
        self.assertIsNone(keys[FIREFOX_HOST])
        self.assertEqual(registry_tree("HKCU", MENU_EXT), self.entries(self.folder))

    def test_a_manifest_that_cannot_be_written_ends_the_installation(self):
        # A folder where the manifest's file should be.
        os.makedirs(os.path.join(self.folder, "vellumhost-firefox.json"))
        self.assertEqual(self.run_installer("yes", "yes", "ok"), [
            CLOSE_BROWSERS, INSTALL,
            "ファイル：%s\r\n作成できません！\r\nエラーコード：5"
            % windows_path(os.path.join(self.folder, "vellumhost-firefox.json"))])
        self.assertEqual(self.host_keys(), dict.fromkeys(HOST_KEYS), "no key names a manifest that is not there")
        self.assertEqual(sorted(os.listdir(self.folder)),
                         sorted(["vellumie.exe", "tessel.dll", "ReserveAutoGet.htm", "ReserveAutoGetParent.htm",
                                 "vellumhost-chrome.json", "vellumhost-firefox.json"]))


class BrowserKeyTest(unittest.TestCase):
    """Failures above the menu-extension key. The browser's key is taken
    away or made volatile for a moment and put back as it was."""

    def setUp(self):
        regsvr32("/u")
        self.saved = registry_tree("HKCU", IE_KEY)
        delete_key("HKCU", IE_KEY)

    def tearDown(self):
        delete_key("HKCU", IE_KEY)
        for path, values in (self.saved or {}).items():
            key = IE_KEY + ("\\" + path if path else "")
            create_key("HKCU", key)
            for name, (kind, data) in values.items():
                set_value("HKCU", key, name, kind, data)
        regsvr32("/u")

    def run_installer(self, *answers):
        installer = start(tool_path("vellumie.exe"))
        texts = [read_box(INSTALLER_CAPTION, answer) for answer in answers]
        self.assertEqual(finish(installer)[0], 0)
        return texts

    def test_missing_browser_key_stops_installation(self):
        self.assertEqual(self.run_installer("yes", "yes", "ok"),
                         [CLOSE_BROWSERS, INSTALL, key_failure(IE_KEY, "オープンできません！", "2")])
        self.assertIsNone(registry_tree("HKCU", IE_KEY))
        self.assertIsNone(registry_tree("HKCR", CLASS_KEY), "the component is not registered")

    def test_menu_extension_key_that_cannot_be_created(self):
        create_key("HKCU", IE_KEY, volatile=True)
        self.assertEqual(self.run_installer("yes", "yes", "ok"),
                         [CLOSE_BROWSERS, INSTALL, key_failure(MENU_EXT, "作成できません！", "3FD")])
        self.assertIsNone(registry_tree("HKCR", CLASS_KEY))

    def test_menu_extension_key_that_cannot_be_had_for_removal(self):
        create_key("HKCU", IE_KEY, volatile=True)
        self.assertEqual(regsvr32(), 0)
        self.assertEqual(self.run_installer("yes", "no", "yes", "ok"),
                         [CLOSE_BROWSERS, INSTALL, UNINSTALL, key_failure(MENU_EXT, "アクセスできません！", "3FD")])
        self.assertIsNone(registry_tree("HKCR", CLASS_KEY), "the component was unregistered first")


if __name__ == "__main__":
    unittest.main()
