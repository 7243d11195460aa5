"""The main page tells the truth and catches mistakes: hotkeys switched off,
a fixed spot never picked, counts below one, links without a browser, a
hotkey another tool has, a typing key as a hotkey, the start countdown with
the live count, and profile names with characters that cannot be used."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402

from selenium.webdriver.common.keys import Keys  # noqa: E402


class PageStates(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.main_page_app()

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    def setUp(self):
        self.app.bridge("stopSpammer")
        self.app.bridge("stopKeySpam")
        self.app.bridge("resetHotkeys")
        self.app.bridge("updateSpammer", "0,0,0,100,0,0,1,10,0")
        E.wait_until(lambda: not self.status()["autoClicking"], what="clicker stopped")
        self.app.js("document.getElementById('start-delay').value = '0'; window.scrollTo(0, 0);")

    def status(self):
        return self.app.bridge("getTrackerStatus")["ok"]

    def settings(self):
        return self.app.bridge("getSettings")["ok"]

    def text(self, element_id):
        return self.app.js("return document.getElementById(arguments[0]).textContent", element_id)

    def shown(self, element_id):
        return self.app.js("var e = document.getElementById(arguments[0]); return !!e && !e.hidden && "
                           "getComputedStyle(e).display !== 'none' && e.getClientRects().length > 0", element_id)

    def click(self, selector):
        self.app.js("var e = document.querySelector(arguments[0]); e.scrollIntoView({block: 'center'}); e.click();",
                    selector)

    def type_into(self, element_id, text):
        field = self.app.by_id(element_id)
        self.app.js("arguments[0].scrollIntoView({block: 'center'})", field)
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(text)

    def test_hotkeys_switched_off_show_everywhere(self):
        E.wait_until(lambda: self.text("lock-text") == "Hotkeys on", what="hotkeys on")
        self.assertTrue(self.shown("spam-go-key"))
        self.click("#opt-hotkeys")
        try:
            E.wait_until(lambda: self.text("lock-text") == "Hotkeys off", what="header says off")
            self.assertFalse(self.app.js("return document.getElementById('lock-pill').classList.contains('ok')"))
            self.assertFalse(self.shown("spam-go-key"))
            self.assertFalse(self.shown("ks-go-key"))
            self.assertEqual(self.app.js("return document.querySelectorAll('.hotkey.off').length"),
                             self.app.js("return document.querySelectorAll('.hotkey[data-kind]').length"))
            self.assertIn("switched off", self.text("rec-hint"))
            self.assertNotIn("hotkey", self.app.by_id("spam-go").get_attribute("aria-label"))
            self.assertIn("hotkeysEnabled=0", self.app.data_file("appsettings.txt"))
        finally:
            self.click("#opt-hotkeys")
        E.wait_until(lambda: self.text("lock-text") == "Hotkeys on", what="header says on again")
        self.assertTrue(self.shown("spam-go-key"))
        self.assertEqual(self.app.js("return document.querySelectorAll('.hotkey.off').length"), 0)

    def test_remember_screen_sharing_is_off_until_switched_on(self):
        box = self.app.by_id("opt-remember-screen")
        self.assertFalse(box.is_selected())
        self.assertIn("reuse", self.app.js("return arguments[0].closest('label').textContent", box))
        self.click("#opt-remember-screen")
        try:
            E.wait_until(lambda: "rememberScreenGrant=1\n" in self.app.data_file("appsettings.txt"),
                         what="switched on and saved")
            self.assertTrue(self.app.bridge("getAppSettings")["ok"]["rememberScreenGrant"])
        finally:
            self.click("#opt-remember-screen")
        E.wait_until(lambda: "rememberScreenGrant=0\n" in self.app.data_file("appsettings.txt"),
                     what="switched off and saved")

    def test_fixed_spot_without_a_pick_asks_for_one(self):
        self.click("input[name=loc][value='1']")
        E.wait_until(lambda: self.settings()["locMode"] == 1, what="fixed spot mode")
        self.assertEqual((self.settings()["fixedX"], self.settings()["fixedY"]), (0, 0))
        E.wait_until(lambda: "No spot picked yet" in self.text("loc-hint"), what="unpicked hint")
        self.click("#spam-go")
        E.wait_until(lambda: self.status()["picking"], what="Start asks for a pick")
        self.assertFalse(self.status()["autoClicking"], "Start must not click at 0, 0")
        E.wait_until(lambda: "Pick the spot first" in self.text("loc-hint"), what="pick explained")
        # The pick: the pointer at 210, 140 and a left click.
        subprocess.run(["xdotool", "mousemove", "210", "140"], check=True)
        self.app.sim.tap(self.app.mouse, E.BTN_LEFT)
        E.wait_until(lambda: (self.settings()["fixedX"], self.settings()["fixedY"]) == (210, 140), what="spot picked")
        E.wait_until(lambda: "Clicks at x 210, y 140." in self.text("loc-hint"), what="spot shown")
        self.click("#spam-go")
        E.wait_until(lambda: self.status()["autoClicking"], what="now Start clicks")
        self.click("#spam-go")
        E.wait_until(lambda: not self.status()["autoClicking"], what="stopped")
        self.click("input[name=loc][value='0']")
        E.wait_until(lambda: self.settings()["locMode"] == 0, what="back to the pointer")

    def test_counts_below_one_are_refused_in_the_field(self):
        self.click("input[name=rpt][value='0']")
        E.wait_until(lambda: self.settings()["rptMode"] == 0, what="Times mode")
        cases = [("0", True), ("-3", True), ("2.5", True), ("7", False), ("", True)]
        for typed, refused in cases:
            with self.subTest(typed=typed):
                self.type_into("rptTimes", typed if typed else Keys.DELETE)
                if refused:
                    E.wait_until(lambda: self.shown("rptTimes-error"), what="message for %r" % typed)
                    self.assertIn("1 or more", self.text("rptTimes-error"))
                    self.assertEqual(self.app.by_id("rptTimes").get_attribute("aria-invalid"), "true")
                else:
                    E.wait_until(lambda: self.settings()["rptTimes"] == 7, what="7 stored")
                    self.assertFalse(self.shown("rptTimes-error"))
        # A refused count never reaches the clicker: another change goes out
        # and the stored count is still the last good one. Leaving the field
        # puts back the count in use and says so, so the field never shows a
        # count a hotkey start would not use.
        self.type_into("rptTimes", "0")
        self.type_into("sms", "150")
        self.app.by_id("sms").send_keys(Keys.TAB)
        E.wait_until(lambda: self.settings()["sms"] == 150, what="interval sent")
        self.assertEqual(self.settings()["rptTimes"], 7)
        E.wait_until(lambda: self.app.by_id("rptTimes").get_attribute("value") == "7", what="count in use shown")
        self.assertIn("Still 7 clicks", self.text("rptTimes-error"))
        self.assertEqual(self.app.by_id("rptTimes").get_attribute("aria-invalid"), "false")
        # Start with the bad count still in the field explains instead of starting.
        self.type_into("rptTimes", "0")
        self.click("#spam-go")
        E.wait_until(lambda: self.shown("spam-error"), what="start refused")
        self.assertIn("how many clicks", self.text("spam-error"))
        self.assertFalse(self.status()["autoClicking"])
        self.type_into("rptTimes", "7")
        self.click("input[name=rpt][value='1']")
        E.wait_until(lambda: self.settings()["rptMode"] == 1, what="until stopped again")

    def test_link_without_a_browser_offers_the_address(self):
        result = self.app.bridge("openLink", "docs")["ok"]
        if result is None:
            self.skipTest("a browser opened the link on this machine")
        self.assertEqual(result, "https://pellomar.app/docs")
        self.click("[data-link=docs]")
        E.wait_until(lambda: self.shown("link-notice"), what="notice shown")
        self.assertIn("No web browser", self.text("link-notice-text"))
        self.assertEqual(self.text("link-url"), "https://pellomar.app/docs")
        self.click("#link-copy")
        E.wait_until(lambda: self.text("link-copy-note") == "Copied.", what="copied")
        self.assertEqual(self.app.bridge("pmrLinuxPaste", "clipboard")["ok"], "https://pellomar.app/docs")
        self.click("#link-close")
        self.assertFalse(self.shown("link-notice"))
        self.assertIsNone(self.app.bridge("openLink", "elsewhere")["ok"], "unknown names stay silent")

    def test_a_key_another_tool_has_is_refused_by_name(self):
        self.click(".reassign[data-kind=auto]")
        E.wait_until(lambda: self.status()["reassigning"] == "auto", what="reassigning auto")
        self.app.sim.tap(self.app.keyboard, E.KEY["F7"])
        E.wait_until(lambda: self.status()["reassigning"] == "", what="reassignment ended")
        s = self.status()
        self.assertEqual((s["hkAuto"], s["hkPlay"]), ("F6", "F7"))
        self.assertEqual((s["hotkeyRefused"]["owner"], s["hotkeyRefused"]["key"]), ("play", "F7"))
        E.wait_until(lambda: self.shown("hk-notice"), what="refusal shown")
        self.assertIn("F7 is already used by the Play hotkey", self.text("hk-notice-text"))
        # Under the row that asked.
        self.assertTrue(self.app.js("return document.getElementById('hk-notice').previousElementSibling"
                                    ".matches('.hotkey[data-kind=auto]')"))
        self.click("#hk-ok")
        self.assertFalse(self.shown("hk-notice"))

    def test_a_typing_key_waits_for_a_yes(self):
        for answer, expected in (("#hk-no", "F6"), ("#hk-yes", "A")):
            with self.subTest(answer=answer):
                self.click(".reassign[data-kind=auto]")
                E.wait_until(lambda: self.status()["reassigning"] == "auto", what="reassigning auto")
                self.app.sim.tap(self.app.keyboard, E.KEY["A"])
                E.wait_until(lambda: self.status()["hotkeyPending"]["kind"] == "auto", what="A held")
                self.assertEqual(self.status()["hkAuto"], "F6", "not applied before the answer")
                E.wait_until(lambda: self.shown("hk-yes"), what="question shown")
                self.assertIn("A is a typing key", self.text("hk-notice-text"))
                self.click(answer)
                E.wait_until(lambda: self.status()["hotkeyPending"]["kind"] == "", what="answered")
                self.assertEqual(self.status()["hkAuto"], expected)
                E.wait_until(lambda: not self.shown("hk-notice"), what="question gone")
        self.app.bridge("resetHotkeys")

    def test_start_countdown_then_live_count_and_time(self):
        self.app.bridge("updateSpammer", "0,0,0,30,0,0,1,10,0")
        self.app.js("document.getElementById('start-delay').value = '3'")
        # Clicking during the countdown cancels it.
        self.click("#spam-go")
        E.wait_until(lambda: "Starting in" in self.text("spam-go-text"), what="countdown shown")
        self.click("#spam-go")
        E.wait_until(lambda: self.text("spam-go-text") == "Start clicking", what="countdown cancelled")
        self.assertFalse(self.status()["autoClicking"])
        # The delay is chosen in Settings and kept in the app settings file.
        self.app.js("var d = document.getElementById('start-delay'); d.value = '1';"
                    "d.dispatchEvent(new Event('change'));")
        E.wait_until(lambda: "startDelaySecs=1\n" in self.app.data_file("appsettings.txt"), what="delay saved")
        self.assertEqual(self.app.bridge("getAppSettings")["ok"]["startDelaySecs"], 1)
        self.click("#spam-go")
        E.wait_until(lambda: "Starting in 1" in self.text("spam-go-text"), what="countdown shown")
        E.wait_until(lambda: self.status()["autoClicking"], what="started after the countdown")
        E.wait_until(lambda: self.status()["clicks"] >= 5, what="clicks counted")
        E.wait_until(lambda: int(self.text("spam-count") or "0") >= 5, what="count on the page")
        self.assertIn("running for", self.text("spam-time"))
        self.click("#spam-go")
        E.wait_until(lambda: not self.status()["autoClicking"], what="stopped")
        E.wait_until(lambda: "last run" in self.text("spam-count-label"), what="last run shown")
        # The run's count stays on the page after the clicker has stopped
        # (the status count is back to 0 by then).
        E.wait_until(lambda: self.status()["clicks"] == 0, what="native count reset")
        # The run's final count from the program replaces the last one polled.
        E.wait_until(lambda: int(self.text("spam-count")) == self.status()["lastClicks"], what="final count shown")
        shown = int(self.text("spam-count"))
        self.assertGreaterEqual(shown, 5)
        # A poll of the page's own (it rewrites status.txt) does not wipe it.
        status_txt = os.path.join(self.app.data_dir, "status.txt")
        before = os.stat(status_txt).st_mtime_ns
        self.app.js("window.dispatchEvent(new Event('focus'))")
        E.wait_until(lambda: os.stat(status_txt).st_mtime_ns != before, what="a page poll")
        E.wait_until(lambda: self.app.status_file() is not None, what="status written")
        self.assertEqual(int(self.text("spam-count")), shown)
        self.assertIn("in ", self.text("spam-time"))

    def test_a_hotkey_start_and_stop_are_announced_to_the_page(self):
        # A tool started away from the page is announced by the program, so
        # the page shows it at once rather than at its slow idle poll.
        self.app.bridge("updateSpammer", "0,0,0,50,0,0,1,10,0")
        self.app.js("window.__announced = 0; window.__ownAnnounce = window.onTrackerStatusChanged;"
                    "window.onTrackerStatusChanged = function () { window.__announced++; window.__ownAnnounce(); };")
        announced = lambda: self.app.js("return window.__announced")  # noqa: E731
        try:
            self.app.sim.tap(self.app.keyboard, E.KEY["F6"])
            E.wait_until(lambda: self.status()["autoClicking"], what="started by the hotkey")
            E.wait_until(lambda: announced() >= 1, what="start announced")
            E.wait_until(lambda: self.text("spam-go-text") == "Stop clicking", what="page shows it running")
            seen = announced()
            self.app.sim.tap(self.app.keyboard, E.KEY["F6"])
            E.wait_until(lambda: not self.status()["autoClicking"], what="stopped by the hotkey")
            E.wait_until(lambda: announced() > seen, what="stop announced")
            E.wait_until(lambda: self.text("spam-go-text") == "Start clicking", what="page shows it stopped")
            # The hotkey lock flipping away from the page is announced too.
            seen = announced()
            self.app.bridge("setAppSetting", "hotkeyLock", "1")
            self.app.sim.tap(self.app.keyboard, E.KEY["F10"])
            E.wait_until(lambda: announced() > seen, what="lock change announced")
        finally:
            self.app.bridge("setAppSetting", "hotkeyLock", "0")
            self.app.js("window.onTrackerStatusChanged = window.__ownAnnounce;")

    def test_profile_names_refuse_characters_as_typed(self):
        self.type_into("prof-name", 'a,b"c')
        E.wait_until(lambda: self.shown("prof-name-error"), what="characters named")
        self.assertIn(', "', self.text("prof-name-error"))
        self.click("#prof-add")
        self.type_into("prof-name", "Work")
        E.wait_until(lambda: not self.shown("prof-name-error"), what="message gone")
        self.click("#prof-add")
        E.wait_until(lambda: "Work" in self.status()["profiles"]["names"], what="profile added")
        self.assertNotIn("abc", self.status()["profiles"]["names"], "the bad name was never added")


if __name__ == "__main__":
    unittest.main(verbosity=2)
