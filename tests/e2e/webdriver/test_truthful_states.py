"""The main page shows only what is true: nothing hidden stays on screen, a
finished run shows its final count, the start countdown is in the header,
Play needs a recording and stale notes go, the pause between loops is not
called playing, and the profile buttons do what they say in fixed places."""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402

# Every element carrying the hidden attribute, or inside one, that still
# takes up room on screen.
SHOWN_BUT_HIDDEN_JS = r"""
var bad = [];
document.querySelectorAll('[hidden]').forEach(function (h) {
  [h].concat(Array.prototype.slice.call(h.querySelectorAll('*'))).forEach(function (e) {
    if (e.getClientRects().length) bad.push(e.id || e.className || e.tagName);
  });
});
return bad;
"""


class TruthfulStates(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.main_page_app()

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    def setUp(self):
        self.app.bridge("stopSpammer")
        self.app.bridge("stopKeySpam")
        E.wait_until(lambda: not self.status()["autoClicking"] and not self.status()["keySpamming"],
                     what="tools stopped")
        self.app.js("document.getElementById('start-delay').value = '0'; window.scrollTo(0, 0);")

    def status(self):
        return self.app.bridge("getTrackerStatus")["ok"]

    def text(self, element_id):
        return self.app.js("return document.getElementById(arguments[0]).textContent", element_id)

    def shown(self, element_id):
        return self.app.js("var e = document.getElementById(arguments[0]); return !!e && e.getClientRects().length > 0",
                           element_id)

    def click(self, selector):
        self.app.js("var e = document.querySelector(arguments[0]); e.scrollIntoView({block: 'center'}); e.click();",
                    selector)

    def record_one_key(self):
        before = self.status()["count"]
        self.app.sim.tap(self.app.keyboard, E.KEY["F8"])
        E.wait_until(lambda: self.status()["state"] == "Recording", what="recording")
        self.app.sim.tap(self.app.keyboard, E.KEY["A"])
        E.wait_until(lambda: self.status()["count"] >= before + 2, what="A recorded")
        self.app.sim.tap(self.app.keyboard, E.KEY["F8"])
        E.wait_until(lambda: self.status()["state"] == "Idle", what="recording ended")

    def test_a_hidden_element_is_never_on_screen(self):
        # On a fresh start no question about a macro file is open, and no
        # leftover box, button or message of one shows anywhere.
        self.assertEqual(self.app.js(SHOWN_BUT_HIDDEN_JS), [])
        self.assertFalse(self.shown("macro-ask"))
        self.assertFalse(self.shown("macro-ask-yes"), "Tab must not stop on a button of a closed question")
        # The same holds with other boxes shown and hidden again.
        self.click("#spam-go")
        E.wait_until(lambda: self.status()["autoClicking"], what="clicker running")
        self.click("#spam-go")
        E.wait_until(lambda: not self.status()["autoClicking"], what="stopped")
        self.assertEqual(self.app.js(SHOWN_BUT_HIDDEN_JS), [])

    def test_a_finished_run_shows_its_final_count(self):
        # Runs at 0 ms end between two polls of the page: the count shown is
        # what the tool did, never the last number a poll happened to see.
        cases = [
            ("spam", "updateSpammer", "0,0,0,0,0,0,0,300,0", "clickRuns", "F6", 300, "last run: clicks"),
            ("ks", "updateKeySpam", "0,0,0,0,0,150", "keyPressRuns", "F9", 150, "last run: key presses"),
        ]
        for tool, update, fields, runs_key, hotkey, times, label in cases:
            with self.subTest(tool=tool):
                self.app.bridge(update, fields)
                before = self.status()[runs_key]
                self.app.sim.tap(self.app.keyboard, E.KEY[hotkey])
                E.wait_until(lambda: self.status()[runs_key] == before + 1, what="%s run finished" % tool)
                E.wait_until(lambda: self.text(tool + "-count") == str(times),
                             what="%s final count shown, not %r" % (tool, self.text(tool + "-count")))
                self.assertEqual(self.text(tool + "-count-label"), label)
                self.assertEqual(self.status()["last" + ("Clicks" if tool == "spam" else "KeyPresses")], times)
        self.app.bridge("updateSpammer", "0,0,0,100,0,0,1,10,0")
        self.app.bridge("updateKeySpam", "0,0,0,100,1,10")

    def test_the_start_countdown_shows_in_the_header(self):
        self.app.js("document.getElementById('start-delay').value = '5'")
        self.click("#spam-go")
        E.wait_until(lambda: "Starting in" in self.text("spam-go-text"), what="countdown in the button")
        E.wait_until(lambda: "starts in" in self.text("state-text"), what="countdown in the header")
        self.assertNotEqual(self.text("state-text"), "Idle")
        self.click("#spam-go")
        E.wait_until(lambda: self.text("state-text") == "Idle", what="header idle after cancelling")
        self.assertFalse(self.status()["autoClicking"])

    def test_play_needs_a_recording_and_notes_that_no_longer_apply_go(self):
        self.app.bridge("clearProfile")
        E.wait_until(lambda: self.status()["count"] == 0, what="nothing recorded")
        E.wait_until(lambda: self.app.js("return document.getElementById('play-go').disabled"), what="Play disabled")
        self.assertIn("record", self.app.by_id("play-go").get_attribute("title"))
        # The Play hotkey still explains, in the panel.
        self.app.sim.tap(self.app.keyboard, E.KEY["F7"])
        E.wait_until(lambda: "Nothing to play yet" in self.text("macro-note"), what="note shown")
        self.record_one_key()
        E.wait_until(lambda: self.text("macro-note") == "", what="note gone after recording")
        E.wait_until(lambda: not self.app.js("return document.getElementById('play-go').disabled"), what="Play enabled")

        # The pause between loops is not a pass being played.
        self.app.bridge("updateRecorder", ",,,,,,1,600000")
        self.click("#play-go")
        E.wait_until(lambda: self.status()["state"] == "Playing", what="playing")
        E.wait_until(lambda: self.status()["playLoop"] == 2 and self.status()["playDone"] == 0, what="pause")
        E.wait_until(lambda: "pausing before loop 2" in self.text("play-progress"),
                     what="pause shown, not %r" % self.text("play-progress"))
        self.assertNotIn("Playing 0", self.text("play-progress"))
        # The hint names what the button says.
        self.assertEqual(self.text("play-go"), "Stop")
        self.assertIn("Stop", self.text("rec-hint"))
        self.assertNotIn("leave", self.text("rec-hint"))
        self.click("#play-go")
        E.wait_until(lambda: self.status()["state"] == "Idle", what="stopped")
        self.app.bridge("updateRecorder", ",,,,,,0,500")

    def test_profile_buttons_do_what_they_say_in_fixed_places(self):
        def boxes():
            # Each button's box, its top measured from the name field above.
            return self.app.js("var base = document.getElementById('prof-add-form').getBoundingClientRect().bottom;"
                               "return ['prof-clear', 'prof-delete'].map(function (id) {"
                               " var r = document.getElementById(id).getBoundingClientRect();"
                               " return [Math.round(r.left), Math.round(r.top - base), Math.round(r.width)]; })")

        E.wait_until(lambda: self.status()["profiles"]["current"] == 0, what="default profile current")
        if not self.status()["count"]:
            self.record_one_key()
        recorded = self.status()["count"]
        E.wait_until(lambda: self.app.js("return document.getElementById('prof-delete').disabled"),
                     what="the default profile cannot be deleted")
        self.assertEqual(self.text("prof-delete"), "Delete profile")
        self.assertTrue(self.shown("prof-delete-why"))
        self.assertIn("Default", self.app.js("return document.querySelector('#profiles [aria-current=true] .name')"
                                             ".textContent"))
        self.assertNotIn("Tracking", self.app.js("return document.getElementById('profiles').textContent"))
        self.assertFalse(re.match(r"^\d+ of \d+$", self.text("prof-sub")), self.text("prof-sub"))
        self.click("#prof-delete")
        self.click("#prof-delete")
        self.assertEqual(self.status()["count"], recorded, "Delete on the default profile clears nothing")
        places = boxes()

        self.app.bridge("addProfile", "Work")
        E.wait_until(lambda: self.status()["profiles"]["currentName"] == "Work", what="Work current")
        E.wait_until(lambda: not self.app.js("return document.getElementById('prof-delete').disabled"),
                     what="Delete available")
        self.assertFalse(self.shown("prof-delete-why"))
        self.click("#prof-delete")
        E.wait_until(lambda: "again" in self.text("prof-delete"), what="asks to confirm")
        self.assertEqual(boxes(), places, "the buttons keep their places")
        self.click("#prof-delete")
        E.wait_until(lambda: "Work" not in self.status()["profiles"]["names"], what="Work deleted")

        # Clear does what it says on the default profile.
        E.wait_until(lambda: self.status()["profiles"]["current"] == 0, what="back on the default profile")
        self.assertEqual(boxes(), places)
        self.click("#prof-clear")
        self.click("#prof-clear")
        E.wait_until(lambda: self.status()["count"] == 0, what="recording cleared")


if __name__ == "__main__":
    unittest.main(verbosity=2)
