#!/usr/bin/env python3
"""Checks that the README's pictures of the icons and state images
(docs/images/) are what the image generator draws now: draws the images
afresh, renders each one as contact_sheet.py --each does, and compares the
files with docs/images byte for byte. After a change to draw_images.py:

    python3 resources/draw_images.py /tmp/images
    python3 resources/contact_sheet.py --each /tmp/images docs/images

Usage: check_doc_images.py REPOSITORY
"""

import filecmp
import os
import subprocess
import sys
import tempfile


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    root = argv[1]
    kept = os.path.join(root, "docs", "images")
    with tempfile.TemporaryDirectory() as work:
        drawn, each = os.path.join(work, "drawn"), os.path.join(work, "each")
        subprocess.run([sys.executable, os.path.join(root, "resources", "draw_images.py"), drawn], check=True)
        subprocess.run([sys.executable, os.path.join(root, "resources", "contact_sheet.py"), "--each", drawn, each],
                       check=True)
        names = sorted(os.listdir(each))
        if names != sorted(os.listdir(kept)):
            print("docs/images holds %s, the generator draws %s" % (sorted(os.listdir(kept)), names))
            return 1
        stale = [name for name in names if not filecmp.cmp(os.path.join(each, name), os.path.join(kept, name),
                                                             shallow=False)]
        if stale:
            print("docs/images is older than the generator: %s" % ", ".join(stale))
            return 1
    print("%d pictures current" % len(names))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
