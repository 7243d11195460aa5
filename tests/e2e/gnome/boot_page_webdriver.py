"""The real program's boot page on GNOME Wayland, in a private headless GNOME
Shell (tests/support/with-gnome.sh), driven through WebKitWebDriver: the
helper reads "missing", Install puts it in place and enables it ("installed"),
and after the shell restarts (the stand-in for a new login) it reads
"active", Continue opens and the main page loads."""
import ast
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "webdriver"))
import pmr_e2e as E  # noqa: E402

UUID = "pellomar-helper@pellomar.app"


def control(what):
    subprocess.run([os.environ["PMR_GNOME_CTL"], "ctl", what], check=True, timeout=120)


def enabled_extensions():
    out = subprocess.run(["gsettings", "get", "org.gnome.shell", "enabled-extensions"], check=True,
                         capture_output=True, text=True).stdout.strip()
    return ast.literal_eval(out.removeprefix("@as "))


class GnomeBootPage(unittest.TestCase):
    def status(self, app):
        return app.bridge("pmrMacPermissionStatus")["ok"]

    def text(self, app, element_id):
        return app.js("return document.getElementById(arguments[0]).textContent", element_id)

    def continue_disabled(self, app):
        return app.js("return document.getElementById('continue').disabled")

    def open_app(self, **kw):
        app = E.App(desktop_session=True, **kw)
        self.addCleanup(app.close)
        app.wait_page("setup")
        return app

    def test_helper_missing_installed_then_active_after_a_new_login(self):
        if not os.environ.get("PMR_GNOME_CTL"):
            self.skipTest("needs tests/support/with-gnome.sh")
        helper_dir = os.path.join(os.environ["XDG_DATA_HOME"], "gnome-shell", "extensions", UUID)

        # Input works, yet the boot page comes first: the helper is missing.
        app = self.open_app()
        E.wait_until(lambda: self.status(app)["ready"], what="input ready")
        self.assertEqual(self.status(app)["gnome"], "missing")
        E.wait_until(lambda: self.text(app, "c-gnome-s") == "missing", what="helper shown missing")
        self.assertTrue(self.continue_disabled(app))
        self.assertEqual(self.text(app, "continue-text"), "Add the GNOME helper first.")
        self.assertFalse(os.path.exists(helper_dir))

        # Install: the files are in place and the shell's settings enable it.
        app.by_id("gnome").click()
        E.wait_until(lambda: self.status(app)["gnome"] == "installed", what="helper installed")
        E.wait_until(lambda: self.text(app, "c-gnome-s") == "installed", what="helper shown installed")
        for name in ("metadata.json", "extension.js"):
            self.assertTrue(os.path.isfile(os.path.join(helper_dir, name)), name)
        self.assertIn(UUID, enabled_extensions())
        self.assertTrue(self.continue_disabled(app))
        app.close()

        # A new login: the shell starts again and runs the helper. The
        # program starts before its input access is back, so it stays on the
        # boot page, which now shows the helper active.
        control("shell-stop")
        control("shell-start")
        app = self.open_app(uinput=False)
        E.wait_until(lambda: self.status(app)["gnome"] == "active", what="helper active")
        E.wait_until(lambda: self.text(app, "c-gnome-s") == "active", what="helper shown active")
        self.assertTrue(self.continue_disabled(app))
        # Access arrives; Continue opens and leads to the main page.
        app.sim.uinput_access(True)
        E.wait_until(lambda: not self.continue_disabled(app), what="Continue enabled")
        self.assertEqual(self.text(app, "continue-text"), "Everything is in place.")
        app.by_id("continue").click()
        app.wait_page("panel-spammer")
        E.wait_until(lambda: app.bridge("getTrackerStatus")["ok"]["hkAuto"] == "F6", what="main page live")
        self.assertTrue(app.driver.save_screenshot(os.path.join(E.screenshot_dir(), "gnome-main-page.png")))


if __name__ == "__main__":
    unittest.main()
