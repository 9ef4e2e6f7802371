#!/usr/bin/python3
"""Makes a tree of FILES empty files in FOLDERS folders for the walk's figures.

    maketree.py DIR FILES FOLDERS

A square-root number of top folders, each holding an equal share of the folders, each of which
holds an equal share of the files, named and typed as bench/run's listings (3 in 10 pictures).
DIR/.complete marks a finished tree, so that a tree is made once and kept for later runs.
"""

import math
import os
import sys

root, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
if os.path.exists(os.path.join(root, ".complete")):
    sys.exit(0)
exts = [".jpg", ".txt", ".png", ".xmp", ".nef", ".txt", ".json", ".gif", ".doc", ".bmp"]
tops = max(1, math.isqrt(folders))
per_folder = files // folders
entry = 0
for f in range(folders):
    d = os.path.join(root, "top%04d" % (f % tops), "folder%06d" % f)
    os.makedirs(d, exist_ok=True)
    for _ in range(per_folder):
        open(os.path.join(d, "entry%07d%s" % (entry, exts[entry % len(exts)])), "w").close()
        entry += 1
open(os.path.join(root, ".complete"), "w").close()
