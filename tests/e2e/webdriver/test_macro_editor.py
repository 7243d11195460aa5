"""The macro editor on the real program: the list of the current profile's
events (a run of movement is one row that opens into its samples, a row shows
where it happens), each edit, undo and redo by button and by Ctrl+Z and
Ctrl+Shift+Z, the warning about keys left pressed with its fix, every edit on
disk once the page shows it; and, with 100,000 events, how fast the list
opens and scrolls (printed as editor_open_ms_100k and
editor_scroll_frame_ms_p99)."""
import os
import sys
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pmr_e2e as E  # noqa: E402
import test_persistence as P  # noqa: E402

SETTINGS = "0,0,0,100,0,0,1,10,0,0,0,1,1,1,1,0,1,0,500,119,118,0,117,0,0,0,100,1,10,120,32,32,0,0,0,121"

# A down, A up, three movement samples, a left click at (300, 200), B down, B up.
EVENTS = ["3,0,0,0,0,65,1,0", "3,0.1,0,0,0,65,0,0",
          "1,0.5,100,100,0,0,0,0", "1,0.6,150,120,0,0,0,0", "1,0.7,300,200,0,0,0,0",
          "2,1,300,200,2,0,0,0", "2,1.1,300,200,4,0,0,0",
          "3,2,0,0,0,66,1,0", "3,2.5,0,0,0,66,0,0"]


def session(events):
    return ("SETTINGS:%s\nCURRENT:0\nPROFILE:Default Tracking Profile\n" % SETTINGS) + "".join(e + "\n" for e in events)


def disk_events(app):
    """The event lines of the session file on disk."""
    return [l for l in app.data_file("session.dat").splitlines()
            if l and l[0].isdigit() and l.count(",") == 7]


def rows_text(app):
    """The text of every list row in the page, top to bottom."""
    return app.js("return Array.prototype.slice.call(document.querySelectorAll('#med-list .med-row'))"
                  ".filter(function (n) { return !n.hidden; })"
                  ".sort(function (a, b) { return a.dataset.line - b.dataset.line; })"
                  ".map(function (n) { return Array.prototype.map.call(n.children, function (c) {"
                  " return c.firstChild && c.firstChild.nodeType === 1 ? c.firstChild.textContent : c.textContent;"
                  " }).join('|'); });")


def click_row(app, number, shift=False):
    node = app.js("var want = arguments[0];"
                  "return Array.prototype.find.call(document.querySelectorAll('#med-list .med-row'),"
                  " function (n) { return !n.hidden && !n.classList.contains('sample')"
                  " && n.children[0].textContent === want; }) || null", str(number))
    assert node is not None, "row %d not shown" % number
    if shift:
        ActionChains(app.driver).key_down(Keys.SHIFT).click(node).key_up(Keys.SHIFT).perform()
    else:
        node.click()


def open_editor(app, events):
    P.ready(app)
    app.by_id("macro-edit").click()
    E.wait_until(lambda: app.js("return window.pmrEditorStats.openMs > 0"), 20, what="editor open")
    E.wait_until(lambda: len(rows_text(app)) > 0, what="rows drawn")


def applied(app, before_undo):
    """Waits until the undo counter moved past `before_undo`."""
    E.wait_until(lambda: app.js("return document.getElementById('med-undo').disabled") is False and
                 app.bridge("getMacroRows", 0, 0)["ok"]["undo"] > before_undo, what="edit applied")


def undo_count(app):
    return app.bridge("getMacroRows", 0, 0)["ok"]["undo"]


def shifted(lines, by):
    """Event lines with their times moved by `by` seconds, as the file writes them."""
    out = []
    for l in lines:
        f = l.split(",")
        f[1] = "%g" % round(float(f[1]) + by, 6)
        out.append(",".join(f))
    return out


def wait_disk(app, expected, what):
    E.wait_until(lambda: disk_events(app) == expected, what=what)


class MacroEditor(unittest.TestCase):
    def test_list_edits_undo_redo_and_the_warning(self):
        app = E.App(data_files={"session.dat": session(EVENTS)})
        try:
            open_editor(app, EVENTS)
            self.assertEqual(app.by_id("med-count").text, "9 events \u00b7 7 rows")
            rows = rows_text(app)
            self.assertEqual(len(rows), 7, rows)
            self.assertEqual(rows[0], "1|0.000 s|key|A \u2193 press||0.100 s")
            self.assertEqual(rows[2], "3|0.500 s|move|3 samples|(100, 100) \u2192 (300, 200) in 0.200 s|0.300 s")
            self.assertEqual(rows[3], "4|1.000 s|click|Left Mouse \u2193 press|(300, 200)|0.100 s")
            self.assertEqual(rows[6], "7|2.500 s|key|B \u2191 release||\u2014")

            # A selected row shows where it happens; a move row opens into its samples.
            click_row(app, 4)
            E.wait_until(lambda: app.by_id("med-where").text == "Left Mouse at (300, 200)", what="position shown")
            click_row(app, 3)
            E.wait_until(lambda: "Path from (100, 100) to (300, 200)" in app.by_id("med-where").text, what="path shown")
            app.js("document.querySelector('#med-list .med-row:not([hidden]) .toggle:not([hidden])').click()")
            E.wait_until(lambda: len(rows_text(app)) == 10, what="samples shown")
            self.assertEqual(rows_text(app)[4], "|0.600 s|sample||150, 120|")
            app.js("document.querySelector('#med-list .med-row:not([hidden]) .toggle:not([hidden])').click()")
            E.wait_until(lambda: len(rows_text(app)) == 7, what="samples hidden")

            # Delay after row 1 becomes 0.25 s: everything after moves 0.15 s later.
            click_row(app, 1)
            P.type_over(app, "med-delay", "0.25")
            n = undo_count(app)
            app.by_id("med-delay-set").click()
            applied(app, n)
            edited = ["3,0,0,0,0,65,1,0", "3,0.25,0,0,0,65,0,0",
                      "1,0.65,100,100,0,0,0,0", "1,0.75,150,120,0,0,0,0", "1,0.85,300,200,0,0,0,0",
                      "2,1.15,300,200,2,0,0,0", "2,1.25,300,200,4,0,0,0",
                      "3,2.15,0,0,0,66,1,0", "3,2.65,0,0,0,66,0,0"]
            self.assertEqual(disk_events(app), edited)  # saved before the page was told
            E.wait_until(lambda: rows_text(app)[1].endswith("|0.400 s"), what="new delay shown")

            # Undo and redo from the keyboard.
            app.by_id("med-list").click()
            ActionChains(app.driver).key_down(Keys.CONTROL).send_keys("z").key_up(Keys.CONTROL).perform()
            wait_disk(app, EVENTS, "undone")
            ActionChains(app.driver).key_down(Keys.CONTROL).key_down(Keys.SHIFT).send_keys("z") \
                .key_up(Keys.SHIFT).key_up(Keys.CONTROL).perform()
            wait_disk(app, edited, "redone")
            app.by_id("med-undo").click()
            wait_disk(app, EVENTS, "undone by button")

            # Delete rows 4 and 5 (the click) as a range.
            click_row(app, 4)
            click_row(app, 5, shift=True)
            app.by_id("med-delete").click()
            without_click = EVENTS[:5] + EVENTS[7:]
            wait_disk(app, without_click, "click deleted")
            E.wait_until(lambda: app.by_id("med-count").text == "7 events \u00b7 5 rows", what="count")

            # Move the B press and release up above the movement.
            click_row(app, 4)
            click_row(app, 5, shift=True)
            app.by_id("med-up").click()
            wait_disk(app, ["3,0,0,0,0,65,1,0", "3,0.1,0,0,0,65,0,0", "3,0.5,0,0,0,66,1,0", "3,1,0,0,0,66,0,0",
                            "1,1,100,100,0,0,0,0", "1,1.1,150,120,0,0,0,0", "1,1.2,300,200,0,0,0,0"], "moved up")
            app.by_id("med-undo").click()
            wait_disk(app, without_click, "move undone")

            # Insert before row 1: a key (pressed in the key field), a click, a wait, text.
            click_row(app, 1)
            self._insert(app, "key", lambda: app.by_id("med-key").send_keys("c"))
            wait_disk(app, ["3,0,0,0,0,67,1,0", "3,0.05,0,0,0,67,0,0"] + shifted(without_click, 0.1), "key inserted")
            app.by_id("med-undo").click()
            wait_disk(app, without_click, "key undone")
            self._insert(app, "click", lambda: (P.type_over(app, "med-x", "40"), P.type_over(app, "med-y", "50")))
            wait_disk(app, ["2,0,40,50,2,0,0,0", "2,0.05,40,50,4,0,0,0"] + shifted(without_click, 0.1), "click inserted")
            app.by_id("med-undo").click()
            wait_disk(app, without_click, "click undone")
            click_row(app, 2)
            self._insert(app, "wait", lambda: P.type_over(app, "med-wait", "2"))
            E.wait_until(lambda: disk_events(app)[1] == "3,2.1,0,0,0,65,0,0", what="wait inserted")
            app.by_id("med-undo").click()
            wait_disk(app, without_click, "wait undone")
            click_row(app, 1)
            self._insert(app, "text", lambda: P.type_over(app, "med-text", "Hi"))
            E.wait_until(lambda: disk_events(app)[:6] == ["3,0,0,0,0,160,1,0", "3,0.05,0,0,0,72,1,0",
                                                         "3,0.1,0,0,0,72,0,0", "3,0.15,0,0,0,160,0,0",
                                                         "3,0.2,0,0,0,73,1,0", "3,0.25,0,0,0,73,0,0"],
                         what="text inserted")
            app.by_id("med-undo").click()
            wait_disk(app, without_click, "text undone")

            # Timing of the whole macro (nothing is selected when the editor
            # opens again): x2, x0.5, to 5 s; then every pause over 0.2 s.
            app.js("document.getElementById('med-close').click()")
            app.by_id("macro-edit").click()
            E.wait_until(lambda: len(rows_text(app)) == 5, what="reopened")
            app.by_id("med-double").click()
            E.wait_until(lambda: disk_events(app)[-1] == "3,5,0,0,0,66,0,0", what="twice as long")
            app.by_id("med-half").click()
            wait_disk(app, without_click, "back to its length")
            P.type_over(app, "med-length", "5")
            app.by_id("med-length-set").click()
            E.wait_until(lambda: disk_events(app)[-1] == "3,5,0,0,0,66,0,0", what="five seconds long")
            app.by_id("med-undo").click()
            wait_disk(app, without_click, "length undone")
            P.type_over(app, "med-trim", "0.2")
            app.by_id("med-trim-go").click()
            E.wait_until(lambda: disk_events(app)[-2:] == ["3,0.7,0,0,0,66,1,0", "3,0.9,0,0,0,66,0,0"],
                         what="pauses shortened")

            # Deleting B's release leaves B pressed: the editor warns and adds it.
            self.assertFalse(app.by_id("med-warn").is_displayed())
            E.wait_until(lambda: len(rows_text(app)) == 5, what="rows")
            click_row(app, 5)
            app.by_id("med-delete").click()
            E.wait_until(lambda: app.by_id("med-warn").is_displayed(), what="warning shown")
            self.assertEqual(app.by_id("med-warn-text").text, "Left pressed at the end of the macro: B.")
            app.by_id("med-release").click()
            E.wait_until(lambda: not app.by_id("med-warn").is_displayed(), what="warning gone")
            self.assertEqual(disk_events(app)[-1], "3,0.7,0,0,0,66,0,0")
        finally:
            app.close()

    def _insert(self, app, kind, fill):
        from selenium.webdriver.support.ui import Select
        Select(app.by_id("med-kind")).select_by_value(kind)
        fill()
        app.by_id("med-insert").click()

    def test_figures_with_100000_events(self):
        events = []
        for i in range(100000):
            if i % 10 == 9:
                events.append("3,%g,0,0,0,65,%d,0" % (i * 0.01, 1 if i % 20 == 9 else 0))
            else:
                events.append("1,%g,%d,%d,0,0,0,0" % (i * 0.01, i % 1920, i % 1080))
        app = E.App(data_files={"session.dat": session(events)})
        try:
            open_editor(app, events)
            open_ms = app.js("return window.pmrEditorStats.openMs")
            self.assertEqual(app.by_id("med-count").text, "100000 events \u00b7 20000 rows")
            # Only the rows in view are in the page.
            self.assertLess(app.js("return document.querySelectorAll('#med-list .med-row').length"), 80)
            # Scroll through the list, a few rows a frame, and time every frame.
            frames = app.driver.execute_async_script("""
                var done = arguments[arguments.length - 1];
                var list = document.getElementById('med-list');
                var times = [], last = 0, n = 0;
                window.pmrEditorStats.draws = [];
                function step(t) {
                  if (last) times.push(t - last);
                  last = t;
                  list.scrollTop += 7 * 26;
                  if (++n < 400) requestAnimationFrame(step); else done(times);
                }
                requestAnimationFrame(step);""")
            frames.sort()
            p99 = frames[int(len(frames) * 0.99) - 1]
            # Far down the list the rows are real rows, not placeholders.
            E.wait_until(lambda: "\u2026" not in "".join(rows_text(app)), what="rows loaded after scrolling")
            draws = sorted(app.js("return window.pmrEditorStats.draws"))
            # The same frames with nothing scrolling: what the machine gives
            # any page at this moment (the figures above include its load).
            idle = sorted(app.driver.execute_async_script("""
                var done = arguments[arguments.length - 1];
                var times = [], last = 0, n = 0;
                function step(t) { if (last) times.push(t - last); last = t;
                  if (++n < 200) requestAnimationFrame(step); else done(times); }
                requestAnimationFrame(step);"""))
            print("editor_open_ms_100k: %.1f" % open_ms)
            print("editor_scroll_frame_ms_p99: %.1f" % p99)
            print("editor_scroll_draw_ms_p99: %.1f" % draws[int(len(draws) * 0.99) - 1])
            print("editor_idle_frame_ms_p99: %.1f" % idle[int(len(idle) * 0.99) - 1])
            sys.stdout.flush()
        finally:
            app.close()


if __name__ == "__main__":
    unittest.main()
