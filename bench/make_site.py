#!/usr/bin/env python3
"""Writes a site of small linked pages for the crawl benchmark: a binary
tree of pages (page i links to pages 2i and 2i+1), every page also linking
back to the start page, so that a crawl meets one new page and one page it
already has per link it follows, and its page tree keeps growing to the end.

    python3 bench/make_site.py FOLDER PAGES

The pages are p1.html (the start page, also written as index.html) to
pPAGES.html, about 700 bytes each. An existing site of the same size is
left as it is.
"""
import os
import sys

FILLER = ("Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
          "incididunt ut labore et dolore magna aliqua. ")


def page(number, pages):
    links = "".join('<li><a href="p%d.html">page %d</a></li>\n' % (child, child)
                    for child in (2 * number, 2 * number + 1) if child <= pages)
    return ("<!DOCTYPE html>\n<html><head><title>Page %d</title></head>\n<body>\n"
            "<h1>Page %d of %d</h1>\n<p>%s</p>\n<p>%s</p>\n<ul>\n%s</ul>\n"
            '<p><a href="p1.html">start</a></p>\n</body></html>\n'
            % (number, number, pages, FILLER * 2, FILLER * 2, links))


def make_site(folder, pages):
    """The site in `folder`; returns the start page's path below it."""
    stamp = os.path.join(folder, "pages.txt")
    try:
        with open(stamp) as f:
            if int(f.read()) == pages:
                return "p1.html"
    except (OSError, ValueError):
        pass
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if name.endswith(".html"):
            os.remove(os.path.join(folder, name))
    for number in range(1, pages + 1):
        with open(os.path.join(folder, "p%d.html" % number), "w") as f:
            f.write(page(number, pages))
    with open(os.path.join(folder, "index.html"), "w") as f:
        f.write(page(1, pages))
    with open(stamp, "w") as f:
        f.write(str(pages))
    return "p1.html"


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    make_site(sys.argv[1], int(sys.argv[2]))
