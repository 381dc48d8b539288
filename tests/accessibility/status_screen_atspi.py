#!/usr/bin/env python3
"""The status screen as a screen reader sees it, through AT-SPI.

pos-demo takes a purchase from kov-simulator's signature scenario. At each terminal screen the
test reads the accessibility tree of the status screen (roles, names, descriptions, states)
and the events a screen reader receives; it counts what is announced; at the signature step it
tabs to YES and presses Enter, and checks that the service received that button request.

Run it in a session of its own, with an accessibility bus and an X display:
  dbus-run-session -- xvfb-run -a python3 status_screen_atspi.py POS_DEMO KOV_SIMULATOR XDOTOOL
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time
import urllib.request

import pyatspi
from gi.repository import GLib

WAIT = 60.0  # the longest wait for anything, generous for a loaded machine

# The signature scenario's screens, in order, as the screen announces them (an unchanged poll
# announces nothing, so each comes once).
EXPECTED_SCREENS = [
    "PRESENT/INSERT CARD\nPURCHASE       AUD 12.50\nButtons: CANCEL",
    "SELECT ACCOUNT\nPURCHASE       AUD 12.50\nButtons: CHQ, SAV",
    "ENTER PIN\nPURCHASE       AUD 12.50\nButtons: CANCEL",
    "PROCESSING\nPLEASE WAIT",
    "SIGNATURE OK?\nCHECK SIGNATURE\nButtons: YES, NO",
]


class Events:
    """Every event a screen reader would act on, as (kind, role, name, description, detail1)."""

    def __init__(self):
        self.seen = []
        self.shown_states = []  # (role, name, states) of each object shown, read as it was shown
        pyatspi.Registry.registerEventListener(
            self.on_event, "object:state-changed:showing", "object:state-changed:focused", "focus:",
            "object:announcement", "window:activate", "object:property-change:accessible-name")

    def on_event(self, event):
        try:
            source = event.source
            self.seen.append((event.type, source.getRoleName(), source.name or "", source.description or "",
                              event.detail1, event.any_data if isinstance(event.any_data, str) else ""))
            if event.type == "object:state-changed:showing" and event.detail1:
                self.shown_states.append((source.getRoleName(), source.name, states(source)))
        except Exception:  # an object gone before it was read: nothing a screen reader could say
            pass

    def announcements(self):
        """The texts announced as a screen reader hears them: an announcement event, an alert or
        notification shown (or a window activated), or a focus event, with the text in the
        object's name or description. A name change of a label without focus does not count."""
        said = []
        for kind, role, name, description, detail1, data in self.seen:
            if kind == "object:announcement":
                said.append(data)
            elif kind in ("object:state-changed:showing", "window:activate") and detail1 and role in (
                    "notification", "alert", "dialog"):
                said.append(name or description)
            elif kind == "object:state-changed:focused" and detail1:
                said.append(f"[focus {role} {name}] {description}".strip())
        return said


def pump(until, timeout=WAIT):
    """Runs the event loop until until() holds, at most timeout seconds; returns its value."""
    context = GLib.MainContext.default()
    deadline = time.monotonic() + timeout
    GLib.timeout_add(50, lambda: True)  # wakes the loop to look again
    while time.monotonic() < deadline:
        value = until()
        if value:
            return value
        context.iteration(True)
    return until()


def walk(node):
    yield node
    for child in node:
        if child is not None:
            yield from walk(child)


def states(node):
    return {pyatspi.stateToString(s) for s in node.getState().getStates()}


def find(root, role, name=None, showing=True):
    for node in walk(root):
        try:
            if node.getRoleName() == role and (name is None or node.name == name) and (
                    not showing or "showing" in states(node)):
                return node
        except Exception:
            continue
    return None


def application(name):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == name:
            return app
    return None


def start_simulator(simulator):
    # Status polls held 0.1 s at most: the till polls the same screen many times over.
    process = subprocess.Popen([simulator, "--listen", "127.0.0.1:0", "--scenario", "signature", "--speed", "2",
                                "--hold-ms", "100"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = process.stdout.readline()
    match = re.match(r"kov-simulator listening on (\S+)", line)
    if not match:
        process.kill()
        sys.exit(f"the simulator did not start: {line!r} {process.stderr.read()}")
    return process, match.group(1)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def tree(dialog):
    """The screen as a screen reader lists it: role 'name' (description) [states], showing parts only."""
    lines = []
    for node in walk(dialog):
        s = states(node)
        if "showing" not in s and node is not dialog:
            continue
        flags = sorted(s & {"focused", "busy", "focusable"})
        description = f" ({node.description})" if node.description else ""
        lines.append(f"{node.getRoleName()} '{node.name}'{description} {flags}")
    return lines


def main():
    pos_demo, simulator, xdotool = sys.argv[1:4]
    events = Events()
    sim, url = start_simulator(simulator)
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
        env.pop("QT_QPA_PLATFORM", None)  # the real X display of this session
        till = subprocess.Popen([pos_demo, "--endpoint", url, "--journal", os.path.join(folder, "journal.db")],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            run(events, xdotool, url, sim)
        finally:
            till.terminate()
            sim.terminate()
            till.wait(10)
            sim.wait(10)
    print("passed")


def run(events, xdotool, url, sim):
    app = pump(lambda: application("pos-demo"))
    check(app, "pos-demo did not appear on the accessibility bus")
    start = pump(lambda: find(app, "push button", "Start"))
    check(start, "no Start button")
    start.queryAction().doAction(0)

    dialog = pump(lambda: find(app, "dialog", "Card payment"))
    check(dialog, "no dialog 'Card payment'\n" + "\n".join(tree(app)))

    # Each screen in turn; the last, the signature step, read as it shows.
    for screen in EXPECTED_SCREENS:
        first = screen.split("\n")[0]
        label = pump(lambda: find(dialog, "label", first))
        check(label, f"the screen {first!r} did not show\n" + "\n".join(tree(dialog)))

    signature = tree(dialog)
    check("push button 'YES' (Terminal button B1) ['focusable']" in signature and
          "push button 'NO' (Terminal button B2) ['focusable']" in signature,
          "the signature step's buttons\n" + "\n".join(signature))
    check(signature[0] == "dialog 'Card payment' ['focusable', 'focused']",
          "the screen, not a button, has the focus\n" + "\n".join(signature))
    check(any(line.startswith("image 'tarnfeld logo'") for line in signature), "\n".join(signature))

    said = [text for text in events.announcements() if not text.startswith("[focus")]
    # The dialog's window comes first, then each screen once, however often it was polled.
    check(said == ["Card payment"] + EXPECTED_SCREENS, f"each screen announced once, in order: {said}")
    polls = requests(url, "Status")
    check(polls >= 2 * len(EXPECTED_SCREENS), f"the screens were polled again and again ({polls} polls)")
    check(requests(url, "UI") == 0, "no button request before the keyboard's")

    # The keyboard: Tab reaches YES, Enter presses it.
    subprocess.run([xdotool, "key", "Tab"], check=True)
    yes = find(dialog, "push button", "YES")
    check(pump(lambda: "focused" in states(yes)), "Tab did not reach YES\n" + "\n".join(tree(dialog)))
    subprocess.run([xdotool, "key", "Return"], check=True)
    # The indicator that runs after the press is a progress bar "Working", busy whenever it was
    # still showing when read (the approval may come first and hide it).
    shown = pump(lambda: [s for role, name, s in events.shown_states if (role, name) == ("progress bar", "Working")])
    check(shown, "the indicator shows as a progress bar 'Working' after the press")
    check(all("busy" in s for s in shown if "showing" in s), f"the indicator is busy while it shows: {shown}")
    result = pump(lambda: [t for t in events.announcements() if t.startswith("Transaction ended")])
    check(result == ["Transaction ended: APPROVED"], f"the result announced: {result}")
    check(requests(url, "UI") == 1, "the service received one button request")
    print("announced:", said + result)


def requests(url, kind):
    """How many requests of this kind (Purchase, Status, UI) the simulator received."""
    with urllib.request.urlopen(url.replace("/wqmi3/pos.aspx", "/_sim/stats"), timeout=10) as answer:
        transactions = json.load(answer)["transactions"]
    return sum(counts.get(kind, 0) for counts in transactions.values())


if __name__ == "__main__":
    main()
