#!/usr/bin/python3
"""The benchmark's peer: olefile doing the work the converter core does.

  olefile_peer.py SECONDS FILE...

Each file is read into memory once. Two workloads, each run in whole passes
over all files until SECONDS have passed (at least 3 passes); the fastest
pass is reported:
  load  - open the compound file and read the streams loading a message reads:
          every attachment's property stream, every stream of an embedded
          message (the reader copies those), and the compressed RTF body;
  all   - open the compound file and read every stream.
Prints one line per workload: "NAME FILES PASSES SECONDS_OF_FASTEST_PASS".
"""
import io
import sys
import time

import olefile


def load(data):
    ole = olefile.OleFileIO(io.BytesIO(data))
    for entry in ole.listdir(streams=True, storages=False):
        top = entry[0]
        if len(entry) == 1:
            if top == "__substg1.0_10090102":
                ole.openstream(entry).read()
        elif top.startswith("__attach_version1.0_#"):
            if len(entry) == 2 and entry[1] == "__properties_version1.0":
                ole.openstream(entry).read()
            elif entry[1] == "__substg1.0_3701000D":
                ole.openstream(entry).read()
    ole.close()


def read_all(data):
    ole = olefile.OleFileIO(io.BytesIO(data))
    for entry in ole.listdir(streams=True, storages=False):
        ole.openstream(entry).read()
    ole.close()


def measure(name, work, blobs, seconds):
    passes = 0
    best = None
    start = time.perf_counter()
    while True:
        pass_start = time.perf_counter()
        for data in blobs:
            work(data)
        elapsed = time.perf_counter() - pass_start
        best = elapsed if best is None else min(best, elapsed)
        passes += 1
        if time.perf_counter() - start >= seconds and passes >= 3:
            break
    print("%s %d %d %.6f" % (name, len(blobs), passes, best))


def main():
    seconds = float(sys.argv[1])
    blobs = []
    for path in sys.argv[2:]:
        with open(path, "rb") as f:
            blobs.append(f.read())
    measure("load", load, blobs, seconds)
    measure("all", read_all, blobs, seconds)


if __name__ == "__main__":
    main()
