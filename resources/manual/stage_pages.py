#!/usr/bin/env python3
"""Stages the manual's sources for the CHM compiler.

usage: stage_pages.py SOURCE_DIR STAGE_DIR FILE...

The sources are kept in UTF-8 so that they can be read and reviewed like the
rest of the tree; the help viewer reads the compiled pages, the contents file
and the window caption as code page 932 (the language of the help file is
Japanese), so every file is converted here. A character that code page 932
can't hold stops the build instead of turning into a '?' in the manual.

It also refuses a page that doesn't declare Shift_JIS (the viewer would
guess the encoding) and a local link or contents entry that names a file the
project doesn't compile into the help file (it would open an error page).
"""
import html.parser
import pathlib
import re
import sys

CHARSET = re.compile(r'<meta\s+http-equiv="Content-Type"\s+content="text/html;\s*charset=Shift_JIS"',
                     re.IGNORECASE)


class LinkCollector(html.parser.HTMLParser):
    """Collects the local targets of href/src attributes and sitemap "Local" params."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.targets = []
        self._param_name = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        for name in ('href', 'src'):
            value = attrs.get(name)
            if value and not re.match(r'^[a-z]+:', value, re.IGNORECASE):
                self.targets.append(value)
        if tag == 'param' and (attrs.get('name') or '').lower() == 'local':
            self.targets.append(attrs.get('value') or '')


def project_files(hhp_text):
    """The [FILES] section of the project: the files the compiler stores."""
    files, section = [], None
    for line in hhp_text.splitlines():
        line = line.strip()
        if line.startswith('['):
            section = line.upper()
        elif section == '[FILES]' and line and not line.startswith(';'):
            files.append(line)
    return files


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    source, stage = pathlib.Path(argv[1]), pathlib.Path(argv[2])
    names = argv[3:]
    stage.mkdir(parents=True, exist_ok=True)

    hhp = [n for n in names if n.lower().endswith('.hhp')]
    if len(hhp) != 1:
        sys.exit('stage_pages: exactly one .hhp project file expected')
    stored = {f.lower() for f in project_files((source / hhp[0]).read_text(encoding='utf-8'))}

    problems = []
    for name in names:
        text = (source / name).read_text(encoding='utf-8')
        if name.lower().endswith(('.html', '.hhc')):
            if not CHARSET.search(text):
                problems.append(f'{name}: no charset=Shift_JIS declaration')
            collector = LinkCollector()
            collector.feed(text)
            for target in collector.targets:
                file_part = target.split('#', 1)[0]
                if file_part and file_part.lower() not in stored:
                    problems.append(f'{name}: link to {target}, which is not in [FILES]')
            if name.lower().endswith('.html') and name.lower() not in stored:
                problems.append(f'{name}: page missing from [FILES]')
        try:
            data = text.encode('cp932')
        except UnicodeEncodeError as error:
            line = text.count('\n', 0, error.start) + 1
            problems.append(f'{name}:{line}: {text[error.start:error.end]!r} is not in code page 932')
            continue
        # CR LF, as the help compiler's own tools write them.
        data = data.replace(b'\r\n', b'\n').replace(b'\n', b'\r\n')
        (stage / name).write_bytes(data)

    if problems:
        sys.exit('stage_pages:\n  ' + '\n  '.join(problems))


if __name__ == '__main__':
    main(sys.argv)
