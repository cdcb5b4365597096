#!/usr/bin/env python3
"""Lists the errors of one memcheck run (its XML) found in our own code, each with its stack, and
counts those found only in the libraries. Exit code 1 when any is ours.

    memcheck_report.py MEMCHECK_XML SOURCE_ROOT

An error is ours when a frame of its stack is in a file under SOURCE_ROOT.
"""

import sys
import xml.etree.ElementTree as ET

xml_file, root = sys.argv[1], sys.argv[2]
counted = ("Leak_DefinitelyLost", "InvalidRead", "InvalidWrite", "InvalidFree",
           "MismatchedFree", "UninitCondition", "UninitValue", "SyscallParam", "Overlap")
doc = ET.parse(xml_file).getroot()
ours, theirs = [], {}
for error in doc.iter("error"):
    kind = error.findtext("kind")
    if kind not in counted:
        continue
    frames = error.find("stack").findall("frame")
    own = [f for f in frames if (f.findtext("dir") or "").startswith(root)]
    if own:
        ours.append((kind, error, frames))
    else:
        theirs[kind] = theirs.get(kind, 0) + 1

for kind, error, frames in ours:
    what = error.find("xwhat")
    print(f"== {kind}: " + (what.findtext("text") if what is not None else error.findtext("what")))
    for f in frames:
        where = f"{f.findtext('dir')}/{f.findtext('file')}:{f.findtext('line')}" if f.findtext("file") else f.findtext("obj")
        print(f"   {f.findtext('fn') or '?'}  {where}")
print(f"errors in our code: {len(ours)}")
print("in the libraries, not ours: " + (", ".join(f"{k} {v}" for k, v in sorted(theirs.items())) or "none"))
sys.exit(1 if ours else 0)
