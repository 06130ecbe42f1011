#!/usr/bin/env python3
"""Reads a running program's accessibility tree over AT-SPI, as a screen reader does.

  atspi-reader.py dump APP            one line per object, depth first:
                                      depth, role, name, text, states, actions (tab-separated;
                                      tab, new line and backslash escaped as \\t, \\n, \\\\)
  atspi-reader.py press APP ROLE NAME runs the first action of the first object with that
                                      role and name and prints "pressed" (exit code 3 when
                                      there is none)

  atspi-reader.py watch SECONDS       prints "listening", then for SECONDS one line per text
                                      change of any application: event type, the object's
                                      name, the text inserted or removed, its role

APP is the application's name on the accessibility bus. Exit code 2: no such application.
"""

import sys
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

# The interface getters of this libatspi are marked deprecated in favour of ones that newer
# versions only have.
warnings.filterwarnings("ignore", category=DeprecationWarning)

# A program that stops answering must not hold the test up for the library's default 25 s.
Atspi.set_timeout(3000, 10000)

INTERESTING_STATES = [
    ("focusable", Atspi.StateType.FOCUSABLE),
    ("focused", Atspi.StateType.FOCUSED),
    ("showing", Atspi.StateType.SHOWING),
    ("visible", Atspi.StateType.VISIBLE),
    ("enabled", Atspi.StateType.ENABLED),
    ("checked", Atspi.StateType.CHECKED),
    ("selected", Atspi.StateType.SELECTED),
]


def escape(text):
    return (text or "").replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def find_application(name):
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == name:
            return app
    return None


def text_of(node):
    iface = node.get_text_iface()
    if iface is None:
        return ""
    return Atspi.Text.get_text(node, 0, Atspi.Text.get_character_count(node))


def states_of(node):
    states = node.get_state_set()
    return ",".join(label for label, state in INTERESTING_STATES if states.contains(state))


def actions_of(node):
    if node.get_action_iface() is None:
        return ""
    count = Atspi.Action.get_n_actions(node)
    return ",".join(Atspi.Action.get_action_name(node, i) for i in range(count))


def walk(node, depth=0):
    yield depth, node
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            yield from walk(child, depth + 1)


def dump(app):
    for depth, node in walk(app):
        fields = [str(depth), node.get_role_name(), node.get_name(), text_of(node),
                  states_of(node), actions_of(node)]
        print("\t".join(escape(field) for field in fields))
    return 0


def press(app, role, name):
    for _, node in walk(app):
        if node.get_role_name() == role and node.get_name() == name:
            if node.get_action_iface() is None or Atspi.Action.get_n_actions(node) == 0:
                return 3
            try:
                Atspi.Action.do_action(node, 0)
            except GLib.Error:
                # An action that opens a modal dialog answers only when the dialog closes;
                # the action has run all the same.
                pass
            print("pressed")
            return 0
    return 3


def watch(seconds):
    def on_event(event):
        data = event.any_data if isinstance(event.any_data, str) else ""
        fields = (event.type, event.source.get_name(), data, event.source.get_role_name())
        print("\t".join(escape(field) for field in fields), flush=True)

    listener = Atspi.EventListener.new(on_event)
    listener.register("object:text-changed")
    print("listening", flush=True)
    GLib.timeout_add(int(seconds * 1000), lambda: Atspi.event_quit() or False)
    Atspi.event_main()
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "watch":
        return watch(float(argv[2]))
    if len(argv) < 3 or argv[1] not in ("dump", "press"):
        print(__doc__, file=sys.stderr)
        return 64
    app = find_application(argv[2])
    if app is None:
        return 2
    if argv[1] == "dump":
        return dump(app)
    if len(argv) != 5:
        return 64
    return press(app, argv[3], argv[4])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
