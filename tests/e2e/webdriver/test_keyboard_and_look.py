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

    def test_wide_layout_has_no_empty_band_and_narrow_numbers_clear_their_units(self):
        self.resize(1600, 1000)
        self.app.js("window.scrollTo(0, 0)")
        # Within each column the panels follow one another with only the gap
        # between them; the header starts where the panels do.
        gaps = self.app.js("""
            var cols = {};
            document.querySelectorAll('#panels > .panel').forEach(function (p) {
              var r = p.getBoundingClientRect(); (cols[Math.round(r.left)] = cols[Math.round(r.left)] || []).push(r);
            });
            var worst = 0;
            Object.keys(cols).forEach(function (k) {
              var c = cols[k].sort(function (a, b) { return a.top - b.top; });
              for (var i = 1; i < c.length; i++) worst = Math.max(worst, c[i].top - c[i - 1].bottom);
            });
            var brand = document.querySelector('.brand').getBoundingClientRect().left;
            var first = Math.min.apply(null, Object.keys(cols).map(Number));
            return [Object.keys(cols).length, Math.round(worst), Math.round(Math.abs(brand - first))];""")
        self.assertEqual(gaps[0], 3, gaps)
        self.assertLessEqual(gaps[1], 12, "empty band between panels: %r" % (gaps,))
        self.assertLessEqual(gaps[2], 16, "header not aligned with the panels: %r" % (gaps,))
        # At the minimum width a four-digit interval stays clear of its unit.
        self.resize(300, 560)
        self.app.bridge("updateSpammer", "0,0,0,2500,0,0,1,10,0")
        self.app.js("window.pmrRefreshSettings()")
        E.wait_until(lambda: self.app.by_id("sms").get_attribute("value") == "2500", what="2500 ms shown")
        room = self.app.js("""
            var input = document.getElementById('sms'), unit = input.nextElementSibling, cs = getComputedStyle(input);
            var ctx = document.createElement('canvas').getContext('2d'); ctx.font = cs.font;
            var textRight = input.getBoundingClientRect().left + parseFloat(cs.paddingLeft) + parseFloat(cs.borderLeftWidth) +
                            ctx.measureText(input.value).width;
            return unit.getBoundingClientRect().left - textRight;""")
        self.assertGreater(room, 2, "the value runs into its unit")
        self.app.bridge("updateSpammer", "0,0,0,100,0,0,1,10,0")
        self.resize(420, 560)


if __name__ == "__main__":
    unittest.main(verbosity=2)
