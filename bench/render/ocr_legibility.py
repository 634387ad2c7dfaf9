#!/usr/bin/env python3
"""Legibility, measured: do the words of a message's plain body appear in
its page images?

For every message of the folder that has a plain body ("1000"), the
converter makes its pages ("Kestrune.exe <msg> <out.jpg>") and LibreOffice
renders the body the converter would render (written out by the bench program
dump_body: the RTF body, else the HTML, else the text) to PDF and then to
96 dpi JPEG pages of the quality the converter writes (80). Both sets of
pages are read the same way, by ocr() (tesseract, English, pages upscaled 2x,
read as they are and in black and white). A word of the plain
body counts as found when OCR read it on any page of that message.

    python3 bench/render/ocr_legibility.py --bin build/ci/bin --msg tests/corpus/msg \
        [--only REGEX] [--cache DIR] [--keep DIR]

Two figures are given: over every word of the plain bodies, and over the
words without the link targets ("<https://...>") and picture sources
("[cid:...]") that a text version of an HTML mail spells out and no
rendering of the mail shows. --cache keeps LibreOffice's words between runs
(its rendering does not change when ours does) and what OCR read on every
page image, by the image's SHA-256 (a page that did not change is not read
again).

Needs the Debian packages tesseract-ocr, tesseract-ocr-eng, imagemagick,
libreoffice-writer-nogui and poppler-utils (bench only).
"""
import argparse
import hashlib
import json
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

WORD = re.compile(r"[A-Za-z][A-Za-z']+|\d{2,}")
# What a mail program's text version of an HTML mail adds that no rendering
# of the HTML shows: link targets after the link text ("text <https://...>")
# and picture sources ("[cid:image001.png@...]", "[https://.../logo.png]").
LINK_TARGET = re.compile(r"<(?:https?|ftp|mailto|news|file):[^>\s]*>"
                         r"|\[(?:https?|cid|file):[^\]\s]*\]", re.IGNORECASE)


def visible_words(body):
    return words(LINK_TARGET.sub(" ", body))


def words(text):
    return [w.lower().strip("'") for w in WORD.findall(text) if len(w) >= 2]


def ocr(pages, cache=None):
    """Words tesseract reads on the pages, each upscaled 2x and read twice:
    as it is, and made black and white at 50% grey. Tesseract's own
    binarisation loses text on tinted backgrounds (a yellow warning banner,
    table rows in pastel); a word counts when either reading finds it.
    With a cache folder, the text read from a page is kept under the SHA-256
    of the page image, and an identical image is not read again."""
    seen = set()
    for page in pages:
        kept = cache / (hashlib.sha256(page.read_bytes()).hexdigest() + ".txt") if cache else None
        if kept and kept.exists():
            text = kept.read_text()
            page.with_suffix(".txt").write_text(text)
            seen.update(words(text))
            continue
        readings = []
        for name, extra in (("x2", []), ("bw", ["-colorspace", "gray", "-threshold", "50%"])):
            image = page.with_suffix(f".{name}.png")
            subprocess.run(["convert", str(page), "-resize", "200%"] + extra + [str(image)],
                           capture_output=True, timeout=120)
            result = subprocess.run(["tesseract", str(image), "-", "-l", "eng"],
                                    capture_output=True, text=True, timeout=300)
            readings.append(result.stdout)
        text = "\n".join(readings)
        page.with_suffix(".txt").write_text(text)
        if kept:
            kept.write_text(text)
        seen.update(words(text))
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


def document_suffix(head):
    """What LibreOffice is to read the body as: RTF, HTML or text, looked at
    past a byte-order mark (UTF-16 HTML is still HTML)."""
    for bom, codec in ((b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"),
                       (b"\xfe\xff", "utf-16-be")):
        if head.startswith(bom):
            head = head[len(bom):].decode(codec, "replace").encode("utf-8")
            break
    head = head.lstrip().lower()
    return ".rtf" if head.startswith(b"{\\rtf") else ".html" if head.startswith(b"<") else ".txt"


def rasterise(pdf, prefix):
    """96 dpi JPEG pages of a PDF, of the quality the converter writes (80),
    so that both renderings reach OCR as the same kind of image."""
    subprocess.run(["pdftoppm", "-r", "96", "-jpeg", "-jpegopt", "quality=80", str(pdf),
                    str(prefix)], capture_output=True, timeout=600)


def libreoffice(binary, msg, work, profile):
    out = work / "lo"
    out.mkdir()
    body = out / "body.bin"
    if subprocess.run([str(binary / "dump_body"), str(msg), str(body)],
                      capture_output=True, timeout=60).returncode != 0:
        return []
    suffix = document_suffix(body.read_bytes()[:1024])
    document = body.rename(out / ("body" + suffix))
    subprocess.run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless",
                    "--convert-to", "pdf", "--outdir", str(out), str(document)],
                   capture_output=True, timeout=600)
    pdf = out / "body.pdf"
    if pdf.exists():
        rasterise(pdf, out / "page")
    return sorted(out.glob("page*.jpg"))


def score(expected, found):
    return sum(1 for w in expected if w in found)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    parser.add_argument("--msg", required=True, type=pathlib.Path)
    parser.add_argument("--only", default="", help="regular expression on message names")
    parser.add_argument("--cache", type=pathlib.Path,
                        help="folder keeping LibreOffice's OCR words, and the text read from "
                        "each page image, between runs")
    parser.add_argument("--keep", type=pathlib.Path, help="folder keeping every page made")
    args = parser.parse_args()
    binary = args.bin.resolve()
    only = re.compile(args.only)
    page_cache = args.cache / "pages" if args.cache else None
    if page_cache:
        page_cache.mkdir(parents=True, exist_ok=True)

    # "all": every word of the plain body; "visible": without link targets
    # and picture sources, which only the text version spells out.
    totals = {kind: {"words": 0, "ours": 0, "lo": 0} for kind in ("all", "visible")}
    print(f"{'message':52} {'words':>6} {'ours':>7} {'LO':>7} {'visible':>8} {'ours':>7} {'LO':>7}")
    with tempfile.TemporaryDirectory() as tmp:
        root = args.keep.resolve() if args.keep else pathlib.Path(tmp)
        root.mkdir(parents=True, exist_ok=True)
        profile = pathlib.Path(tmp) / "profile"
        for msg in sorted(args.msg.glob("*.msg")):
            if not only.search(msg.name):
                continue
            body = plain_body(binary / "msgdump", msg) or ""
            expected = {"all": words(body), "visible": visible_words(body)}
            if not expected["all"]:
                continue
            work = root / msg.stem
            if work.exists():
                shutil.rmtree(work)
            work.mkdir()
            found_ours = ocr(ours(binary, msg, work), page_cache)
            cached = args.cache / (msg.stem + ".v3.json") if args.cache else None
            if cached and cached.exists():
                found_lo = set(json.loads(cached.read_text()))
            else:
                found_lo = ocr(libreoffice(binary, msg, work, profile), page_cache)
                if cached:
                    cached.write_text(json.dumps(sorted(found_lo)))
            row = []
            for kind in ("all", "visible"):
                n = len(expected[kind])
                a = score(expected[kind], found_ours)
                b = score(expected[kind], found_lo)
                totals[kind]["words"] += n
                totals[kind]["ours"] += a
                totals[kind]["lo"] += b
                row += [f"{n:6}", f"{100 * a / max(n, 1):6.1f}%", f"{100 * b / max(n, 1):6.1f}%"]
            print(f"{msg.name[:52]:52} {row[0]} {row[1]} {row[2]} {row[3]:>8} {row[4]} {row[5]}",
                  flush=True)
    if totals["all"]["words"] == 0:
        print("no message with a plain body", file=sys.stderr)
        return 1
    print()
    for kind, label in (("all", "every word of the plain bodies"),
                        ("visible", "without link targets and picture sources")):
        t = totals[kind]
        n = max(t["words"], 1)
        print(f"{label}: {t['words']} words; ours {100 * t['ours'] / n:.1f}%, "
              f"LibreOffice {100 * t['lo'] / n:.1f}%")
    return 0


if __name__ == "__main__":
    sys.exit(main())
