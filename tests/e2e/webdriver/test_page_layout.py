"""The main page at the window sizes people use: no sideways scrolling, the
header always on screen, the panels in one to three columns, every text at
least 4.5:1 against its background, the window's minimum size and its icon."""
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402
import page_checks as C  # noqa: E402

WIDTHS = [(300, 560, 1), (420, 560, 1), (800, 700, 2), (1600, 900, 3)]


class PageLayout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.main_page_app()

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    def status(self):
        return self.app.bridge("getTrackerStatus")["ok"]

    def resize(self, width, height):
        self.app.bridge("resizeWindow", "%d,%d" % (width, height))
        E.wait_until(lambda: self.app.js("return [window.innerWidth, window.innerHeight]") == [width, height],
                     what="window at %dx%d" % (width, height))

    def busy_everything(self):
        """Recording, clicking and pressing keys at once: the longest status."""
        self.app.bridge("updateSpammer", "0,0,1,0,0,0,1,10,0")
        self.app.bridge("updateKeySpam", "0,0,1,0,1,10")
        self.app.bridge("startSpammer")
        self.app.bridge("startKeySpam")
        self.app.sim.tap(self.app.keyboard, E.KEY["F8"])
        E.wait_until(lambda: "Recording · Clicking · Pressing keys" ==
                     self.app.js("return document.getElementById('state-text').textContent"), what="three states shown")

    def stop_everything(self):
        self.app.sim.tap(self.app.keyboard, E.KEY["F8"])
        self.app.bridge("stopSpammer")
        self.app.bridge("stopKeySpam")
        E.wait_until(lambda: self.status()["state"] == "Idle" and not self.status()["autoClicking"]
                     and not self.status()["keySpamming"], what="all stopped")
        self.app.bridge("updateSpammer", "0,0,0,100,0,0,1,10,0")
        self.app.bridge("updateKeySpam", "0,0,0,100,1,10")

    def test_widths_fit_keep_the_header_and_use_columns(self):
        self.busy_everything()
        try:
            for width, height, columns in WIDTHS:
                with self.subTest(width=width):
                    self.resize(width, height)
                    self.app.js("window.scrollTo(0, 0)")
                    o = self.app.js(C.OVERFLOW_JS)
                    print("width %d: scrollWidth %d, clientWidth %d" % (width, o["scrollWidth"], o["clientWidth"]))
                    self.assertLessEqual(o["scrollWidth"], o["clientWidth"], o)
                    self.assertEqual(o["bad"], [], "elements past the edge at %d px" % width)
                    self.assertEqual(self.app.js(C.COLUMNS_JS), columns)
                    # The status pill wraps inside the header instead of clipping.
                    pill = self.app.js("var r = document.getElementById('state-pill').getBoundingClientRect();"
                                       "return [r.left, r.right];")
                    self.assertGreaterEqual(pill[0], 0)
                    self.assertLessEqual(pill[1], width)
                    # Inputs keep a sensible width on wide windows.
                    self.assertLessEqual(self.app.js("return document.getElementById('sms').getBoundingClientRect().width"), 120)
                    # After scrolling to the end the header is still at the top.
                    self.app.js("window.scrollTo(0, document.documentElement.scrollHeight)")
                    E.wait_until(lambda: self.app.js(
                        "return window.scrollY >= document.documentElement.scrollHeight - window.innerHeight - 1"),
                        what="scrolled to the end")
                    top = self.app.js("var r = document.querySelector('header.top').getBoundingClientRect();"
                                      "return [r.top, r.bottom, window.scrollY];")
                    self.assertEqual(top[0], 0, "header top at scroll %d" % top[2])
                    self.assertGreater(top[1], 20)
                    if width <= 420:
                        self.assertGreater(top[2], 500, "the page is long enough to test the header")
                    self.app.js("window.scrollTo(0, 0)")
        finally:
            self.stop_everything()

    def test_contrast_of_every_text(self):
        self.resize(420, 560)
        # Idle, then with the running states' colours on screen.
        idle = self.app.js(C.CONTRAST_JS)
        self.app.bridge("startSpammer")
        E.wait_until(lambda: "Stop" in self.app.js("return document.getElementById('spam-go-text').textContent"),
                     what="running state shown")
        # Measured once the button has finished turning red (its background transitions).
        E.wait_until(lambda: "rgb(240, 77, 104)" in self.app.js(
            "return getComputedStyle(document.getElementById('spam-go')).backgroundImage"), what="stop colours")
        running = self.app.js(C.CONTRAST_JS)
        self.app.bridge("stopSpammer")
        E.wait_until(lambda: not self.status()["autoClicking"], what="clicker stopped")
        for name, found in (("idle", idle), ("running", running)):
            self.assertGreater(len(found), 40, "texts measured")
            print("contrast %s: lowest %.2f:1 (%s, %s)" % (name, found[0]["ratio"], found[0]["text"], found[0]["size"]))
            low = [f for f in found if f["ratio"] < 4.5]
            self.assertEqual(low, [], "texts below 4.5:1 (%s)" % name)

    def test_current_profile_radio_shows_its_state(self):
        E.wait_until(lambda: self.app.js("return document.querySelectorAll('#profiles .radio').length") >= 1,
                     what="profile list")
        dots = self.app.js("""
            return Array.prototype.map.call(document.querySelectorAll('#profiles button'), function (b) {
              return [b.getAttribute('aria-current'), getComputedStyle(b.querySelector('.radio'), '::after').backgroundColor];
            });""")
        current = [d[1] for d in dots if d[0] == "true"]
        # The accent of the look in use (light or dark, as the desktop prefers).
        accent = {"dark": "rgb(124, 140, 255)", "light": "rgb(53, 69, 200)"}[
            self.app.js("return document.documentElement.getAttribute('data-theme')")]
        self.assertEqual(current, [accent], dots)

    def test_window_minimum_size_and_icon(self):
        self.resize(420, 560)
        # Asking for less than the minimum gives the minimum.
        self.app.bridge("resizeWindow", "200,200")
        E.wait_until(lambda: self.app.js("return [window.innerWidth, window.innerHeight]") == [300, 360],
                     what="window held at 300x360")
        o = self.app.js(C.OVERFLOW_JS)
        self.assertLessEqual(o["scrollWidth"], o["clientWidth"], o)
        self.assertEqual(o["bad"], [])
        ids = subprocess.run(["xdotool", "search", "--name", "^Pellomar"], capture_output=True, text=True).stdout.split()
        props = [subprocess.run(["xprop", "-len", "400000", "-id", i, "_NET_WM_ICON", "WM_NORMAL_HINTS"], capture_output=True, text=True).stdout
                 for i in ids]
        with_icon = [p for p in props if "_NET_WM_ICON(CARDINAL) = " in p]
        self.assertTrue(with_icon, "no window with _NET_WM_ICON among %d" % len(props))
        # The shipped sizes are on the window (xprop shows up to its length limit).
        for size in (16, 32, 48, 128):
            self.assertTrue("Icon (%d x %d)" % (size, size) in with_icon[0], "no %d px icon" % size)
        self.assertIn("minimum size: 300 by 360", with_icon[0][with_icon[0].find("WM_NORMAL_HINTS"):])
        self.resize(420, 560)

    def test_a_screenshots_at_each_width(self):
        out = E.screenshot_dir()
        for width, height, _ in WIDTHS:
            self.resize(width, height)
            self.app.js("window.scrollTo(0, 0)")
            path = os.path.join(out, "main-page-%d.png" % width)
            self.assertTrue(self.app.driver.save_screenshot(path))
            self.assertGreater(os.path.getsize(path), 5000)
        self.resize(420, 560)


if __name__ == "__main__":
    unittest.main(verbosity=2)
