"""Hold to run, turbo, hotkey combinations and the panic stop through the
page of the real program: each switch is clicked as a user would, and the
behaviour it turns on is then checked with keys and buttons pressed on the
simulated devices (what reaches the desktop from the twins and from the
program's injection device)."""
import os
import sys
import time
import unittest

from selenium.webdriver.support.ui import Select

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402

KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_SPACE = 29, 42, 54, 57


class HoldControls(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.main_page_app()
        E.wait_until(lambda: cls.app.sim.node_by_phys("pmr-inject") is not None, 30, what="injection device")
        E.wait_until(lambda: any(n["node"] == cls.app.mouse and n["checked"] for n in cls.app.sim.nodes()),
                     30, what="mouse grabbed")

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    # --- helpers ------------------------------------------------------------
    def status(self):
        return self.app.bridge("getTrackerStatus")["ok"]

    def settings(self):
        return self.app.bridge("getSettings")["ok"]

    def seq(self):
        return int(self.app.sim.ok("seq")[0])

    def seen(self, since, phys, code):
        """(value) of the key or button events with `code` the desktop got
        from devices whose phys is `phys` after `since`."""
        _, rows = self.app.sim.ok("desktop %d" % since)
        out = []
        for row in rows:
            f = row.split("\t")
            if f[7] == phys and int(f[3]) == E.EV_KEY and int(f[4]) == code:
                out.append(int(f[5]))
        return out

    def switch(self, element_id, key, on=True):
        """Clicks a switch of the page until it is `on`, and waits until the
        program's settings say so."""
        if self.app.js("return document.getElementById(arguments[0]).checked", element_id) != on:
            self.app.js("document.getElementById(arguments[0]).click()", element_id)
        E.wait_until(lambda: self.settings()[key] is on, what="%s %s" % (key, on))

    def held_on_injection(self):
        """Key and button codes held down on the program's injection device."""
        _, rows = self.app.sim.ok("nodes")
        for row in rows:
            f = row.split("\t")
            if len(f) >= 12 and f[1] == "1" and f[10] == "pmr-inject":
                return [int(c) for c in f[8].split(",") if c]
        return None

    # --- tests --------------------------------------------------------------
    def test_1_hold_to_run_switches(self):
        app = self.app
        app.bridge("updateSpammer", "0,0,0,10,0,0,1,10,0")
        app.bridge("updateKeySpam", "0,0,0,10,1,10")
        self.switch("hold-auto", "holdAuto")
        self.switch("hold-keyspam", "holdKeySpam")
        cases = [("F6", "autoClicking", "pmr-inject", E.BTN_LEFT), ("F9", "keySpamming", "pmr-inject", KEY_SPACE)]
        for key, running, phys, code in cases:
            with self.subTest(key):
                mark = self.seq()
                app.sim.key(app.keyboard, E.KEY[key], 1)
                E.wait_until(lambda: self.seen(mark, phys, code).count(0) >= 3, what="%s: actions while held" % key)
                self.assertTrue(self.status()[running])
                app.sim.key(app.keyboard, E.KEY[key], 0)
                E.wait_until(lambda: not self.status()[running], what="%s: stopped at the release" % key)
                time.sleep(0.2)
                values = self.seen(mark, phys, code)
                self.assertEqual(values.count(1), values.count(0), values)
                self.assertEqual(self.held_on_injection(), [])
                self.assertEqual(self.seen(mark, "pmr-twin", E.KEY[key]), [], "the hotkey is swallowed")
        self.switch("hold-auto", "holdAuto", False)
        self.switch("hold-keyspam", "holdKeySpam", False)

    def test_2_turbo_switch(self):
        app = self.app
        app.bridge("updateSpammer", "0,0,0,10,0,0,1,10,0")
        self.switch("turbo-auto", "turbo")
        app.bridge("startSpammer")
        E.wait_until(lambda: self.status()["autoClicking"], what="armed")
        mark = self.seq()
        app.sim.key(app.mouse, E.BTN_LEFT, 1)
        E.wait_until(lambda: self.seen(mark, "pmr-inject", E.BTN_LEFT).count(0) >= 5, what="turbo clicks")
        app.sim.key(app.mouse, E.BTN_LEFT, 0)
        time.sleep(0.2)
        count = len(self.seen(mark, "pmr-inject", E.BTN_LEFT))
        time.sleep(0.2)
        self.assertEqual(len(self.seen(mark, "pmr-inject", E.BTN_LEFT)), count, "nothing after the release")
        self.assertEqual(self.seen(mark, "pmr-twin", E.BTN_LEFT), [], "the real button is swallowed")
        app.bridge("stopSpammer")
        E.wait_until(lambda: not self.status()["autoClicking"], what="stopped")
        self.switch("turbo-auto", "turbo", False)

    def test_3_combination_names_in_the_page(self):
        app = self.app
        app.js("document.querySelector('button.reassign[data-kind=\"auto\"]').click()")
        E.wait_until(lambda: self.status()["reassigning"] == "auto", what="waiting for a key")
        mark = self.seq()
        app.sim.key(app.keyboard, KEY_LEFTCTRL, 1)
        app.sim.key(app.keyboard, KEY_LEFTSHIFT, 1)
        app.sim.tap(app.keyboard, E.KEY["F7"])
        app.sim.key(app.keyboard, KEY_LEFTSHIFT, 0)
        app.sim.key(app.keyboard, KEY_LEFTCTRL, 0)
        E.wait_until(lambda: self.status()["hkAuto"] == "Ctrl+Shift+F7", what="the combination is the hotkey")
        E.wait_until(lambda: app.js("return document.querySelector('[data-hk=\"hkAuto\"]').textContent")
                     == "Ctrl+Shift+F7", what="the page names it")
        # The modifiers reached the desktop; F7 went nowhere.
        self.assertEqual(self.seen(mark, "pmr-twin", KEY_LEFTCTRL), [1, 0])
        self.assertEqual(self.seen(mark, "pmr-twin", KEY_LEFTSHIFT), [1, 0])
        self.assertEqual(self.seen(mark, "pmr-twin", E.KEY["F7"]), [])
        app.js("document.getElementById('reset-hotkeys').click()")
        E.wait_until(lambda: self.status()["hkAuto"] == "F6", what="reset")

    def test_4_panic_combination_and_notice(self):
        app = self.app
        self.assertTrue(app.js("return document.getElementById('panic-note').hidden"))
        Select(app.by_id("panic-combo")).select_by_value("2")
        E.wait_until(lambda: self.settings()["panicCombo"] == 2, what="Esc three times")
        app.bridge("updateKeySpam", "0,0,0,10,1,10")
        # Locked, and the key spammer started from the page.
        app.sim.tap(app.keyboard, E.KEY["F10"])
        E.wait_until(lambda: not self.status()["unlocked"], what="locked")
        # The lock's own stop request may still be on its way: ask until the
        # spammer runs (a start while running does nothing).
        E.wait_until(lambda: app.bridge("startKeySpam") is not None and self.status()["keySpamming"],
                     what="spamming")
        for _ in range(3):
            app.sim.tap(app.keyboard, E.KEY["ESC"])
        E.wait_until(lambda: not self.status()["keySpamming"], what="panic stop")
        self.assertEqual(self.status()["panicStops"], 1)
        self.assertEqual(self.held_on_injection(), [])
        E.wait_until(lambda: not app.js("return document.getElementById('panic-note').hidden"), what="notice shown")
        self.assertIn("Panic stop", app.js("return document.getElementById('panic-note-text').textContent"))
        app.js("document.getElementById('panic-note-close').click()")
        self.assertTrue(app.js("return document.getElementById('panic-note').hidden"))
        app.sim.tap(app.keyboard, E.KEY["F10"])
        E.wait_until(lambda: self.status()["unlocked"], what="unlocked")
        Select(app.by_id("panic-combo")).select_by_value("1")
        E.wait_until(lambda: self.settings()["panicCombo"] == 1, what="both Shift keys")


if __name__ == "__main__":
    unittest.main(verbosity=2)
