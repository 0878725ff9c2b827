#!/usr/bin/env python3
"""The benchmark's yardstick for extraction: Python's lxml parses BOOK and writes the
decoded content of every binary child of the root into DIR, named by its id."""
import base64
import os
import sys

from lxml import etree

book, folder = sys.argv[1], sys.argv[2]
root = etree.parse(book, etree.XMLParser(huge_tree=True)).getroot()
for binary in root.iterfind("{*}binary"):
    with open(os.path.join(folder, binary.get("id")), "wb") as out:
        out.write(base64.b64decode(binary.text or ""))
