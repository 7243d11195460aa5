"""A macro file received from someone else (Ctrl+Alt+T, then types
"touch ~/pwned" and Enter; loop on, speed 10) never loads without the
question, whichever way it reaches the real program: named on the command
line, handed over by a second start, dropped on the window (the navigation
to its file address that a drop makes), or chosen with Open. The question
shows the text it types and flags the shortcut; its loop and speed are taken
only when "use the file's playback settings" is ticked; cancelling changes
nothing. One program for the whole test."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402
from test_persistence import settings, status  # noqa: E402

FIXTURE = os.path.join(E.SOURCE_DIR, "tests/fixtures/macro/holiday-photos.pmrmacro")
EVENTS = 36
ENTER = "\u23ce"


def playback(app):
    s = settings(app)
    return (s["tloop"], s["tspd"])


def question(app):
    """The question box as the user sees it, or None while it is hidden."""
    return app.js(
        "var box = document.getElementById('macro-ask');"
        "if (!box || box.hidden || box.getBoundingClientRect().height === 0) return null;"
        "function t(id) { return document.getElementById(id).textContent; }"
        "return {title: t('macro-ask-text'), typed: t('macro-ask-typed'), playback: t('macro-ask-playback'),"
        " warn: !document.getElementById('macro-ask-warn').hidden,"
        " flagged: Array.prototype.map.call(document.querySelectorAll('#macro-ask-shortcuts .shortcut.flagged'),"
        "   function (e) { return e.textContent; }),"
        " ticked: document.getElementById('macro-ask-use-settings').checked};")


class MacroQuestion(unittest.TestCase):
    def setUp(self):
        self.files = tempfile.mkdtemp(prefix="pmr-macro-q-")
        self.path = os.path.join(self.files, "holiday-photos.pmrmacro")
        shutil.copyfile(FIXTURE, self.path)

    def tearDown(self):
        shutil.rmtree(self.files, ignore_errors=True)

    def asked(self, app, how, recorded):
        """Waits for the question and checks that it shows what the file does
        while nothing has been loaded or applied."""
        q = E.wait_until(lambda: question(app), what="the question after " + how)
        self.assertIn("touch ~/pwned" + ENTER, q["typed"], how)
        self.assertIn("Ctrl+Alt+T", " ".join(q["flagged"]), how)
        self.assertTrue(q["warn"], how)
        self.assertIn("loop on", q["playback"], how)
        self.assertIn("speed 10", q["playback"], how)
        self.assertFalse(q["ticked"], how + ": the file's settings are not taken unless asked for")
        self.assertEqual(status(app)["count"], recorded, how + ": nothing loaded before the answer")
        self.assertEqual(playback(app), (False, 1), how + ": nothing applied before the answer")
        return q

    def answered(self, app):
        E.wait_until(lambda: question(app) is None, what="the question to close")
        E.wait_until(lambda: not status(app)["macroAsk"], what="the program to forget the question")

    def test_every_way_in_asks_first(self):
        app = E.App(args=[self.path])
        try:
            app.wait_page("panel-profile")
            E.wait_until(lambda: app.status_file() is not None, 20, what="first status poll")

            # 1. Named on the command line, into an empty profile: asked;
            # loaded without the box ticked, the file's loop and speed stay out.
            q = self.asked(app, "the command line", 0)
            self.assertIn("Load holiday-photos.pmrmacro", q["title"])
            app.js("document.getElementById('macro-ask').scrollIntoView();")
            app.driver.save_screenshot(os.path.join(E.screenshot_dir(), "macro-question.png"))
            app.by_id("macro-ask-yes").click()
            self.answered(app)
            E.wait_until(lambda: status(app)["count"] == EVENTS, what="the file loaded")
            self.assertEqual(playback(app), (False, 1))

            # 2. Handed over by a second start (no simulated input for it: it
            # only hands the file over and ends). Replacing is asked too;
            # ticked, the file's settings come with it.
            second = os.path.join(app.home, "second-start")
            with open(app.wrapper) as f:
                lines = [l for l in f.read().splitlines() if "LD_PRELOAD" not in l and "PMR_SIM" not in l]
            with open(second, "w") as f:
                f.write("\n".join(lines) + "\n")
            os.chmod(second, 0o700)
            done = subprocess.run([second, self.path], timeout=120)
            self.assertEqual(done.returncode, 0)
            q = self.asked(app, "a second start", EVENTS)
            self.assertIn("Replace the 36 recorded events", q["title"])
            app.by_id("macro-ask-use-settings").click()
            app.by_id("macro-ask-yes").click()
            self.answered(app)
            E.wait_until(lambda: playback(app) == (True, 10), what="the file's playback settings")
            self.assertEqual(status(app)["count"], EVENTS)

            # 3. Dropped on the window: the web view loads the file's address,
            # as WebDriver's navigation does; the window stops the load and
            # turns the file over to the same handler.
            app.bridge("updateRecorder", ",,,,,1,0,500")
            app.bridge("clearProfile")
            E.wait_until(lambda: status(app)["count"] == 0 and playback(app) == (False, 1), what="a clean slate")
            app.driver.set_page_load_timeout(10)
            try:
                app.driver.get("file://" + self.path)
            except Exception:  # the stopped load may be reported as a failed navigation
                pass
            self.asked(app, "a drop", 0)
            app.by_id("macro-ask-no").click()
            self.answered(app)
            self.assertEqual(status(app)["count"], 0, "cancelled: nothing loaded")
            self.assertEqual(playback(app), (False, 1), "cancelled: nothing applied")

            # 4. Chosen with Open: the file dialog is answered by typing the path.
            E.wait_until(lambda: app.js("return !document.getElementById('macro-open').disabled"),
                         what="Open to be enabled")
            app.js("document.getElementById('macro-open').scrollIntoView();"
                   "document.getElementById('macro-open').click();")
            # Typed again while the dialog stays open: keys sent before it
            # takes input are lost. The dialog answers once.
            E.wait_until(lambda: question(app) or (choose_in_dialog(self.path) and False), step=1.0,
                         what="the Open dialog to take the file")
            self.asked(app, "Open", 0)
            app.by_id("macro-ask-no").click()
            self.answered(app)
            self.assertEqual(status(app)["count"], 0)
            self.assertEqual(playback(app), (False, 1))
        finally:
            app.close()


def choose_in_dialog(path):
    """Types the path into the visible Open dialog; False when there is none."""
    found = xdotool("search", "--onlyvisible", "--name", "^Open macro$")
    if not found:
        return False
    xdotool("windowfocus", "--sync", found.split()[0])
    xdotool("key", "--clearmodifiers", "ctrl+l")
    xdotool("key", "--clearmodifiers", "ctrl+a")
    xdotool("type", "--delay", "20", path)
    xdotool("key", "Return")
    return True


def xdotool(*args):
    done = subprocess.run(("xdotool",) + args, capture_output=True, text=True, timeout=60)
    return done.stdout.strip() if done.returncode == 0 else ""


if __name__ == "__main__":
    unittest.main()
