#!/usr/bin/python3
# Prints what a screen reader sees of the running PLUMO over AT-SPI: one line per accessible
# object ("  " per level): role, "name", [description], the actions in braces. With
# "press NAME" it first presses the push button of that name. Exits 1 when PLUMO is not found
# within 20 s.
import sys
import time

import pyatspi


def find_app():
    for _ in range(200):
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name.lower() == "plumo":
                return app
        time.sleep(0.1)
    return None


def actions(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(i) for i in range(action.nActions)]


def dump(node, depth, out):
    line = "  " * depth + node.getRoleName() + ' "' + node.name + '"'
    if node.description:
        line += " [" + node.description + "]"
    names = actions(node)
    if names:
        line += " {" + ",".join(names) + "}"
    out.append(line)
    for child in node:
        if child is not None:
            dump(child, depth + 1, out)


def press(node, name):
    if node.getRoleName() == "push button" and node.name == name:
        action = node.queryAction()
        for i in range(action.nActions):
            if action.getName(i) == "Press":
                action.doAction(i)
                return True
    return any(press(child, name) for child in node if child is not None)


app = find_app()
if app is None:
    sys.exit(1)
if len(sys.argv) == 3 and sys.argv[1] == "press":
    if not press(app, sys.argv[2]):
        sys.exit(1)
    time.sleep(0.5)
out = []
dump(app, 0, out)
print("\n".join(out))
