#!/usr/bin/python3
"""Reads every XML document that the render fuzz target wrote into a folder
(KELVRA_FUZZ_XML_DUMP) with Python's own XML package, as a consumer of the
inventory document would.

    check_xml.py FOLDER

Each document must be plain ASCII, parse, and hold one <apps> root with its
<update> and one <app>. Prints the number of documents; exits 1 at the first
that fails, naming it.
"""

import os
import sys
import xml.etree.ElementTree as ElementTree


def check(path):
    with open(path, "rb") as source:
        data = source.read()
    if any(byte > 127 for byte in data):
        return "not plain ASCII"
    try:
        root = ElementTree.fromstring(data)
    except ElementTree.ParseError as error:
        return "does not parse: %s" % error
    if root.tag != "apps" or root.find("update") is None or len(root.findall("app")) != 1:
        return "not an inventory document with one application"
    return None


def main():
    folder = sys.argv[1]
    names = sorted(name for name in os.listdir(folder) if name.endswith(".xml"))
    for name in names:
        problem = check(os.path.join(folder, name))
        if problem:
            print("check_xml: %s: %s" % (os.path.join(folder, name), problem))
            return 1
    print("check_xml: %d documents parse" % len(names))
    return 0 if names else 1


if __name__ == "__main__":
    sys.exit(main())
