#!/usr/bin/env python3
"""Renders each RTF file of a folder with our engine and with LibreOffice and
writes one side-by-side sheet per file, then says how many page counts agree.

Ours: bench program render_pages (the deployed library, as the converter uses
it). LibreOffice: soffice --headless --convert-to pdf, then pdftoppm -r 96 -jpeg.

  cmake --build --preset ci --target benchmarks
  python3 bench/render/compare_libreoffice.py --bin build/ci/bin \
      --corpus tests/corpus/rtf --out /tmp/render-compare

Writes <out>/sheets/<name>.jpg and <out>/summary.tsv.
"""
import argparse
import pathlib
import shutil
import subprocess
import sys
import tempfile


def run(cmd, timeout=300):
    return subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)


def ours(bin_dir, source, out_dir):
    base = out_dir / source.stem
    try:
        result = run([str(bin_dir / "render_pages"), str(source), str(base) + ".jpg"], timeout=180)
    except subprocess.TimeoutExpired:
        return None, [], "timeout"
    pages = sorted(out_dir.glob(source.stem + "_*.jpg"),
                   key=lambda p: int(p.stem.rsplit("_", 1)[1]))
    if result.returncode != 0:
        return None, pages, result.stderr.strip()
    return int(result.stdout.strip()), pages, ""


def libreoffice(sources, out_dir, profile):
    """One soffice run converts every file; then each PDF is rasterised."""
    pdf_dir = out_dir / "pdf"
    pdf_dir.mkdir(parents=True, exist_ok=True)
    run(["soffice", f"-env:UserInstallation=file://{profile}", "--headless",
         "--convert-to", "pdf", "--outdir", str(pdf_dir)] + [str(s) for s in sources],
        timeout=3600)
    results = {}
    for source in sources:
        pdf = pdf_dir / (source.stem + ".pdf")
        if not pdf.exists():
            results[source.stem] = (None, [])
            continue
        prefix = out_dir / source.stem
        run(["pdftoppm", "-r", "96", "-jpeg", str(pdf), str(prefix)])
        pages = sorted(out_dir.glob(source.stem + "-*.jpg"),
                       key=lambda p: int(p.stem.rsplit("-", 1)[1]))
        results[source.stem] = (len(pages), pages)
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, type=pathlib.Path)
    parser.add_argument("--corpus", required=True, type=pathlib.Path)
    parser.add_argument("--out", required=True, type=pathlib.Path)
    args = parser.parse_args()
    for tool in ("soffice", "pdftoppm"):
        if shutil.which(tool) is None:
            sys.exit(f"{tool} not found (Debian: libreoffice-writer-nogui, poppler-utils)")

    sources = sorted(args.corpus.glob("*.rtf"))
    if args.out.exists():
        shutil.rmtree(args.out)
    ours_dir, lo_dir, sheets = args.out / "ours", args.out / "lo", args.out / "sheets"
    for d in (ours_dir, lo_dir, sheets):
        d.mkdir(parents=True)
    with tempfile.TemporaryDirectory(prefix="lo-profile-") as profile:
        lo = libreoffice(sources, lo_dir, profile)

    agree = compared = 0
    rows = ["file\tours\tlibreoffice\tnote"]
    for source in sources:
        count, pages, error = ours(args.bin, source, ours_dir)
        lo_count, lo_pages = lo[source.stem]
        if count is not None and lo_count is not None:
            compared += 1
            agree += count == lo_count
        rows.append(f"{source.name}\t{count}\t{lo_count}\t{error}")
        if pages or lo_pages:
            run([str(args.bin / "side_by_side"), str(sheets / (source.stem + ".jpg"))]
                + [str(p) for p in pages] + ["--"] + [str(p) for p in lo_pages])
    (args.out / "summary.tsv").write_text("\n".join(rows) + "\n")
    failed = sum(1 for r in rows[1:] if r.split("\t")[1] == "None")
    print("\n".join(rows))
    print(f"\npage counts agree for {agree} of {compared} files rendered by both; "
          f"{failed} of {len(sources)} failed with our engine")


if __name__ == "__main__":
    main()
