"""Every number field refuses what is out of range at the field and never
shows a value other than the one in use; the interval shows its rate, an
interval under 10 ms is asked about once, and a refused value does not
outlive a profile switch."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402

from selenium.webdriver.common.keys import Keys  # noqa: E402

# field, its message element, its key in the settings JSON, the value in use
# set before each case, and refused texts.
CASES = [
    ("sms", "spam-interval-error", "sms", 250, ["-50", "5.5", "99999999"]),
    ("ksms", "ks-interval-error", "ksms", 300, ["-1", "0.5", "1000001"]),
    ("loop-ms", "loop-ms-error", "tloopMs", 500, ["-50", "2.5", "999999999"]),
    ("play-speed", "play-speed-error", "tspd", 1, ["0", "-3", "99999", "0.01"]),
]


class NumberFields(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.main_page_app()

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    def setUp(self):
        self.app.bridge("updateSpammer", "0,0,0,250,0,0,1,10,0")
        self.app.bridge("updateKeySpam", "0,0,0,300,1,10")
        self.app.bridge("updateRecorder", ",,,,,1,0,500")
        # The page takes the values set here before each case.
        self.app.js("if (window.pmrRefreshSettings) window.pmrRefreshSettings();"
                    "else window.dispatchEvent(new Event('focus'));")

    def settings(self):
        return self.app.bridge("getSettings")["ok"]

    def value(self, element_id):
        return self.app.by_id(element_id).get_attribute("value")

    def text(self, element_id):
        return self.app.js("var e = document.getElementById(arguments[0]); return e.closest('[hidden]') ? '' : e.textContent",
                           element_id)

    def type_into(self, element_id, text):
        field = self.app.by_id(element_id)
        self.app.js("arguments[0].scrollIntoView({block: 'center'})", field)
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(text)

    def test_out_of_range_is_refused_and_the_value_in_use_comes_back(self):
        for field, error, key, in_use, refused in CASES:
            E.wait_until(lambda: self.value(field) == str(in_use), what="%s shows %s" % (field, in_use))
            for typed in refused:
                with self.subTest(field=field, typed=typed):
                    self.type_into(field, typed)
                    E.wait_until(lambda: self.text(error), what="message for %r" % typed)
                    self.assertEqual(self.app.by_id(field).get_attribute("aria-invalid"), "true")
                    # Leaving the field puts back the value in use, and says so.
                    self.app.by_id(field).send_keys(Keys.TAB)
                    E.wait_until(lambda: self.value(field) == str(in_use), what="%s back to %s" % (field, in_use))
                    self.assertIn("Still", self.text(error))
                    self.assertEqual(self.app.by_id(field).get_attribute("aria-invalid"), "false")
                    self.assertEqual(self.settings()[key], in_use, "a refused value is never used")

    def test_the_rate_is_shown_and_a_fast_interval_is_asked_once(self):
        E.wait_until(lambda: "about 4 clicks a second" in self.text("spam-rate"), what="rate of 250 ms")
        self.type_into("sms", "5")
        E.wait_until(lambda: self.text("spam-fast-text"), what="question before 5 ms")
        self.assertIn("200 clicks a second", self.text("spam-fast-text"))
        self.assertEqual(self.settings()["sms"], 250, "not used before the answer")
        self.app.js("document.getElementById('spam-fast-no').click()")
        E.wait_until(lambda: self.value("sms") == "250", what="old interval back")
        self.assertEqual(self.settings()["sms"], 250)
        self.type_into("sms", "0")
        E.wait_until(lambda: self.text("spam-fast-text"), what="question before 0 ms")
        self.app.js("document.getElementById('spam-fast-yes').click()")
        E.wait_until(lambda: self.settings()["sms"] == 0, what="0 ms used after yes")
        E.wait_until(lambda: "about 1,000 clicks a second" in self.text("spam-rate"), what="rate of 0 ms")
        # Asked once: another fast interval goes straight out.
        self.type_into("sms", "4")
        self.app.by_id("sms").send_keys(Keys.TAB)
        E.wait_until(lambda: self.settings()["sms"] == 4, what="4 ms used without asking again")
        self.assertEqual(self.text("spam-fast-text"), "")
        E.wait_until(lambda: "about 250 clicks a second" in self.text("spam-rate"), what="rate of 4 ms")

    def test_a_refused_count_does_not_outlive_a_profile_switch(self):
        self.app.js("document.querySelector('input[name=rpt][value=\"0\"]').click()")
        E.wait_until(lambda: self.settings()["rptMode"] == 0, what="Times mode")
        self.type_into("rptTimes", "0")
        E.wait_until(lambda: self.text("rptTimes-error"), what="count refused")
        self.app.bridge("addProfile", "Second")
        E.wait_until(lambda: self.app.bridge("getTrackerStatus")["ok"]["profiles"]["current"] == 1, what="Second")
        E.wait_until(lambda: self.app.js("var b = document.querySelector('#profiles [aria-current=true]');"
                                         "return b && b.dataset.index === '1'"), what="page shows Second")
        self.app.js("document.querySelector('#profiles button[data-index=\"0\"]').click()")
        E.wait_until(lambda: self.app.bridge("getTrackerStatus")["ok"]["profiles"]["current"] == 0, what="back")
        E.wait_until(lambda: self.value("rptTimes") == str(self.settings()["rptTimes"]), what="count in use shown")
        E.wait_until(lambda: self.text("rptTimes-error") == "", what="message gone")
        self.assertEqual(self.app.by_id("rptTimes").get_attribute("aria-invalid"), "false")


if __name__ == "__main__":
    unittest.main(verbosity=2)
