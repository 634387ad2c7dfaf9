#!/usr/bin/env python3
"""What Internet mail costs, against peers measured in the same run:

  eml     messages as .eml files against the same messages as .msg files
          (the same subject and plain body; the .msg made by
          wrap_attachment): the ratio of orvaline-convert -j 1's processor
          time, messages per second.
  mbox    one mbox file of --mbox-count messages against the same messages
          as separate .eml files: the ratio of messages per second, and the
          batch's memory (the converter and its workers, resident) at the
          first tenth of the messages and at the last.

Processor time is user + system of the finished child processes (workers
included). Each route runs --rounds times, alternating; the best round of
each is compared.

    cmake --build build/ci --target orvaline-convert wrap_attachment
    python3 bench/mail_input/measure.py --bin build/ci/bin
"""
import argparse
import os
import pathlib
import resource
import shutil
import subprocess
import tempfile
import time


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def eml(subject):
    # The fields the .msg has: a subject, no sender, no date.
    return (f"Subject: {subject}\n"
            "MIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n"
            f"The body of {subject}.\nIts attachments follow.\n")


def tree_rss_kib(pid):
    """Resident memory of a process and its descendants, in KiB."""
    total, pending = 0, [pid]
    while pending:
        current = pending.pop()
        try:
            for line in pathlib.Path(f"/proc/{current}/status").read_text().splitlines():
                if line.startswith("VmRSS:"):
                    total += int(line.split()[1])
            for task in pathlib.Path(f"/proc/{current}/task").iterdir():
                pending += [int(c) for c in (task / "children").read_text().split()]
        except (FileNotFoundError, ProcessLookupError, ValueError):
            continue
    return total


def convert(bin_dir, inputs, out, count, extra=()):
    """(processor s, wall s, rss KiB at the first tenth, at the last tenth)."""
    shutil.rmtree(out, ignore_errors=True)
    report = out / "orvaline-report.jsonl"
    cpu, wall = children_cpu(), time.monotonic()
    process = subprocess.Popen(
        [str(bin_dir / "orvaline-convert"), "-q", "-j", "1", *extra, *map(str, inputs),
         "-o", str(out)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    samples = []
    while process.poll() is None:
        try:
            done = report.read_bytes().count(b"\n")
        except FileNotFoundError:
            done = 0
        samples.append((done, tree_rss_kib(process.pid)))
        time.sleep(0.2)
    if process.returncode != 0:
        raise SystemExit(f"orvaline-convert exited with {process.returncode}")
    cpu, wall = children_cpu() - cpu, time.monotonic() - wall

    def peak(low, high):
        inside = [rss for done, rss in samples if low <= done < high and rss > 0]
        return max(inside) if inside else 0
    return cpu, wall, peak(0, count // 10 + 1), peak(count * 9 // 10, count + 1)


def best(rounds, routes):
    results = {}
    for round_number in range(rounds):
        for name, run in routes.items():
            cpu, wall, first, last = run()
            print(f"  round {round_number + 1} {name}: {cpu:.2f} s processor, {wall:.2f} s wall,"
                  f" {first} KiB at the first tenth, {last} KiB at the last", flush=True)
            if name not in results or cpu < results[name][0]:
                results[name] = (cpu, wall, first, last)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", type=pathlib.Path, required=True)
    parser.add_argument("--count", type=int, default=200, help="messages of the eml route")
    parser.add_argument("--mbox-count", type=int, default=10000)
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--only", choices=["eml", "mbox"])
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="orvaline-mail-bench-") as scratch:
        root = pathlib.Path(scratch)
        if args.only in (None, "eml"):
            msg, mail = root / "msg", root / "eml"
            msg.mkdir()
            mail.mkdir()
            for i in range(args.count):
                subprocess.run([str(args.bin / "wrap_attachment"), str(msg / f"{i:05d}.msg"),
                                f"message {i}"], check=True)
                (mail / f"{i:05d}.eml").write_text(eml(f"message {i}"))
            results = best(args.rounds, {
                "msg": lambda: convert(args.bin, [msg], root / "out-msg", args.count),
                "eml": lambda: convert(args.bin, [mail], root / "out-eml", args.count)})
            ratio = results["eml"][0] / results["msg"][0]
            print(f"eml: {args.count / results['eml'][0]:.1f} messages per processor second as"
                  f" .eml, {args.count / results['msg'][0]:.1f} as .msg: {ratio:.2f}x the"
                  " processor time (target <= 1)")
        if args.only in (None, "mbox"):
            count = args.mbox_count
            separate = root / "separate"
            separate.mkdir()
            with open(root / "archive.mbox", "w") as box:
                for i in range(count):
                    text = eml(f"mailbox message {i}")
                    (separate / f"{i:05d}.eml").write_text(text)
                    box.write(f"From ann@example.com Tue Mar  3 10:00:00 2020\n{text}\n")
            results = best(args.rounds, {
                "mbox": lambda: convert(args.bin, [root / "archive.mbox"], root / "out-mbox",
                                        count),
                "separate": lambda: convert(args.bin, [separate], root / "out-separate", count)})
            mbox, apart = results["mbox"], results["separate"]
            print(f"mbox: {count / mbox[1]:.1f} messages per second from one mbox file,"
                  f" {count / apart[1]:.1f} as separate .eml files: {mbox[1] / apart[1]:.2f}x"
                  f" the wall time, {mbox[0] / apart[0]:.2f}x the processor time (target within"
                  f" 10%); memory {mbox[2]} KiB at the first tenth, {mbox[3]} KiB at the last"
                  f" ({mbox[3] / max(mbox[2], 1):.2f}x)")


if __name__ == "__main__":
    main()
