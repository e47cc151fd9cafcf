#!/usr/bin/python3
"""The web panel in a real browser (headless Chromium through Selenium), against the launcher
without a desktop and the stand-in servers, the map server started through an operator's script
that first prints a line of markup and one of escape codes.

An admin logs in, starts the servers and sees them come online in order, reads the map server's
console, types "status" and sees the answer; a kill -9 of the map server shows its crash and
relaunch without a reload; the audit log names who started them. A viewer's start and stop, sent
by hand over HTTP and the live socket, are refused and audited. A page of another origin cannot
act with the admin's cookie nor open a live socket. The tenth wrong password is delayed, and the
right one works after the wait. Screenshots go to the folder given, light and dark.

Usage: web_panel_test.py PATH/TO/corvane-launcherd PATH/TO/corvanectl [SCREENSHOT-FOLDER]
(in a PID namespace of its own: own_processes.sh)
"""
import atexit
import http.server
import re
import os
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

daemon, ctl = sys.argv[1], sys.argv[2]
shots = sys.argv[3] if len(sys.argv) > 3 else None
programs = os.path.dirname(daemon)
work = tempfile.mkdtemp(prefix="corvane-web-")
home = os.path.join(work, "home")
servers = os.path.join(work, "servers")
os.makedirs(home)
os.makedirs(servers)
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/.config", XDG_STATE_HOME=home + "/state",
           TMUX_TMPDIR=home, TMPDIR=home, CORVANE_STANDIN_PORT="0")
for name in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"):
    env.pop(name, None)
for name in ("login-server", "char-server", "map-server"):
    shutil.copy(os.path.join(programs, name), servers)
HOSTILE = "<img src=x onerror=alert(1)>"
with open(os.path.join(servers, "start-map.sh"), "w") as script:
    script.write("#!/bin/sh\nprintf '%s\\n\\033[1;31mred alert\\033[0m plain\\n'\n"
                 'exec "$(dirname "$0")/map-server" "$@"\n' % HOSTILE)
os.chmod(os.path.join(servers, "start-map.sh"), 0o755)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


port, other_port = free_port(), free_port()
panel = "http://127.0.0.1:%d" % port
ini = os.path.join(servers, "corvane-launcher.ini")
with open(ini, "w") as f:
    f.write("[Map Server]\nprogram = start-map.sh\n[Web]\nport = %d\n" % port)
os.chmod(ini, 0o600)

launcher = None
browser = None
other = None


def cleanup():
    global browser, other, launcher
    if browser:
        browser.quit()
        browser = None
    if other:
        other.shutdown()
        other = None
    if launcher and launcher.poll() is None:
        launcher.kill()
    launcher = None
    subprocess.run(["pkill", "-KILL", "-f", "^" + servers + "/"], check=False)
    subprocess.run(["pkill", "-KILL", "-x", "tmux"], check=False)  # this namespace's only
    shutil.rmtree(work, ignore_errors=True)


atexit.register(cleanup)  # also when a step raises


def fail(what):
    print("FAIL: " + what, file=sys.stderr)
    try:
        with open(os.path.join(work, "err")) as err:
            print("--- the launcher's standard error:\n" + err.read(), file=sys.stderr)
    except OSError:
        pass
    cleanup()
    sys.exit(1)


def check(condition, what):
    if not condition:
        fail(what)


def wait_for(seconds, what, test):
    until = time.monotonic() + seconds
    while time.monotonic() < until:
        try:
            value = test()
            if value:
                return value
        except Exception:  # the page may be between two states
            pass
        time.sleep(0.2)
    fail("no " + what + " within %d s" % seconds)


for name, role in (("ada", "admin"), ("vic", "viewer")):
    made = subprocess.run([ctl, "--server-dir", servers, "user", "add", name, "--role", role],
                          input=name + "-password-1\n", text=True, env=env, capture_output=True)
    check(made.returncode == 0, "user add %s: %s" % (name, made.stderr))

err = open(os.path.join(work, "err"), "w")
launcher = subprocess.Popen([daemon, "--server-dir", servers], env=env, stderr=err)
wait_for(20, "panel line", lambda: "The web panel is served on 127.0.0.1 port %d" % port
         in open(os.path.join(work, "err")).read())

# A page of another origin, as an attacker's site would serve it.
ATTACK = """<!DOCTYPE html><html><body><script>
fetch('%(panel)s/api/action', {method: 'POST', credentials: 'include', mode: 'no-cors',
  headers: {'Content-Type': 'text/plain'}, body: JSON.stringify({verb: 'stop'})})
  .then(() => { document.title = 'posted'; }, () => { document.title = 'posted'; });
const ws = new WebSocket('%(ws)s/api/live');
ws.onopen = () => ws.send(JSON.stringify({csrf: 'guess'}));
ws.onclose = (e) => { document.body.dataset.closed = String(e.code); };
</script></body></html>""" % {"panel": panel, "ws": panel.replace("http", "ws")}


class AttackPage(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.end_headers()
        self.wfile.write(ATTACK.encode())

    def log_message(self, *args):
        pass


other = http.server.HTTPServer(("127.0.0.1", other_port), AttackPage)
threading.Thread(target=other.serve_forever, daemon=True).start()

options = webdriver.ChromeOptions()
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1200,900", "--user-data-dir=" + os.path.join(work, "chromium")):
    options.add_argument(argument)
browser = webdriver.Chrome(options=options, service=Service(executable_path="/usr/bin/chromedriver"))
browser.set_script_timeout(20)
alerts = []


def text(element_id):
    return browser.find_element(By.ID, element_id).text


def login(name, password):
    browser.get(panel + "/")
    WebDriverWait(browser, 10).until(lambda b: b.find_element(By.ID, "login-name").is_displayed())
    browser.find_element(By.ID, "login-name").send_keys(name)
    browser.find_element(By.ID, "login-password").send_keys(password)
    browser.find_element(By.CSS_SELECTOR, "#login-form button").click()


def overview():
    """The overview's rows as cell texts, read at once: the table is drawn anew as states change."""
    return browser.execute_script("""return [...document.querySelectorAll('#servers tbody tr')]
        .map((row) => [...row.cells].map((cell) => cell.textContent));""")


def states():
    rows = overview()
    check(len(rows) != 3 or [r[0] for r in rows] == ["login", "char", "map"],
          "the servers are not in the launcher's order: %s" % rows)
    return [r[1] for r in rows]


def status_json():
    return browser.execute_async_script(
        "fetch('/api/status').then(r => r.json()).then(arguments[0])")


def shoot(name):
    if not shots:
        return
    for scheme in ("light", "dark"):
        browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {
            "features": [{"name": "prefers-color-scheme", "value": scheme}]})
        time.sleep(0.3)
        browser.save_screenshot(os.path.join(shots, "web_%s_%s.png" % (name, scheme)))
    browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})


# ---- the admin: start, the console, a crash, the audit ---------------------------------------
login("ada", "ada-password-1")
wait_for(10, "three servers offline", lambda: states() == ["\u25a0 stopped"] * 3)
check(text("who") == "ada (admin)", "logged in as " + text("who"))
browser.find_element(By.CSS_SELECTOR, '.all button[data-verb="start"]').click()
wait_for(30, "three servers online", lambda: states() == ["\u25cf running"] * 3)
log = open(os.path.join(work, "err")).read()
order = re.findall(r"Starting ([A-Za-z]*) Server", log)
check(order[:3] == ["Login", "Char", "Map"], "servers started as %s" % order)

browser.find_element(By.CSS_SELECTOR, '#views button[data-view="console"]').click()
browser.find_element(By.XPATH, '//p[@id="console-tabs"]/button[text()="map"]').click()
# Its colours as the pane parses them, the escape codes gone (read at once: the console is
# drawn anew as lines come).
colours = wait_for(10, "the red line", lambda: browser.execute_script("""
const span = [...document.querySelectorAll('#console-lines span')]
    .find((s) => s.textContent === 'red alert');
return span && [getComputedStyle(span).color, getComputedStyle(span.parentElement).color,
                getComputedStyle(span).fontWeight];"""))
check(colours[0] == "rgb(205, 49, 49)" and colours[1] != colours[0] and colours[2] == "700",
      "the red line's style: %s" % colours)
check("\x1b" not in text("console-lines") and "[1;31m" not in text("console-lines"),
      "escape codes shown")
# The markup is text, drawn as the live console draws it: no image was made of it, no script ran.
check(HOSTILE in text("console-lines"), "the line of markup is not shown as it was printed")
check(not browser.find_elements(By.CSS_SELECTOR, "#console-lines img"), "markup became an image")
field = browser.find_element(By.ID, "console-input")
field.send_keys("status")
browser.find_element(By.CSS_SELECTOR, "#console-form button").click()
wait_for(10, "the answer to status", lambda: "answers status: running" in text("console-lines"))
shoot("console")

browser.find_element(By.CSS_SELECTOR, '#views button[data-view="overview"]').click()
before = status_json()["servers"]["map"]
os.kill(before["pid"], signal.SIGKILL)
started = time.monotonic()
wait_for(10, "the crash in the overview",
         lambda: overview()[2][7] == "1")
wait_for(30, "the relaunch in the overview", lambda: states()[2] == "\u25cf running" and
         status_json()["servers"]["map"]["pid"] != before["pid"])
print("crash and relaunch shown %.1f s after the kill, without a reload" % (time.monotonic() - started))
wait_for(10, "CPU and memory in the overview",
         lambda: overview()[2][4].endswith(" %") and overview()[2][5].endswith(" MB"))
shoot("overview")
# The crash's report, from its row: a text, never markup.
browser.find_element(By.XPATH, '//table[@id="servers"]//tr[3]//button[text()="Report"]').click()
wait_for(10, "the map server's crash report",
         lambda: text("crash-text").startswith("Crash report of Map Server"))
check("signal 9" in text("crash-text"), "the report does not tell the kill: " + text("crash-text"))

browser.find_element(By.CSS_SELECTOR, '#views button[data-view="users"]').click()
wait_for(10, "the accounts", lambda: "ada admin" in text("users") and "vic viewer" in text("users"))

# The history's charts, drawn by Debian's Chart.js from the launcher's own samples.
browser.find_element(By.CSS_SELECTOR, '#views button[data-view="charts"]').click()
wait_for(15, "the map server's CPU chart", lambda: browser.execute_script("""
    const chart = window.Chart && Chart.getChart('chart-cpu');
    return chart && chart.data.datasets[2].data.length > 0;"""))
check("crash" in text("timeline"), "the timeline does not show the crash: " + text("timeline"))
shoot("charts")

browser.find_element(By.CSS_SELECTOR, '#views button[data-view="audit"]').click()
wait_for(10, "the start in the audit log",
         lambda: "start" in text("audit") and "ada" in text("audit"))
shoot("audit")

# ---- another site, with the admin's cookie -----------------------------------------------------
browser.get("http://localhost:%d/" % other_port)
wait_for(10, "the other site's post", lambda: browser.title == "posted")
wait_for(10, "the other site's socket closed",
         lambda: browser.find_element(By.TAG_NAME, "body").get_attribute("data-closed"))
browser.get(panel + "/")
wait_for(10, "the panel again", lambda: states() == ["\u25cf running"] * 3)
for name, server in status_json()["servers"].items():
    check(server["running"], name + " stopped by another site")

# ---- a viewer: sees, but may not act ------------------------------------------------------------
browser.find_element(By.ID, "logout").click()
login("vic", "vic-password-1")
wait_for(10, "the viewer's panel", lambda: text("who") == "vic (viewer)")
answers = browser.execute_async_script("""
const done = arguments[0];
(async () => {
const session = await (await fetch('/api/session')).json();
const post = async (verb) => (await fetch('/api/action', {method: 'POST',
    headers: {'Content-Type': 'application/json', 'X-CSRF-Token': session.csrf},
    body: JSON.stringify({verb, servers: ['map']})})).status;
const http = [await post('start'), await post('stop')];
const ws = new WebSocket(location.origin.replace('http', 'ws') + '/api/live');
const live = [];
ws.onopen = () => { ws.send(JSON.stringify({csrf: session.csrf}));
    ws.send(JSON.stringify({type: 'action', id: 1, verb: 'stop', servers: ['map']}));
    ws.send(JSON.stringify({type: 'action', id: 2, verb: 'start', servers: ['map']})); };
ws.onmessage = (e) => { const m = JSON.parse(e.data);
    if (m.type === 'answer') live.push(m.status);
    if (live.length === 2) { ws.close(); done({http, live}); } };
})();
""")
check(answers == {"http": [403, 403], "live": [403, 403]}, "viewer's actions: %s" % answers)
check(states() == ["\u25cf running"] * 3, "a viewer's stop took effect")

audit = open(os.path.join(servers, "logs", "audit.log")).read()
for needed in ("web ada from 127.0.0.1: start -> done",
               "web vic from 127.0.0.1: stop Map Server -> refused: stop needs the role operator",
               "web vic from 127.0.0.1: start Map Server -> refused: start needs the role operator",
               "live page -> refused: a live page of another origin",
               # SameSite=Strict: the other site's request came without the admin's cookie
               "web - from 127.0.0.1: /api/action -> refused: the request does not come from "
               "this panel"):
    check(needed in audit, "no audit line " + needed + " in:\n" + audit)
check(audit.count("stop Map Server -> refused: stop needs the role operator") == 2,
      "the viewer's two stops are not both audited:\n" + audit)

# ---- logins limited --------------------------------------------------------------------------
def try_login(password):
    return browser.execute_async_script("""
fetch('/api/login', {method: 'POST', headers: {'Content-Type': 'application/json'},
    body: JSON.stringify({name: 'ada', password: arguments[0]})})
  .then(r => arguments[1]([r.status, Number(r.headers.get('Retry-After') || 0)]));""", password)


results = [try_login("wrong-password") for _ in range(10)]
check(results[-1][0] == 429 and results[-1][1] > 0, "the tenth wrong password: %s" % results)
wait = results[-1][1]
check(try_login("ada-password-1")[0] == 429, "a right password at once was not delayed")
time.sleep(wait)
check(try_login("ada-password-1")[0] == 200, "the right password after %d s" % wait)

browser.quit()
browser = None
launcher.send_signal(signal.SIGTERM)
check(launcher.wait(60) == 0, "the launcher did not end with 0")
launcher = None
print("PASS")
