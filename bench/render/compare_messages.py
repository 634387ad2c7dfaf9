#!/usr/bin/env python3
"""Messages side by side: our pages of each message (the converter,
"Kestrune.exe <msg> <out.jpg>") on the left, LibreOffice's rendering of the
body the converter would render (written out by dump_body: the RTF body byte
for byte) on the right, one sheet per message.

    python3 bench/render/compare_messages.py --bin build/ci/bin --out DIR MSG...

Needs the bench programs (cmake --build --preset ci --target benchmarks) and,
for the bench only, the Debian packages libreoffice-writer-nogui and
poppler-utils.
"""
import argparse
import pathlib
import subprocess
import sys
import tempfile


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, timeout=600, **kwargs)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    parser.add_argument("--out", required=True, type=pathlib.Path)
    parser.add_argument("messages", nargs="+", type=pathlib.Path)
    args = parser.parse_args()
    binary = args.bin.resolve()
    args.out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        profile = pathlib.Path(tmp) / "profile"
        for msg in args.messages:
            work = pathlib.Path(tmp) / msg.stem
            (work / "ours").mkdir(parents=True)
            (work / "lo").mkdir()
            run([str(binary / "Kestrune.exe"), str(msg), str(work / "ours" / "page.jpg")])
            ours = sorted((work / "ours").glob("*.jpg"))
            body = work / "lo" / "body.rtf"
            if run([str(binary / "dump_body"), str(msg), str(body)]).returncode != 0:
                print(f"{msg.name}: no body", file=sys.stderr)
                continue
            run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless",
                 "--convert-to", "pdf", "--outdir", str(work / "lo"), str(body)])
            pdf = work / "lo" / "body.pdf"
            if pdf.exists():
                run(["pdftoppm", "-r", "96", "-jpeg", str(pdf), str(work / "lo" / "page")])
            theirs = sorted((work / "lo").glob("page*.jpg"))
            sheet = args.out / (msg.stem + ".jpg")
            run([str(binary / "side_by_side"), str(sheet)] + [str(p) for p in ours] + ["--"] +
                [str(p) for p in theirs])
            print(f"{msg.name}: ours {len(ours)} page(s), LibreOffice {len(theirs)} -> {sheet}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
