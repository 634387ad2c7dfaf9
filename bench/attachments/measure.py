#!/usr/bin/env python3
"""What attachments cost, against peers measured in the same run:

  jpeg    the corpus's messages with one more attachment, a JPEG (a page
          scanned at 200 dpi), against the same messages as they are: the
          ratio of the messages' processor time (orvaline-convert -j 1).
  pdf     the pages of PDF attachments (LibreOffice's PDFs of the corpus's
          RTF files): what the attachments add to their messages' processor
          time, against pdftoppm -jpeg at the same resolution over the same
          files.
  office  messages with one Office document each (the corpus's RTF files as
          .docx), in one batch: what the attachments add to the batch's wall
          time, against one soffice --convert-to pdf call over the same files
          plus pdftoppm over the PDFs it made.

Processor time is user + system of the finished child processes (their
workers and LibreOffice included), which a shared machine disturbs less than
the wall clock; the office comparison is in wall time, as LibreOffice runs
beside the converter. Each route runs --rounds times, alternating; the best
round of each is compared.

    cmake --build build/ci --target orvaline-convert wrap_attachment benchmarks
    apt-get install -y libreoffice-writer-nogui python3-uno poppler-utils
    python3 bench/attachments/measure.py --bin build/ci/bin --corpus tests/corpus
"""
import argparse
import os
import pathlib
import resource
import shutil
import subprocess
import sys
import tempfile
import time


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed(command, ok=(0,), **kwargs):
    """(processor seconds, wall seconds) of a command and what it started."""
    cpu, wall = children_cpu(), time.monotonic()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)
    if done.returncode not in ok:
        raise SystemExit(f"{command[0]} exited with {done.returncode}")
    return children_cpu() - cpu, time.monotonic() - wall


def soffice(args, outdir):
    subprocess.run(["soffice", "--headless", "--norestore", *args, "--outdir", str(outdir)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def messages(bin_dir, folder, files, name):
    """A message per file (or per count, without attachments)."""
    folder.mkdir(parents=True)
    for i, attached in enumerate(files):
        command = [str(bin_dir / "wrap_attachment"), str(folder / f"{i:04d}.msg"), f"{name} {i}"]
        subprocess.run(command + ([str(attached)] if attached else []), check=True)


def convert(bin_dir, folder, out, extra=()):
    shutil.rmtree(out, ignore_errors=True)
    # 1: some messages fail (the corpus holds three that are no messages).
    return timed([str(bin_dir / "orvaline-convert"), "-q", "-j", "1", *extra, str(folder),
                  "-o", str(out)], ok=(0, 1), env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))


def shown(out):
    """How the attachments of a run's report were shown: {"pages": n, ...}."""
    import json
    counts = {}
    for line in (out / "orvaline-report.jsonl").read_text().splitlines():
        for a in json.loads(line).get("attachments", []):
            counts[a["shown"]] = counts.get(a["shown"], 0) + 1
    return counts


def best(rounds, routes):
    """The least processor and wall time of each route over alternating rounds."""
    results = {name: [float("inf"), float("inf")] for name in routes}
    for round_number in range(rounds):
        for name, run in routes.items():
            cpu, wall = run()
            print(f"  round {round_number + 1} {name}: {cpu:.2f} s processor, {wall:.2f} s wall",
                  flush=True)
            results[name][0] = min(results[name][0], cpu)
            results[name][1] = min(results[name][1], wall)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", type=pathlib.Path, required=True)
    parser.add_argument("--corpus", type=pathlib.Path, required=True)
    parser.add_argument("--count", type=int, default=40, help="messages of the jpeg and pdf sets")
    parser.add_argument("--office", type=int, default=100, help="Office documents in one batch")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--only", choices=["jpeg", "pdf", "office"], action="append")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    bin_dir = args.bin.resolve()
    only = set(args.only or ["jpeg", "pdf", "office"])
    work = pathlib.Path(tempfile.mkdtemp(prefix="attachment-bench-"))
    try:
        rtfs = sorted((args.corpus / "rtf").glob("*.rtf"))
        plain = work / "plain"
        messages(bin_dir, plain, [None] * args.count, "plain")

        if "jpeg" in only:
            page = work / "scan.jpg"
            subprocess.run([str(bin_dir / "Kestrune.exe"), str(args.corpus / "msg" /
                            "poi__simple_test_msg.msg"), str(page), "--dpi", "200"], check=True,
                           env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
            as_they_are, with_jpeg = work / "corpus", work / "jpeg"
            as_they_are.mkdir()
            with_jpeg.mkdir()
            for msg in sorted((args.corpus / "msg").glob("*.msg")):
                made = subprocess.run([str(bin_dir / "wrap_attachment"), "--to", str(msg),
                                       str(with_jpeg / msg.name), str(page)], capture_output=True)
                if made.returncode == 0:
                    shutil.copy(msg, as_they_are / msg.name)
            count = len(list(with_jpeg.glob("*.msg")))
            print(f"jpeg: {count} messages, the picture {page.stat().st_size // 1024} KB")
            r = best(args.rounds, {
                "as they are": lambda: convert(bin_dir, as_they_are, work / "out-plain"),
                "with a JPEG": lambda: convert(bin_dir, with_jpeg, work / "out-jpeg")})
            print(f"jpeg: the attachments were shown as {shown(work / 'out-jpeg')}")
            print(f"jpeg: {1000 * r['with a JPEG'][0] / count:.1f} ms a message with it, "
                  f"{1000 * r['as they are'][0] / count:.1f} ms as they are: "
                  f"{r['with a JPEG'][0] / r['as they are'][0]:.2f}x")

        if "pdf" in only:
            pdfs = work / "pdf-files"
            pdfs.mkdir()
            soffice(["--convert-to", "pdf", *map(str, rtfs[:args.count])], pdfs)
            files = sorted(pdfs.glob("*.pdf"))
            pages = sum(int(line.split()[-1]) for f in files for line in subprocess.run(
                ["pdfinfo", str(f)], capture_output=True, text=True).stdout.splitlines()
                if line.startswith("Pages:"))
            with_pdf = work / "pdf"
            messages(bin_dir, with_pdf, files, "with a PDF")
            no_pdf = work / "plain-pdf"
            messages(bin_dir, no_pdf, [None] * len(files), "plain")
            jpegs = work / "pdftoppm"
            jpegs.mkdir()
            r = best(args.rounds, {
                "without": lambda: convert(bin_dir, no_pdf, work / "out-plain"),
                "with a PDF": lambda: convert(bin_dir, with_pdf, work / "out-pdf"),
                "pdftoppm": lambda: [sum(x) for x in zip(*[timed(
                    ["pdftoppm", "-jpeg", "-r", "96", str(f), str(jpegs / f.stem)]) for f in files])]})
            print(f"pdf: the attachments were shown as {shown(work / 'out-pdf')}")
            ours = r["with a PDF"][0] - r["without"][0]
            print(f"pdf: {len(files)} files, {pages} pages: the attachments add {ours:.2f} s, "
                  f"pdftoppm takes {r['pdftoppm'][0]:.2f} s: {ours / r['pdftoppm'][0]:.2f}x")

        if "office" in only:
            docx = work / "docx"
            docx.mkdir()
            sources = [rtfs[i % len(rtfs)] for i in range(args.office)]
            named = work / "named"
            named.mkdir()
            for i, rtf in enumerate(sources):
                shutil.copy(rtf, named / f"{i:04d}_{rtf.stem}.rtf")
            soffice(["--convert-to", "docx", *map(str, sorted(named.glob("*.rtf")))], docx)
            files = sorted(docx.glob("*.docx"))
            with_office = work / "office"
            messages(bin_dir, with_office, files, "with a document")
            no_office = work / "plain-office"
            messages(bin_dir, no_office, [None] * len(files), "plain")
            peer = work / "peer"

            def libreoffice():
                shutil.rmtree(peer, ignore_errors=True)
                peer.mkdir()
                cpu, wall = timed(["soffice", "--headless", "--norestore", "--convert-to", "pdf",
                                   *map(str, files), "--outdir", str(peer)])
                for pdf in sorted(peer.glob("*.pdf")):
                    c, w = timed(["pdftoppm", "-jpeg", "-r", "96", str(pdf), str(peer / pdf.stem)])
                    cpu, wall = cpu + c, wall + w
                return cpu, wall

            r = best(args.rounds, {
                "without": lambda: convert(bin_dir, no_office, work / "out-plain"),
                "with a document": lambda: convert(bin_dir, with_office, work / "out-office"),
                "soffice + pdftoppm": libreoffice})
            print(f"office: the attachments were shown as {shown(work / 'out-office')}")
            ours = r["with a document"][1] - r["without"][1]
            peer_wall = r["soffice + pdftoppm"][1]
            print(f"office: {len(files)} documents: the attachments add {ours:.1f} s of wall "
                  f"time, one soffice call plus pdftoppm takes {peer_wall:.1f} s: "
                  f"{ours / peer_wall:.2f}x")
    finally:
        if args.keep:
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
