"""Nothing is lost across a restart: a recording in each of two profiles, the
profiles themselves, tool settings changed through the page and app settings
all come back when the real program is stopped and started again."""
import os
import signal
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402

from selenium.webdriver.common.keys import Keys  # noqa: E402

DEFAULT = "Default Tracking Profile"


def status(app):
    return app.bridge("getTrackerStatus")["ok"]


def settings(app):
    return app.bridge("getSettings")["ok"]


def ready(app):
    app.wait_page("panel-profile")
    app.wait_input_ready()
    E.wait_until(lambda: app.status_file() is not None, 20, what="first status poll")


def type_over(app, element_id, text):
    field = app.by_id(element_id)
    field.send_keys(Keys.CONTROL, "a")
    field.send_keys(text)
    field.send_keys(Keys.TAB)


def record(app, keys):
    app.sim.tap(app.keyboard, E.KEY["F8"])
    E.wait_until(lambda: status(app)["state"] == "Recording", what="recording")
    for k in keys:
        app.sim.tap(app.keyboard, E.KEY[k])
    E.wait_until(lambda: status(app)["count"] >= 2 * len(keys), what="events recorded")
    app.sim.tap(app.keyboard, E.KEY["F8"])
    E.wait_until(lambda: status(app)["state"] == "Idle", what="recording stopped")
    return status(app)["count"]


def click_profile(app, index):
    app.js("document.querySelector('#profiles button[data-index=\"%d\"]').click()" % index)
    E.wait_until(lambda: status(app)["profiles"]["current"] == index, what="profile %d current" % index)


def stop_program(app):
    """SIGTERM, as the desktop sends at logout; the program saves on the way out."""
    pid = int(app.data_file("instance.lock").split()[0])
    os.kill(pid, signal.SIGTERM)

    def gone():
        try:
            with open("/proc/%d/stat" % pid) as f:
                return f.read().split(")")[-1].split()[0] == "Z"  # exited, not yet reaped
        except OSError:
            return True
    E.wait_until(gone, 20, what="program exit")


class Persistence(unittest.TestCase):
    def test_everything_comes_back_after_a_restart(self):
        app = E.App()
        try:
            ready(app)
            # A recording and a changed click interval in the default profile.
            default_count = record(app, ["A", "TAB"])
            type_over(app, "sms", "250")
            E.wait_until(lambda: settings(app)["sms"] == 250, what="sms 250")

            # A second profile, added through the page, with its own recording
            # and its own key spammer interval.
            app.by_id("prof-name").send_keys("Second")
            app.by_id("prof-add").click()
            E.wait_until(lambda: status(app)["profiles"]["names"] == [DEFAULT, "Second"], what="profile added")
            self.assertEqual(status(app)["profiles"]["current"], 1)
            self.assertEqual(status(app)["count"], 0)
            second_count = record(app, ["A", "A", "A"])
            self.assertNotEqual(second_count, default_count)
            type_over(app, "ksms", "300")
            E.wait_until(lambda: settings(app)["ksms"] == 300, what="ksms 300")

            # Back to the default profile: its own settings return.
            click_profile(app, 0)
            E.wait_until(lambda: (settings(app)["sms"], settings(app)["ksms"]) == (250, 100),
                         what="default profile settings")
            self.assertEqual(status(app)["count"], default_count)

            # App settings through the page: animations off, a panel minimised.
            app.js("document.getElementById('opt-animations').click()")
            E.wait_until(lambda: app.bridge("getAppSettings")["ok"]["disableAnimations"], what="animations off")
            app.js("document.querySelector('#panel-tracker .icon-btn.min').click()")
            E.wait_until(lambda: "panel-tracker" in app.bridge("getAppSettings")["ok"]["minimizedPanels"],
                         what="panel minimised")

            stop_program(app)
            files = {name: app.data_file(name) for name in ("session.dat", "appsettings.txt")}
        finally:
            app.close()
        self.assertTrue(files["session.dat"].startswith("SETTINGS:"))

        app = E.App(data_files=files)
        try:
            ready(app)
            s = status(app)
            self.assertEqual(s["profiles"]["names"], [DEFAULT, "Second"])
            self.assertEqual(s["profiles"]["current"], 0)
            self.assertEqual(s["count"], default_count)
            self.assertEqual((settings(app)["sms"], settings(app)["ksms"]), (250, 100))
            app_settings = app.bridge("getAppSettings")["ok"]
            self.assertTrue(app_settings["disableAnimations"])
            self.assertIn("panel-tracker", app_settings["minimizedPanels"])
            E.wait_until(lambda: app.js("return document.getElementById('opt-animations').checked") is False,
                         what="page shows animations off")

            click_profile(app, 1)
            self.assertEqual(status(app)["count"], second_count)
            E.wait_until(lambda: (settings(app)["sms"], settings(app)["ksms"]) == (250, 300),
                         what="second profile settings")
            E.wait_until(lambda: app.by_id("ksms").get_attribute("value") == "300", what="page shows 300 ms")
        finally:
            app.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
