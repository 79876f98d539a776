#!/usr/bin/python3
"""Reads the player's main window as a screen reader does, over the accessibility bus.

Run under a private session bus (dbus-run-session) with DISPLAY set:
  accessible_names.py PROGRAM IMAGE
Starts the accessibility bus and the player, checks the names of the main window's buttons,
lists and name panels, that the play button's name follows the play state and that the
see-through window says what it shows, and exits 0 when all hold; otherwise prints what it found and exits 1. pyatspi is only in Debian's own Python.
"""
import os
import subprocess
import sys
import time

import pyatspi

BUTTONS = ["Edit CD Information", "Previous Track", "Play", "Next Track", "Eject", "Option",
           "About"]


def poll(what, running, seconds=60):
    """what() until it gives something true, the player ends or the deadline passes."""
    end = time.monotonic() + seconds
    while True:
        try:
            answer = what()
        except Exception:  # the tree changes under the reader while the windows are built
            answer = None
        if answer or running.poll() is not None or time.monotonic() >= end:
            return answer
        time.sleep(0.1)


def descendants(node):
    for child in node:
        if child is not None:
            yield child
            yield from descendants(child)


def player():
    return next((a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "zarncd"), None)


def named(role):
    app = player()
    return [n.name for n in descendants(app) if n.getRoleName() == role] if app else []


def play_button():
    app = player()
    for n in descendants(app) if app else []:
        if n.getRoleName() == "push button" and n.description in ("Play", "Stop"):
            return n
    return None


def press(button):
    action = button.queryAction()
    action.doAction(next(i for i in range(action.nActions) if action.getName(i) == "Press"))


def check(app):
    """What differs from the expected names, as lines."""
    # The window's controls appear one by one; the buttons are complete once all seven are named.
    if not poll(lambda: named("push button") == BUTTONS, app):
        return ["buttons: %r" % named("push button")]
    failures = []
    lists = named("list")
    if lists != ["Tracks"]:
        failures.append("lists: %r" % lists)
    labels = named("label")
    if labels.count("Artist") != 2 or labels.count("Title") != 2:
        failures.append("labels and name panels: %r" % labels)
    overlay = [n.description for n in player() if n and n.name == "Information"]
    if not overlay or not overlay[0]:
        failures.append("see-through window's description: %r" % overlay)
    button = play_button()
    for state in ("Stop", "Play"):
        press(button)
        if not poll(lambda: button.name == state, app, 30):
            failures.append("play button after a press: %r, not %r" % (button.name, state))
    return failures


def main():
    program, image = sys.argv[1:3]
    launcher = subprocess.Popen(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
    app = subprocess.Popen([program, image],
                           env=dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1"))
    try:
        failures = check(app)
    finally:
        app.terminate()
        app.wait(30)
        launcher.terminate()
        launcher.wait(30)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
