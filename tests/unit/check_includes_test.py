#!/usr/bin/env python3
"""The include check against a small house (tests/fixtures/floors): every kind
of fault it must name, the includes it must let pass, and a floors file whose
rooms point at each other."""
import os
import subprocess
import sys
import unittest

SOURCE = os.environ.get('PMR_SOURCE_DIR') or os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK = os.path.join(SOURCE, 'scripts', 'check-includes.py')
FIXTURE = os.path.join(SOURCE, 'tests', 'fixtures', 'floors')


def run(floors):
    return subprocess.run([sys.executable, CHECK, '--root', os.path.join(FIXTURE, 'tree'),
                           '--floors', os.path.join(FIXTURE, floors)],
                          capture_output=True, text=True, check=False)


class CheckIncludesTest(unittest.TestCase):
    def test_names_every_fault_and_nothing_else(self):
        r = run('floors.txt')
        self.assertEqual(r.returncode, 1, r.stderr)
        faults = sorted(line.split(' (')[0] if 'may include' in line else line
                        for line in r.stdout.splitlines())
        expected = sorted([
            # upward: a middle floor includes the top floor
            'mid/mid.cpp:3: includes "top/top.h"',
            # portable code includes the real side, from a header and a source
            'mid/mid.h:2: includes "side/real/real.h"',
            'top/top.cpp:3: includes "side/real/real.h"',
            # toolkit and kernel input headers in portable code
            'mid/mid.h:3: portable mid/ includes the system header <gtk/gtk.h>',
            'mid/mid.h:4: portable mid/ includes the system header <linux/input.h>',
            # a file outside every room
            'top/top.cpp:4: includes "tests/helper.h", which is in none of the rooms of ../floors.txt',
        ])
        self.assertEqual(faults, expected, r.stdout)
        # Allowed: downward ("../low/low.h" resolved from the including file),
        # the real side including its own room by a bare name, generated headers.
        for line in r.stdout.splitlines():
            self.assertNotIn('low/low.h', line)
            self.assertNotIn('generated.h', line)
            self.assertFalse(line.startswith('side/'), line)
        self.assertIn('portable code never includes the real side', r.stdout)

    def test_rooms_pointing_at_each_other_are_refused(self):
        r = run('circle.txt')
        self.assertEqual(r.returncode, 2)
        self.assertIn('low may include only rooms of earlier lines, and top is not one', r.stderr)


if __name__ == '__main__':
    unittest.main()
