#!/usr/bin/env python3
"""Mail written as HTML, beside a browser: our pages of every message that
carries HTML, and the same HTML printed by headless Chromium, side by side
and read by OCR.

    python3 bench/render/browser_compare.py --bin build/ci/bin --msg tests/corpus/msg \\
        --out /tmp/browser-compare [--only REGEX] [--cache DIR]

A message counts when it has an HTML body: HTML wrapped in the RTF body
(\\fromhtml1) or the HTML body property ("1013"). The bench program dump_body
(--browser) writes that HTML as UTF-8 and the pictures it shows by content id
(cid:) beside it; the script points the cid: references at those files, so
Chromium shows the same inline pictures we do. Nothing is fetched: Chromium
runs in a network namespace of its own (unshare -n: no interface but a
loopback that is down), with every host name mapped to nowhere besides, so
remote pictures stay unloaded on both sides. Chromium prints to PDF on its
default paper and margins (Letter), and pdftoppm makes 96 dpi JPEG
pages of the quality the converter writes (ocr_legibility.rasterise); our
pages are the converter's ("Kestrune.exe <msg> <out.jpg>", Letter for HTML).

Legibility: the visible words of the HTML (its text as a browser shows it:
no <head>, <style>, <script>, <noscript>, <template>, comments, the hidden
conditional comments "<!--[if ...]>" of Outlook, elements with the hidden
attribute or an inline display:none), taken with Python's html.parser, are
looked for in the OCR of both sets of pages, read the same way by
ocr_legibility.ocr(). A table per message and the overall figure are printed;
<out>/sheets/<name>.jpg holds one sheet per message (ours left, Chromium's
right), <out>/summary.tsv the table.

Needs the Debian packages chromium, poppler-utils, tesseract-ocr,
tesseract-ocr-eng and imagemagick, and the bench programs (cmake --build
<dir> --target benchmarks).
"""
import argparse
import html.parser
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from ocr_legibility import ocr, ours, rasterise, score, words  # noqa: E402

# Elements whose content a browser never shows.
UNSHOWN = {"head", "style", "script", "noscript", "template", "title"}
VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param",
        "source", "track", "wbr"}
DISPLAY_NONE = re.compile(r"(?:^|;)\s*display\s*:\s*none\b", re.IGNORECASE)


class VisibleText(html.parser.HTMLParser):
    """The text of an HTML document as a browser shows it. Comments, and with
    them Outlook's hidden conditional comments ("<!--[if gte mso 9]>...
    <![endif]-->"), never reach handle_data; the revealed kind ("<![if
    !supportLists]>...<![endif]>") is shown by browsers and stays."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.parts = []
        self.unshown = []  # open elements whose content is not shown
        self.in_head = False

    def handle_starttag(self, tag, attrs):
        if tag == "body":
            self.in_head = False
            return
        if tag == "head":
            self.in_head = True
            return
        if tag in VOID:
            return
        attributes = dict(attrs)
        if self.unshown:
            if tag == self.unshown[-1][0]:
                self.unshown[-1][1] += 1
            return
        if (tag in UNSHOWN or "hidden" in attributes
                or DISPLAY_NONE.search(attributes.get("style") or "")):
            self.unshown.append([tag, 1])

    def handle_startendtag(self, tag, attrs):
        pass

    def handle_endtag(self, tag):
        if tag == "head":
            self.in_head = False
            return
        if self.unshown and tag == self.unshown[-1][0]:
            self.unshown[-1][1] -= 1
            if self.unshown[-1][1] == 0:
                self.unshown.pop()

    def handle_data(self, data):
        if not self.unshown and not self.in_head:
            self.parts.append(data)

    def text(self):
        return " ".join(self.parts)


def visible_text(document):
    parser = VisibleText()
    parser.feed(document)
    parser.close()
    return parser.text()


def decode(data):
    """The HTML as text, for the word list: by its byte-order mark, else the
    charset it names, else Windows-1252 (what dump_body leaves undecoded
    names its charset)."""
    for bom, codec in ((b"\xef\xbb\xbf", "utf-8"), (b"\xff\xfe", "utf-16-le"),
                       (b"\xfe\xff", "utf-16-be")):
        if data.startswith(bom):
            return data[len(bom):].decode(codec, "replace")
    named = re.search(rb"charset\s*=\s*[\"']?([A-Za-z0-9_:.-]+)", data[:4096], re.IGNORECASE)
    for codec in ([named.group(1).decode("ascii")] if named else []) + ["cp1252"]:
        try:
            return data.decode(codec, "replace")
        except LookupError:
            continue
    return data.decode("latin-1")


CID = re.compile(rb"cid:([^\"'\s)>]+)", re.IGNORECASE)


def point_cid_at_files(data, folder):
    """cid: references of the HTML pointed at the files dump_body wrote
    (index.tsv: content id, file name); unknown ones stay as they are."""
    index = folder / "index.tsv"
    files = {}
    if index.exists():
        for line in index.read_text("utf-8", "replace").splitlines():
            cid, _, name = line.partition("\t")
            if name:
                files[cid.strip("<>").lower()] = name
    if not files:
        return data, 0
    shown = 0

    def replace(match):
        nonlocal shown
        cid = urllib.parse.unquote(match.group(1).decode("latin-1")).strip("<>").lower()
        name = files.get(cid)
        if name is None:
            return match.group(0)
        shown += 1
        return name.encode("ascii")

    return CID.sub(replace, data), shown


CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync",
                  "--host-resolver-rules=MAP * ~NOTFOUND", "--no-pdf-header-footer"]


def chromium(document, out):
    """Chromium's print of the HTML file as 96 dpi JPEG pages, without a
    network: its own network namespace, every host name unresolvable."""
    pdf = out / "print.pdf"
    with tempfile.TemporaryDirectory(prefix="chromium-profile-") as profile:
        command = ["unshare", "--net", "chromium"] + CHROMIUM_FLAGS + [
            f"--user-data-dir={profile}", f"--print-to-pdf={pdf}", document.as_uri()]
        subprocess.run(command, capture_output=True, timeout=300)
    if not pdf.exists():
        return []
    rasterise(pdf, out / "page")
    return sorted(out.glob("page*.jpg"), key=lambda p: int(p.stem.rsplit("-", 1)[1]))


def page_number(path):
    """Converter pages: page.jpg, or page_1.jpg, page_2.jpg, ..."""
    stem = path.stem
    return int(stem.rsplit("_", 1)[1]) if "_" in stem else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    parser.add_argument("--msg", required=True, type=pathlib.Path)
    parser.add_argument("--out", required=True, type=pathlib.Path)
    parser.add_argument("--only", default="", help="regular expression on message names")
    parser.add_argument("--cache", type=pathlib.Path,
                        help="folder keeping what OCR read on each page image (by its "
                        "SHA-256) between runs; shared with ocr_legibility.py --cache")
    args = parser.parse_args()
    for tool in ("chromium", "pdftoppm", "tesseract", "convert", "unshare"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} not found (Debian: chromium, poppler-utils, tesseract-ocr, "
                     "imagemagick, util-linux)")
    binary = args.bin.resolve()
    only = re.compile(args.only)
    out = args.out.resolve()
    (out / "sheets").mkdir(parents=True, exist_ok=True)
    page_cache = args.cache / "pages" if args.cache else None
    if page_cache:
        page_cache.mkdir(parents=True, exist_ok=True)

    rows = ["message\tbody\twords\tours\tchromium\tpages_ours\tpages_chromium\tcid_shown"]
    total = {"words": 0, "ours": 0, "chromium": 0}
    print(f"{'message':52} {'body':>4} {'words':>6} {'ours':>7} {'Chromium':>9} {'pages':>7}")
    for msg in sorted(args.msg.glob("*.msg")):
        if not only.search(msg.name):
            continue
        work = out / msg.stem
        if work.exists():
            shutil.rmtree(work)
        (work / "chromium").mkdir(parents=True)
        document = work / "chromium" / "body.html"
        dumped = subprocess.run([str(binary / "dump_body"), "--browser", "--images",
                                 str(work / "chromium"), str(msg), str(document)],
                                capture_output=True, timeout=60)
        if dumped.returncode != 0:
            shutil.rmtree(work)
            continue  # 3: no HTML; else the message cannot be read
        data = document.read_bytes()
        expected = words(visible_text(decode(data)))
        data, cid_shown = point_cid_at_files(data, work / "chromium")
        document.write_bytes(data)
        # Which body the converter lays out: the HTML (wrapped in RTF or
        # not), or an RTF body of its own beside the HTML.
        body = work / "body.bin"
        subprocess.run([str(binary / "dump_body"), str(msg), str(body)], capture_output=True,
                       timeout=60)
        head = body.read_bytes()[:4096] if body.exists() else b""
        kind = "rtf" if head.startswith(b"{\\rtf") and b"\\fromhtml1" not in head else "html"

        our_pages = sorted(ours(binary, msg, work), key=page_number)
        their_pages = chromium(document, work / "chromium")
        found_ours = ocr(our_pages, page_cache)
        found_theirs = ocr(their_pages, page_cache)
        n = len(expected)
        a, b = score(expected, found_ours), score(expected, found_theirs)
        total["words"] += n
        total["ours"] += a
        total["chromium"] += b
        pa, pb = 100 * a / max(n, 1), 100 * b / max(n, 1)
        figures = f"{pa:6.1f}% {pb:8.1f}%" if n else f"{'-':>7} {'-':>9}"
        print(f"{msg.name[:52]:52} {kind:>4} {n:6} {figures} "
              f"{len(our_pages):>3}/{len(their_pages):<3}", flush=True)
        rows.append(f"{msg.name}\t{kind}\t{n}\t{pa:.1f}\t{pb:.1f}\t{len(our_pages)}\t"
                    f"{len(their_pages)}\t{cid_shown}")
        subprocess.run([str(binary / "side_by_side"), "--peer", "Chromium",
                        str(out / "sheets" / (msg.stem + ".jpg"))] +
                       [str(p) for p in our_pages] + ["--"] + [str(p) for p in their_pages],
                       capture_output=True, timeout=120)
    (out / "summary.tsv").write_text("\n".join(rows) + "\n")
    if total["words"] == 0:
        print("no message with an HTML body", file=sys.stderr)
        return 1
    n = total["words"]
    with_words = sum(1 for row in rows[1:] if row.split("\t")[2] != "0")
    print(f"\nvisible words of the HTML bodies: {n} words in {with_words} of the "
          f"{len(rows) - 1} messages with HTML; "
          f"ours {100 * total['ours'] / n:.1f}%, Chromium {100 * total['chromium'] / n:.1f}%")
    return 0


if __name__ == "__main__":
    sys.exit(main())
