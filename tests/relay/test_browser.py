"""A real web page reads the relay: headless Chromium loads a page from
another local origin, streams the relay's response with fetch(), checks the
records and draws one picture on a canvas."""

import base64
import http.server
import json
import os
import shutil
import subprocess
import tempfile
import threading

from harness import ARTIFACT_DIR, Feeder, access_units, scaled, split_frames

CHROMIUM = "/usr/bin/chromium"
PAGE = os.path.join(os.path.dirname(__file__), "page", "view.html")


def fnv1a(data):
    h = 0x811C9DC5
    for b in data:
        h = ((h ^ b) * 0x01000193) & 0xFFFFFFFF
    return h


class PageServer:
    """Serves the page and takes the page's verdict as a POST."""

    def __init__(self):
        self.verdict = None
        self.got = threading.Event()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                with open(PAGE, "rb") as f:
                    body = f.read()
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"]))
                owner.verdict = json.loads(body)
                self.send_response(204)
                self.end_headers()
                owner.got.set()

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class Browser:
    """Headless Chromium driven over its DevTools pipe (fds 3 and 4)."""

    def __init__(self, url, profile):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()

        def wire_pipe():
            # Moved out of the way first: either end may already be fd 3 or 4,
            # and dup2 onto itself would keep its close-on-exec flag.
            r, w = os.dup(to_browser_r), os.dup(from_browser_w)
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.proc = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}",
             "--remote-debugging-pipe", url],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=wire_pipe, pass_fds=(3, 4))
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.next_id = 0
        self.pending = b""

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            while b"\0" not in self.pending:
                chunk = os.read(self.from_browser, 1 << 20)
                assert chunk, "the browser closed its pipe"
                self.pending += chunk
            raw, _, self.pending = self.pending.partition(b"\0")
            reply = json.loads(raw)
            if reply.get("id") == self.next_id:
                assert "error" not in reply, reply
                return reply["result"]

    def screenshot(self, path):
        pages = [t for t in self.call("Target.getTargets")["targetInfos"]
                 if t["type"] == "page"]
        session = self.call("Target.attachToTarget",
                            {"targetId": pages[0]["targetId"], "flatten": True})["sessionId"]
        self.call("Emulation.setDeviceMetricsOverride",
                  {"width": 480, "height": 300, "deviceScaleFactor": 1, "mobile": False},
                  session)
        shot = self.call("Page.captureScreenshot", {"format": "png"}, session)
        with open(path, "wb") as f:
            f.write(base64.b64decode(shot["data"]))

    def close(self):
        try:
            self.call("Browser.close")
        except (AssertionError, OSError):
            pass
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)


def test_web_page_reads_and_draws_pictures(running, streams):
    assert os.path.exists(CHROMIUM), "no Chromium: scripts/setup.sh installs it"
    units = access_units(streams.make("p320", "320x240", 30))
    reference = split_frames(streams.decode("p320"), 320, 240)
    r = running()
    feeder = Feeder(r.conn, units, 0.03)
    server = PageServer()
    profile = tempfile.mkdtemp(prefix="relay-chromium-")
    artifacts = ARTIFACT_DIR or tempfile.mkdtemp(prefix="relay-artifacts-")
    os.makedirs(artifacts, exist_ok=True)
    shot = os.path.join(artifacts, "relay_page.png")
    browser = Browser(f"http://127.0.0.1:{server.port}/view.html?port={r.output_port}",
                      profile)
    try:
        assert server.got.wait(scaled(60)), "the page sent no verdict"
        browser.screenshot(shot)
    finally:
        browser.close()
        feeder.stop()
        server.close()
        shutil.rmtree(profile, ignore_errors=True)
    verdict = server.verdict
    assert verdict["ok"], verdict
    assert verdict["status"] == 200 and verdict["type"] == "application/octet-stream"
    records = verdict["records"]
    assert len(records) == 5
    sequences = [rec["seq"] for rec in records]
    assert sequences == sorted(set(sequences))
    for rec in records:
        assert (rec["w"], rec["h"]) == (320, 240)
        # The stream repeats, so picture n is the reference's n modulo 30.
        assert rec["hash"] == fnv1a(reference[(rec["seq"] - 1) % len(reference)])
    assert os.path.getsize(shot) > 0
