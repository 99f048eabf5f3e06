#!/usr/bin/python3
"""Reads the program's window from the AT-SPI registry, as a screen reader would.

usage: atspi.py tree CAPTION     each object under the window named CAPTION, the window first,
                                 one line each: role<TAB>name<TAB>description
       atspi.py focused CAPTION  the object under it that has the focus: role<TAB>name
Waits up to 20 seconds for the window to be registered; exits 1 when it never is.
"""
import sys
import time

import pyatspi


def find_window(caption):
    end = time.monotonic() + 20
    while time.monotonic() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is None:
                continue
            for window in app:
                if window is not None and window.name == caption:
                    return window
        time.sleep(0.2)
    return None


def role(acc):
    # Newer AT-SPI names a push button just "button"; the role itself is the same.
    if acc.getRole() == pyatspi.ROLE_PUSH_BUTTON:
        return "push button"
    return acc.getRoleName()


def walk(acc):
    yield acc
    for child in acc:
        if child is not None:
            yield from walk(child)


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("tree", "focused"):
        print(__doc__, file=sys.stderr)
        return 2
    window = find_window(sys.argv[2])
    if window is None:
        print("no window named", repr(sys.argv[2]), file=sys.stderr)
        return 1
    for acc in walk(window):
        if sys.argv[1] == "tree":
            print(f"{role(acc)}\t{acc.name}\t{acc.description}")
        elif acc.getState().contains(pyatspi.STATE_FOCUSED):
            print(f"{role(acc)}\t{acc.name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
