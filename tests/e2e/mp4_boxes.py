#!/usr/bin/env python3
"""Prints an MP4 file's top-level box types (a run of one type once; "rest" when they do not end
exactly at the file's end) and the sample count of the stsz in its last moov:
"ftyp free mdat ... moov 37"."""
import struct
import sys

data = open(sys.argv[1], "rb").read()
types, moov, at = [], None, 0
while at + 8 <= len(data):
    size, kind = struct.unpack(">I4s", data[at:at + 8])
    kind = kind.decode("latin-1")
    if kind == "moov":
        moov = data[at:at + size]
    if not types or types[-1] != kind:
        types.append(kind)
    if size < 8:
        break
    at += size
if at != len(data):
    types.append("rest")
stsz = moov.find(b"stsz") if moov else -1
count = struct.unpack(">I", moov[stsz + 12:stsz + 16])[0] if stsz >= 0 else -1
print(" ".join(types), count)
