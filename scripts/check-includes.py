#!/usr/bin/env python3
"""Checks that the product's includes point down the floors of scripts/floors.txt.

Usage: check-includes.py [--root DIR] [--floors FILE] [--graph]

Every `#include "..."` of a file in a room must name a file of the same room or
of a room that the floors file lets it include; portable rooms must not
include the forbidden system headers. Prints one line per fault and exits 1
when there is any. --graph prints the folder-level include edges instead.
"""
import argparse
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')
SOURCE_ENDINGS = ('.h', '.hpp', '.cpp', '.cc', '.c')


class ConfigError(Exception):
    pass


def read_floors(path):
    """Returns (rooms in order, {room: allowed set}, portable set, forbidden prefixes)."""
    order, allowed, portable, forbids = [], {}, set(), []
    with open(path, encoding='utf-8') as f:
        for number, raw in enumerate(f, 1):
            line = raw.split('#', 1)[0].strip()
            if not line:
                continue
            if ':' not in line:
                raise ConfigError(f'{path}:{number}: expected "<room>: <rooms>"')
            key, rest = line.split(':', 1)
            key, names = key.strip(), rest.split()
            if key == 'portable':
                portable.update(names)
            elif key == 'portable-forbids':
                forbids.extend(names)
            else:
                if key in allowed:
                    raise ConfigError(f'{path}:{number}: room {key} given twice')
                for name in names:
                    if name not in allowed:
                        raise ConfigError(f'{path}:{number}: {key} may include only rooms of earlier '
                                          f'lines, and {name} is not one')
                order.append(key)
                allowed[key] = set(names)
    for name in portable:
        if name not in allowed:
            raise ConfigError(f'{path}: portable room {name} is not a room')
    return order, allowed, portable, forbids


def room_of(relpath, rooms):
    """The room of a path: the longest room folder it lies in, or None."""
    best = None
    for room in rooms:
        if relpath == room or relpath.startswith(room + '/'):
            if best is None or len(room) > len(best):
                best = room
    return best


def product_files(root, rooms):
    for room in rooms:
        top = os.path.join(root, room)
        for folder, _, names in os.walk(top):
            for name in sorted(names):
                if not name.endswith(SOURCE_ENDINGS):
                    continue
                rel = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, '/')
                if room_of(rel, rooms) == room:
                    yield rel, room


def resolve(root, including, name):
    """The included file relative to root, or None for system and generated headers."""
    for candidate in (name, os.path.join(os.path.dirname(including), name)):
        candidate = os.path.normpath(candidate).replace(os.sep, '/')
        if not candidate.startswith('../') and os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def check(root, floors_path, graph=False):
    order, allowed, portable, forbids = read_floors(floors_path)
    faults, edges = [], {}
    floors_name = os.path.relpath(floors_path, root) if os.path.isabs(floors_path) else floors_path
    for rel, room in product_files(root, order):
        with open(os.path.join(root, rel), encoding='utf-8', errors='replace') as f:
            lines = f.readlines()
        for number, text in enumerate(lines, 1):
            m = INCLUDE.match(text)
            if not m:
                continue
            kind, name = m.groups()
            if kind == '<':
                if room in portable and any(name.startswith(p) for p in forbids):
                    faults.append(f'{rel}:{number}: portable {room}/ includes the system header <{name}>')
                continue
            target = resolve(root, rel, name)
            if target is None:
                continue
            target_room = room_of(target, order)
            if target_room == room:
                continue
            edges.setdefault((room, target_room or '(outside)'), []).append(f'{rel} -> {target}')
            if target_room is None:
                faults.append(f'{rel}:{number}: includes "{name}", which is in none of the rooms of {floors_name}')
            elif target_room not in allowed[room]:
                may = ', '.join(sorted(allowed[room])) or 'nothing but itself'
                why = f'{room}/ may include {may}'
                if room in portable and target_room not in portable:
                    why += '; portable code never includes the real side'
                faults.append(f'{rel}:{number}: includes "{name}" ({target_room}/): {why} ({floors_name})')
    if graph:
        for (a, b), where in sorted(edges.items()):
            print(f'{a} -> {b}  ({len(where)} includes)')
    return faults


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument('--root', default=os.path.dirname(here))
    parser.add_argument('--floors', default=None)
    parser.add_argument('--graph', action='store_true')
    args = parser.parse_args(argv)
    floors = args.floors or os.path.join(args.root, 'scripts', 'floors.txt')
    try:
        faults = check(args.root, floors, args.graph)
    except (ConfigError, OSError) as e:
        print(f'check-includes: {e}', file=sys.stderr)
        return 2
    for fault in faults:
        print(fault)
    if faults:
        print(f'check-includes: {len(faults)} include(s) against the floors', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
