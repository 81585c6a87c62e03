"""Differential test: the program's link extractor (through link_dump)
against the reference extractor in extract_links.py, over every HTML page
under a folder. Exits 0 when every page gives the same entries in the same
order, 1 with the first differences listed, 77 (skipped) without the folder.

Usage: compare_links.py [--requisites | --stylesheet] <link_dump> <folder> [page URL prefix]

--requisites compares the pages read with their requisites; --stylesheet
compares the stylesheets (*.css) under the folder instead of the pages.
"""
import os
import subprocess
import sys

from extract_links import extract_links, stylesheet_links

SKIPPED = 77


def escaped(url):
    return "".join(f"\\x{b:02X}" if b < 0x20 or b in (0x7F, 0x5C) else chr(b) for b in url)


def main():
    arguments = sys.argv[1:]
    mode = arguments.pop(0) if arguments and arguments[0].startswith("--") else None
    dump, folder = arguments[0], arguments[1]
    prefix = arguments[2] if len(arguments) > 2 else "http://docs.test/3/"
    suffixes = (".css",) if mode == "--stylesheet" else (".html", ".htm")
    if mode == "--stylesheet":
        reference = stylesheet_links
    else:
        def reference(data, url):
            return extract_links(data, url, requisites=mode == "--requisites")
    if not os.path.isdir(folder):
        print(f"skipped: no {folder}")
        return SKIPPED
    pages = sorted(os.path.relpath(os.path.join(where, name), folder)
                   for where, _, names in os.walk(folder, followlinks=True)
                   for name in names if name.endswith(suffixes))
    if not pages:
        print(f"skipped: no pages under {folder}")
        return SKIPPED

    listing = subprocess.run([dump] + ([mode] if mode else []) + [prefix, folder], input="\n".join(pages) + "\n",
                             capture_output=True, check=True, encoding="latin-1").stdout
    program = {}
    for line in listing.splitlines():
        if line.startswith("== "):
            entries = program.setdefault(line[3:], [])
        else:
            entries.append(line)

    differing = 0
    total = 0
    for page in pages:
        with open(os.path.join(folder, page), "rb") as file:
            data = file.read()
        expected = [f"{is_link} {escaped(url)}"
                    for is_link, url in reference(data, (prefix + page).encode("latin-1"))]
        total += len(expected)
        actual = program.get(page)
        if actual == expected:
            continue
        differing += 1
        if differing <= 5:
            actual = actual or []
            first = next((i for i, (a, e) in enumerate(zip(actual, expected)) if a != e),
                         min(len(actual), len(expected)))
            print(f"{page}: {len(actual)} entries, reference {len(expected)}; first difference at {first}:")
            print(f"  program:   {actual[first] if first < len(actual) else '(end)'}")
            print(f"  reference: {expected[first] if first < len(expected) else '(end)'}")
    print(f"{len(pages)} pages, {total} reference entries, {differing} pages differ")
    return 1 if differing else 0


if __name__ == "__main__":
    sys.exit(main())
