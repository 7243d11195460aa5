"""The boot page of the real program: shown when input access is missing,
its buttons, its two kinds, and the way on to the main page."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402
import page_checks as C  # noqa: E402


def fake_pkexec(exit_code):
    """A directory for a pkexec that only exits with the given status, and
    that stand-in's text (the program finds it in /usr/sbin, see App)."""
    d = tempfile.mkdtemp(prefix="pmr-fake-pkexec-")
    return d, "#!/bin/sh\necho \"$@\" > '%s/called'\nsleep 0.3\nexit %d\n" % (d, exit_code)


def path_trap():
    """A pkexec earlier in PATH, as another program could leave in
    ~/.local/bin: it must never be started."""
    d = tempfile.mkdtemp(prefix="pmr-path-pkexec-")
    with open(os.path.join(d, "pkexec"), "w") as f:
        f.write("#!/bin/sh\ntouch '%s/trapped'\nexit 0\n" % d)
    os.chmod(os.path.join(d, "pkexec"), 0o755)
    return d


class WithoutAScreen(unittest.TestCase):
    def test_no_display_fails_with_a_reason_and_make_run_says_how_to_look(self):
        home = tempfile.mkdtemp(prefix="pmr-no-display-")
        self.addCleanup(shutil.rmtree, home, True)
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": home, "XDG_RUNTIME_DIR": home,
               "XDG_DATA_HOME": home, "XDG_CONFIG_HOME": home, "NO_AT_BRIDGE": "1"}
        r = subprocess.run([os.path.join(E.BINARY_DIR, "pellomar")], env=env, capture_output=True, text=True,
                           timeout=120)
        self.assertNotEqual(r.returncode, 0, "a program without its window did not work")
        self.assertIn("could not open its window", r.stderr)
        # make run without a screen: one line with the display, how to take a
        # screenshot, and that Ctrl+C stops it.
        r = subprocess.run([os.path.join(E.SOURCE_DIR, "scripts/run.sh"), "/bin/true"], env=env, capture_output=True,
                           text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = [line for line in r.stdout.splitlines() if line.strip()]
        self.assertEqual(len(lines), 1, r.stdout)
        self.assertRegex(lines[0], r"display :\d+")
        self.assertIn("import -window root", lines[0])
        self.assertIn("Ctrl+C", lines[0])


class BootPage(unittest.TestCase):
    def start(self, **kw):
        self.app = E.App(keyboard=False, mouse=False, uinput=False, **kw)
        self.addCleanup(self.app.close)
        self.app.wait_page("setup")
        E.wait_until(lambda: self.app.js("return document.getElementById('c-input-s').textContent") != "checking…",
                     what="first permission status")

    def text(self, element_id):
        return self.app.js("return document.getElementById(arguments[0]).textContent", element_id)

    def visible(self, element_id):
        return self.app.js("var e = document.getElementById(arguments[0]); return !!e && !e.hidden && "
                           "getComputedStyle(e).display !== 'none'", element_id)

    def test_permissions_kind_and_setup_button(self):
        fake, pkexec = fake_pkexec(126)
        self.addCleanup(shutil.rmtree, fake, True)
        trap = path_trap()
        self.addCleanup(shutil.rmtree, trap, True)
        self.start(path_prepend=trap, system_tools={"pkexec": pkexec})
        self.assertEqual(self.app.js("return document.documentElement.getAttribute('data-boot-kind')"), "permissions")
        self.assertFalse(self.visible("reset-card"))
        self.assertTrue(self.app.js("return document.getElementById('continue').disabled"))

        status = self.app.bridge("pmrMacPermissionStatus")["ok"]
        self.assertEqual([status[k] for k in ("accessibility", "ready", "setup")], [False, False, "idle"])
        # The manual commands are on the page, the settings app is named for this desktop.
        self.assertIn("sudo tee /etc/udev/rules.d/70-pellomar.rules", self.text("commands"))
        html = self.app.js("return document.documentElement.outerHTML")
        self.assertNotIn("System Settings", html)
        self.assertNotIn("__PMR_BOOT_MODE__", html)

        self.assertTrue(self.app.driver.save_screenshot(os.path.join(E.screenshot_dir(), "boot-page.png")))

        # The setup button runs the system's pkexec (never the one in PATH)
        # with the installed setup-input helper beside the program, not a
        # shell; a dismissed password window reads "cancelled".
        self.app.by_id("setup").click()
        E.wait_until(lambda: os.path.exists(os.path.join(fake, "called")), what="pkexec started")
        with open(os.path.join(fake, "called")) as f:
            self.assertEqual(f.read(), os.path.join(E.BINARY_DIR, "setup-input") + "\n")
        self.assertFalse(os.path.exists(os.path.join(trap, "trapped")))
        E.wait_until(lambda: self.app.bridge("pmrMacPermissionStatus")["ok"]["setup"] == "cancelled",
                     what="setup cancelled")
        E.wait_until(lambda: "password window was closed" in self.text("setup-msg"), what="cancel message")
        self.assertEqual(self.text("setup"), "Try again")

        # The injected script keeps the context menu away from the page.
        self.assertTrue(self.app.js(
            "var e = new MouseEvent('contextmenu', {bubbles: true, cancelable: true});"
            "document.body.dispatchEvent(e); return e.defaultPrevented;"))

        # Copy puts the commands on the clipboard; the paste binding reads them back.
        self.app.js("document.getElementById('manual').open = true;"
                    "document.getElementById('copy').scrollIntoView({block: 'center'})")
        self.app.by_id("copy").click()
        E.wait_until(lambda: self.text("copy-note") == "Copied.", what="copied")
        pasted = self.app.bridge("pmrLinuxPaste", "clipboard")["ok"]
        self.assertEqual(pasted.strip(), self.text("commands").strip())

    def test_no_devices_is_told_apart_from_not_allowed(self):
        self.start()  # the simulation with no keyboard or mouse
        self.assertEqual(self.app.bridge("pmrMacPermissionStatus")["ok"]["inputDevices"], 0)
        E.wait_until(lambda: self.text("c-input-s") == "no keyboard or mouse found", what="no devices named")
        self.assertIn("Plug one in", self.text("no-devices"))
        self.assertTrue(self.visible("no-devices"))
        # Once a keyboard is there it is a question of access again.
        self.app.sim.add_keyboard()
        E.wait_until(lambda: self.app.bridge("pmrMacPermissionStatus")["ok"]["inputDevices"] == 1, what="keyboard seen")
        E.wait_until(lambda: self.text("c-input-s") in ("allowed", "not allowed"), what="access shown")
        E.wait_until(lambda: not self.visible("no-devices"), what="no-devices note gone")

    def test_follows_the_appearance_setting_with_readable_text(self):
        self.start(data_files={"appsettings.txt": "colorScheme=dark\n"})
        root = "return document.documentElement.getAttribute('data-theme')"
        self.assertEqual(self.app.js(root), "dark")
        self.app.js("document.querySelector('details').open = true")
        # Measured at the final colours, not halfway through a transition.
        self.app.js("var s = document.createElement('style'); s.textContent = '* { transition: none !important; }';"
                    "document.head.appendChild(s)")
        looks = {}
        for look in ("dark", "light"):
            # The same page in the other look: the palette is the page's own.
            self.app.js("document.documentElement.setAttribute('data-theme', arguments[0])", look)
            looks[look] = self.app.js("return getComputedStyle(document.body).backgroundColor")
            low = [f for f in self.app.js(C.CONTRAST_JS) if f["ratio"] < 4.5]
            self.assertEqual(low, [], "texts below 4.5:1 in the %s look" % look)
        self.assertNotEqual(looks["dark"], looks["light"])

    def test_first_size_fits_a_screen_at_double_scale(self):
        # 1920x1080 at scale 2 is 960x540 logical pixels: the first window
        # (420x560 by default) has to shrink to fit, title bar included.
        self.start(env={"GDK_SCALE": "2"})
        size = self.app.js("return [window.innerWidth, window.innerHeight, screen.availHeight, window.devicePixelRatio]")
        self.assertEqual(size[3], 2, size)
        self.assertLessEqual(size[1] + 30, size[2], "the window is taller than the screen: %r" % size)
        self.assertGreaterEqual(size[1], 360, size)

    def test_setup_failures_name_what_is_missing_and_show_the_commands(self):
        # No pkexec in the system's directories (one in PATH does not count),
        # then a pkexec that finds no agent (127).
        trap = path_trap()
        self.addCleanup(shutil.rmtree, trap, True)
        no_agent, pkexec = fake_pkexec(127)
        self.addCleanup(shutil.rmtree, no_agent, True)
        cases = [({"pkexec": None}, "pkexec-missing", "is not installed"),
                 ({"pkexec": pkexec}, "not-authorized", "authentication agent")]
        for tools, problem, words in cases:
            with self.subTest(problem=problem):
                self.start(path_prepend=trap, system_tools=tools)
                # The window at its default size: the commands come into view.
                self.app.bridge("resizeWindow", "420,560")
                E.wait_until(lambda: self.app.js("return window.innerWidth") == 420, what="420 wide")
                self.app.by_id("setup").click()
                E.wait_until(lambda: self.app.bridge("pmrMacPermissionStatus")["ok"]["setupProblem"] == problem,
                             what=problem)
                E.wait_until(lambda: words in self.text("setup-msg"), what="message names the cause")
                self.assertNotIn("did not finish", self.text("setup-msg"))
                E.wait_until(lambda: self.app.js("return document.getElementById('manual').open"), what="commands open")
                E.wait_until(lambda: self.app.js(
                    "var r = document.getElementById('manual').getBoundingClientRect();"
                    "return r.top >= 0 && r.top < window.innerHeight - 40"), what="commands in view")
                self.assertIn("sudo tee", self.text("commands"))
                # The open commands scroll in their own box: nothing of the
                # page reaches past the window's right edge, down to 300 px.
                for width in (420, 300):
                    self.app.bridge("resizeWindow", "%d,560" % width)
                    E.wait_until(lambda: self.app.js("return window.innerWidth") == width, what="%d wide" % width)
                    past = self.app.js(
                        "var w = window.innerWidth, bad = [];"
                        "document.querySelectorAll('h1, .state, .msg, .lead, main').forEach(function (e) {"
                        "  var r = e.getBoundingClientRect(); if (r.width && r.right > w + 0.5) bad.push(e.id || e.className); });"
                        "return [document.documentElement.scrollWidth - w, bad];")
                    self.assertEqual(past, [0, []], "at %d px" % width)
                self.app.close()
                self.assertFalse(os.path.exists(os.path.join(trap, "trapped")))

    def test_access_granted_later_continues_to_the_main_page(self):
        self.start()
        self.assertFalse(self.app.bridge("pmrMacPermissionStatus")["ok"]["ready"])
        # The access arrives (as after a successful setup): uinput and a keyboard.
        self.app.sim.uinput_access(True)
        self.app.sim.add_keyboard()
        E.wait_until(lambda: self.app.bridge("pmrMacPermissionStatus")["ok"]["ready"], 20, what="ready")
        E.wait_until(lambda: not self.app.js("return document.getElementById('continue').disabled"),
                     what="Continue enabled")
        self.app.by_id("continue").click()
        self.app.wait_page("panel-spammer")
        E.wait_until(lambda: self.app.bridge("getTrackerStatus")["ok"]["hkAuto"] == "F6", what="main page live")
        # The grant was remembered for the next start.
        self.assertIn("accessibilityGranted=app.pellomar.free", self.app.data_file("macpermissions.txt"))

    def test_reset_kind_when_access_went_missing(self):
        # Access was granted on an earlier start (the marker says so) but is
        # missing now: the page explains that.
        self.start(data_files={"macpermissions.txt": "accessibilityGranted=app.pellomar.free\n"})
        self.assertEqual(self.app.js("return document.documentElement.getAttribute('data-boot-kind')"), "reset")
        E.wait_until(lambda: self.visible("reset-card"), what="reset explanation shown")
        self.assertIn("set up again", self.text("title"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
