#!/usr/bin/env python3
"""Speed and memory, side by side in one run: our renderer, one process per
document as the application runs the converter, against LibreOffice's
convert-to-PDF-and-rasterise for the same RTF.

Two modes:
  RTF files:  each file through render_pages (the deployed library).
    python3 bench/render/speed_libreoffice.py --bin build/ci/bin --rtf tests/corpus/rtf
  Messages:   each message through the converter "Kestrune.exe <msg> <out.jpg>"; its
              RTF body (written out by the bench program dump_body) goes to LibreOffice.
    python3 bench/render/speed_libreoffice.py --bin build/ci/bin --msg tests/corpus/msg

Prints per document: our wall time and peak memory (RSS of the process), the
peer's wall time (soffice --headless --convert-to pdf, then pdftoppm -r 96
-jpeg), and at the end the median of the per-document ratios and our largest
peak memory.
"""
import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed(cmd, timeout=600):
    """Wall seconds, peak RSS in MiB and exit status of one process."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        _, status, usage = os.wait4(proc.pid, 0)
    finally:
        proc.returncode = 0
    elapsed = time.perf_counter() - start
    return elapsed, usage.ru_maxrss / 1024.0, os.waitstatus_to_exitcode(status)


def libreoffice(rtf, work, profile):
    start = time.perf_counter()
    subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless",
                    "--convert-to", "pdf", "--outdir", str(work), str(rtf)],
                   capture_output=True, timeout=600)
    pdf = work / (rtf.stem + ".pdf")
    if pdf.exists():
        subprocess.run(["pdftoppm", "-r", "96", "-jpeg", str(pdf), str(work / rtf.stem)],
                       capture_output=True, timeout=600)
    return time.perf_counter() - start, pdf.exists()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--rtf", type=pathlib.Path, help="folder of .rtf files")
    group.add_argument("--msg", type=pathlib.Path, help="folder of .msg files")
    args = parser.parse_args()
    for tool in ("soffice", "pdftoppm"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} not found (Debian: libreoffice-writer-nogui, poppler-utils)")

    rows, ratios, peaks = [], [], []
    with tempfile.TemporaryDirectory(prefix="render-speed-") as tmp:
        tmp = pathlib.Path(tmp)
        profile = tmp / "lo-profile"
        warm = tmp / "warm.rtf"
        warm.write_text("{\\rtf1 warm up}")
        libreoffice(warm, tmp, profile)  # first start creates the profile; not timed

        if args.rtf:
            jobs = [(p, p) for p in sorted(args.rtf.glob("*.rtf"))]
        else:
            jobs = []
            for msg in sorted(args.msg.glob("*.msg")):
                rtf = tmp / (msg.stem + ".rtf")
                dumped = subprocess.run([str(args.bin / "dump_body"), str(msg), str(rtf)],
                                        capture_output=True)
                # Only messages whose body is RTF: the comparison is on RTF.
                if dumped.returncode == 0 and rtf.exists() and \
                        rtf.read_bytes().lstrip().startswith(b"{\\rtf"):
                    jobs.append((msg, rtf))
        for index, (source, rtf) in enumerate(jobs):
            work = tmp / f"job{index}"
            work.mkdir()
            out = work / "out.jpg"
            if args.rtf:
                cmd = [str(args.bin / "render_pages"), str(source), str(out)]
            else:
                cmd = [str(args.bin / "Kestrune.exe"), str(source), str(out)]
            ours_s, peak, status = timed(cmd)
            peer_s, peer_ok = libreoffice(rtf, work, profile)
            if status == 0 and peer_ok:
                ratios.append(peer_s / ours_s)
            peaks.append((peak, source.name))
            rows.append(f"{source.name}\t{ours_s:.3f}\t{peak:.1f}\t{status}\t{peer_s:.3f}\t"
                        f"{'ok' if peer_ok else 'failed'}")
            shutil.rmtree(work)

    print("document\tours_s\tours_peak_MiB\tours_status\tlibreoffice_s\tlibreoffice")
    print("\n".join(rows))
    if ratios:
        print(f"\n{len(ratios)} documents converted by both; median per-document speed ratio "
              f"(LibreOffice time / our time): {statistics.median(ratios):.1f}x "
              f"(min {min(ratios):.1f}x, max {max(ratios):.1f}x)")
    if peaks:
        peak, name = max(peaks)
        print(f"our largest peak memory: {peak:.1f} MiB ({name})")


if __name__ == "__main__":
    main()
