"""The auto clicker's jitter, typed fixed spot and click sequence controls in
the real program's page: what is typed reaches the program (settings JSON),
the page shows the pause range a jitter gives, and the sequence editor adds,
reorders and deletes points."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402

from selenium.webdriver.common.keys import Keys  # noqa: E402


class ClickerExtras(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.main_page_app()

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    def setUp(self):
        self.app.bridge("updateSpammer", "0,0,0,100,0,0,1,10,0")
        self.app.bridge("updateKeySpam", "0,0,0,300,1,10")
        self.app.bridge("updateJitter", "0,0,0")
        self.app.bridge("setClickSequence", "")
        self.app.js("window.pmrRefreshSettings();")

    def settings(self):
        return self.app.bridge("getSettings")["ok"]

    def text(self, element_id):
        return self.app.by_id(element_id).text

    def type_into(self, element_id, text):
        field = self.app.by_id(element_id)
        self.app.js("arguments[0].scrollIntoView({block: 'center'})", field)
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(text)
        field.send_keys(Keys.TAB)

    def click(self, element_id):
        el = self.app.by_id(element_id)
        self.app.js("arguments[0].scrollIntoView({block: 'center'})", el)
        el.click()

    def test_jitter_fields_reach_the_tools_and_show_their_range(self):
        self.type_into("jitter-ms", "7")
        E.wait_until(lambda: self.settings()["jitterMs"] == 7, what="click jitter stored")
        E.wait_until(lambda: "93\u2013107 ms" in self.text("jitter-range"), what="range 93-107 ms shown")
        self.type_into("jitter-radius", "12")
        E.wait_until(lambda: self.settings()["jitterRadius"] == 12, what="radius stored")
        E.wait_until(lambda: "12 px" in self.text("jitter-range"), what="radius shown")
        self.type_into("ks-jitter-ms", "500")
        # 300 ms with 500 ms of jitter: the jitter shrinks to keep pauses of 1 ms or more.
        E.wait_until(lambda: self.settings()["ksJitterMs"] == 500, what="key jitter stored")
        E.wait_until(lambda: "1\u2013599 ms" in self.text("ks-jitter-range"), what="key range shown")
        # A refused value is marked and never sent.
        self.type_into("jitter-ms", "-5")
        self.assertEqual(self.app.by_id("jitter-ms").get_attribute("aria-invalid"), "true")
        self.assertEqual(self.settings()["jitterMs"], 7)

    def test_typed_fixed_spot(self):
        self.app.js("var r = document.querySelector('input[name=loc][value=\"1\"]'); r.click();")
        E.wait_until(lambda: self.app.by_id("fixed-xy").is_displayed(), what="X and Y fields shown")
        self.type_into("fixed-x", "640")
        self.type_into("fixed-y", "-20")
        E.wait_until(lambda: (self.settings()["fixedX"], self.settings()["fixedY"]) == (640, -20), what="spot stored")
        self.assertEqual(self.settings()["locMode"], 1)
        E.wait_until(lambda: "x 640, y -20" in self.text("loc-hint"), what="hint names the spot")

    def test_sequence_editor_adds_reorders_and_deletes(self):
        self.app.js("document.querySelector('input[name=loc][value=\"2\"]').click();")
        E.wait_until(lambda: self.app.by_id("seq-editor").is_displayed(), what="sequence editor shown")
        E.wait_until(lambda: self.settings()["locMode"] == 2, what="sequence selected")
        # Starting with no points says what is missing instead of starting.
        self.click("spam-go")
        E.wait_until(lambda: "Add a point" in self.text("spam-error"), what="empty sequence refused")
        for i in range(3):
            self.click("seq-add")
            E.wait_until(lambda: len(self.settings()["sequence"]) == i + 1, what="point %d stored" % (i + 1))
        self.type_into("seq-0-x", "100")
        self.type_into("seq-1-x", "200")
        self.type_into("seq-2-x", "300")
        E.wait_until(lambda: [p["x"] for p in self.settings()["sequence"]] == [100, 200, 300], what="x typed")
        sel = self.app.by_id("seq-1-button")
        self.app.js("arguments[0].value = '1'; arguments[0].dispatchEvent(new Event('change'));", sel)
        sel = self.app.by_id("seq-1-clicks")
        self.app.js("arguments[0].value = '2'; arguments[0].dispatchEvent(new Event('change'));", sel)
        self.type_into("seq-1-pause", "250")
        E.wait_until(lambda: self.settings()["sequence"][1] == {"x": 200, "y": 0, "button": 1, "clicks": 2, "pause": 250},
                     what="point 2 edited")
        # Point 3 up, then point 1 deleted.
        self.app.js("document.querySelector('[aria-label=\"Move point 3 up\"]').click();")
        E.wait_until(lambda: [p["x"] for p in self.settings()["sequence"]] == [100, 300, 200], what="reordered")
        self.app.js("document.querySelector('[aria-label=\"Delete point 1\"]').click();")
        E.wait_until(lambda: [p["x"] for p in self.settings()["sequence"]] == [300, 200], what="deleted")
        self.assertEqual(self.app.js("return document.querySelectorAll('#seq-list li').length"), 2)
        self.assertIn("passes", self.app.by_id("rptTimes").get_attribute("aria-label"))

    def status(self):
        return self.app.bridge("getTrackerStatus")["ok"]

    def test_measured_rate_while_running_and_the_timing_test(self):
        self.app.bridge("updateSpammer", "0,0,0,50,0,0,1,10,0")
        self.app.bridge("startSpammer")
        try:
            E.wait_until(lambda: self.app.by_id("spam-measured").is_displayed(), 30, what="measured rate shown")
            text = self.text("spam-measured")
            self.assertTrue(text.startswith("Measured: "), text)
            # 50 ms pauses: at most 20 clicks a second, whatever the machine.
            self.assertLessEqual(float(text.split()[1]), 20.0)
            self.assertTrue(self.app.by_id("timing-go").get_attribute("disabled"), "no test while clicking")
        finally:
            self.app.bridge("stopSpammer")
        E.wait_until(lambda: not self.status()["autoClicking"], what="stopped")
        E.wait_until(lambda: not self.app.by_id("spam-measured").is_displayed(), what="rate hidden when stopped")

        E.wait_until(lambda: not self.app.by_id("timing-go").get_attribute("disabled"), what="test offered")
        self.click("timing-go")
        E.wait_until(lambda: self.app.by_id("timing-result").is_displayed(), 60, what="timing result")
        result = self.app.bridge("getTimingTest")["ok"]
        self.assertEqual(result["state"], "done")
        self.assertEqual(sum(result["histogram"]), result["samples"])
        self.assertIn("Rate reached", self.text("timing-figures"))
        self.assertIn("p99", self.text("timing-figures"))
        self.assertIn("Tested %d pauses of 50 ms" % result["samples"], self.text("timing-note"))
        bars = self.app.js("return Array.prototype.map.call(document.querySelectorAll('#timing-chart rect'),"
                           " function (r) { return Number(r.getAttribute('height')); })")
        self.assertEqual(len(bars), len(result["histogram"]))
        # The tallest bar is the fullest bucket; empty buckets draw nothing.
        self.assertEqual(bars.index(max(bars)), result["histogram"].index(max(result["histogram"])))
        self.assertEqual([b == 0 for b in bars], [n == 0 for n in result["histogram"]])


if __name__ == "__main__":
    unittest.main()
