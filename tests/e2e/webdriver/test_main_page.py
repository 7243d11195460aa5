"""The main page of the real program, driven through WebKitWebDriver while the
program runs against the simulated input subsystem."""
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402

from selenium.webdriver.common.action_chains import ActionChains  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402


class MainPage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.App()
        cls.app.wait_page("panel-spammer")
        cls.app.wait_input_ready()
        E.wait_until(lambda: cls.app.status_file() is not None, 20, what="first status poll")

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    def setUp(self):
        self.app.bridge("stopSpammer")
        self.app.bridge("resetHotkeys")
        E.wait_until(lambda: not self.status()["autoClicking"], what="clicker stopped")

    def status(self):
        return self.app.bridge("getTrackerStatus")["ok"]

    def settings(self):
        return self.app.bridge("getSettings")["ok"]

    def page_text(self, element_id):
        return self.app.js("return document.getElementById(arguments[0]).textContent", element_id)

    def test_page_is_ready_and_shows_the_hotkeys(self):
        self.assertTrue(self.app.js("return typeof setCanvasFrame === 'function' && typeof onUpdateProgress === 'function'"))
        E.wait_until(lambda: self.app.js(
            "return document.querySelector('[data-hk=hkAuto]').textContent") == "F6", what="F6 shown")
        self.assertEqual(self.page_text("spam-go-key"), "F6")
        # Sortable came inline with the page.
        self.assertTrue(self.app.js("return typeof Sortable === 'function'"))

    def test_interval_change_reaches_settings_and_panel_file(self):
        # Select the text and type over it, as a person would (clearing the
        # field and leaving it puts the stored value back).
        field = self.app.by_id("sms")
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys("250")
        field.send_keys(Keys.TAB)
        E.wait_until(lambda: self.settings()["sms"] == 250, what="getSettings sms 250")

        def panel_file_sms():
            try:
                return json.loads(self.app.data_file("panelsettings.txt")).get("sms")
            except ValueError:
                return None
        E.wait_until(lambda: panel_file_sms() == 250, what="panelsettings.txt sms 250")

        field = self.app.by_id("ss")
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys("1.5")
        field.send_keys(Keys.TAB)
        E.wait_until(lambda: (self.settings()["ss"], self.settings()["sms"]) == (1, 750),
                     what="1.5 s carried into 1 s 500 ms")
        E.wait_until(lambda: self.app.by_id("sms").get_attribute("value") == "750", what="page shows 750 ms")
        self.app.bridge("updateSpammer", "0,0,0,100,0,0,1,10,0")

    def test_start_clicks_on_the_injection_device(self):
        inject = E.wait_until(lambda: self.app.sim.node_by_phys("pmr-inject"), what="pmr-inject node")
        before = len(self.app.sim.writes(inject["node"]))
        self.app.bridge("updateSpammer", "0,0,0,20,0,0,1,10,0")
        self.app.by_id("spam-go").click()
        E.wait_until(lambda: (self.app.status_file() or {}).get("autoClicking") is True,
                     what="status.txt autoClicking true")

        def left_presses():
            writes = self.app.sim.writes(inject["node"])[before:]
            return sum(1 for w in writes for ev in w if ev == (E.EV_KEY, E.BTN_LEFT, 1))
        E.wait_until(lambda: left_presses() >= 3, what="left clicks on pmr-inject")
        E.wait_until(lambda: "Stop" in self.page_text("spam-go-text"), what="button shows Stop")
        self.app.by_id("spam-go").click()
        E.wait_until(lambda: (self.app.status_file() or {}).get("autoClicking") is False,
                     what="status.txt autoClicking false")
        self.app.bridge("updateSpammer", "0,0,0,100,0,0,1,10,0")

    def test_reassign_the_clicker_hotkey_to_f2(self):
        self.app.js("document.querySelector('.reassign[data-kind=auto]').click()")
        E.wait_until(lambda: self.status()["reassigning"] == "auto", what="reassigning auto")
        E.wait_until(lambda: "Press a key" in self.app.js(
            "return document.querySelector('.reassign[data-kind=auto]').textContent"), what="waiting state shown")
        self.app.sim.tap(self.app.keyboard, E.KEY["F2"])
        E.wait_until(lambda: self.status()["hkAuto"] == "F2", what="hkAuto F2")
        self.assertEqual(self.status()["reassigning"], "")
        E.wait_until(lambda: self.page_text("spam-go-key") == "F2", what="page shows F2")
        # The new hotkey works, the old one no longer does.
        self.app.sim.tap(self.app.keyboard, E.KEY["F2"])
        E.wait_until(lambda: self.status()["autoClicking"], what="F2 starts the clicker")
        self.app.sim.tap(self.app.keyboard, E.KEY["F2"])
        E.wait_until(lambda: not self.status()["autoClicking"], what="F2 stops the clicker")

    def test_escape_cancels_a_reassignment(self):
        self.app.js("document.querySelector('.reassign[data-kind=rec]').click()")
        E.wait_until(lambda: self.status()["reassigning"] == "rec", what="reassigning rec")
        self.app.sim.tap(self.app.keyboard, E.KEY["ESC"])
        E.wait_until(lambda: self.status()["reassigning"] == "", what="reassignment ended")
        self.assertEqual(self.status()["hkRec"], "F8")

    def test_keyboard_only_reaches_start(self):
        self.app.js("document.activeElement && document.activeElement.blur(); window.scrollTo(0, 0);")
        actions = ActionChains(self.app.driver)
        reached = False
        for _ in range(40):
            actions.send_keys(Keys.TAB).perform()
            if self.app.js("return document.activeElement && document.activeElement.id") == "spam-go":
                reached = True
                break
        self.assertTrue(reached, "Tab never reached the Start button")
        # The focus is visible.
        self.assertNotEqual(self.app.js("return getComputedStyle(document.activeElement).outlineStyle"), "none")
        ActionChains(self.app.driver).send_keys(Keys.ENTER).perform()
        E.wait_until(lambda: self.status()["autoClicking"], what="Enter starts the clicker")
        E.wait_until(lambda: "Stop" in self.page_text("spam-go-text"), what="button shows Stop")
        ActionChains(self.app.driver).send_keys(Keys.ENTER).perform()
        E.wait_until(lambda: not self.status()["autoClicking"], what="Enter stops the clicker")

    def test_every_control_has_a_name(self):
        unnamed = self.app.js("""
            var bad = [];
            document.querySelectorAll('button, input, select').forEach(function (el) {
              if (el.type === 'hidden') return;
              var named = el.getAttribute('aria-label') || (el.labels && el.labels.length) ||
                          (el.tagName === 'BUTTON' && el.textContent.trim());
              if (!named) bad.push(el.outerHTML.slice(0, 80));
            });
            return bad;""")
        self.assertEqual(unnamed, [])

    def test_panels_minimise_and_reorder_persist(self):
        self.app.js("document.querySelector('#panel-tracker .icon-btn.min').click()")
        E.wait_until(lambda: "panel-tracker" in self.app.bridge("getAppSettings")["ok"]["minimizedPanels"],
                     what="minimised panel saved")
        self.assertIn("minimizedPanels=panel-tracker", self.app.data_file("appsettings.txt"))
        self.app.js("document.querySelector('#panel-tracker .icon-btn.min').click()")
        E.wait_until(lambda: not self.app.bridge("getAppSettings")["ok"]["minimizedPanels"], what="expanded again")

        # Alt+Up on a panel's handle moves it up and saves the order.
        handle = self.app.driver.find_element("css selector", "#panel-keyspam .handle")
        handle.send_keys(Keys.ALT, Keys.ARROW_UP)
        E.wait_until(lambda: self.app.bridge("getAppSettings")["ok"]["panelOrder"][:2] ==
                     ["panel-keyspam", "panel-spammer"], what="order saved")
        handle = self.app.driver.find_element("css selector", "#panel-keyspam .handle")
        handle.send_keys(Keys.ALT, Keys.ARROW_DOWN)
        E.wait_until(lambda: self.app.bridge("getAppSettings")["ok"]["panelOrder"][:2] ==
                     ["panel-spammer", "panel-keyspam"], what="order restored")

    def test_key_spam_targets_add_and_remove(self):
        self.app.by_id("ks-add").click()
        E.wait_until(lambda: self.status()["reassigning"] == "keyspamtarget", what="adding a key")
        self.app.sim.tap(self.app.keyboard, E.KEY["A"])
        E.wait_until(lambda: self.status()["keySpamTargets"] == ["Space", "A"], what="A added")
        E.wait_until(lambda: self.app.js("return document.querySelectorAll('#ks-targets .chip').length") == 2,
                     what="two chips")
        self.app.js("document.querySelectorAll('#ks-targets .chip button')[1].click()")
        E.wait_until(lambda: self.status()["keySpamTargets"] == ["Space"], what="A removed")

    def test_zz_screenshot(self):
        E.wait_until(lambda: self.page_text("spam-go-key") == "F6", what="settled page")
        self.app.js("window.scrollTo(0, 0)")
        path = os.path.join(E.screenshot_dir(), "main-page.png")
        self.assertTrue(self.app.driver.save_screenshot(path))
        self.assertGreater(os.path.getsize(path), 10000)


if __name__ == "__main__":
    unittest.main(verbosity=2)
