#!/usr/bin/python3
"""Prints a compound file's elements as `msgdump --tree` does, through olefile.

One line per element: "storage 0 PATH" or "stream SIZE PATH". Lines are sorted,
so the comparison does not depend on listing order. Exit status 3 when olefile
cannot open the file.
"""
import sys

import olefile


def main(path):
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
            lines.append("stream %d %s" % (ole.get_size(entry), name))
    for line in sorted(lines):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
