"""End-to-end helpers: the real program under the simulated input subsystem,
driven through WebKitWebDriver.

The program is started by WebKitWebDriver (as its "browser") through a small
wrapper script that gives it a private HOME and XDG directories and preloads
the simulated kernel; the test talks to that kernel over its control socket
(tests/sim/README.md) and to the page through the WebDriver session.
"""
import json
import sys
import os
import shutil
import socket
import stat
import subprocess
import tempfile
import threading
import time

from selenium import webdriver
from selenium.webdriver.webkitgtk.options import Options

BINARY_DIR = os.environ.get("PMR_BINARY_DIR", "")
SOURCE_DIR = os.environ.get("PMR_SOURCE_DIR", "")
PRELOAD = os.environ.get("PMR_SIM_PRELOAD", "")
DRIVER = "/usr/bin/WebKitWebDriver"

# Linux input event codes used by the tests.
EV_SYN, EV_KEY, EV_REL = 0, 1, 2
KEY = {"ESC": 1, "TAB": 15, "A": 30, "F2": 60, "F6": 64, "F7": 65, "F8": 66, "F9": 67, "F10": 68}
BTN_LEFT, BTN_RIGHT = 0x110, 0x111


# Every wait is for something that must happen; its limit only ends a test
# that would hang, so it is never shorter than this (a loaded machine may be
# many times slower than the one a limit was chosen on).
MIN_WAIT_S = 60.0


def wait_until(pred, timeout=10.0, step=0.05, what="condition"):
    end = time.monotonic() + max(timeout, MIN_WAIT_S)
    last = None
    while time.monotonic() < end:
        last = pred()
        if last:
            return last
        time.sleep(step)
    last = pred()
    if not last:
        raise AssertionError("timed out waiting for " + what)
    return last


class Sim:
    """Client of the simulated kernel's control socket."""

    def __init__(self, path, timeout=30.0):
        end = time.monotonic() + timeout
        while True:
            try:
                self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                self.sock.connect(path)
                break
            except OSError:
                self.sock.close()
                if time.monotonic() > end:
                    raise
                time.sleep(0.05)
        self.buf = b""

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass

    def command(self, line):
        self.sock.sendall(line.encode() + b"\n")
        lines = []
        while True:
            while b"\n" not in self.buf:
                chunk = self.sock.recv(65536)
                if not chunk:
                    raise ConnectionError("simulation closed the socket")
                self.buf += chunk
            raw, self.buf = self.buf.split(b"\n", 1)
            text = raw.decode(errors="replace")
            if text == "end":
                return lines
            lines.append(text)

    def ok(self, line):
        answer = self.command(line)
        if not answer or not answer[0].startswith("ok"):
            raise AssertionError("sim %r: %r" % (line, answer))
        return answer[0][3:], answer[1:]

    def add_keyboard(self, phys="usb-sim-kbd/input0"):
        return self.ok("addbasic keyboard %s Sim Keyboard" % phys)[0]

    def add_mouse(self, phys="usb-sim-mouse/input0"):
        return self.ok("addbasic mouse %s Sim Mouse" % phys)[0]

    def go(self):
        self.ok("go")

    def uinput_access(self, allowed):
        self.ok("uinput-access %d" % (1 if allowed else 0))

    def key(self, node, code, value):
        self.ok("emit %s %d %d %d %d 0 0" % (node, EV_KEY, code, value, EV_SYN))

    def tap(self, node, code):
        self.key(node, code, 1)
        self.key(node, code, 0)

    def nodes(self):
        _, rows = self.ok("nodes")
        out = []
        for row in rows:
            f = row.split("\t")
            if len(f) < 12:
                continue
            out.append({"node": f[0], "exists": f[1] == "1", "uinput": f[2] == "1", "grabbed": f[3] == "1",
                        "phys": f[10], "name": f[11], "checked": len(f) > 12 and f[12] == "1"})
        return out

    def node_by_phys(self, phys):
        found = [n for n in self.nodes() if n["exists"] and n["phys"] == phys]
        return found[-1] if found else None

    def writes(self, node):
        _, rows = self.ok("writes %s" % node)
        out = []
        for row in rows:
            nums = [int(x) for x in row.split()]
            out.append([tuple(nums[i:i + 3]) for i in range(0, len(nums) - 2, 3)])
        return out


class App:
    """The real program, started by WebKitWebDriver under the simulation."""

    def __init__(self, keyboard=True, mouse=True, uinput=True, env=None, path_prepend=None, data_files=None,
                 program=None, args=None, desktop_session=False, system_tools=None):
        """desktop_session: the program joins the desktop session the test
        runs in (its display, HOME and XDG directories) instead of private
        ones, as it must to install into that session's shell.
        system_tools: {name: shell script text, or None}: the program runs in
        a private mount namespace (as root) where /usr/sbin, searched first
        for system programs such as pkexec, holds these stand-ins; None hides
        the system's own program of that name."""
        if not BINARY_DIR or not PRELOAD:
            raise RuntimeError("PMR_BINARY_DIR and PMR_SIM_PRELOAD must be set")
        self.home = tempfile.mkdtemp(prefix="pmr-e2e-")
        for sub in (".local/share", ".config", ".cache", "run"):
            os.makedirs(os.path.join(self.home, sub), mode=0o700, exist_ok=True)
        self.data_dir = os.path.join(self.home, ".local/share/Pellomar")
        if desktop_session:
            self.data_dir = os.path.join(os.environ["XDG_DATA_HOME"], "Pellomar")
        if data_files:
            os.makedirs(self.data_dir, mode=0o700, exist_ok=True)
            for name, text in data_files.items():
                with open(os.path.join(self.data_dir, name), "w") as f:
                    f.write(text)
        self.sock_path = os.path.join(self.home, "sim.sock")
        self.wrapper = os.path.join(self.home, "pellomar")
        extra = dict(env or {})
        lines = ["#!/bin/sh"]
        if not desktop_session:
            lines += ["export HOME='%s'" % self.home,
                      "export XDG_DATA_HOME='%s/.local/share'" % self.home,
                      "export XDG_CONFIG_HOME='%s/.config'" % self.home,
                      "export XDG_CACHE_HOME='%s/.cache'" % self.home,
                      "export XDG_RUNTIME_DIR='%s/run'" % self.home,
                      "unset WAYLAND_DISPLAY"]
        lines += ["export PMR_SIM_SOCKET='%s'" % self.sock_path,
                 "export PMR_SIM_WAIT=1",
                 "export LD_PRELOAD='%s'" % PRELOAD]
        if path_prepend:
            lines.append("export PATH='%s':\"$PATH\"" % path_prepend)
        for k, v in extra.items():
            lines.append("export %s='%s'" % (k, v))
        program = program or os.path.join(BINARY_DIR, "pellomar")
        if system_tools is not None:
            tools = os.path.join(self.home, "sbin")
            os.makedirs(tools)
            subprocess.run(["cp", "-a", "/usr/sbin/.", tools + "/"], check=True)
            hidden = os.path.join(self.home, "hidden")
            open(hidden, "w").close()
            mounts = ["mount --make-rprivate /", "mount -t tmpfs -o mode=755 tmpfs /usr/sbin"]
            for name, text in system_tools.items():
                target = os.path.join(tools, name)
                if os.path.lexists(target):
                    os.remove(target)
                if text is None:
                    for d in ("/usr/bin", "/bin", "/sbin"):
                        if os.path.isfile(os.path.join(d, name)):
                            mounts.append("mount --bind '%s' '%s/%s'" % (hidden, d, name))
                    continue
                with open(target, "w") as f:
                    f.write(text)
                os.chmod(target, 0o755)
            mounts.insert(2, "cp -a '%s/.' /usr/sbin/" % tools)
            # Only the program gets the simulation's preload library.
            lines.append("exec env -u LD_PRELOAD unshare -m /bin/sh -c '%s && exec env LD_PRELOAD=\"%s\" \"$0\" \"$@\"' "
                         "'%s' \"$@\" 2>>'%s/stderr.txt'"
                         % (" && ".join(m.replace("'", "\"") for m in mounts), PRELOAD, program, self.home))
        else:
            lines.append("exec '%s' \"$@\" 2>>'%s/stderr.txt'" % (program, self.home))
        with open(self.wrapper, "w") as f:
            f.write("\n".join(lines) + "\n")
        os.chmod(self.wrapper, stat.S_IRWXU)

        opts = Options()
        opts.binary_location = self.wrapper
        opts.add_argument("--automation")
        for a in args or ():
            opts.add_argument(a)
        # The driver matches a requested browser name against the program's
        # own name ("pellomar-free"); ask for none, and drop the legacy
        # members it would match literally.
        for member in ("browserName", "version", "platform"):
            opts.capabilities.pop(member, None)
        self.driver = None
        self.sim = None
        error = []

        def create():
            try:
                self.driver = webdriver.WebKitGTK(executable_path=DRIVER, options=opts,
                                                  service_log_path=os.path.join(self.home, "driver.log"))
            except Exception as e:  # reported below
                error.append(e); print("ERR", e, file=sys.stderr)

        starter = threading.Thread(target=create, daemon=True)
        starter.start()
        try:
            self.sim = Sim(self.sock_path)
            if not uinput:
                self.sim.uinput_access(False)
            self.keyboard = self.sim.add_keyboard() if keyboard else None
            self.mouse = self.sim.add_mouse() if mouse else None
            self.sim.go()
        finally:
            starter.join(90)
        if error or self.driver is None:
            self.close()
            raise RuntimeError("WebDriver session failed: %r\n%s" % (error, self.stderr()))
        self.driver.set_script_timeout(20)

    def wait_input_ready(self, timeout=30):
        """Capture is up: the keyboard has its twin and is grabbed (the grab
        follows the twin after a short delay; a key pressed before it reaches
        the desktop directly), and the capture has looked at the key state
        after grabbing (a key down at that moment makes it let go again)."""
        wait_until(lambda: self.sim.node_by_phys("pmr-twin") is not None, timeout, what="keyboard twin")
        if self.keyboard:
            wait_until(lambda: any(n["node"] == self.keyboard and n["checked"] for n in self.sim.nodes()),
                       timeout, what="keyboard grabbed")

    # --- page --------------------------------------------------------------
    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def bridge(self, name, *args):
        """Calls a bound function from the page and returns its result."""
        return self.driver.execute_async_script(
            "var done = arguments[arguments.length - 1];"
            "var name = arguments[0], args = Array.prototype.slice.call(arguments, 1, arguments.length - 1);"
            "window[name].apply(null, args).then(function (v) { done({ok: v === undefined ? null : v}); },"
            " function (e) { done({error: String(e)}); });", name, *args)

    def wait_page(self, element_id, timeout=20):
        wait_until(lambda: self.js("return !!document.getElementById(arguments[0])", element_id),
                   timeout, what="element #" + element_id)

    def by_id(self, element_id):
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.ID, element_id)

    # --- files -------------------------------------------------------------
    def data_file(self, name):
        try:
            with open(os.path.join(self.data_dir, name)) as f:
                return f.read()
        except OSError:
            return ""

    def status_file(self):
        text = self.data_file("status.txt")
        try:
            return json.loads(text)
        except ValueError:
            return None

    def stderr(self):
        try:
            with open(os.path.join(self.home, "stderr.txt")) as f:
                return f.read()
        except OSError:
            return ""

    def close(self):
        if self.driver is not None:
            try:
                self.driver.quit()
            except Exception:
                pass
            self.driver = None
        if self.sim is not None:
            self.sim.close()
            self.sim = None
        if not os.environ.get("PMR_E2E_KEEP"): shutil.rmtree(self.home, ignore_errors=True)


def main_page_app():
    """The real program on its main page, capture running, first poll done."""
    app = App()
    try:
        app.wait_page("panel-spammer")
        app.wait_input_ready()
        wait_until(lambda: app.status_file() is not None, 20, what="first status poll")
    except Exception:
        app.close()
        raise
    return app


def screenshot_dir():
    """Where page screenshots go: PMR_SCREENSHOT_DIR, else the build tree."""
    d = os.environ.get("PMR_SCREENSHOT_DIR") or os.path.join(BINARY_DIR, "screenshots")
    os.makedirs(d, exist_ok=True)
    return d
