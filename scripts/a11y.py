#!/usr/bin/python3
"""Finds widgets of a running program through the accessibility bus, for the screenshot scripts.

    scripts/a11y.py find PID ROLE NAME-REGEX [INDEX]
        prints "X Y" -- the screen centre of the INDEX-th (default 0) showing widget of process
        PID whose role name (e.g. "tree item", "table cell", "push button", "menu item") is ROLE
        and whose name matches NAME-REGEX; exit status 1 when there is none.
    scripts/a11y.py names PID ROLE
        prints the names of the showing widgets of that role, one a line.
    scripts/a11y.py describe PID NAME-REGEX
        prints "NAME<TAB>DESCRIPTION" for every showing widget of any role whose name matches.

The program must run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 inside the same D-Bus session
(dbus-run-session) as this script. Needs python3-pyatspi (Debian's python3).
"""
import re
import sys

import pyatspi


def walk(node, depth=0):
    if node is None or depth > 40:
        return
    yield node
    try:
        children = list(node)
    except Exception:
        return
    for child in children:
        yield from walk(child, depth + 1)


def matches(pid, role):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        try:
            if app is None or app.get_process_id() != pid:
                continue
        except Exception:
            continue
        for node in walk(app):
            try:
                if role is not None and node.getRoleName() != role:
                    continue
                if not node.getState().contains(pyatspi.STATE_SHOWING):
                    continue
                yield node
            except Exception:
                continue


def main():
    command, pid, role = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    if command == "describe":
        pattern = re.compile(role)
        for node in matches(pid, None):
            if pattern.search(node.name or ""):
                print("%s\t%s" % (node.name, node.description))
        return 0
    if command == "names":
        for node in matches(pid, role):
            print(node.name)
        return 0
    pattern = re.compile(sys.argv[4])
    index = int(sys.argv[5]) if len(sys.argv) > 5 else 0
    for node in matches(pid, role):
        if not pattern.search(node.name or ""):
            continue
        if index > 0:
            index -= 1
            continue
        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        print(box.x + box.width // 2, box.y + box.height // 2)
        return 0
    return 1


if __name__ == "__main__":
    sys.exit(main())
