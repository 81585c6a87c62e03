"""Writes pages built from the awkward corners of the tag rules (comments,
quotes, entities, over-long texts, BASE changes, dot segments, zero bytes,
two-byte characters), for the differential test of the link extractor; then
pages with the page requisites among them (r*.html) and stylesheets full of
the corners of CSS (s*.css). Fixed seeds: the same files every run.

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

REQUISITE_PIECES = PIECES + [
    b"<link rel=stylesheet href=s.css>", b"<LINK HREF='i.ico' REL=\"Shortcut Icon\">", b"<link rel=next href=n.html>",
    b"<link rel=stylesheet>", b"<link href=x.css rel=stylesheets>", b"<script src='j.js?a&amp;b'>",
    b"<img srcset=\"a.png 1x, b.png 2x\" src=c.png>", b"<source srcset='w.webp 480w,v.webp 960w'>",
    b"<img srcset=\"" + b"q.png 1x, " * 40 + b"\">", b"<img srcset=" + b"s" * 300 + b" src=t.png>",
    b"<source srcset=\"x(1,2).png 1x,,y.png,z.png (a,b) 2x\">", b"<video poster=p.jpg>", b"<object data=o.svg>",
    b"<iframe src=../f.html>", b"<iframe src=javascript:void(0)>", b"<img srcset=\"\x83\x5c.png 2x\">",
]

CSS_PIECES = [
    b"a{b:url(x.png)}", b"url('q.png')", b'url( "sp ace.png" )', b"URL(../up.gif)", b"url(/top.png)",
    b"@import 'i.css';", b'@import url("j.css") screen;', b"@IMPORT\"k.css\";", b"@importx 'no.css';",
    b"/* url(c.png) */", b"/*", b"*/", b"'", b'"', b"\\", b"\n", b" ", b"(", b")", b"url(", b"myurl(m.png)",
    b"url(a b.png)", b"url(a'b.png)", b"url(\\61 .png)", b"url('\\e9.png')", b"u\\72l(e.png)", b"\x82\xa0",
    b"url(\x95\x5c.png)", b"url('\x83\x5c')", b"\x82u", b"url(data:image/png;base64,AAAA)", b"url(#f)",
    b"url(" + b"l" * 300 + b")", b"content:'url(no.png)';", b"url('line\\\ncontinued.png')", b"@import /**/ 'c.css';",
]


def page(rng, pieces=PIECES):
    parts = []
    for _ in range(rng.randrange(5, 120)):
        parts.append(rng.choice(pieces))
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
    rng = random.Random(38)
    for number in range(count):
        where = ("", "d1", os.path.join("d1", "d2"))[number % 3]
        with open(os.path.join(folder, where, f"r{number}.html"), "wb") as file:
            file.write(page(rng, REQUISITE_PIECES))
        with open(os.path.join(folder, where, f"s{number}.css"), "wb") as file:
            file.write(page(rng, CSS_PIECES))


if __name__ == "__main__":
    main()
