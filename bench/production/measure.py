#!/usr/bin/env python3
"""What a production (orvaline-convert --bates) costs over a plain run:

  cost    the corpus (copied to a scratch folder) converted with
          --format tiff --dpi 300 -j 1 -q, without and with
          --bates ABC --legend CONFIDENTIAL, each run into a fresh output
          folder, the two alternating for --rounds rounds: the median
          processor time (user + system of the converter and its workers)
          and wall time of each, and their ratio (target <= 1.2).
  memory  one mbox file of --count messages (the corpus's .eml files in
          turn, or, when it has none, small generated messages, every fifth
          with a text attachment) converted with --bates ABC --format jpeg
          -j 2 -q: the converter's own resident memory (VmRSS of the parent
          process, sampled every 0.5 s) at its peak over the first tenth of
          the messages and over the last tenth (messages done: lines of the
          report as it grows; target: the last within 10% of the first), the
          largest worker's peak (VmHWM), messages per second overall and in
          the first and last tenth. A production counts every message's
          pages before it draws any, and the report grows only while it
          draws: the count step (its progress: the lines of
          orvaline-pages.jsonl) is measured by its own tenths, and the
          drawing's first tenth starts at the first report line.
  check   after every production: the lines of DATA/*.opt against the files
          under IMAGES/ (as many, and the same paths).

Prints a line per run (with the most common failure text when messages
failed), a table and a JSON line of the figures; exits 1 when a check or a
target fails, or when the converter or its library was replaced during a run
(a build into --bin: workers started then fail to load it). --no-bates runs the same parts without
--bates/--legend (a baseline: both routes of cost are then the same command,
their ratio the noise of the machine; no production to check). --self-test checks
the mbox writer, the sampler and the load-file check without the converter.

    cmake --build build/ci --target orvaline-convert
    python3 bench/production/measure.py --bin build/ci/bin --corpus tests/corpus
        [--rounds 3] [--count 100000] [--only cost|memory] [--work /tmp] [--keep]
"""
import argparse
import collections
import datetime
import email.utils
import json
import os
import pathlib
import runpy
import shutil
import statistics
import types
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
PRODUCTION = ["--bates", "ABC"]
COST_OPTIONS = ["--format", "tiff", "--dpi", "300", "-j", "1", "-q"]
MEMORY_OPTIONS = ["--format", "jpeg", "-j", "2", "-q"]
SAMPLE_SECONDS = 0.5
FIRST_SENT = datetime.datetime(2020, 3, 3, 9, 30,
                               tzinfo=datetime.timezone(datetime.timedelta(hours=1)))


def bench_module(name, path):
    """Another bench's functions, read from its file (benches are not a package)."""
    return types.SimpleNamespace(**runpy.run_path(str(path), run_name=name))


# Processor time of the finished children, and the moment a report reached a
# line count between two samples: as the other batch benches measure them.
children_cpu = bench_module("mail_input_measure",
                            HERE.parent / "mail_input/measure.py").children_cpu
time_at = bench_module("batch_scale", HERE.parent / "batch/scale.py").time_at


# --- the mbox file -----------------------------------------------------------

def generated_message(i):
    """A small RFC 5322 message; every fifth carries a text attachment."""
    sent = email.utils.format_datetime(FIRST_SENT + datetime.timedelta(minutes=7 * i))
    head = (f"From: Ann Example <ann@example.com>\nTo: Bob Example <bob@example.com>\n"
            f"Subject: Production message {i}\nDate: {sent}\n"
            f"Message-ID: <{i}.production@example.com>\nMIME-Version: 1.0\n")
    body = (f"The body of message {i}.\nFrom here on, a line that starts as an mbox"
            " separator does.\n")
    if i % 5:
        return (head + "Content-Type: text/plain; charset=utf-8\n\n" + body).encode()
    return (head + 'Content-Type: multipart/mixed; boundary="b"\n\n'
            "--b\nContent-Type: text/plain; charset=utf-8\n\n" + body +
            '--b\nContent-Type: text/plain; name="notes.txt"\n'
            'Content-Disposition: attachment; filename="notes.txt"\n\n'
            f"Notes on message {i}.\n--b--\n").encode()


def write_mbox(path, count, sources):
    """count messages, the files of sources in turn (or generated ones), in
    one mbox file: LF line ends, body lines starting "From " quoted."""
    texts = [p.read_bytes().replace(b"\r\n", b"\n") for p in sources]
    with open(path, "wb") as box:
        for i in range(count):
            text = texts[i % len(texts)] if texts else generated_message(i)
            lines = text.split(b"\n")
            if lines and lines[0].startswith(b"From "):
                lines = lines[1:]  # a file's own separator line
            box.write(b"From ann@example.com Tue Mar  3 10:00:00 2020\n")
            box.write(b"\n".join(b">" + line if line.startswith(b"From ") else line
                                 for line in lines).rstrip(b"\n"))
            box.write(b"\n\n")


# --- runs and their sampling -------------------------------------------------

def status_kib(pid, field):
    try:
        for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith(field + ":"):
                return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError, ValueError):
        pass
    return 0


def children(pid):
    found = []
    try:
        for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
            found += [int(c) for c in (task / "children").read_text().split()]
    except (FileNotFoundError, ProcessLookupError, ValueError):
        pass
    return found


class LineCounter:
    """Lines of a growing file, reading only what was added since the last
    call (a report of 100,000 lines is tens of MB); starts again when the
    file is replaced or shortened."""

    def __init__(self, path):
        self.path, self.file, self.lines = path, None, 0

    def __call__(self):
        try:
            on_disk = os.stat(self.path)
        except FileNotFoundError:
            return self.lines
        if self.file is not None:
            held = os.fstat(self.file.fileno())
            if held.st_ino != on_disk.st_ino or on_disk.st_size < self.file.tell():
                self.file.close()
                self.file = None
        if self.file is None:
            self.file, self.lines = open(self.path, "rb"), 0
        while chunk := self.file.read(1 << 20):
            self.lines += chunk.count(b"\n")
        return self.lines

    def close(self):
        if self.file is not None:
            self.file.close()


def watch(process, files, every=SAMPLE_SECONDS):
    """Samples a running process until it ends: [(seconds, [lines of each
    file], VmRSS KiB of the process)], and the largest VmHWM KiB of its
    children (the workers). The last sample, taken after the end, has RSS 0."""
    start, counters, samples, workers = time.monotonic(), list(map(LineCounter, files)), [], {}
    try:
        while process.poll() is None:
            rss = status_kib(process.pid, "VmRSS")
            for child in children(process.pid):
                workers[child] = max(workers.get(child, 0), status_kib(child, "VmHWM"))
            if rss:
                samples.append((time.monotonic() - start, [c() for c in counters], rss))
            time.sleep(every)
        samples.append((time.monotonic() - start, [c() for c in counters], 0))
    finally:
        for counter in counters:
            counter.close()
    return samples, max(workers.values(), default=0)


def steps(samples):
    """The samples before the first report line (with --bates the count
    step, whose progress is the lines of orvaline-pages.jsonl after its
    first), and those of the drawing, from the last of the first: each as
    [(seconds, messages done, RSS KiB)]."""
    counting = [(t, max(0, lines[1] - 1), rss) for t, lines, rss in samples if lines[0] == 0]
    drawing = [(t, lines[0], rss) for t, lines, rss in samples if lines[0] > 0]
    if counting:  # where the drawing starts; RSS 0 keeps it out of the peaks
        drawing.insert(0, (counting[-1][0], 0, 0))
    return counting, drawing


def tenths(samples, count):
    """The peak RSS over the first and the last tenth of the messages done,
    and the messages per second over each."""
    def peak(low, high):
        inside = [rss for _, done, rss in samples if low <= done < high and rss > 0]
        return max(inside, default=0)
    progress = [(t, done) for t, done, _ in samples]
    tenth = max(1, count // 10)
    first_s = time_at(progress, tenth) - time_at(progress, 0)
    last_s = time_at(progress, count) - time_at(progress, count - tenth)
    return (peak(0, count // 10 + 1), peak(count * 9 // 10, count + 1),
            tenth / first_s if first_s > 0 else 0.0, tenth / last_s if last_s > 0 else 0.0)


def rates(samples, count):
    """Messages per second over each tenth of the messages."""
    progress = [(t, done) for t, done, _ in samples]
    tenth = max(1, count // 10)
    spans = [time_at(progress, min(count, (k + 1) * tenth)) - time_at(progress, k * tenth)
             for k in range(10)]
    return [round(tenth / span, 1) if span > 0 else 0.0 for span in spans]


def load_average():
    return pathlib.Path("/proc/loadavg").read_text().split()[0]


def start(bin_dir, options, inputs, out, stderr):
    command = [str(bin_dir / "orvaline-convert"), *options, *map(str, inputs), "-o", str(out)]
    return command, subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=stderr,
                                     env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))


def binaries(bin_dir):
    """What identifies the converter and the library its workers load: a
    build that replaces them during a run makes its figures worthless (and
    fails the messages of workers started then)."""
    found = {}
    for name in ("orvaline-convert", "liborvaline-render.so"):
        try:
            st = os.stat(bin_dir / name)
            found[name] = (st.st_ino, st.st_size, st.st_mtime_ns)
        except FileNotFoundError:
            found[name] = None
    return found


def finished(command, process, stderr, out):
    """Exits with the converter's own text when it refused the run (any
    status but 0 and 1); else the statuses its report holds and the most
    common failure text."""
    stderr.seek(0)
    text = stderr.read().decode(errors="replace").strip()
    if process.returncode not in (0, 1):
        raise SystemExit(f"{' '.join(command)}\nexit status {process.returncode}:\n{text}")
    statuses, errors = collections.Counter(), collections.Counter()
    report = out / "orvaline-report.jsonl"
    if report.exists():
        with open(report, encoding="utf-8", errors="surrogateescape") as f:
            for line in f:
                record = json.loads(line)
                statuses[record.get("status", "?")] += 1
                if "error" in record:
                    errors[record["error"]] += 1
    if errors:
        error, times = errors.most_common(1)[0]
        return dict(statuses), f"{times} x {error!r}"
    return dict(statuses), ""


def convert(bin_dir, options, inputs, out):
    """(processor s, wall s, statuses, most common failure) of one run."""
    with tempfile.TemporaryFile() as stderr:
        cpu, wall = children_cpu(), time.monotonic()
        command, process = start(bin_dir, options, inputs, out, stderr)
        process.wait()
        cpu, wall = children_cpu() - cpu, time.monotonic() - wall
        return (cpu, wall, *finished(command, process, stderr, out))


def unchanged(bin_dir, before, summary):
    if binaries(bin_dir) != before:
        summary["bin_changed"] = True
        print(f"  WARNING: {bin_dir} was rebuilt during the run: its figures do not count",
              flush=True)


# --- the production check ----------------------------------------------------

def check_production(out):
    """(pages in DATA/*.opt, files under IMAGES/, what is wrong or "")."""
    opts = sorted((out / "DATA").glob("*.opt"))
    images = out / "IMAGES"
    files = {p.relative_to(out).as_posix() for p in images.rglob("*") if p.is_file()}
    if not opts:
        return 0, len(files), f"no DATA/*.opt in {out}"
    lines, paths, wrong = 0, set(), []
    for opt in opts:
        text = opt.read_bytes()
        if text and not text.endswith(b"\r\n"):
            wrong.append(f"{opt.name} does not end with CRLF")
        for number, line in enumerate(text.split(b"\r\n")[:-1] if text else [], 1):
            fields = line.decode("utf-8", errors="replace").split(",")
            lines += 1
            if len(fields) != 7:
                wrong.append(f"{opt.name} line {number} has {len(fields)} fields, not 7")
            else:
                paths.add(fields[2].replace("\\", "/"))
    if lines != len(files):
        wrong.append(f"{lines} lines in DATA/*.opt, {len(files)} files under IMAGES/")
    if paths - files:
        wrong.append(f"{len(paths - files)} paths of the .opt are no file, e.g. "
                     f"{sorted(paths - files)[0]}")
    if files - paths:
        wrong.append(f"{len(files - paths)} files the .opt does not list, e.g. "
                     f"{sorted(files - paths)[0]}")
    return lines, len(files), "; ".join(wrong[:4])


def checked(out, production, results):
    if not production:
        return
    lines, files, wrong = check_production(out)
    results.append({"outdir": out.name, "opt_lines": lines, "image_files": files,
                    "ok": not wrong})
    print(f"  check {out.name}: {lines} lines in DATA/*.opt, {files} files under IMAGES/"
          + (f": {wrong}" if wrong else ": ok"), flush=True)


# --- the parts ---------------------------------------------------------------

def cost(args, work, extra, checks, summary):
    corpus = work / "corpus"
    shutil.copytree(args.corpus, corpus)
    routes = {"plain": COST_OPTIONS, "production": COST_OPTIONS + extra}
    times = {name: [] for name in routes}
    for round_number in range(1, args.rounds + 1):
        for name, options in routes.items():
            out = work / f"{name.upper()}{round_number:03d}"
            before = binaries(args.bin)
            cpu, wall, statuses, error = convert(args.bin, options, [corpus], out)
            times[name].append((cpu, wall))
            print(f"  round {round_number} {name}: {cpu:.2f} s processor, {wall:.2f} s wall,"
                  f" {statuses}" + (f"; most failed with {error}" if error else ""),
                  flush=True)
            unchanged(args.bin, before, summary)
            checked(out, name == "production" and bool(extra), checks)
            if not args.keep:
                shutil.rmtree(out, ignore_errors=True)
    median = {name: (statistics.median(c for c, _ in v), statistics.median(w for _, w in v))
              for name, v in times.items()}
    (plain_cpu, plain_wall), (prod_cpu, prod_wall) = median["plain"], median["production"]
    return {"rounds": args.rounds, "plain_cpu_s": round(plain_cpu, 3),
            "production_cpu_s": round(prod_cpu, 3), "cpu_ratio": round(prod_cpu / plain_cpu, 3),
            "plain_wall_s": round(plain_wall, 3), "production_wall_s": round(prod_wall, 3),
            "wall_ratio": round(prod_wall / plain_wall, 3),
            "cpu_target_met": prod_cpu / plain_cpu <= 1.2}


def memory(args, work, extra, checks, summary):
    sources = sorted(args.corpus.rglob("*.eml"))
    mbox = work / "archive.mbox"
    write_mbox(mbox, args.count, sources)
    origin = f"{len(sources)} .eml files of the corpus" if sources else "generated messages"
    print(f"  mbox: {args.count} messages ({origin}), {mbox.stat().st_size:,} bytes",
          flush=True)
    out = work / "PROD001"
    before, load_before = binaries(args.bin), load_average()
    with tempfile.TemporaryFile() as stderr:
        cpu = children_cpu()
        command, process = start(args.bin, extra + MEMORY_OPTIONS, [mbox], out, stderr)
        samples, worker_peak = watch(process, [out / "orvaline-report.jsonl",
                                               out / "orvaline-pages.jsonl"])
        cpu = children_cpu() - cpu
        statuses, error = finished(command, process, stderr, out)
    wall, done = samples[-1][0], samples[-1][1][0]
    counting, drawing = steps(samples)
    first, last, first_rate, last_rate = tenths(drawing, args.count)
    ratio = last / first if first and last else None
    result = {"count": args.count, "messages": origin, "wall_s": round(wall, 1),
              "cpu_s": round(cpu, 1), "messages_per_s": round(args.count / wall, 1),
              "before_first_report_line_s": round(counting[-1][0], 1) if counting else 0.0,
              "parent_rss_peak_kib": max((rss for _, _, rss in samples), default=0),
              "draw_first_tenth_per_s": round(first_rate, 1),
              "draw_last_tenth_per_s": round(last_rate, 1),
              "parent_rss_first_tenth_kib": first, "parent_rss_last_tenth_kib": last,
              "parent_rss_ratio": round(ratio, 3) if ratio else None}
    flat = [ratio]
    if extra:
        c_first, c_last, c_first_rate, c_last_rate = tenths(counting, args.count)
        c_ratio = c_last / c_first if c_first and c_last else None
        flat.append(c_ratio)
        result.update({"count_step_per_s": round(args.count / max(counting[-1][0], 1e-9), 1)
                       if counting else 0.0,
                       "count_rss_first_tenth_kib": c_first, "count_rss_last_tenth_kib": c_last,
                       "count_rss_ratio": round(c_ratio, 3) if c_ratio else None})
    # None: a tenth fell between two samples (a run of a few seconds).
    result["flat"] = None if None in flat else all(r <= 1.1 for r in flat)
    result.update({"worker_peak_kib": worker_peak, "report_lines": done, "statuses": statuses})
    result["draw_per_s_by_tenth"] = rates(drawing, args.count)
    print(f"  run: {wall:.1f} s wall, {cpu:.1f} s processor, {done} report lines, {statuses}; "
          f"{len(samples)} samples; load average {load_before} at the start, {load_average()}"
          " at the end" + (f"; most failed with {error}" if error else ""), flush=True)
    print("  drawing, messages/s in each tenth: " +
          " ".join(f"{r:.0f}" for r in result["draw_per_s_by_tenth"]), flush=True)
    unchanged(args.bin, before, summary)
    checked(out, bool(extra), checks)
    return result


def table(summary):
    rows = [("part", "figure", "value", "target")]
    if "cost" in summary:
        c = summary["cost"]
        rows += [("cost", "processor s, plain (median)", f"{c['plain_cpu_s']:.2f}", ""),
                 ("cost", "processor s, production", f"{c['production_cpu_s']:.2f}", ""),
                 ("cost", "processor ratio", f"{c['cpu_ratio']:.3f}", "<= 1.2"),
                 ("cost", "wall s, plain (median)", f"{c['plain_wall_s']:.2f}", ""),
                 ("cost", "wall s, production", f"{c['production_wall_s']:.2f}", ""),
                 ("cost", "wall ratio", f"{c['wall_ratio']:.3f}", "")]
    if "memory" in summary:
        m = summary["memory"]

        def kib_pair(first, last, ratio):
            return (f"{m[first]} / {m[last]}",
                    f"{m[ratio]:.3f}" if m[ratio] is not None else "a tenth not sampled")
        rows += [("memory", "messages", f"{m['count']}", ""),
                 ("memory", "messages/s (whole run)", f"{m['messages_per_s']:.1f}", ""),
                 ("memory", "s before the first report line",
                  f"{m['before_first_report_line_s']:.1f}", "")]
        if "count_rss_ratio" in m:
            pair, ratio = kib_pair("count_rss_first_tenth_kib", "count_rss_last_tenth_kib",
                                   "count_rss_ratio")
            rows += [("memory", "count step: messages/s", f"{m['count_step_per_s']:.1f}", ""),
                     ("memory", "count step: parent RSS KiB first / last tenth", pair, ""),
                     ("memory", "count step: parent RSS last/first", ratio, "<= 1.10")]
        pair, ratio = kib_pair("parent_rss_first_tenth_kib", "parent_rss_last_tenth_kib",
                               "parent_rss_ratio")
        rows += [("memory", "drawing: messages/s first / last tenth",
                  f"{m['draw_first_tenth_per_s']:.1f} / {m['draw_last_tenth_per_s']:.1f}", ""),
                 ("memory", "drawing: parent RSS KiB first / last tenth", pair, ""),
                 ("memory", "drawing: parent RSS last/first", ratio, "<= 1.10"),
                 ("memory", "parent RSS KiB, peak of the run", f"{m['parent_rss_peak_kib']}", ""),
                 ("memory", "largest worker peak KiB (VmHWM)", f"{m['worker_peak_kib']}", "")]
    if summary.get("checks"):
        bad = sum(1 for c in summary["checks"] if not c["ok"])
        rows.append(("check", "productions checked / failed",
                     f"{len(summary['checks'])} / {bad}", "0 failed"))
    widths = [max(len(row[i]) for row in rows) for i in range(4)]
    for row in rows:
        print("  ".join(cell.ljust(width) for cell, width in zip(row, widths)).rstrip())


# --- self-test ---------------------------------------------------------------

FAKE_RUN = r"""
import os, pathlib, subprocess, sys, time
out, count = pathlib.Path(sys.argv[1]), int(sys.argv[2])
worker = subprocess.Popen([sys.executable, "-c",
    "b = bytearray(64 << 20)\nfor i in range(0, len(b), 4096): b[i] = 1\n"
    "import time; time.sleep(30)"])
out.mkdir()
time.sleep(1)
held = []
def hold(mib):
    held.append(bytearray(mib << 20))
    for j in range(0, len(held[-1]), 4096): held[-1][j] = 1
for name, seconds, mib in (("orvaline-pages.jsonl", 6.0, 20), ("orvaline-report.jsonl", 8.0, 40)):
    with open(out / name, "w") as f:
        if name == "orvaline-pages.jsonl":
            f.write('{"plan":"0"}\n')
        for i in range(count):
            if i == count * 95 // 100:
                hold(mib)
            f.write('{"status":"converted"}\n')
            f.flush()
            time.sleep(seconds / count)
time.sleep(1)
worker.kill()
"""


def self_test(args):
    failures = []

    def expect(condition, text):
        print(("  ok    " if condition else "  FAIL  ") + text, flush=True)
        if not condition:
            failures.append(text)

    import mailbox
    with tempfile.TemporaryDirectory(prefix="production-bench-test-") as scratch:
        root = pathlib.Path(scratch)
        # The mbox writer: generated messages, and files given (CRLF, a
        # separator line of their own, body lines starting "From ").
        write_mbox(root / "gen.mbox", 50, [])
        box = mailbox.mbox(str(root / "gen.mbox"))
        subjects = [m["Subject"] for m in box]
        expect(subjects == [f"Production message {i}" for i in range(50)],
               "50 generated messages read back by Python's mbox reader, in order")
        expect(sum(m.is_multipart() for m in box) == 10, "every fifth has an attachment")
        expect(all("From here on" not in line for line in
                   (root / "gen.mbox").read_text().splitlines() if line.startswith("From ")),
               "a body line starting 'From ' is quoted")
        given = root / "given"
        given.mkdir()
        (given / "a.eml").write_bytes(b"From x@example.com Mon Jan  1 00:00:00 2001\r\n"
                                      b"Subject: a\r\n\r\nFrom the start.\r\n")
        (given / "b.eml").write_bytes(b"Subject: b\n\nbody\n\n\n")
        write_mbox(root / "given.mbox", 5, sorted(given.glob("*.eml")))
        box = mailbox.mbox(str(root / "given.mbox"))
        expect([m["Subject"] for m in box] == ["a", "b", "a", "b", "a"],
               "given files in turn, their own separator line dropped")
        expect(b"\r" not in (root / "given.mbox").read_bytes(), "LF line ends only")
        # The sampler, over a process that plans for a second, counts 400
        # messages in about 6 s (taking 20 MiB at the 95th percent), then reports them in
        # about 8 s (taking 40 MiB more at the 95th percent), with a child
        # holding 64 MiB.
        process = subprocess.Popen([sys.executable, "-c", FAKE_RUN, str(root / "run"), "400"])
        samples, worker = watch(process, [root / "run/orvaline-report.jsonl",
                                          root / "run/orvaline-pages.jsonl"])
        counting, drawing = steps(samples)
        c_first, c_last, c_first_rate, c_last_rate = tenths(counting, 400)
        first, last, first_rate, last_rate = tenths(drawing, 400)
        print(f"        {len(samples)} samples, {len(counting)} counting; RSS KiB counting"
              f" {c_first} / {c_last}, drawing {first} / {last}; worker {worker} KiB;"
              f" lines/s counting {c_first_rate:.0f} / {c_last_rate:.0f}, drawing"
              f" {first_rate:.0f} / {last_rate:.0f}")
        expect(samples[-1][1] == [400, 401], "the last sample counts every line of both files")
        expect(counting[-1][1] >= 360 and drawing[0][1] == 0 and drawing[-1][1] == 400,
               "the count step ends before the first report line, the drawing starts there")
        expect(c_first > 4 << 10, "the count step's first tenth sees the running interpreter")
        expect(15 << 10 < c_last - c_first < 25 << 10, "its last tenth holds the 20 MiB")
        expect(15 << 10 < first - c_first < 25 << 10, "the drawing's first tenth holds them too")
        expect(35 << 10 < last - first < 45 << 10, "its last tenth holds the 40 MiB more")
        expect(worker >= 64 << 10, "the child's peak is seen")
        expect(all(20 < r < 80 for r in (first_rate, last_rate)), "drawing near 50/s")
        counter = LineCounter(root / "lines")
        expect(counter() == 0, "a report not yet there has no lines")
        (root / "lines").write_text("a\nb\n")
        expect(counter() == 2, "lines counted")
        with open(root / "lines", "a") as f:
            f.write("c\n")
        expect(counter() == 3, "lines added are counted")
        (root / "lines.new").write_text("x\n")
        os.replace(root / "lines.new", root / "lines")
        expect(counter() == 1, "a replaced file is counted again")
        counter.close()
        # The load-file check.
        out = root / "PROD001"
        (out / "DATA").mkdir(parents=True)
        (out / "IMAGES/0001").mkdir(parents=True)
        for n in (1, 2, 3):
            (out / f"IMAGES/0001/ABC{n:08d}.tif").write_bytes(b"II*\0")
        (out / "DATA/PROD001.opt").write_bytes(
            b"ABC00000001,PROD001,IMAGES\\0001\\ABC00000001.tif,Y,,,2\r\n"
            b"ABC00000002,PROD001,IMAGES\\0001\\ABC00000002.tif,,,,\r\n"
            b"ABC00000003,PROD001,IMAGES\\0001\\ABC00000003.tif,Y,,,1\r\n")
        expect(check_production(out) == (3, 3, ""), "a matching .opt passes")
        (out / "IMAGES/0001/ABC00000004.tif").write_bytes(b"II*\0")
        expect("4 files under IMAGES" in check_production(out)[2], "an image the .opt lacks")
        (out / "IMAGES/0001/ABC00000004.tif").unlink()
        (out / "IMAGES/0001/ABC00000003.tif").rename(out / "IMAGES/0001/ABC00000009.tif")
        wrong = check_production(out)[2]
        expect("paths of the .opt are no file" in wrong and "does not list" in wrong,
               "an image under another name than the .opt's")
    print(json.dumps({"self_test": "failed" if failures else "passed", "failures": failures}))
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", type=pathlib.Path)
    parser.add_argument("--corpus", type=pathlib.Path,
                        default=pathlib.Path(__file__).resolve().parents[2] / "tests/corpus")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--count", type=int, default=100000, help="messages of the memory part")
    parser.add_argument("--only", choices=["cost", "memory"])
    parser.add_argument("--work", type=pathlib.Path, help="where the scratch folder goes")
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    parser.add_argument("--no-bates", action="store_true",
                        help="run without --bates and --legend (a baseline; cost's two routes"
                        " are then the same command)")
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test(args)
    if args.bin is None:
        parser.error("--bin is required")
    if args.count < 10:
        parser.error("--count must be at least 10")
    args.bin = args.bin.resolve()
    work = pathlib.Path(tempfile.mkdtemp(prefix="production-bench-", dir=args.work))
    summary, checks = {"no_bates": args.no_bates}, []
    try:
        if args.only in (None, "cost"):
            print("cost:", flush=True)
            summary["cost"] = cost(args, work, [] if args.no_bates else
                                   PRODUCTION + ["--legend", "CONFIDENTIAL"], checks, summary)
        if args.only in (None, "memory"):
            print("memory:", flush=True)
            summary["memory"] = memory(args, work, [] if args.no_bates else PRODUCTION, checks,
                                       summary)
    finally:
        if args.keep:
            print(f"kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)
    summary["checks"] = checks
    table(summary)
    print(json.dumps(summary))
    failed = summary.get("bin_changed", False) or any(not c["ok"] for c in checks) or \
        not summary.get("cost", {}).get("cpu_target_met", True) or \
        summary.get("memory", {}).get("flat") is False
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
