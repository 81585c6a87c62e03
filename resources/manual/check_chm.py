#!/usr/bin/env python3
"""Checks a compiled help file against its project before the build ships it.

usage: check_chm.py CHMLS HELP.chm PROJECT.hhp

The program opens the manual as "Velm131.chm>Velm131Help", so the file must
hold that window type. The help viewer finds window types in the internal
file #WINDOWS (a count, the entry size, then one HH_WINTYPE record per type
whose texts are offsets into #STRINGS) and the language in #SYSTEM; a
compiler that dropped the [WINDOWS] section or the language would still
produce a file that opens, in the wrong window or with garbled Japanese.
This reads those internal files back (extracted with the CHM tool chmls)
and compares them with the project, and checks that every page of the
project is stored.
"""
import pathlib
import struct
import subprocess
import sys
import tempfile

ENTRY_SIZE = 196          # HH_WINTYPE as stored by compilers for version 1.1 and later
TRI_PANE = 0x20           # HHWIN_PROP_TRI_PANE
SYSTEM_LOCALE = 4         # #SYSTEM entry code of the locale
SYSTEM_DEFAULT_WINDOW = 5
JAPANESE = 0x0411


def read_project(path):
    sections, current = {}, None
    for line in path.read_text(encoding='utf-8').splitlines():
        line = line.strip()
        if not line or line.startswith(';'):
            continue
        if line.startswith('[') and line.endswith(']'):
            current = sections.setdefault(line[1:-1].upper(), [])
        elif current is not None:
            current.append(line)
    return sections


def split_fields(text):
    """Splits a [WINDOWS] definition at commas outside quotes; quotes removed."""
    fields, field, quoted = [], '', False
    for ch in text:
        if ch == '"':
            quoted = not quoted
        elif ch == ',' and not quoted:
            fields.append(field)
            field = ''
        else:
            field += ch
    fields.append(field)
    return fields


def extract(chmls, chm, name, folder):
    out = folder / name.strip('/#$')
    done = subprocess.run([chmls, 'extract', str(chm), name, str(out)],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if done.returncode != 0 or not out.exists():
        raise SystemExit(f'check_chm: {chm.name} holds no {name}')
    return out.read_bytes()


def string_at(strings, offset):
    end = strings.index(b'\0', offset)
    return strings[offset:end].decode('cp932')


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__)
    chmls, chm, hhp = argv[1], pathlib.Path(argv[2]), pathlib.Path(argv[3])
    project = read_project(hhp)
    name, definition = project['WINDOWS'][0].split('=', 1)
    fields = split_fields(definition)
    expected = {'type': name.strip(), 'caption': fields[0], 'contents': fields[1],
                'default': fields[3], 'home': fields[4], 'properties': int(fields[9], 0)}

    problems = []
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        windows = extract(chmls, chm, '/#WINDOWS', folder)
        strings = extract(chmls, chm, '/#STRINGS', folder)
        system = extract(chmls, chm, '/#SYSTEM', folder)
        listing = subprocess.run([chmls, 'list', '-p', '-n', str(chm)], check=True,
                                 capture_output=True).stdout.decode('cp932', 'replace')

    count, size = struct.unpack_from('<II', windows, 0)
    if count < 1 or size != ENTRY_SIZE or len(windows) < 8 + count * size:
        sys.exit(f'check_chm: #WINDOWS has {count} entries of {size} bytes')
    types = {}
    for index in range(count):
        record = struct.unpack_from('<49I', windows, 8 + index * size)
        types[string_at(strings, record[2])] = {
            'type': string_at(strings, record[2]),
            'caption': string_at(strings, record[5]),
            'contents': string_at(strings, record[24]),
            'default': string_at(strings, record[26]),
            'home': string_at(strings, record[27]),
            'properties': record[4],
        }
    found = types.get(expected['type'])
    if not found:
        problems.append(f'no window type {expected["type"]} (found {", ".join(types) or "none"})')
    else:
        for key, value in expected.items():
            if found[key] != value:
                problems.append(f'window type {expected["type"]}: {key} is {found[key]!r}, expected {value!r}')
        if not found['properties'] & TRI_PANE:
            problems.append('the window type has no navigation pane')

    entries, offset = {}, 4
    while offset + 4 <= len(system):
        code, length = struct.unpack_from('<HH', system, offset)
        entries[code] = system[offset + 4:offset + 4 + length]
        offset += 4 + length
    locale = struct.unpack_from('<I', entries.get(SYSTEM_LOCALE, b'\0\0\0\0'))[0]
    if locale != JAPANESE:
        problems.append(f'language is {locale:#06x}, expected {JAPANESE:#06x}')
    default_window = entries.get(SYSTEM_DEFAULT_WINDOW, b'').rstrip(b'\0').decode('cp932')
    if default_window != expected['type']:
        problems.append(f'default window is {default_window!r}')

    stored = {line.strip().lstrip('/').lower() for line in listing.splitlines()}
    for page in project['FILES'] + [expected['contents']]:
        if page.lower() not in stored:
            problems.append(f'{page} is not stored')

    if problems:
        sys.exit(f'check_chm: {chm.name}:\n  ' + '\n  '.join(problems))
    print(f'{chm.name}: window type {expected["type"]} "{found["caption"]}", '
          f'{len(project["FILES"])} files')


if __name__ == '__main__':
    main(sys.argv)
