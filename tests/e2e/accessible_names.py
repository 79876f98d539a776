#!/usr/bin/python3
"""Reads the running player's windows as a screen reader does, over the accessibility bus of the
session bus in DBUS_SESSION_BUS_ADDRESS (pyatspi is only in Debian's own Python). Prints what
differs from the expected names and exits 1, or exits 0."""
import sys
import time

import pyatspi

BUTTONS = ["Edit CD Information", "Previous Track", "Play", "Next Track", "Eject", "Option",
           "About"]


def poll(what, seconds=60):
    end = time.monotonic() + seconds
    while True:
        try:
            answer = what()
        except Exception:  # the tree changes under the reader while the windows are built
            answer = None
        if answer or time.monotonic() >= end:
            return answer
        time.sleep(0.1)


def nodes(node):
    for child in filter(None, node):
        yield child
        yield from nodes(child)


def player():
    return next(a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "zarncd")


def named(role):
    return [n.name for n in nodes(player()) if n.getRoleName() == role]


def failures():
    # The controls appear one by one; the buttons are complete once all seven are named.
    if not poll(lambda: named("push button") == BUTTONS):
        return ["buttons: %r" % poll(lambda: named("push button"), 1)]
    labels = named("label")
    overlay = [n.description for n in player() if n and n.name == "Information"]
    found = ["lists: %r" % named("list")] if named("list") != ["Tracks"] else []
    if labels.count("Artist") != 2 or labels.count("Title") != 2:
        found.append("labels and name panels: %r" % labels)
    if not overlay or not overlay[0]:
        found.append("see-through window's description: %r" % overlay)
    button = next(n for n in nodes(player())
                  if n.getRoleName() == "push button" and n.description in ("Play", "Stop"))
    for state in ("Stop", "Play"):  # the player starts stopped
        action = button.queryAction()
        action.doAction(next(i for i in range(action.nActions) if action.getName(i) == "Press"))
        if not poll(lambda: button.name == state, 30):
            found.append("play button after a press: %r, not %r" % (button.name, state))
    return found


if __name__ == "__main__":
    sys.exit("\n".join(failures()) or 0)  # the text on stderr, and 1
