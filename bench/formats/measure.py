#!/usr/bin/env python3
"""Page formats against JPEG, measured in the same run over a folder of
messages (the corpus by default):

  pdf     orvaline-convert -j 1 --format pdf against --format jpeg at the same
          resolution: the ratio of processor time, and of the bytes written
          (every PDF against every JPEG page).
  tiff    --format tiff against --format jpeg, both at 300 dpi: the ratio of
          processor time.
  checks  every PDF passes qpdf --check; every TIFF file tiffinfo, and its
          bilevel pages are CCITT Group 4.
  words   pdftotext -raw of each PDF against OCR of the same message's JPEG
          pages (tesseract, as bench/render/ocr_legibility.py reads pages): the
          share of the words OCR reads that the PDF's text holds; and the same
          over the words OCR reads that the laid-out text (--text) holds, which
          leaves out misreadings and the words inside pictures.

Processor time is user + system of the finished child processes (the
converter and its worker). Each route runs --rounds times, alternating; the
best round of each is compared. Options after "--" go to every run (e.g.
"-- --header").

    cmake --build build/ci --target orvaline-convert
    python3 bench/formats/measure.py --bin build/ci/bin [--msg tests/corpus/msg]
        [--rounds 3] [--only pdf|tiff|checks|words] [--ocr-limit 40] [-- OPTIONS]

Needs qpdf, poppler-utils, libtiff-tools, tesseract-ocr and imagemagick
(bench only).
"""
import argparse
import pathlib
import re
import resource
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "render"))
from ocr_legibility import ocr, words  # noqa: E402


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def convert(bin_dir, inputs, out, options):
    if out.exists():
        shutil.rmtree(out)
    before = children_cpu()
    subprocess.run([str(bin_dir / "orvaline-convert"), "-j", "1", "-q", "-o", str(out)]
                   + options + [str(p) for p in inputs],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return children_cpu() - before


def best(bin_dir, inputs, work, routes, rounds):
    times = {name: [] for name in routes}
    for _ in range(rounds):
        for name, options in routes.items():
            times[name].append(convert(bin_dir, inputs, work / name, options))
    return {name: min(values) for name, values in times.items()}


def files(folder, suffix):
    return sorted(p for p in folder.rglob("*" + suffix) if p.is_file())


def size(paths):
    return sum(p.stat().st_size for p in paths)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    parser.add_argument("--msg", type=pathlib.Path,
                        default=pathlib.Path(__file__).resolve().parents[2] / "tests/corpus/msg")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--only", choices=["pdf", "tiff", "checks", "words"])
    parser.add_argument("--ocr-limit", type=int, default=40,
                        help="messages whose pages OCR reads (it takes seconds a page)")
    parser.add_argument("options", nargs="*")
    args = parser.parse_args()
    inputs = sorted(args.msg.glob("*.msg"))
    work = pathlib.Path(tempfile.mkdtemp(prefix="formats-bench-"))
    extra = args.options
    try:
        if args.only in (None, "pdf", "checks", "words"):
            t = best(args.bin, inputs, work,
                     {"jpeg": ["--format", "jpeg"] + extra,
                      "pdf": ["--format", "pdf", "--text"] + extra},
                     args.rounds)
            jpegs, pdfs = files(work / "jpeg", ".jpg"), files(work / "pdf", ".pdf")
            print(f"pdf: {len(inputs)} messages, processor time jpeg {t['jpeg']:.2f} s, "
                  f"pdf {t['pdf']:.2f} s, ratio {t['pdf'] / t['jpeg']:.3f}")
            print(f"pdf: bytes {size(pdfs):,} in {len(pdfs)} PDF files against "
                  f"{size(jpegs):,} in {len(jpegs)} JPEG pages, ratio "
                  f"{size(pdfs) / max(1, size(jpegs)):.3f}")
        if args.only in (None, "tiff", "checks"):
            t = best(args.bin, inputs, work,
                     {"jpeg300": ["--format", "jpeg", "--dpi", "300"] + extra,
                      "tiff": ["--format", "tiff"] + extra},
                     args.rounds)
            print(f"tiff: processor time jpeg at 300 dpi {t['jpeg300']:.2f} s, tiff "
                  f"{t['tiff']:.2f} s, ratio {t['tiff'] / t['jpeg300']:.3f}")
        if args.only in (None, "checks"):
            bad = [p.name for p in files(work / "pdf", ".pdf")
                   if subprocess.run(["qpdf", "--check", str(p)], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL).returncode != 0]
            print(f"checks: qpdf --check failed on {len(bad)} PDF files {bad[:5]}")
            tiff_bad, pages, bilevel, group4 = [], 0, 0, 0
            for p in files(work / "tiff", ".tif"):
                run = subprocess.run(["tiffinfo", str(p)], capture_output=True, text=True)
                if run.returncode != 0 or "error" in run.stderr.lower():
                    tiff_bad.append(p.name)
                for directory in run.stdout.split("TIFF Directory")[1:]:
                    pages += 1
                    if "Bits/Sample: 1" in directory:
                        bilevel += 1
                        group4 += "CCITT Group 4" in directory
            print(f"checks: tiffinfo failed on {len(tiff_bad)} TIFF files {tiff_bad[:5]}; "
                  f"{pages} pages, {bilevel} bilevel, of them {group4} in Group 4")
        if args.only in (None, "words"):
            read = held = laid = laid_held = 0
            for pdf in files(work / "pdf", ".pdf")[:args.ocr_limit]:
                stem = pdf.stem
                pages = sorted(p for p in (work / "jpeg").glob("*.jpg")
                               if re.fullmatch(re.escape(stem) + r"(_\d+)?\.jpg", p.name))
                if not pages:
                    continue
                text = subprocess.run(["pdftotext", "-raw", str(pdf), "-"],
                                      capture_output=True, text=True).stdout
                ours = set(words(text))
                seen = ocr(pages)
                read += len(seen)
                held += sum(1 for w in seen if w in ours)
                # The words OCR reads that the layout holds (the text file):
                # neither misreadings nor the words of pictures.
                text_file = pdf.with_suffix(".txt")
                real = set(words(text_file.read_text())) if text_file.exists() else set()
                laid += sum(1 for w in seen if w in real)
                laid_held += sum(1 for w in seen if w in real and w in ours)
                missing = [w for w in seen if w not in ours]
                if missing:
                    print(f"words: {stem}: OCR read {len(seen)}, the PDF lacks "
                          f"{len(missing)}: {missing[:8]}")
            print(f"words: the PDFs' text holds {held} of the {read} words OCR reads on the "
                  f"JPEG pages ({100.0 * held / max(1, read):.2f}%); of those OCR reads that "
                  f"the laid-out text holds, {laid_held} of {laid} "
                  f"({100.0 * laid_held / max(1, laid):.2f}%)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
