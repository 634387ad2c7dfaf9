#!/usr/bin/env python3
"""Throughput of the batch converter against the routes it replaces, in one
run on this machine, over the corpus's RTF messages replicated to at least
--count messages (hard links, so every route reads the same files):

  batch -j 1      orvaline-convert -j 1 over the folder
  batch -j 2      orvaline-convert -j 2 over the folder
  per message     Kestrune.exe started once per message, as the window runs it
  LibreOffice     soffice converting the RTF bodies to PDF, 200 bodies a
                  process (soffice silently stops after about 250 files named
                  on one command line), then pdftoppm -r 96 -jpeg per PDF
                  (the peer of bench/render/speed_libreoffice.py, in batch)

The batch runs use --no-header, so that every route draws the same pages.
The two batch routes run --rounds times, alternating (the machine may be
shared); every round is printed and the best of each is compared.
Prints, per route, messages, seconds, milliseconds a message and messages a
second, then the ratios the batch converter is held to, and the largest
worker's peak memory (the batch converter's own summary, from wait4).

    cmake --build build/ci --target orvaline-convert benchmarks
    apt-get install -y libreoffice-writer-nogui poppler-utils
    python3 bench/batch/measure.py --bin build/ci/bin --msg tests/corpus/msg --count 2000
"""
import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time


def rtf_messages(bin_dir, corpus, work):
    """The corpus messages whose body is RTF, with their body written out."""
    bodies = work / "bodies"
    bodies.mkdir()
    found = []
    for msg in sorted(corpus.glob("*.msg")):
        rtf = bodies / (msg.stem + ".rtf")
        dumped = subprocess.run([str(bin_dir / "dump_body"), str(msg), str(rtf)],
                                capture_output=True)
        if dumped.returncode == 0 and rtf.exists() and \
                rtf.read_bytes().lstrip().startswith(b"{\\rtf"):
            found.append((msg, rtf))
        elif rtf.exists():
            rtf.unlink()
    return found


def replicate(pairs, count, work):
    """count messages and their RTF bodies, as hard links named apart."""
    msgs, rtfs = work / "msg", work / "rtf"
    msgs.mkdir()
    rtfs.mkdir()
    for i in range(count):
        msg, rtf = pairs[i % len(pairs)]
        name = f"{i:06d}_{msg.stem}"
        os.link(msg, msgs / (name + ".msg"))
        os.link(rtf, rtfs / (name + ".rtf"))
    return msgs, rtfs


def timed(cmd, **kwargs):
    start = time.perf_counter()
    proc = subprocess.run(cmd, capture_output=True, text=True, **kwargs)
    return time.perf_counter() - start, proc


def batch_route(bin_dir, msgs, out, jobs):
    seconds, proc = timed([str(bin_dir / "orvaline-convert"), "--no-header", "-j", str(jobs),
                           str(msgs), "-o", str(out)])
    if proc.returncode not in (0, 1):
        sys.exit(f"orvaline-convert -j {jobs} failed ({proc.returncode}): {proc.stderr}")
    peak = re.search(r"largest worker ([0-9.]+) MiB", proc.stderr)
    lines = sum(1 for _ in open(out / "orvaline-report.jsonl"))
    return seconds, lines, float(peak.group(1)) if peak else float("nan")


def per_message_route(bin_dir, msgs, out):
    out.mkdir()
    tool = str(bin_dir / "Kestrune.exe")
    files = sorted(msgs.glob("*.msg"))
    start = time.perf_counter()
    for msg in files:
        subprocess.run([tool, str(msg), str(out / (msg.stem + ".jpg"))],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start, len(files)


LIBREOFFICE_CHUNK = 200


def libreoffice_route(rtfs, out, profile):
    out.mkdir()
    files = sorted(rtfs.glob("*.rtf"))
    start = time.perf_counter()
    for at in range(0, len(files), LIBREOFFICE_CHUNK):
        subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless",
                        "--convert-to", "pdf", "--outdir", str(out)] +
                       [str(f) for f in files[at:at + LIBREOFFICE_CHUNK]], capture_output=True)
    for pdf in sorted(out.glob("*.pdf")):
        subprocess.run(["pdftoppm", "-r", "96", "-jpeg", str(pdf), str(out / pdf.stem)],
                       capture_output=True)
    seconds = time.perf_counter() - start
    pdfs = len(list(out.glob("*.pdf")))
    if pdfs != len(files):
        print(f"LibreOffice made {pdfs} PDFs of {len(files)} bodies", file=sys.stderr)
    return seconds, len(files)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    parser.add_argument("--msg", required=True, type=pathlib.Path, help="folder of .msg files")
    parser.add_argument("--count", type=int, default=2000)
    parser.add_argument("--work", type=pathlib.Path, help="scratch folder (default: a temporary one)")
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--batch-only", action="store_true", help="only the two batch routes")
    args = parser.parse_args()
    for tool in ("soffice", "pdftoppm"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} not found (Debian: libreoffice-writer-nogui, poppler-utils)")
    bin_dir = args.bin.resolve()
    with tempfile.TemporaryDirectory(prefix="batch-bench-", dir=args.work) as tmp:
        work = pathlib.Path(tmp)
        pairs = rtf_messages(bin_dir, args.msg.resolve(), work)
        msgs, rtfs = replicate(pairs, args.count, work)
        print(f"{args.count} messages: the corpus's {len(pairs)} RTF messages replicated; "
              f"{os.cpu_count()} processors")
        profile = work / "lo-profile"
        warm = work / "warm.rtf"
        warm.write_text("{\\rtf1 warm up}")
        subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless",
                        "--convert-to", "pdf", "--outdir", str(work), str(warm)],
                       capture_output=True)  # the first start makes the profile; not timed

        rows = []
        best = {}
        peaks = {1: 0.0, 2: 0.0}
        for round_ in range(args.rounds):
            for jobs in (1, 2):
                s, n, peak = batch_route(bin_dir, msgs, work / f"out-j{jobs}", jobs)
                print(f"round {round_ + 1}: -j {jobs}: {n} messages in {s:.1f} s "
                      f"({n / s:.1f} messages/s), load average {os.getloadavg()[0]:.2f}",
                      flush=True)
                shutil.rmtree(work / f"out-j{jobs}")
                peaks[jobs] = max(peaks[jobs], peak)
                if jobs not in best or s < best[jobs][1]:
                    best[jobs] = (n, s)
        peak1, peak2 = peaks[1], peaks[2]
        rows.append(("orvaline-convert -j 1", *best[1]))
        rows.append(("orvaline-convert -j 2", *best[2]))
        if args.batch_only:
            for name, n, s in rows:
                print(f"{name:40s} {n:8d} {s:8.1f} {1000 * s / n:7.1f} {n / s:7.1f}")
            return
        sp, np_ = per_message_route(bin_dir, msgs, work / "out-per-message")
        rows.append(("Kestrune.exe per message", np_, sp))
        shutil.rmtree(work / "out-per-message")
        sl, nl = libreoffice_route(rtfs, work / "out-libreoffice", profile)
        rows.append(("LibreOffice batch (soffice + pdftoppm)", nl, sl))

        print(f"\n{'route':40s} {'messages':>8s} {'seconds':>8s} {'ms/msg':>7s} {'msg/s':>7s}")
        for name, n, s in rows:
            print(f"{name:40s} {n:8d} {s:8.1f} {1000 * s / n:7.1f} {n / s:7.1f}")
        rate = {name: n / s for name, n, s in rows}
        j1, j2 = rate["orvaline-convert -j 1"], rate["orvaline-convert -j 2"]
        per, lo = rate["Kestrune.exe per message"], rate["LibreOffice batch (soffice + pdftoppm)"]
        print(f"\n-j 1 / per message: {j1 / per:.2f}x (target >= 2.5x)")
        print(f"-j 2 / -j 1:        {j2 / j1:.2f}x (target >= 1.7x)")
        print(f"-j 2 / LibreOffice: {j2 / lo:.2f}x (target >= 6x)")
        print(f"largest worker peak memory: -j 1 {peak1:.1f} MiB, -j 2 {peak2:.1f} MiB "
              f"(target < 150 MiB)")


if __name__ == "__main__":
    main()
