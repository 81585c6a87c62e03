"""Writes pages built from the awkward corners of the tag rules (comments,
quotes, entities, over-long texts, BASE changes, dot segments, zero bytes,
two-byte characters), for the differential test of the link extractor.
Fixed seed: the same pages every run.

Usage: tricky_pages.py <output folder> [count]
"""
import os
import random
import sys

PIECES = [
    b"<a href=x.html>", b"<A HREF='../y.htm?a=1&amp;b#f'>", b'<img src="i.gif">', b"<img\tsrc\n=\r'j.gif'>",
    b"<!-- c <a href=c.html> -->", b"<!-->", b"<!>", b"<!->x>", b"<!-x>", b"<!--->", b"--", b"-->",
    b"<base href=http://o/b/c>", b"<base href=/rel/>", b"<base href=ftp://f/>", b"<base href='HTTP://q/'>",
    b"<base href=http://o:8080/>", b"<td background=t.png >", b"<frame src=../../f.html>",
    b'<a href="unclosed>', b"<area href=a.html#f>", b"\x82\xa0", b"&amp;", b"<a href='&#41;&#0a;&lt;'>",
    b"<a href=" + b"z" * 300 + b">", b"<a href=" + b"z" * 259 + b">", b"<" + b"n" * 260 + b" a=b>",
    b"<a " + b"y" * 260 + b"=1 href=ok.html>", b"<a nowrap href=no.html>", b"<a href = ' sp.html ' >",
    b"<a href=./.././/d/./e/..>", b"<a href=//other/p>", b"<a href=mailto:m@x>", b"<a href=?q>",
    b"<a href=#top>", b"<a href=http://h>", b"<a href='x\x00y.html'>", b"<img src=\"\x83\x5c.gif\">",
    b"<IMAGE dynsrc=v.avi src=w.gif>", b"<input src=k.gif>", b"<link href=s.css>", b"<script src=s.js>",
    b"<", b">", b"=", b"'", b'"', b" ", b"\n", b"text ", b"<a href=\"&quot;q&quot;\">",
]


def page(rng):
    parts = []
    for _ in range(rng.randrange(5, 120)):
        parts.append(rng.choice(PIECES))
        if rng.random() < 0.6:
            parts.append(b" ")
    return b"".join(parts)


def main():
    folder = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 300
    rng = random.Random(4242)
    os.makedirs(os.path.join(folder, "d1", "d2"), exist_ok=True)
    for number in range(count):
        where = ("", "d1", os.path.join("d1", "d2"))[number % 3]
        with open(os.path.join(folder, where, f"p{number}.html"), "wb") as file:
            file.write(page(rng))


if __name__ == "__main__":
    main()
