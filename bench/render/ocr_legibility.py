#!/usr/bin/env python3
"""Legibility, measured: do the words of a message's plain body appear in
its page images?

For every message of the folder that has a plain body ("1000"), the
converter makes its pages ("Kestrune.exe <msg> <out.jpg>") and LibreOffice
renders the body the converter would render (written out by the bench program
dump_body: the RTF body, else the HTML, else the text) to PDF and then to
96 dpi JPEG pages. Both sets of pages are read with tesseract (English, pages
upscaled 2x). A word of the plain body counts as found when OCR read it on
any page of that message.

    python3 bench/render/ocr_legibility.py --bin build/ci/bin --msg ../shared/corpus/msg

Needs the Debian packages tesseract-ocr, tesseract-ocr-eng, imagemagick,
libreoffice-writer-nogui and poppler-utils (bench only).
"""
import argparse
import json
import pathlib
import re
import subprocess
import sys
import tempfile

WORD = re.compile(r"[A-Za-z][A-Za-z']+|\d{2,}")


def words(text):
    return [w.lower().strip("'") for w in WORD.findall(text) if len(w) >= 2]


def ocr(pages):
    seen = set()
    for page in pages:
        big = page.with_suffix(".x2.png")
        subprocess.run(["convert", str(page), "-resize", "200%", str(big)],
                       capture_output=True, timeout=120)
        result = subprocess.run(["tesseract", str(big), "-", "-l", "eng"],
                                capture_output=True, text=True, timeout=300)
        seen.update(words(result.stdout))
    return seen


def plain_body(msgdump, msg):
    result = subprocess.run([str(msgdump), str(msg)], capture_output=True, timeout=60)
    if result.returncode != 0:
        return None
    try:
        return json.loads(result.stdout.decode("utf-8", "replace")).get("body")
    except json.JSONDecodeError:
        return None


def ours(binary, msg, work):
    out = work / "ours"
    out.mkdir()
    subprocess.run([str(binary / "Kestrune.exe"), str(msg), str(out / "page.jpg")],
                   capture_output=True, timeout=300)
    return sorted(out.glob("*.jpg"))


def libreoffice(binary, msg, work, profile):
    out = work / "lo"
    out.mkdir()
    body = out / "body.bin"
    if subprocess.run([str(binary / "dump_body"), str(msg), str(body)],
                      capture_output=True, timeout=60).returncode != 0:
        return []
    head = body.read_bytes()[:512].lstrip().lower()
    suffix = ".rtf" if head.startswith(b"{\\rtf") else ".html" if b"<" in head[:1] else ".txt"
    document = body.rename(out / ("body" + suffix))
    subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless",
                    "--convert-to", "pdf", "--outdir", str(out), str(document)],
                   capture_output=True, timeout=600)
    pdf = out / "body.pdf"
    if pdf.exists():
        subprocess.run(["pdftoppm", "-r", "96", "-jpeg", str(pdf), str(out / "page")],
                       capture_output=True, timeout=600)
    return sorted(out.glob("page*.jpg"))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    parser.add_argument("--msg", required=True, type=pathlib.Path)
    args = parser.parse_args()
    binary = args.bin.resolve()

    totals = {"words": 0, "ours": 0, "lo": 0}
    print(f"{'message':60} {'words':>6} {'ours':>7} {'LibreOffice':>11}")
    with tempfile.TemporaryDirectory() as tmp:
        profile = pathlib.Path(tmp) / "profile"
        for msg in sorted(args.msg.glob("*.msg")):
            body = plain_body(binary / "msgdump", msg)
            expected = words(body or "")
            if not expected:
                continue
            work = pathlib.Path(tmp) / msg.stem
            work.mkdir()
            found_ours = ocr(ours(binary, msg, work))
            found_lo = ocr(libreoffice(binary, msg, work, profile))
            n = len(expected)
            a = sum(1 for w in expected if w in found_ours)
            b = sum(1 for w in expected if w in found_lo)
            totals["words"] += n
            totals["ours"] += a
            totals["lo"] += b
            print(f"{msg.name[:60]:60} {n:6} {100 * a / n:6.1f}% {100 * b / n:10.1f}%",
                  flush=True)
    n = totals["words"]
    if n == 0:
        print("no message with a plain body", file=sys.stderr)
        return 1
    print(f"\nover the corpus: {n} words; ours {100 * totals['ours'] / n:.1f}%, "
          f"LibreOffice {100 * totals['lo'] / n:.1f}%")
    return 0


if __name__ == "__main__":
    sys.exit(main())
