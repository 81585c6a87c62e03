#!/usr/bin/env python3
"""The crawl benchmark's own arithmetic and its generated site, without any
crawler: what the figures are made of must mean what the table says."""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import crawl  # noqa: E402
from make_site import make_site  # noqa: E402
from reference_crawler import ReferenceCrawl  # noqa: E402


class GeneratedSiteTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="crawl-site-")

    def tearDown(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def test_a_crawl_reaches_every_page_once_and_meets_the_start_page_again_on_each(self):
        pages = 37
        start = make_site(self.folder, pages)
        reference = ReferenceCrawl(self.folder, "127.0.0.1:1", 40)
        reference.run("http://127.0.0.1:1/" + start, crawl.UNLIMITED)
        requested = [u.rsplit("/", 1)[1] for u in reference.requested]
        self.assertEqual(sorted(requested), sorted("p%d.html" % n for n in range(1, pages + 1)))
        self.assertEqual(len(requested), len(set(requested)))
        # One node per page, one per page's link back to the start page
        # (a duplicate, never fetched): the tree keeps growing to the end.
        self.assertEqual(sum(1 for _ in reference.tree.walk()), 2 * pages)
        with open(os.path.join(self.folder, "p5.html")) as f:
            self.assertIn('href="p10.html"', f.read())

    def test_the_reference_crawl_with_page_requisites_reads_the_stylesheets(self):
        os.makedirs(os.path.join(self.folder, "d"))
        files = {"d/index.html": b"<link rel=stylesheet href=../s.css><a href=p.html>",
                 "d/p.html": b"<img srcset='i.png 2x'>", "s.css": b"@import 't.css'; a{b:url(bg.png)}",
                 "t.css": b"", "bg.png": b"", "i.png": b""}
        for name, body in files.items():
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(body)
        for requisites, wanted in ((False, ["d/index.html", "d/p.html"]),
                                   (True, ["d/index.html", "s.css", "t.css", "bg.png", "d/p.html", "d/i.png"])):
            reference = ReferenceCrawl(self.folder, "127.0.0.1:1", 40)
            reference.run("http://127.0.0.1:1/d/index.html", crawl.UNLIMITED, requisites=requisites)
            self.assertEqual([u[len("http://127.0.0.1:1/"):] for u in reference.requested], wanted)

    def test_a_site_of_another_size_replaces_the_old_one(self):
        make_site(self.folder, 9)
        make_site(self.folder, 4)
        names = sorted(n for n in os.listdir(self.folder) if n.startswith("p"))
        self.assertEqual(names, ["p1.html", "p2.html", "p3.html", "p4.html", "pages.txt"])
        with open(os.path.join(self.folder, "p2.html")) as f:
            self.assertNotIn("p5.html", f.read())


class FiguresTest(unittest.TestCase):
    def test_rates_are_taken_over_html_pages_answered_200_only(self):
        served = []
        for i in range(100):
            served.append((float(i), "/p%d.html" % i, 200, 700))      # one page a second...
            served.append((i + 0.5, "/style%d.css" % i, 200, 100))    # ...not counted
        served += [(1000.0 + i * 0.25, "/q%d.html" % i, 200, 700) for i in range(100)]  # then four a second
        served.append((2000.0, "/missing.html", 404, 100))
        first, middle, last = crawl.rates(served)
        self.assertAlmostEqual(first, 1.0)
        self.assertAlmostEqual(last, 4.0)
        self.assertIsNotNone(middle)
        self.assertIsNone(crawl.rates(served[:6]))

    def test_output_counts_pages_below_the_host_folder_without_companions(self):
        folder = tempfile.mkdtemp(prefix="crawl-out-")
        try:
            host = os.path.join(folder, "127.0.0.1%3A28410", "library")
            os.makedirs(host)
            for name, data in (("os.html", b"x" * 10), ("os.html(20261208120000 text%2Fhtml)", b""),
                               ("logo.png", b"y" * 5)):
                with open(os.path.join(host, name), "wb") as f:
                    f.write(data)
            with open(os.path.join(folder, "hts-log.txt"), "wb") as f:
                f.write(b"log" * 100)
            self.assertEqual(crawl.output_files(folder), (2, 15))
        finally:
            shutil.rmtree(folder)

    def test_sets_are_told_apart_by_extension(self):
        site = {"crawlers": {
            "wget (1 request per connection)": {"paths": ["/a.html", "/b.html", "/s.css", "/j.js", "/k.js"]},
            "wget (keep-alive)": {"paths": []},
            "vellum auto-get": {"paths": ["/a.html", "/b.html", "/x.png"]}}}
        self.assertEqual(crawl.differences(site), [
            "vellum auto-get: 2 of wget's 5 files; wget only: 3 (.js 2, .css 1); vellum auto-get only: 1 (.png 1)"])

    def test_the_full_set_is_set_against_wget_p_and_httrack(self):
        site = {"crawlers": {
            "wget (1 request per connection)": {"paths": ["/a.html"]},
            "httrack": {"paths": ["/a.html", "/s.css"]},
            crawl.FULL_WGET: {"paths": ["/a.html", "/s.css", "/i.png"]},
            crawl.FULL_VELLUM: {"paths": ["/a.html", "/s.css", "/i.png"]}}}
        self.assertEqual(crawl.differences(site), [
            "httrack: 1 of wget's 1 files; wget only: none; httrack only: 1 (.css 1)",
            "vellum auto-get with page requisites: 3 of wget -p's 3 files; wget -p only: none; "
            "vellum auto-get with page requisites only: none",
            "vellum auto-get with page requisites: 2 of httrack's 2 files; httrack only: none; "
            "vellum auto-get with page requisites only: 1 (.png 1)"])

    def test_medians_are_taken_figure_by_figure(self):
        runs = [{"seconds": 3.0, "html": 10, "paths": ["/a"]}, {"seconds": 1.0, "html": 12, "paths": []},
                {"seconds": 2.0, "html": 11, "paths": []}]
        self.assertEqual(crawl.median_of(runs), {"seconds": 2.0, "html": 11, "paths": ["/a"], "runs": 3})


if __name__ == "__main__":
    unittest.main()
