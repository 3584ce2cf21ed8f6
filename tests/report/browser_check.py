#!/usr/bin/env python3
"""Checks a lumvet report in headless Chromium, driven through chromedriver
(WebDriver over HTTP, Python's standard library only).

Usage: browser_check.py REPORT_DIR TSV THRESHOLD [--screenshot PNG] [--awkward]

TSV is lumvet's --format=tsv output of the same run; THRESHOLD its listing
threshold. Exit status 0: every check passed; 77: Chromium or chromedriver is
missing; 1: a check failed (each failure is printed).
"""
import base64
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--window-size=1400,1000"]
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
ARROW_RIGHT, SPACE = "\ue014", "\ue00d"

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def tsv_photos(path):
    """(path bytes, score) per record, in output order."""
    photos = []
    with open(path, "rb") as f:
        lines = f.read().split(b"\n")
    for line in lines[1:]:
        if not line:
            continue
        score, _status, raw = line.split(b"\t", 2)
        out, i = bytearray(), 0
        while i < len(raw):
            if raw[i:i + 1] == b"\\" and i + 1 < len(raw):
                out += {b"t": b"\t", b"n": b"\n", b"\\": b"\\"}[raw[i + 1:i + 2]]
                i += 2
            else:
                out += raw[i:i + 1]
                i += 1
        photos.append((bytes(out), int(score)))
    return photos


class Driver:
    def __init__(self, port):
        self.base = "http://127.0.0.1:%d" % port
        self.sid = None

    def call(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        url = self.base + (path if self.sid is None else path.replace("{sid}", self.sid))
        req = urllib.request.Request(url, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                return json.loads(r.read() or b"{}").get("value")
        except urllib.error.HTTPError as e:
            raise RuntimeError("%s %s: %s" % (method, path, e.read().decode(errors="replace")))

    def run(self, script, *args):
        return self.call("POST", "/session/{sid}/execute/sync", {"script": script, "args": list(args)})

    def find(self, css):
        return self.call("POST", "/session/{sid}/element", {"using": "css selector", "value": css})[ELEMENT]

    def click(self, css):
        self.call("POST", "/session/{sid}/element/%s/click" % self.find(css), {})

    def type_into(self, element, text):
        self.call("POST", "/session/{sid}/element/%s/value" % element, {"text": text})


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, seconds=20):
    end = time.time() + seconds
    while time.time() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.1)
    return predicate()


def main():
    args = sys.argv[1:]
    screenshot = None
    if "--screenshot" in args:
        i = args.index("--screenshot")
        screenshot = args[i + 1]
        del args[i:i + 2]
    awkward = "--awkward" in args
    if awkward:
        args.remove("--awkward")
    report, tsv, threshold = os.path.abspath(args[0]), args[1], int(args[2])
    if not (os.access(CHROMIUM, os.X_OK) and os.access(CHROMEDRIVER, os.X_OK)):
        print("chromium or chromedriver missing (Debian packages chromium, chromium-driver)")
        return 77

    photos = tsv_photos(tsv)
    expected_order = [p for _, p in sorted(enumerate(photos), key=lambda e: (-e[1][1], e[0]))]

    profile = tempfile.mkdtemp(prefix="lumvet-chromium-")
    downloads = tempfile.mkdtemp(prefix="lumvet-downloads-")
    port = free_port()
    driver_process = subprocess.Popen([CHROMEDRIVER, "--port=%d" % port],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    d = Driver(port)
    try:
        if not wait_for(lambda: _ready(d), 30):
            print("chromedriver did not start")
            return 1
        caps = {"browserName": "chrome",
                "goog:loggingPrefs": {"browser": "ALL"},
                "goog:chromeOptions": {
                    "binary": CHROMIUM,
                    "args": FLAGS + ["--user-data-dir=" + profile],
                    "prefs": {"download.default_directory": downloads,
                              "download.prompt_for_download": False}}}
        d.sid = d.call("POST", "/session", {"capabilities": {"alwaysMatch": caps}})["sessionId"]
        d.call("POST", "/session/{sid}/goog/cdp/execute",
               {"cmd": "Browser.setDownloadBehavior",
                "params": {"behavior": "allow", "downloadPath": downloads}})
        d.call("POST", "/session/{sid}/url", {"url": "file://" + report + "/index.html"})

        # One card per photo, highest score first, output order among equals.
        cards = d.run("return Array.from(document.querySelectorAll('.card'))"
                      ".map(c => [c.querySelector('.path').textContent, Number(c.querySelector('.score').textContent)]);")
        want = [[p.decode("utf-8", "replace"), s] for p, s in expected_order]
        check(cards == want, "one card per photo in score order (%d cards, %d photos)" % (len(cards), len(want)))

        def counts():
            return d.run("return ['count-listed','count-examined','count-shown','count-selected']"
                         ".map(id => Number(document.getElementById(id).textContent));")

        listed = sum(1 for _, s in photos if s > threshold)
        check(counts() == [listed, len(photos), len(photos), 0],
              "counts at the run's threshold %d: %d listed of %d" % (threshold, listed, len(photos)))

        # Move the threshold as a user would: type into the field.
        scores = sorted(s for _, s in photos)
        new_threshold = scores[len(scores) // 2] - 1 if scores else threshold
        field = d.find("#threshold")
        d.call("POST", "/session/{sid}/element/%s/clear" % field, {})
        d.type_into(field, str(new_threshold))
        new_listed = sum(1 for _, s in photos if s > new_threshold)
        check(wait_for(lambda: counts()[0] == new_listed, 5),
              "threshold %d: the count becomes %d" % (new_threshold, new_listed))
        check(new_listed != listed or new_threshold == threshold, "the new threshold lists another number")
        verdicts = d.run("return Array.from(document.querySelectorAll('.card .verdict')).map(v => v.textContent);")
        check(verdicts.count("listed") == new_listed, "the cards' verdicts follow the threshold")
        d.run("const s = document.getElementById('show'); s.value = 'listed';"
              "s.dispatchEvent(new Event('change'));")
        shown = d.run("return document.querySelectorAll('.card').length;")
        check(shown == new_listed and counts()[2] == new_listed, "listed only: %d cards" % new_listed)
        d.run("const s = document.getElementById('show'); s.value = 'all';"
              "s.dispatchEvent(new Event('change'));")

        # Select by click, then by keyboard: the next card, Space. With awkward
        # names, every photo, so that every name's bytes are saved.
        chosen = [0, 1] if len(expected_order) >= 2 else [0]
        if awkward:
            chosen = list(range(len(expected_order)))
            d.click("#select-shown")
        else:
            d.click(".card:nth-child(1) .score")
        if len(chosen) == 2 and not awkward:
            active = d.call("GET", "/session/{sid}/element/active")[ELEMENT]
            d.type_into(active, ARROW_RIGHT)
            active = d.call("GET", "/session/{sid}/element/active")[ELEMENT]
            d.type_into(active, SPACE)
        check(counts()[3] == len(chosen), "%d photos selected by click and keyboard" % len(chosen))
        # Saved in output order: the photos' places in the TSV.
        picked = sorted(photos.index(expected_order[i]) for i in chosen)
        want_bytes = [photos[i][0] for i in picked]
        for button, name, sep in (("#export-lines", "lumvet-selection.txt", b"\n"),
                                  ("#export-nul", "lumvet-selection.nul", b"\0")):
            d.click(button)
            target = os.path.join(downloads, name)
            got = wait_for(lambda: os.path.exists(target) and open(target, "rb").read(), 10)
            check(got == b"".join(p + sep for p in want_bytes),
                  "%s holds the selected paths' exact bytes" % name)

        # Measured regions on demand: the overlay of the first card gets drawn.
        d.click("#regions")
        drawn = wait_for(lambda: d.run(
            "const c = document.querySelector('.card canvas'); if (!c) return true;"
            "const px = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
            "for (let i = 3; i < px.length; i += 4) if (px[i]) return true; return false;"), 10)
        check(bool(drawn), "measured regions drawn over the first thumbnail")

        if awkward:
            check(d.run("return window.pwned === undefined && !document.querySelector('#cards b, #cards i, #cards img[src=\"x\"]');"),
                  "no name became markup or script")

        if screenshot:
            d.run("document.getElementById('select-none').click(); window.scrollTo(0, 0);")
            png = d.call("GET", "/session/{sid}/screenshot")
            with open(screenshot, "wb") as f:
                f.write(base64.b64decode(png))

        # Every console message of level SEVERE is an error of the page.
        logs = d.call("POST", "/session/{sid}/se/log", {"type": "browser"}) or []
        errors = [e["message"] for e in logs if e.get("level") == "SEVERE"]
        check(not errors, "no console errors" + ("" if not errors else ": " + "; ".join(errors)))
    finally:
        if d.sid:
            try:
                d.call("DELETE", "/session/{sid}")
            except Exception:  # the browser may be gone already
                pass
        driver_process.terminate()
        driver_process.wait(timeout=30)
        shutil.rmtree(profile, ignore_errors=True)
        shutil.rmtree(downloads, ignore_errors=True)
    return 1 if failures else 0


def _ready(d):
    try:
        return d.call("GET", "/status").get("ready")
    except Exception:
        return False


if __name__ == "__main__":
    sys.exit(main())
