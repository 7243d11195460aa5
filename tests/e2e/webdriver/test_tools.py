"""The tools through the real program: hotkeys pressed on a simulated keyboard
start and stop the auto clicker and the key spammer, whose clicks and keys
arrive on the program's simulated injection devices; the record hotkey records
typing and mouse input into the current profile. Settings are sent the way the
page sends them, through the bridge functions."""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402

EV_ABS = 3
ABS_X, ABS_Y = 0, 1
REL_X = 0
BTN_MIDDLE = 0x112
KEY_A, KEY_B, KEY_C, KEY_SPACE = 30, 48, 46, 57


def desktop(sim, since=0):
    """Events the desktop side received after `since`: dicts with seq, ns,
    node, type, code, value, phys."""
    _, rows = sim.ok("desktop %d" % since)
    out = []
    for row in rows:
        f = row.split("\t")
        out.append({"seq": int(f[0]), "ns": int(f[1]), "node": f[2], "type": int(f[3]), "code": int(f[4]),
                    "value": int(f[5]), "phys": f[7]})
    return out


def seq(sim):
    return int(sim.ok("seq")[0])


def keys_down(sim, phys):
    _, rows = sim.ok("nodes")
    held = None
    for row in rows:
        f = row.split("\t")
        if len(f) >= 12 and f[1] == "1" and f[10] == phys:
            held = [int(c) for c in f[8].split(",") if c]
    return held


def emit(sim, node, *triples):
    flat = " ".join("%d %d %d" % t for t in triples)
    sim.ok("emit %s %s %d 0 0" % (node, flat, E.EV_SYN))


def screen_size():
    out = subprocess.run(["xdpyinfo"], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        line = line.strip()
        if line.startswith("dimensions:"):
            w, h = line.split()[1].split("x")
            return int(w), int(h)
    raise AssertionError("no screen dimensions in xdpyinfo")


def abs_value(v, extent):
    """The pointer device's axis value for desktop coordinate v: the centre of
    the pixel scaled into 0..65535."""
    a = ((2 * v + 1) * 65536) // (2 * extent)
    return max(0, min(65535, a))


def move_x_pointer(x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y)], check=True)


class Tools(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.app = E.App()
        app = cls.app
        app.wait_input_ready()
        E.wait_until(lambda: app.sim.node_by_phys("pmr-inject") is not None, 30, what="injection device")
        E.wait_until(lambda: app.js("return typeof window.updateSpammer === 'function'"), 30,
                     what="bridge functions")
        cls.inject = app.sim.node_by_phys("pmr-inject")["node"]
        cls.pointer = app.sim.node_by_phys("pmr-pointer")["node"]

    @classmethod
    def tearDownClass(cls):
        cls.app.close()

    # --- helpers ------------------------------------------------------------
    def status(self):
        return self.app.bridge("getTrackerStatus")["ok"]

    def tap(self, code):
        self.app.sim.tap(self.app.keyboard, code)

    def inject_keys(self, since, codes=None):
        """(code, value) of key and button events the desktop received from the
        injection device after `since`."""
        return [(e["code"], e["value"]) for e in desktop(self.app.sim, since)
                if e["phys"] == "pmr-inject" and e["type"] == E.EV_KEY and (codes is None or e["code"] in codes)]

    def wait_stopped(self, what):
        E.wait_until(lambda: not self.status()["autoClicking"] and not self.status()["keySpamming"], 20, what=what)

    def assert_nothing_held(self):
        self.assertEqual(keys_down(self.app.sim, "pmr-inject"), [])

    # --- auto clicker ---------------------------------------------------------
    def test_1_hotkey_toggles_the_clicker(self):
        app = self.app
        app.bridge("updateSpammer", "0,0,0,20,0,0,1,10,0")  # 20 ms, until stopped
        mark = seq(app.sim)
        writes_before = len(app.sim.writes(self.inject))
        self.tap(E.KEY["F6"])
        E.wait_until(lambda: self.inject_keys(mark).count((E.BTN_LEFT, 1)) >= 6, 20, what="clicks")
        self.tap(E.KEY["F6"])
        self.wait_stopped("clicker stopped")
        time.sleep(0.2)
        seen = [e for e in desktop(app.sim, mark) if e["phys"] == "pmr-inject" and e["type"] == E.EV_KEY]
        # Strict press/release pairs of the left button, nothing left down.
        self.assertEqual([(e["code"], e["value"]) for e in seen], [(E.BTN_LEFT, 1), (E.BTN_LEFT, 0)] * (len(seen) // 2))
        self.assert_nothing_held()
        # Each press and each release is a frame of its own.
        clicks = [w for w in app.sim.writes(self.inject)[writes_before:] if w[0][1] == E.BTN_LEFT]
        for w in clicks:
            self.assertEqual(len(w), 2, w)
            self.assertEqual(w[1], (E.EV_SYN, 0, 0))
        # The pause after each click is the interval.
        presses = [e["ns"] for e in seen if e["value"] == 1]
        releases = [e["ns"] for e in seen if e["value"] == 0]
        for r, p in zip(releases, presses[1:]):
            self.assertGreaterEqual(p - r, 20_000_000)
        # The hotkey itself never reached the desktop.
        self.assertFalse([e for e in desktop(app.sim, mark) if e["type"] == E.EV_KEY and e["code"] == E.KEY["F6"]])
        # Nothing more after the stop.
        count = self.inject_keys(mark).count((E.BTN_LEFT, 1))
        time.sleep(0.15)
        self.assertEqual(self.inject_keys(mark).count((E.BTN_LEFT, 1)), count)

    def test_2_repeat_count_ends_the_run_by_itself(self):
        app = self.app
        app.bridge("updateSpammer", "0,0,0,5,0,0,0,10,0")  # 5 ms, stop after 10
        mark = seq(app.sim)
        self.tap(E.KEY["F6"])
        E.wait_until(lambda: self.status()["autoClicking"] is False and
                     self.inject_keys(mark).count((E.BTN_LEFT, 1)) > 0, 20, what="run ended")
        time.sleep(0.2)
        self.assertEqual(self.inject_keys(mark, {E.BTN_LEFT}), [(E.BTN_LEFT, 1), (E.BTN_LEFT, 0)] * 10)
        self.assert_nothing_held()

    def test_3_picked_position_is_clicked_at(self):
        app = self.app
        width, height = screen_size()
        x, y = width // 5, height // 3
        move_x_pointer(x, y)
        app.bridge("pickLocation")
        E.wait_until(lambda: self.status()["picking"], what="picking")
        mark = seq(app.sim)
        emit(app.sim, app.mouse, (E.EV_KEY, E.BTN_LEFT, 1))
        emit(app.sim, app.mouse, (E.EV_KEY, E.BTN_LEFT, 0))
        E.wait_until(lambda: not self.status()["picking"], what="pick done")
        settings = app.bridge("getSettings")["ok"]
        self.assertEqual((settings["fixedX"], settings["fixedY"], settings["locMode"]), (x, y, 1))
        # The picking click itself is swallowed.
        self.assertFalse([e for e in desktop(app.sim, mark) if e["type"] == E.EV_KEY and e["code"] == E.BTN_LEFT
                          and e["value"] == 1])

        move_x_pointer(width - 1, height - 1)  # the clicker must move it back each time
        app.bridge("updateSpammer", "0,0,0,5,0,0,0,3,1")
        mark = seq(app.sim)
        self.tap(E.KEY["F6"])
        E.wait_until(lambda: self.inject_keys(mark).count((E.BTN_LEFT, 0)) == 3 and not self.status()["autoClicking"],
                     20, what="three clicks")
        order = []
        for e in desktop(app.sim, mark):
            if e["phys"] == "pmr-pointer" and e["type"] == EV_ABS:
                order.append(("x" if e["code"] == ABS_X else "y", e["value"]))
            elif e["phys"] == "pmr-inject" and e["type"] == E.EV_KEY and e["code"] == E.BTN_LEFT:
                order.append(("press" if e["value"] else "release", 0))
        ax, ay = abs_value(x, width), abs_value(y, height)
        # First the full position, then for each further click the nudge and the
        # position again (the same point twice would not be seen anew).
        self.assertEqual(order[:4], [("x", ax), ("y", ay), ("press", 0), ("release", 0)])
        self.assertEqual(order[4:], [("x", ax - 1), ("x", ax), ("press", 0), ("release", 0)] * 2)
        app.bridge("updateSpammer", "0,0,0,5,0,0,0,3,0")

    # --- key spammer ------------------------------------------------------------
    def set_targets(self, codes):
        app = self.app
        while self.status()["keySpamTargets"]:
            app.bridge("removeKeySpamTarget", "0")
        for code in codes:
            app.bridge("reassignKey", "keyspamtarget")
            E.wait_until(lambda: self.status()["reassigning"] == "keyspamtarget", what="waiting for a target")
            self.tap(code)
            E.wait_until(lambda: self.status()["reassigning"] == "", what="target captured")
        self.assertEqual(len(self.status()["keySpamTargets"]), len(codes))

    def test_4_key_spammer_in_sequence_and_as_chord(self):
        app = self.app
        self.set_targets([KEY_A, KEY_B, KEY_C])
        abc = {KEY_A, KEY_B, KEY_C}

        app.bridge("setKeySpamChordMode", "0")
        app.bridge("updateKeySpam", "0,0,0,5,0,4")
        mark = seq(app.sim)
        self.tap(E.KEY["F9"])
        E.wait_until(lambda: len(self.inject_keys(mark, abc)) >= 8 and not self.status()["keySpamming"], 20,
                     what="four cycles")
        time.sleep(0.2)
        press_release = lambda k: [(k, 1), (k, 0)]  # noqa: E731
        self.assertEqual(self.inject_keys(mark, abc),
                         press_release(KEY_A) + press_release(KEY_B) + press_release(KEY_C) + press_release(KEY_A))
        self.assert_nothing_held()

        app.bridge("setKeySpamChordMode", "1")
        self.assertTrue(self.status()["keySpamChord"])
        app.bridge("updateKeySpam", "0,0,0,5,0,2")
        mark = seq(app.sim)
        self.tap(E.KEY["F9"])
        E.wait_until(lambda: len(self.inject_keys(mark, abc)) >= 12 and not self.status()["keySpamming"], 20,
                     what="two chords")
        time.sleep(0.2)
        chord = [(KEY_A, 1), (KEY_B, 1), (KEY_C, 1), (KEY_A, 0), (KEY_B, 0), (KEY_C, 0)]
        self.assertEqual(self.inject_keys(mark, abc), chord * 2)
        self.assert_nothing_held()

        # Until stopped by the hotkey: every target is released at the stop.
        app.bridge("updateKeySpam", "0,0,0,20,1,10")
        mark = seq(app.sim)
        self.tap(E.KEY["F9"])
        E.wait_until(lambda: len(self.inject_keys(mark, abc)) >= 12, 20, what="chords")
        self.tap(E.KEY["F9"])
        self.wait_stopped("spammer stopped")
        time.sleep(0.1)
        self.assert_nothing_held()
        self.assertFalse([e for e in desktop(app.sim, mark) if e["type"] == E.EV_KEY and e["code"] == E.KEY["F9"]])
        app.bridge("setKeySpamChordMode", "0")

    # --- recording ----------------------------------------------------------------
    def test_5_record_hotkey_records_typing_and_mouse_then_normalises(self):
        app = self.app
        width, height = screen_size()
        # Away from the program's own window, whose clicks are not recorded.
        px, py = width - 100, height - 100
        move_x_pointer(px, py)
        self.tap(E.KEY["F8"])
        E.wait_until(lambda: self.status()["state"] == "Recording", what="recording")
        self.assertEqual(self.status()["count"], 0)
        time.sleep(0.3)  # the first event comes well after the start
        self.tap(KEY_A)
        self.tap(KEY_B)
        move_x_pointer(px - 10, py)
        emit(app.sim, app.mouse, (E.EV_REL, REL_X, -10))
        emit(app.sim, app.mouse, (E.EV_KEY, E.BTN_LEFT, 1))
        emit(app.sim, app.mouse, (E.EV_KEY, E.BTN_LEFT, 0))
        E.wait_until(lambda: self.status()["count"] >= 7, what="events recorded")
        self.tap(E.KEY["F8"])
        E.wait_until(lambda: self.status()["state"] == "Idle", what="recording stopped")
        self.assertEqual(self.status()["count"], 7)

        # The autosave writes the recording within five seconds.
        def events():
            lines = app.data_file("session.dat").splitlines()
            return [line.split(",") for line in lines[lines.index("PROFILE:Default Tracking Profile") + 1:]
                    if line and line[0].isdigit()] if "PROFILE:Default Tracking Profile" in lines else []
        # (A save made while the recording ran holds the times before normalisation.)
        rows = E.wait_until(lambda: len(events()) == 7 and float(events()[0][1]) == 0.0 and events(), 15,
                            what="normalised recording saved")
        kinds = [(int(r[0]), int(r[5]), int(r[6]), int(r[4])) for r in rows]  # type, vk, down, flags
        self.assertEqual(kinds, [(3, 65, 1, 0), (3, 65, 0, 0), (3, 66, 1, 0), (3, 66, 0, 0),
                                 (1, 0, 0, 0), (2, 0, 0, 2), (2, 0, 0, 4)])
        times = [float(r[1]) for r in rows]
        self.assertEqual(times[0], 0.0, "times start at the first event")
        self.assertEqual(times, sorted(times))
        self.assertLess(times[-1], 5.0)
        move, press = rows[4], rows[5]
        self.assertEqual((int(move[2]), int(move[3])), (px - 10, py))
        self.assertEqual((int(press[2]), int(press[3])), (px - 10, py))


if __name__ == "__main__":
    unittest.main(verbosity=2)
