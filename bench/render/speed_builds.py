#!/usr/bin/env python3
"""Two builds of the converter over the same messages: processor time.

    python3 bench/render/speed_builds.py --old OLD_BIN --new NEW_BIN \
        --msg tests/corpus/msg [--rounds 3] [--new-option=--header] \
        [-- CONVERTER OPTIONS]

--new-option (repeatable) is given to the new build only: the same build
twice, with and without an option, measures what the option costs.

Each message is converted by both builds' Kestrune.exe (the window's route:
one process per message), alternating, --rounds times; a message's time is
the least user + system time of the process over its rounds, which a busy
shared machine disturbs far less than the wall clock. Prints the total of
each build over the messages both converted, the ratio new/old (and over
the messages both made as many pages of), and the messages whose ratio is
furthest from 1.
"""
import argparse
import os
import pathlib
import resource
import subprocess
import sys
import tempfile


def cpu_seconds(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    used = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return used, result.returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--old", required=True, type=pathlib.Path)
    parser.add_argument("--new", required=True, type=pathlib.Path)
    parser.add_argument("--msg", required=True, type=pathlib.Path)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--new-option", action="append", default=[],
                        help="an option for the new build only")
    parser.add_argument("options", nargs="*", help="converter options after the two paths")
    args = parser.parse_args()
    messages = sorted(p for p in args.msg.iterdir() if p.suffix.lower() == ".msg")
    builds = {"old": args.old / "Kestrune.exe", "new": args.new / "Kestrune.exe"}
    best = {name: {} for name in builds}
    pages = {name: {} for name in builds}
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    os.environ.update(env)
    with tempfile.TemporaryDirectory() as out:
        for round_ in range(args.rounds):
            for message in messages:
                for name, program in builds.items():
                    target = pathlib.Path(out) / name / (message.stem + ".jpg")
                    target.parent.mkdir(exist_ok=True)
                    extra = args.new_option if name == "new" else []
                    seconds, status = cpu_seconds(
                        [str(program), str(message), str(target)] + args.options + extra)
                    if status != 0:
                        best[name][message.name] = None
                        continue
                    known = best[name].get(message.name, float("inf"))
                    if known is not None:
                        best[name][message.name] = min(known, seconds)
                    written = list(target.parent.glob("*.jpg"))
                    pages[name][message.name] = len(written)
                    for page in written:
                        page.unlink()
            print(f"round {round_ + 1} of {args.rounds} done", file=sys.stderr)
    both = [m for m in best["old"]
            if best["old"][m] is not None and best["new"].get(m) is not None]
    old = sum(best["old"][m] for m in both)
    new = sum(best["new"][m] for m in both)
    print(f"{len(both)} messages converted by both builds")
    print(f"old: {old:.3f} s processor time, {1000 * old / len(both):.1f} ms a message")
    print(f"new: {new:.3f} s processor time, {1000 * new / len(both):.1f} ms a message")
    print(f"new / old: {new / old:.3f}")
    same = [m for m in both if pages["old"][m] == pages["new"][m]]
    if len(same) < len(both):
        old_same = sum(best["old"][m] for m in same)
        new_same = sum(best["new"][m] for m in same)
        print(f"{len(same)} messages with as many pages from both: new / old "
              f"{new_same / old_same:.3f} ({1000 * old_same / len(same):.1f} -> "
              f"{1000 * new_same / len(same):.1f} ms a message)")
    ratios = sorted(((best["new"][m] / best["old"][m], m) for m in both if best["old"][m] > 0))
    for ratio, name in ratios[:3] + ratios[-3:]:
        print(f"  {ratio:.2f}  {name}")


if __name__ == "__main__":
    main()
