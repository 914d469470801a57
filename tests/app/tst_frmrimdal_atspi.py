#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The window as a screen reader sees it through AT-SPI: the two labels' names
# before and after a setting is chosen with the keyboard, the change told as
# it happens, the lists' labels, the memo's state and the focus order.
# Usage (in an X display and a D-Bus session): tst_frmrimdal_atspi.py ATSPIWINDOW
import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

failures = []


def check(condition, what):
    print(("PASS   : " if condition else "FAIL!  : ") + what)
    if not condition:
        failures.append(what)


def pump():
    # A screen reader learns of changes from the events its main loop reads.
    while GLib.MainContext.default().iteration(False):
        pass


def wait_for(probe, seconds=20.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        pump()
        try:
            found = probe()
        except Exception:  # the application's bus may not answer yet
            found = None
        if found:
            return found
        time.sleep(0.2)
    return None


def descendants(root):
    found = []
    for child in root:
        if child is not None:
            found.append(child)
            found.extend(descendants(child))
    return found


def labelled_by(accessible):
    for relation in accessible.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            return relation.getTarget(0).name
    return None


def focused(app):
    for accessible in descendants(app):
        if accessible.getState().contains(pyatspi.STATE_FOCUSED):
            return accessible
    return None


def spoken(accessible):
    # A list is heard by its label, the other controls by their names.
    if accessible.getRole() == pyatspi.ROLE_COMBO_BOX:
        return (labelled_by(accessible) or "").replace("&", "")
    return accessible.name


# The accessibility bus and its registry run before the window registers there.
pyatspi.Registry.getDesktop(0).childCount
env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
window = subprocess.Popen([sys.argv[1]], env=env)
try:
    name = os.path.basename(sys.argv[1])
    app = wait_for(lambda: next(a for a in pyatspi.Registry.getDesktop(0)
                                if a is not None and a.name == name))
    check(app is not None, "the window is on the accessibility bus")
    if app is None:
        sys.exit(1)
    def value_label(caption):
        return next((a for a in descendants(app)
                     if a.getRole() == pyatspi.ROLE_LABEL and a.description == caption), None)

    bez = wait_for(lambda: value_label("Bezeichnung der Einstellungen"))
    kurz = wait_for(lambda: value_label("Kurzbeschreibung der Einstellungen"))
    check(bez is not None and kurz is not None, "the two value labels are found by their captions")
    check(bez.name == "Bezeichnung der Einstellungen", "with nothing chosen the label is heard by its caption")

    combos = [a for a in descendants(app) if a.getRole() == pyatspi.ROLE_COMBO_BOX]
    check(sorted(spoken(c) for c in combos) == ["Export:", "Import:", "Kundenkarten-Verschickung:"],
          "each list is labelled by its label")
    memo = next(a for a in descendants(app) if a.getRole() == pyatspi.ROLE_TEXT
                and a.name == "Beschreibung der Einstellungen")
    check(memo.getState().contains(pyatspi.STATE_EDITABLE), "the memo says it can be edited")

    subprocess.run(["xdotool", "search", "--sync", "--name", "Standard-Konfiguration",
                    "windowfocus", "--sync"], check=True, stdout=subprocess.DEVNULL)
    order = []
    for _ in range(6):
        current = wait_for(lambda: focused(app))
        order.append(spoken(current) if current else None)
        subprocess.run(["xdotool", "key", "Tab"], check=True)
        wait_for(lambda: focused(app) is not None and spoken(focused(app)) != order[-1], 3)
    check(order == ["Import:", "Export:", "Kundenkarten-Verschickung:", "Buchen", "Beenden",
                    "Beschreibung der Einstellungen"], "the focus order is the design's: %s" % order)

    heard = []
    pyatspi.Registry.registerEventListener(
        lambda event: heard.append(event.source.name), "object:property-change:accessible-name")
    # Back in the import list, the setting chosen with the arrow keys.
    current = wait_for(lambda: focused(app))
    while current is not None and spoken(current) != "Import:":
        subprocess.run(["xdotool", "key", "Tab"], check=True)
        time.sleep(0.2)
        current = focused(app)
    for key in ["Home", "Down", "Down"]:
        subprocess.run(["xdotool", "key", key], check=True)
        if wait_for(lambda: current.name == "Import Vollabgleich", 2):
            break
    check(wait_for(lambda: bez.name == "Import Vollabgleich") is not None,
          "the name label is heard with the chosen setting's name: %s" % bez.name)
    check(wait_for(lambda: kurz.name == "Abgleich am Jahresende") is not None,
          "the short description label is heard with its text: %s" % kurz.name)
    check(wait_for(lambda: "Import Vollabgleich" in heard, 5) is not None,
          "the change is told to the screen reader: %s" % heard)
finally:
    window.terminate()
    window.wait(10)
print("Totals: %d failed" % len(failures))
sys.exit(1 if failures else 0)
