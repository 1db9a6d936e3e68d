#!/usr/bin/python3
"""The program as a screen reader sees it, through the accessibility registry.

  atspi_probe.py present PID SECS          waits until PID is on the bus
  atspi_probe.py absent PID SECS           fails if PID shows up on the bus within SECS
  atspi_probe.py wait PID ROLE NAME SECS   waits until an object of ROLE whose name
                                           matches the regular expression NAME is there
  atspi_probe.py focus PID ROLE NAME SECS  moves the focus to that object, as a screen
                                           reader does (the focus action of web objects)
  atspi_probe.py action PID ROLE NAME SECS runs the object's first action
  atspi_probe.py unnamed PID WINDOW SECS   lists the controls of the window named WINDOW
                                           (with "|focusable" where they take the focus);
                                           fails if one has no name
  atspi_probe.py dump PID                  prints the tree, for a failure's log
  atspi_probe.py hear PID COUNT SECS KEYS...
                                           presses KEYS with xdotool and prints the objects
                                           that took the focus, until COUNT of them did (a
                                           pop-up menu is not in the tree: it is heard)
  atspi_probe.py announce PID ROLE NAME SECS KEYS...
                                           focuses the object, presses KEYS with xdotool
                                           and prints how many insertions it announced
ROLE is a role name such as "push button", or "*" for any. Each object found
is printed as "role|name|description". Every wait ends after SECS seconds
with exit code 1 and what was seen.
"""
import re
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

# What a user operates: each of these needs a name of its own.
CONTROL_ROLES = {
    "push button", "toggle button", "check box", "radio button", "text", "password text", "entry",
    "spin button", "combo box", "page tab", "link", "slider", "menu item", "list", "list item",
}


def app_of(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        try:
            app = desktop.getChildAtIndex(i)
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:
            continue
    return None


def walk(node, depth=0):
    if node is None or depth > 60:
        return
    yield node
    try:
        count = node.childCount
    except Exception:
        return
    for i in range(count):
        try:
            child = node.getChildAtIndex(i)
        except Exception:
            continue
        yield from walk(child, depth + 1)


def describe(node):
    try:
        return f"{node.getRoleName()}|{node.name}|{node.description}"
    except Exception as e:
        return f"?|?|{e}"


def find(pid, role, pattern):
    app = app_of(pid)
    if app is None:
        return None, []
    seen = []
    for node in walk(app):
        try:
            r, n = node.getRoleName(), node.name or ""
        except Exception:
            continue
        seen.append(f"{r}|{n}")
        if (role == "*" or r == role) and re.search(pattern, n):
            return node, seen
    return None, seen


def wait_for(pid, role, pattern, secs):
    end = time.monotonic() + secs
    seen = []
    while True:
        node, seen = find(pid, role, pattern)
        if node is not None:
            return node
        if time.monotonic() >= end:
            shown = "; ".join(s for s in seen if not s.endswith("|"))[:3000]
            sys.exit(f"no {role!r} named /{pattern}/ within {secs}s; named objects seen: {shown or 'none'}")
        time.sleep(0.3)


def focus(node):
    # Web objects offer only a focus action; widgets the component's focus.
    try:
        action = node.queryAction()
        for i in range(action.nActions):
            if action.getName(i).lower() in ("setfocus", "set focus", "focus"):
                return action.doAction(i)
    except NotImplementedError:
        pass
    return node.queryComponent().grabFocus()


def focused(node):
    try:
        return node.getState().contains(pyatspi.STATE_FOCUSED)
    except Exception:
        return False


def main(argv):
    cmd, pid = argv[1], int(argv[2])
    if cmd == "present":
        end = time.monotonic() + float(argv[3])
        while app_of(pid) is None:
            if time.monotonic() >= end:
                sys.exit(f"process {pid} is not on the accessibility bus")
            time.sleep(0.3)
        return 0
    if cmd == "hear":
        return hear(pid, int(argv[3]), float(argv[4]), argv[5:])
    if cmd == "dump":
        app = app_of(pid)
        if app is None:
            sys.exit(f"process {pid} is not on the accessibility bus")
        for node in walk(app):
            depth, up = 0, node
            while depth < 60 and up is not None and up != app:
                up, depth = up.parent, depth + 1
            print("  " * depth + describe(node))
        return 0
    if cmd == "absent":
        end = time.monotonic() + float(argv[3])
        while time.monotonic() < end:
            if app_of(pid) is not None:
                sys.exit(f"process {pid} is on the accessibility bus")
            time.sleep(0.3)
        return 0
    if cmd in ("wait", "focus", "action", "announce"):
        role, pattern, secs = argv[3], argv[4], float(argv[5])
        node = wait_for(pid, role, pattern, secs)
        print(describe(node))
        if cmd == "action":
            node.queryAction().doAction(0)
        if cmd in ("focus", "announce"):
            end = time.monotonic() + secs
            while not focused(node):
                focus(node)
                if time.monotonic() >= end:
                    sys.exit(f"{describe(node)} did not take the focus")
                time.sleep(0.3)
        if cmd == "announce":
            return announce(node, argv[6:], secs)
        return 0
    if cmd == "unnamed":
        window, secs = argv[3], float(argv[4])
        dialog = wait_for(pid, "*", "^" + re.escape(window) + "$", secs)
        missing, controls = [], 0
        for node in walk(dialog):
            try:
                role, name = node.getRoleName(), (node.name or "").strip()
            except Exception:
                continue
            # Whatever takes the focus is one too (the number fields, a link in a label).
            can_focus = node.getState().contains(pyatspi.STATE_FOCUSABLE)
            if role not in CONTROL_ROLES and not can_focus:
                continue
            controls += 1
            print(describe(node) + ("|focusable" if can_focus else ""))
            if not name:
                parent = node.parent
                missing.append(f"{role} in {describe(parent) if parent else '?'}")
        if controls == 0:
            sys.exit(f"no controls found in {window!r}")
        if missing:
            sys.exit("controls without a name: " + "; ".join(missing))
        return 0
    sys.exit(f"unknown command {cmd}")


def announce(node, keys, secs):
    """Presses the keys and counts the text insertions announced for the object."""
    inserted = []

    def on_event(event):
        try:
            if event.source == node:
                inserted.append(str(event.any_data))
        except Exception:
            pass

    pyatspi.Registry.registerEventListener(on_event, "object:text-changed:insert")
    loop = GLib.MainLoop()
    before = node.queryText().getText(0, -1)
    state = {"end": time.monotonic() + secs, "settle": None}

    def press():
        subprocess.run(["xdotool", "key", "--delay", "60", *keys], check=True)
        return False

    def check():
        now = time.monotonic()
        text = node.queryText().getText(0, -1)
        if state["settle"] is None and text != before and inserted:
            state["settle"] = now + 1.5  # late duplicates would come within this
        if (state["settle"] is not None and now >= state["settle"]) or now >= state["end"]:
            loop.quit()
            return False
        return True

    GLib.timeout_add(200, press)
    GLib.timeout_add(100, check)
    loop.run()
    pyatspi.Registry.deregisterEventListener(on_event, "object:text-changed:insert")
    text = node.queryText().getText(0, -1)
    print(f"text {before!r} -> {text!r}; announced {len(inserted)}: {inserted}")
    print(f"ANNOUNCED {len(inserted)}")
    return 0


def hear(pid, count, secs, keys):
    heard = []

    def on_event(event):
        try:
            if event.detail1 == 1 and event.source.get_process_id() == pid:
                heard.append(describe(event.source))
        except Exception:
            pass

    pyatspi.Registry.registerEventListener(on_event, "object:state-changed:focused")
    loop = GLib.MainLoop()
    end = time.monotonic() + secs

    def press():
        subprocess.run(["xdotool", "key", "--delay", "150", *keys], check=True)
        return False

    def check():
        if len(heard) >= count or time.monotonic() >= end:
            loop.quit()
            return False
        return True

    GLib.timeout_add(200, press)
    GLib.timeout_add(100, check)
    loop.run()
    pyatspi.Registry.deregisterEventListener(on_event, "object:state-changed:focused")
    for h in heard:
        print(h)
    if len(heard) < count:
        sys.exit(f"heard {len(heard)} of {count} focus changes: {heard}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
