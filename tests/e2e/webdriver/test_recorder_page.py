"""The recorder panel drives recording and playback: the chips and the speed,
loop and pause controls change the recorder settings and come back after a
restart; Record and Play work from the page; Play needs a recording and its
hotkey says why; a
running playback shows its progress."""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402
import test_persistence as P  # noqa: E402


def status(app):
    return app.bridge("getTrackerStatus")["ok"]


def settings(app):
    return app.bridge("getSettings")["ok"]


def held_on_inject(app):
    """Key codes held down on the program's injection device."""
    _, rows = app.sim.ok("nodes")
    for row in rows:
        f = row.split("\t")
        if len(f) >= 12 and f[1] == "1" and f[10] == "pmr-inject":
            return [k for k in f[8].split(",") if k and k != "-"]
    return None


def text(app, element_id):
    return app.js("var e = document.getElementById(arguments[0]); return e ? e.textContent : null", element_id)


def play_button_ready(app):
    return app.js("var b = document.getElementById('play-go');"
                  "return !b.disabled && b.textContent.trim() === 'Play'")


class RecorderPage(unittest.TestCase):
    def test_settings_record_play_progress_and_restart(self):
        app = E.App()
        try:
            P.ready(app)
            E.wait_until(lambda: settings(app)["tmv"] is True, what="settings")

            # The chips are switches; speed, loop and pause are controls.
            app.by_id("t-tmv").click()
            E.wait_until(lambda: settings(app)["tmv"] is False, what="movement recording off")
            P.type_over(app, "play-speed", "2.5")
            E.wait_until(lambda: settings(app)["tspd"] == 2.5, what="speed 2.5")
            P.type_over(app, "loop-ms", "250")
            E.wait_until(lambda: settings(app)["tloopMs"] == 250, what="pause 250 ms")
            app.by_id("play-loop").click()
            E.wait_until(lambda: settings(app)["tloop"] is True, what="loop on")

            # Play with nothing recorded cannot be pressed; its hotkey stays
            # idle and says why.
            E.wait_until(lambda: app.js("return document.getElementById('play-go').disabled"), what="Play disabled")
            app.sim.tap(app.keyboard, E.KEY["F7"])
            E.wait_until(lambda: "Nothing to play yet" in (text(app, "macro-note") or ""), what="note shown")
            self.assertEqual(status(app)["state"], "Idle")

            # Record and Play from the page.
            app.by_id("rec-go").click()
            E.wait_until(lambda: status(app)["state"] == "Recording", what="recording")
            app.sim.tap(app.keyboard, E.KEY["A"])
            E.wait_until(lambda: status(app)["count"] == 2, what="A recorded")
            app.by_id("rec-go").click()
            E.wait_until(lambda: status(app)["state"] == "Idle", what="recording stopped")
            # Play is disabled while the page still shows the recording: a
            # user presses it once the page shows it can be pressed.
            E.wait_until(lambda: play_button_ready(app), what="page shows Play enabled")
            app.by_id("play-go").click()
            E.wait_until(lambda: status(app)["state"] == "Playing", what="playing")
            # A pass in progress, or the pause before the next one.
            E.wait_until(lambda: re.match(r"^(Playing [0-2] / 2 \u00b7 loop \d+|Loop \d+ done \u00b7 pausing before loop \d+)$",
                                          text(app, "play-progress") or ""),
                         what="progress shown: %r" % text(app, "play-progress"))
            E.wait_until(lambda: status(app)["playLoop"] >= 2, what="second pass")
            app.by_id("play-go").click()
            E.wait_until(lambda: status(app)["state"] == "Idle", what="stopped from the page")
            E.wait_until(lambda: held_on_inject(app) == [], what="nothing held: %r" % held_on_inject(app))

            P.stop_program(app)
            files = {name: app.data_file(name) for name in ("session.dat", "appsettings.txt")}
        finally:
            app.close()

        app = E.App(data_files=files)
        try:
            P.ready(app)
            s = settings(app)
            self.assertEqual((s["tmv"], s["tspd"], s["tloop"], s["tloopMs"]), (False, 2.5, True, 250))
            E.wait_until(lambda: app.by_id("play-speed").get_attribute("value") == "2.5", what="page shows 2.5")
            E.wait_until(lambda: app.js("return document.getElementById('play-loop').checked") is True,
                         what="page shows loop on")
            self.assertEqual(status(app)["count"], 2)
        finally:
            app.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
