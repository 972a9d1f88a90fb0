#!/usr/bin/python3
"""The share in a real browser: Debian's Chromium, headless, through chromedriver and
Selenium, against `qvctl serve` streaming from `qvsim`. Loopback only.

usage: browser_test.py QVCTL QVSIM
"""
import base64
import glob
import http.server
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

QVCTL, QVSIM = sys.argv[1], sys.argv[2]
TMP = tempfile.mkdtemp(prefix="browser_test.", dir=os.environ.get("TMPDIR"))
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


class Lines:
    """A child's standard output, line by line, read on a thread of its own."""

    def __init__(self, proc):
        self.lines = []
        self.cond = threading.Condition()
        threading.Thread(target=self._read, args=(proc,), daemon=True).start()

    def _read(self, proc):
        for raw in proc.stdout:
            with self.cond:
                self.lines.append(raw.decode(errors="replace").rstrip("\n"))
                self.cond.notify_all()

    def wait(self, pattern, timeout=10, count=1):
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                found = [l for l in self.lines if re.search(pattern, l)]
                if len(found) >= count:
                    return found
                left = deadline - time.monotonic()
                if left <= 0:
                    return found
                self.cond.wait(left)

    def count(self, pattern):
        with self.cond:
            return len([l for l in self.lines if re.search(pattern, l)])


def start_sim(model="QV392B"):
    proc = subprocess.Popen([QVSIM, "--bind", "127.0.0.1", "--port", "0", "--model", model],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = Lines(proc)
    line = out.wait(r"listening on .* port \d+")
    port = int(re.search(r"port (\d+)", line[0]).group(1))
    return proc, out, port


def start_serve(sim_port, *extra, tmp):
    env = dict(os.environ, TMPDIR=tmp)
    proc = subprocess.Popen([QVCTL, "serve", "127.0.0.1:%d" % sim_port, "--listen",
                             "127.0.0.1:0", *extra], stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=env)
    out = Lines(proc)
    view = out.wait(r"^view: ")
    control = out.wait(r"^control: ", timeout=1) if "--control" in extra else []
    return proc, out, view[0][6:] if view else "", control[0][9:] if control else ""


def stop_within(proc, seconds, what):
    start = time.monotonic()
    proc.send_signal(signal.SIGTERM)
    try:
        code = proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        code = None
    took = time.monotonic() - start
    check(code == 0 and took < seconds, "%s: ended with %s in %.2f s" % (what, code, took))


def browser(width, height):
    opts = webdriver.ChromeOptions()
    opts.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                 "--disable-component-update", "--no-first-run", "--disable-sync",
                 "--disable-dev-shm-usage", "--user-data-dir=" + tempfile.mkdtemp(dir=TMP),
                 "--window-size=%d,%d" % (width, height)):
        opts.add_argument(flag)
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver",
                      log_output=subprocess.DEVNULL) if "log_output" in Service.__init__.__code__.co_varnames \
        else Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=opts)


# FNV-1a over the RGBA pixels of a picture drawn at its own size: the page's picture, or a
# JPEG decoded in a tab of its own (the share's page allows no data: pictures).
PIXELS = """
function pixelHash(im) {
  const c = document.createElement('canvas');
  c.width = im.naturalWidth; c.height = im.naturalHeight;
  const g = c.getContext('2d'); g.drawImage(im, 0, 0);
  const d = g.getImageData(0, 0, c.width, c.height).data;
  let h = 0x811c9dc5;
  for (let i = 0; i < d.length; i++) { h ^= d[i]; h = Math.imul(h, 0x01000193) >>> 0; }
  return c.width + 'x' + c.height + ':' + h;
}
"""
SHOWN_PIXELS = PIXELS + """
const im = document.getElementById('screen');
return im.naturalWidth ? pixelHash(im) : '';
"""
REF_PIXELS = PIXELS + """
const done = arguments[arguments.length - 1];
const im = new Image();
im.onload = () => done(pixelHash(im));
im.onerror = () => done('does not decode');
im.src = 'data:image/jpeg;base64,' + arguments[0];
"""


def latest_frame_file(tmp):
    files = [f for f in glob.glob(os.path.join(tmp, "**", "*.jpg"), recursive=True)]
    if not files:
        return None
    newest = max(files, key=os.path.getmtime)
    with open(newest, "rb") as f:
        return f.read()


def wait_js(driver, script, timeout=10):
    return WebDriverWait(driver, timeout, poll_frequency=0.05).until(
        lambda d: d.execute_script(script))


def other_origin_page(share_port):
    """A page of another origin that tries to open the share's socket."""
    root = tempfile.mkdtemp(dir=TMP)
    with open(os.path.join(root, "index.html"), "w") as f:
        f.write("<!DOCTYPE html><title>start</title><script>"
                "const ws = new WebSocket('ws://127.0.0.1:%d/ws');"
                "ws.onopen = () => { document.title = 'open'; };"
                "ws.onerror = () => { if (document.title !== 'open') document.title = 'refused'; };"
                "</script>" % share_port)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **k):
            super().__init__(*a, directory=root, **k)

        def log_message(self, *a):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def stalled_viewer(link):
    """A socket that upgrades, sends its token and then reads nothing."""
    m = re.match(r"http://127\.0\.0\.1:(\d+)/#(\w+)", link)
    port, token = int(m.group(1)), m.group(2)
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    host = "127.0.0.1:%d" % port
    s.sendall(("GET /ws HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
               "Origin: http://%s\r\n\r\n" % (host, host)).encode())
    head = b""
    while b"\r\n\r\n" not in head:
        head += s.recv(1)
    hello = ('{"t":"hello","token":"%s"}' % token).encode()
    key = b"\x01\x02\x03\x04"
    s.sendall(bytes([0x81, 0x80 | len(hello)]) + key +
              bytes(b ^ key[i % 4] for i, b in enumerate(hello)))
    return s, head.startswith(b"HTTP/1.1 101")


def main():
    sim, sim_out, sim_port = start_sim()
    serve_tmp = tempfile.mkdtemp(dir=TMP)
    serve, serve_out, view, control = start_serve(sim_port, "--control", tmp=serve_tmp)
    check(view.startswith("http://127.0.0.1:") and control.startswith("http://127.0.0.1:"),
          "serve prints the view and control links")
    share_port = int(re.search(r":(\d+)/", view).group(1))
    driver = browser(1280, 800)
    stalled = None
    try:
        # The view link: the screen shows the simulator's latest frame, pixel for pixel.
        driver.get(view)
        wait_js(driver, "return document.getElementById('screen').naturalWidth > 0;")
        view_tab = driver.current_window_handle
        driver.switch_to.new_window("tab")
        ref_tab = driver.current_window_handle
        driver.switch_to.window(view_tab)
        refs = {}

        def ref_hash(jpeg):
            if jpeg and jpeg not in refs:
                driver.switch_to.window(ref_tab)
                refs[jpeg] = driver.execute_async_script(REF_PIXELS,
                                                         base64.b64encode(jpeg).decode())
                driver.switch_to.window(view_tab)
            return refs.get(jpeg)

        same = False
        shown = ""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and not same:
            before = latest_frame_file(serve_tmp)
            shown = driver.execute_script(SHOWN_PIXELS)
            after = latest_frame_file(serve_tmp)
            same = bool(shown) and shown in (ref_hash(before), ref_hash(after))
        check(same, "the page's pixels are those of the simulator's latest frame (%s)" % shown)
        driver.switch_to.window(ref_tab)
        driver.close()
        driver.switch_to.window(view_tab)
        check(not driver.find_elements(By.CSS_SELECTOR, "#panel:not([hidden])"),
              "the view link shows no keys")

        # A wrong token: nothing but the page and a closed socket.
        wrong = view[:-1] + ("0" if view[-1] != "0" else "1")
        driver.get("about:blank")
        driver.get(wrong)
        wait_js(driver, "return /token/.test(document.getElementById('state').textContent);")
        check(driver.execute_script("return document.getElementById('screen').naturalWidth") == 0,
              "a wrong token shows no frame")

        # Another origin cannot open the socket.
        other = other_origin_page(share_port)
        driver.get("http://127.0.0.1:%d/" % other.server_address[1])
        WebDriverWait(driver, 10, 0.05).until(lambda d: d.title in ("open", "refused"))
        check(driver.title == "refused", "a page of another origin cannot open the socket")
        other.shutdown()

        # The control link: a key button, a touch and a PC key, each once at the instrument.
        driver.get("about:blank")
        driver.get(control)
        wait_js(driver, "const b = document.querySelector('#keys button[data-id=\"1027\"]');"
                        "return b && !b.disabled;", timeout=15)
        driver.find_element(By.CSS_SELECTOR, '#keys button[data-id="1027"]').click()
        check(len(sim_out.wait(r"command KEYP:MARK$")) == 1, "the Marker key reached qvsim")
        img = driver.find_element(By.ID, "screen")
        size = driver.execute_script("const i = arguments[0]; return [i.clientWidth, i.clientHeight];",
                                     img)
        webdriver.ActionChains(driver).move_to_element_with_offset(
            img, -size[0] // 2 + 100, -size[1] // 2 + 50).click().perform()
        touch = sim_out.wait(r"command KEYP \d+,\d+$")
        check(len(touch) == 1, "the click on the screen reached qvsim as a touch (%s)" %
              (touch[0] if touch else "none"))
        webdriver.ActionChains(driver).send_keys("5").perform()
        check(len(sim_out.wait(r"command KEYP:NUM5$")) == 1, "the PC key 5 reached qvsim")
        check(len(serve_out.wait(r"^press 127\.0\.0\.1:\d+: KEYP:MARK")) == 1,
              "the press is reported with the viewer's address")
        # Nothing more comes of them.
        sim_out.wait(r"^never$", timeout=1.5)
        check(sim_out.count(r"command KEYP:MARK$") == 1 and
              sim_out.count(r"command KEYP \d+,\d+$") == 1 and
              sim_out.count(r"command KEYP:NUM5$") == 1, "each command arrived exactly once")

        # SIGTERM with a viewer connected and one stalled.
        stalled, upgraded = stalled_viewer(view)
        check(upgraded, "a stalled viewer is let in")
        serve_out.wait(r"^viewers: 2$", timeout=5)
        stop_within(serve, 2.0, "SIGTERM with viewers connected and one stalled")
    finally:
        driver.quit()
        if stalled:
            stalled.close()
        if serve.poll() is None:
            serve.kill()

    # SIGTERM while the link heals: the instrument has gone away.
    serve_tmp = tempfile.mkdtemp(dir=TMP)
    serve, serve_out, view, _ = start_serve(sim_port, tmp=serve_tmp)
    check(len(serve_out.wait(r"^link: up$")) == 1, "the second share's link is up")
    sim.send_signal(signal.SIGTERM)
    sim.wait(timeout=5)
    check(len(serve_out.wait(r"^link: lost")) == 1, "the share saw the link go")
    stop_within(serve, 2.0, "SIGTERM while the link heals")

    shutil.rmtree(TMP, ignore_errors=True)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
