#!/usr/bin/env python3
"""The text headless Chromium shows of HTML documents: document.body.innerText
of each, for the visible-words test (html_visible_words_test.cpp).

    chromium_inner_text.py FOLDER COUNT OUTPUT [SELECTOR...]

FOLDER holds the documents 0.html .. COUNT-1.html. One Chromium process
loads each of them in turn into an iframe sandboxed without scripts
(sandbox="allow-same-origin"), so no script of a mail ever runs, as in a mail
program; nothing is fetched (every host name fails to resolve, the proxy is
a closed port). Before the text is read, the elements each SELECTOR matches
are taken out of the document (the differences the test keeps by design).

OUTPUT is written as JSON: {"texts": [...], "removed": [[n per selector],
...]}, a text being null for a document whose load did not finish.

Exit 0: OUTPUT written; 1: Chromium failed; 2: Chromium is not installed.
Only the standard library: the DevTools protocol over --remote-debugging-pipe
(messages as JSON, each ended by a NUL byte, on file descriptors 3 and 4).
"""

import fcntl
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# A document's load may take this long (it fetches nothing).
LOAD_MS = 15000
# The whole conversation may take this long.
TOTAL_SECONDS = 240

WRAPPER = """<!DOCTYPE html><html><head><meta charset="utf-8"></head><body>
<iframe id="f" sandbox="allow-same-origin" style="width:800px;height:600px"></iframe>
</body></html>"""

# Loads document `url` into the iframe and resolves to its text.
LOAD = """new Promise((resolve) => {
  const f = document.getElementById('f');
  const selectors = %(selectors)s;
  const timer = setTimeout(() => resolve({text: null, removed: []}), %(ms)d);
  f.onload = () => {
    clearTimeout(timer);
    f.onload = null;
    const d = f.contentDocument;
    if (!d || !d.body) { resolve({text: '', removed: selectors.map(() => 0)}); return; }
    const removed = selectors.map((s) => {
      const found = Array.from(d.querySelectorAll(s));
      found.forEach((e) => e.remove());
      return found.length;
    });
    resolve({text: d.body.innerText, removed: removed});
  };
  f.src = %(url)s;
})"""


class Pipe:
    def __init__(self, to_browser, from_browser):
        self.out = to_browser
        self.inp = from_browser
        self.buffer = b""
        self.next_id = 0

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.out, json.dumps(message).encode() + b"\0")
        return self.next_id

    def call(self, method, params=None, session=None):
        wanted = self.send(method, params, session)
        while True:
            while b"\0" not in self.buffer:
                chunk = os.read(self.inp, 1 << 16)
                if not chunk:
                    raise RuntimeError("Chromium closed its pipe during " + method)
                self.buffer += chunk
            raw, self.buffer = self.buffer.split(b"\0", 1)
            message = json.loads(raw)
            if message.get("id") == wanted:
                if "error" in message:
                    raise RuntimeError(method + ": " + json.dumps(message["error"]))
                return message.get("result", {})


def main():
    if len(sys.argv) < 4:
        print(__doc__, file=sys.stderr)
        return 1
    folder = pathlib.Path(sys.argv[1]).resolve()
    count = int(sys.argv[2])
    output = pathlib.Path(sys.argv[3])
    selectors = sys.argv[4:]
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser:
        print("Chromium is not installed: the visible-words test needs the Debian "
              "package 'chromium' (scripts/debian-packages.txt lists it)", file=sys.stderr)
        return 2
    (folder / "wrapper.html").write_text(WRAPPER, encoding="utf-8")
    profile = tempfile.mkdtemp(prefix="orvaline-chromium-")
    # Chromium reads the protocol on descriptor 3 and writes on 4: the pipe
    # ends are moved above them first so that neither is overwritten.
    to_browser_r, to_browser_w = (fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in os.pipe())
    from_browser_r, from_browser_w = (fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
                                      for fd in os.pipe())
    def child_fds():
        os.dup2(to_browser_r, 3)  # dup2 leaves the copies inheritable
        os.dup2(from_browser_w, 4)

    args = [
        browser, "--headless", "--no-sandbox", "--disable-gpu",
        "--user-data-dir=" + profile, "--remote-debugging-pipe",
        "--allow-file-access-from-files",
        "--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=127.0.0.1:9",
        "--no-first-run", "--no-default-browser-check", "--disable-extensions",
        "--disable-background-networking", "--disable-component-update",
        "--disable-sync", "--disable-default-apps", "--disable-breakpad",
        "--mute-audio", "--force-device-scale-factor=1", "--lang=en-US",
        "about:blank",
    ]
    # Its messages go to a file: a full pipe would stop it.
    log = tempfile.TemporaryFile()
    process = subprocess.Popen(args, preexec_fn=child_fds, close_fds=False,
                               stdin=subprocess.DEVNULL, stdout=log, stderr=log)
    os.close(to_browser_r)
    os.close(from_browser_w)

    def too_long(*_):
        raise TimeoutError("Chromium took more than %d s" % TOTAL_SECONDS)

    signal.signal(signal.SIGALRM, too_long)
    signal.alarm(TOTAL_SECONDS)
    try:
        pipe = Pipe(to_browser_w, from_browser_r)
        targets = pipe.call("Target.getTargets")["targetInfos"]
        page = next(t for t in targets if t["type"] == "page")
        session = pipe.call("Target.attachToTarget",
                            {"targetId": page["targetId"], "flatten": True})["sessionId"]
        pipe.call("Page.navigate", {"url": (folder / "wrapper.html").as_uri()}, session)
        # Loaded when its iframe is there and the load has ended (bounded by
        # the alarm).
        ready = "document.getElementById('f') !== null && document.readyState === 'complete'"
        while not pipe.call("Runtime.evaluate", {"expression": ready, "returnByValue": True},
                            session)["result"].get("value"):
            time.sleep(0.02)
        texts, removed = [], []
        for i in range(count):
            expression = LOAD % {"selectors": json.dumps(selectors), "ms": LOAD_MS,
                                 "url": json.dumps((folder / ("%d.html" % i)).as_uri())}
            result = pipe.call("Runtime.evaluate", {"expression": expression,
                                                    "awaitPromise": True,
                                                    "returnByValue": True}, session)
            if "exceptionDetails" in result:
                raise RuntimeError("document %d: %s" % (i, json.dumps(result["exceptionDetails"])))
            value = result["result"]["value"]
            texts.append(value["text"])
            removed.append(value["removed"])
        output.write_text(json.dumps({"texts": texts, "removed": removed}), encoding="utf-8")
        pipe.call("Browser.close")
        status = 0
    except Exception as error:  # everything ends in one failure text
        print("Chromium failed: %s" % error, file=sys.stderr)
        status = 1
    finally:
        signal.alarm(0)
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        if status != 0:
            log.seek(0)
            print(log.read().decode(errors="replace")[-4000:], file=sys.stderr)
        log.close()
        os.close(to_browser_w)
        os.close(from_browser_r)
        shutil.rmtree(profile, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
