"""Light and dark: the Appearance setting (System / Light / Dark) switches the
page's palette, every visible text keeps a contrast of at least 4.5:1 in
both looks, the choice is stored, and System follows the desktop's
preference. The desktop here prefers dark through GTK's own settings file
(gtk-application-prefer-dark-theme), on a private session bus with no
settings portal, so the program's GTK fallback decides what System means."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402
import page_checks as C  # noqa: E402

# The computed colours of the main pairs, as [r, g, b] lists.
COLOURS_JS = r"""
function rgb(c) { var m = /rgba?\(([^)]+)\)/.exec(c); return m[1].split(/[\s,]+/).slice(0, 3).map(Number); }
var body = getComputedStyle(document.body), panel = document.querySelector('.panel');
var muted = document.querySelector('#panel-ui .switch .txt small');
var btn = document.getElementById('macro-export');
// What lies behind an element: the first ancestor's colour that is not transparent.
function behind(el) {
  for (var e = el; e; e = e.parentElement) {
    var c = getComputedStyle(e).backgroundColor;
    if (c !== 'transparent' && !/rgba\(.*,\s*0\)$/.test(c)) return c;
  }
  return 'rgb(255, 255, 255)';
}
return {theme: document.documentElement.getAttribute('data-theme'),
        bg: rgb(body.backgroundColor), text: rgb(body.color),
        panel: rgb(getComputedStyle(panel).backgroundColor), muted: rgb(getComputedStyle(muted).color),
        btnBg: rgb(behind(btn)), btnText: rgb(getComputedStyle(btn).color)};
"""


def luminance(c):
    def ch(v):
        v /= 255.0
        return v / 12.92 if v <= 0.03928 else ((v + 0.055) / 1.055) ** 2.4
    return 0.2126 * ch(c[0]) + 0.7152 * ch(c[1]) + 0.0722 * ch(c[2])


def contrast(a, b):
    x, y = luminance(a), luminance(b)
    return (max(x, y) + 0.05) / (min(x, y) + 0.05)


class ColorScheme(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.config = tempfile.mkdtemp(prefix="pmr-gtk-")
        os.makedirs(os.path.join(cls.config, "gtk-3.0"))
        with open(os.path.join(cls.config, "gtk-3.0", "settings.ini"), "w") as f:
            f.write("[Settings]\ngtk-application-prefer-dark-theme=1\n")
        # A bus of its own: no settings portal answers, whatever the machine runs.
        cls.bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        address = cls.bus.stdout.readline().strip()
        cls.bus.stdout.close()
        try:
            cls.app = E.App(env={"XDG_CONFIG_HOME": cls.config, "DBUS_SESSION_BUS_ADDRESS": address})
            cls.app.wait_page("panel-ui")
        except Exception:
            cls.bus.terminate()
            cls.bus.wait()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.app.close()
        cls.bus.terminate()
        cls.bus.wait()

    def choose(self, value):
        self.app.js("var r = document.querySelector('input[name=\"color-scheme\"][value=\"%s\"]');"
                    "r.scrollIntoView(); r.nextElementSibling.click();" % value)

    def wait_theme(self, theme):
        # Colours transition; measured once the background has its final value.
        E.wait_until(lambda: self.app.js("return document.documentElement.getAttribute('data-theme')") == theme,
                     what="%s look" % theme)
        last = [None]

        def settled():
            now = self.app.js(COLOURS_JS)
            same = now == last[0]
            last[0] = now
            return same
        E.wait_until(settled, what="colours settled")
        return last[0]

    def check_contrast(self, colours, theme):
        pairs = {"body text on background": (colours["text"], colours["bg"]),
                 "muted text on panel": (colours["muted"], colours["panel"]),
                 "button text": (colours["btnText"], colours["btnBg"])}
        for name, (fg, bg) in pairs.items():
            ratio = contrast(fg, bg)
            print("%s %s: %.2f:1" % (theme, name, ratio))
            self.assertGreaterEqual(ratio, 4.5, "%s: %s" % (theme, name))
        low = [f for f in self.app.js(C.CONTRAST_JS) if f["ratio"] < 4.5]
        self.assertEqual(low, [], "texts below 4.5:1 in the %s look" % theme)

    def test_system_light_dark(self):
        self.assertEqual(self.app.bridge("getAppSettings")["ok"]["desktopDark"], True, "GTK's dark preference read")
        # System (the default) follows the desktop: dark.
        self.assertEqual(self.app.js("return document.querySelector('input[name=\"color-scheme\"]:checked').value"),
                         "system")
        system = self.wait_theme("dark")
        self.check_contrast(system, "dark")

        self.choose("light")
        light = self.wait_theme("light")
        self.assertGreater(luminance(light["bg"]), 0.8, "light background")
        self.assertLess(luminance(light["text"]), 0.05, "dark text")
        self.assertNotEqual(light["panel"], system["panel"])
        self.check_contrast(light, "light")
        E.wait_until(lambda: "\ncolorScheme=light\n" in "\n" + self.app.data_file("appsettings.txt"),
                     what="light stored")

        self.choose("dark")
        dark = self.wait_theme("dark")
        self.assertLess(luminance(dark["bg"]), 0.05, "dark background")
        self.assertGreater(luminance(dark["text"]), 0.8, "light text")
        self.check_contrast(dark, "dark")
        self.assertEqual(self.app.bridge("getAppSettings")["ok"]["colorScheme"], "dark")

        # Back to System: the desktop's dark again, then a change the program
        # pushes is followed, and a chosen look ignores it.
        self.choose("system")
        self.assertEqual(self.wait_theme("dark"), dark)
        self.app.js("window.onDesktopColorScheme(false)")
        self.wait_theme("light")
        self.choose("dark")
        self.wait_theme("dark")
        self.app.js("window.onDesktopColorScheme(false)")
        self.assertEqual(self.app.js("return document.documentElement.getAttribute('data-theme')"), "dark")
        self.choose("system")
        E.wait_until(lambda: self.app.bridge("getAppSettings")["ok"]["colorScheme"] == "system", what="system stored")

    def test_z_screenshots_in_both_looks(self):
        self.app.bridge("resizeWindow", "800,720")
        E.wait_until(lambda: self.app.js("return window.innerWidth") == 800, what="window at 800 px")
        try:
            for look in ("light", "dark"):
                self.choose(look)
                self.wait_theme(look)
                self.app.js("window.scrollTo(0, 0)")
                path = os.path.join(E.screenshot_dir(), "main-page-%s.png" % look)
                self.assertTrue(self.app.driver.save_screenshot(path))
                self.assertGreater(os.path.getsize(path), 10000)
        finally:
            self.choose("system")

if __name__ == "__main__":
    unittest.main()
