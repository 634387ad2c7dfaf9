#!/usr/bin/env python3
"""One batch run over a large archive: the corpus's messages replicated (hard
links) to --count messages in folders of 1,000, converted by one
orvaline-convert run. Samples the report's line count every second while it
runs, then prints the rate of the first and of the last tenth of the
messages (the last may be at most 10% slower), the report's line count and
statuses, the total time and the largest worker's peak memory.

    python3 bench/batch/scale.py --bin build/ci/bin --msg tests/corpus/msg \
        --count 100000 [--jobs 2] [--work /tmp]

The images (about 120 KiB a message) are removed at the end unless --keep.
"""
import argparse
import collections
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time


def count_lines(path):
    try:
        with open(path, "rb") as f:
            return sum(chunk.count(b"\n") for chunk in iter(lambda: f.read(1 << 20), b""))
    except FileNotFoundError:
        return 0


def time_at(samples, lines):
    """The moment the report reached `lines` lines, between two samples."""
    for (t0, n0), (t1, n1) in zip(samples, samples[1:]):
        if n0 <= lines <= n1:
            return t0 if n1 == n0 else t0 + (t1 - t0) * (lines - n0) / (n1 - n0)
    return samples[-1][0]


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    parser.add_argument("--msg", required=True, type=pathlib.Path)
    parser.add_argument("--count", type=int, default=100000)
    parser.add_argument("--jobs", type=int, default=os.cpu_count())
    parser.add_argument("--work", type=pathlib.Path)
    parser.add_argument("--keep", action="store_true")
    args = parser.parse_args()
    program = args.bin.resolve() / "orvaline-convert"
    sources = sorted(args.msg.resolve().glob("*.msg"))
    work = pathlib.Path(tempfile.mkdtemp(prefix="batch-scale-", dir=args.work))
    try:
        archive = work / "archive"
        for i in range(args.count):
            folder = archive / f"box{i // 1000:04d}"
            if i % 1000 == 0:
                folder.mkdir(parents=True)
            source = sources[i % len(sources)]
            os.link(source, folder / f"{i:06d}_{source.name}")
        out = work / "out"
        report = out / "orvaline-report.jsonl"
        print(f"{args.count} messages ({len(sources)} corpus messages replicated), "
              f"-j {args.jobs}", flush=True)
        start = time.perf_counter()
        proc = subprocess.Popen([str(program), "-j", str(args.jobs), str(archive), "-o", str(out)],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        samples = [(0.0, 0)]
        while proc.poll() is None:
            time.sleep(1)
            samples.append((time.perf_counter() - start, count_lines(report)))
        stderr = proc.stderr.read()
        total = time.perf_counter() - start
        samples.append((total, count_lines(report)))
        lines = samples[-1][1]
        tenth = args.count // 10
        first = tenth / (time_at(samples, tenth) - time_at(samples, 0))
        last = tenth / (time_at(samples, args.count) - time_at(samples, args.count - tenth))
        statuses = collections.Counter()
        ms_by_tenth = [0] * 10
        with open(report, encoding="utf-8", errors="surrogateescape") as f:
            for index, line in enumerate(f):
                record = json.loads(line)
                statuses[record["status"]] += 1
                ms_by_tenth[min(9, index // tenth)] += record["ms"]
        peak = re.search(r"largest worker ([0-9.]+) MiB", stderr)
        print(f"exit status {proc.returncode}; {total:.0f} s in all, "
              f"{args.count / total:.1f} messages/s")
        print(f"report: {lines} lines; {dict(statuses)}")
        print(f"first tenth: {first:.1f} messages/s; last tenth: {last:.1f} messages/s; "
              f"last/first {last / first:.3f} (target >= 0.90)")
        print("mean ms a message per tenth (worker time, report order): " +
              " ".join(f"{ms / tenth:.1f}" for ms in ms_by_tenth))
        print(f"largest worker peak memory: {peak.group(1) if peak else '?'} MiB")
        summary = [line for line in stderr.splitlines() if " converted (" in line]
        print("summary: " + (summary[-1] if summary else "?"))
    finally:
        if args.keep:
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
