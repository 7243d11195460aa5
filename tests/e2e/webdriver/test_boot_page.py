"""The boot page of the real program: shown when input access is missing,
its buttons, its two kinds, and the way on to the main page."""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402


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
