#!/usr/bin/python3
"""Prints a compound file's elements as `msgdump --tree` does, through olefile.

One line per element: "storage 0 PATH" or "stream SIZE PATH". Lines are sorted,
so the comparison does not depend on listing order. With --hash, each stream
line ends in a blank and the CRC-32 (zlib) of the stream's content. Exit status 3 when
olefile cannot open the file.
"""
import zlib
import sys

import olefile


def main(path, with_hash):
    try:
        ole = olefile.OleFileIO(path)
    except Exception as exc:  # olefile refuses the file: nothing to compare
        print("olefile: %s" % exc, file=sys.stderr)
        return 3
    lines = []
    for entry in ole.listdir(streams=True, storages=True):
        name = "/".join(entry)
        if ole.get_type(entry) == olefile.STGTY_STORAGE:
            lines.append("storage 0 %s" % name)
        else:
            line = "stream %d %s" % (ole.get_size(entry), name)
            if with_hash:
                line += " %08x" % zlib.crc32(ole.openstream(entry).read())
            lines.append(line)
    out = sys.stdout.buffer
    for line in sorted(line.encode("utf-8", "surrogatepass") for line in lines):
        out.write(line + b"\n")
    return 0


if __name__ == "__main__":
    args = sys.argv[1:]
    sys.exit(main(args[-1], "--hash" in args))
