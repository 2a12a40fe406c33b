#!/usr/bin/python3
"""The real application in sample mode, seen and driven through AT-SPI.

Run inside `dbus-run-session` (the session bus starts at-spi2-core's bus
launcher and registry on demand). Starts its own Xvfb and the application
with a fresh data folder, then checks what a screen reader sees and does:
the list with its rows (and each row's target as its description) and "New
connection", the search entry's focus through "/" and Escape, doAction
opening the form, the Name entry's text set through EditableText, focus
events, requests on nodes that are gone or not handled, a start without any
accessibility bus, and (as root, with a real sshd whose key changed) the
session card's Forget key and Trust key. Screenshots of each step go to
--out.
"""

import json

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import GLib

APP_NAME = "Remote"
# libdbus (SDL's and atk-bridge's) keeps blocks whose allocating frames have
# no frame pointers: LeakSanitizer can neither name nor suppress them. The
# publisher's own objects are leak-checked by its unit tests.
_ASAN = os.environ.get("ASAN_OPTIONS", "")
NO_LEAK_CHECK = {"ASAN_OPTIONS": (_ASAN + ":" if _ASAN else "") + "detect_leaks=0"}
FAILURES = []
# The sample connections' targets, in list order.
SAMPLE_TARGETS = ["dev@build.example.com:22", "Vesk device 36a6eb774495\u2026", "vault.example.org:5901",
                  "ops@gateway.example.net:2222", "192.0.2.10:5900", "pi@10.0.0.42:22", "198.51.100.20:3389",
                  "Vesk device 4924add6d6ea\u2026"]


def check(condition, what):
    print(("ok   " if condition else "FAIL ") + what, flush=True)
    if not condition:
        FAILURES.append(what)
    return condition


def pump(seconds=0.0):
    """Serves GLib (AT-SPI events) for a while."""
    ctx = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while True:
        while ctx.iteration(False):
            pass
        if time.monotonic() >= end:
            return
        time.sleep(0.02)


def wait_for(predicate, timeout=10.0):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        try:
            value = predicate()
        except Exception:  # objects come and go while the tree changes
            value = None
        if value:
            return value
        pump(0.05)
    return None


def start_xvfb():
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_fd, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    if not number.strip():
        xvfb.kill()
        sys.exit("Xvfb did not start")
    return xvfb, ":" + number.decode().strip()


class App:
    def __init__(self, binary, display, log_path, data_home, env_changes):
        env = dict(os.environ)
        env.update({"DISPLAY": display, "VESK_REMOTE_SAMPLE": "1", "XDG_DATA_HOME": data_home,
                    "XDG_STATE_HOME": data_home})
        for key, value in env_changes.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        self.log_path = log_path
        self.log = open(log_path, "wb")
        self.proc = subprocess.Popen([binary], env=env, stdout=self.log, stderr=subprocess.STDOUT)

    def alive(self):
        return self.proc.poll() is None

    def stop(self):
        if self.alive():
            self.proc.send_signal(signal.SIGTERM)
        try:
            code = self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            code = self.proc.wait()
        self.log.close()
        return code

    def log_text(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")


def screenshot(display, out_dir, name):
    path = os.path.join(out_dir, name + ".png")
    subprocess.run(["import", "-display", display, "-window", "root", path], check=False,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def find_app():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.name == APP_NAME:
            return app
    return None


def find(root, predicate):
    return pyatspi.findDescendant(root, predicate, breadth_first=True)


def named(role, name):
    return lambda a: a is not None and a.getRole() == role and a.name == name


def attribute(acc, key):
    for item in acc.getAttributes():
        k, _, v = item.partition(":")
        if k == key:
            return v
    return None


def has_state(acc, state):
    return acc.getState().contains(state)


def xdotool(display, *args):
    env = dict(os.environ, DISPLAY=display)
    return subprocess.run(["xdotool"] + list(args), env=env, capture_output=True, text=True, timeout=30).stdout


def press_keys(display, *keys):
    """Keys typed into the application's window, as a user would."""
    wid = xdotool(display, "search", "--sync", "--onlyvisible", "--name", "^Remote$").split()
    if not wid:
        return False
    xdotool(display, "windowfocus", "--sync", wid[0])
    for key in keys:
        xdotool(display, "key", "--clearmodifiers", key)
    return True


def extents(acc):
    return acc.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)


def on_screen(acc):
    ext = extents(acc)
    return ext.width > 0 and ext.height > 0 and 0 <= ext.x < 1280 and 0 <= ext.y < 800


def run_with_bus(args, display, out_dir):
    data_home = tempfile.mkdtemp(prefix="remote-atspi-")
    app = App(args.app, display, os.path.join(out_dir, "app.log"), data_home, NO_LEAK_CHECK)
    focus_events = []

    def on_focus(event):
        if event.detail1 == 1:
            focus_events.append(event.source.name)

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    try:
        root = wait_for(find_app, 30)
        if not check(root is not None, "the application is on the accessibility bus as \"Remote\""):
            return
        frame = wait_for(lambda: root.getChildAtIndex(0))
        check(frame.getRole() == pyatspi.ROLE_FRAME and frame.name == "Remote", "its window is a frame named Remote")
        screenshot(display, out_dir, "1-list")

        # The list and its rows.
        listing = wait_for(lambda: find(frame, named(pyatspi.ROLE_LIST, "Saved connections")))
        check(listing is not None, "the list \"Saved connections\" is there")
        rows = [listing.getChildAtIndex(i) for i in range(listing.childCount)] if listing else []
        row_names = [r.name.split(",")[0] for r in rows]
        check(row_names == ["Build Box", "Studio Node", "Backup Vault", "Edge Gateway", "Office NAS",
                            "Pi Cluster Head", "Win Workstation", "Workshop Laptop"],
              "its rows are the sample connections in list order: %s" % row_names)
        check(all(r.getRole() == pyatspi.ROLE_LIST_ITEM for r in rows), "every row is a list item")
        if rows:
            check(rows[1].name == "Studio Node, Vesk device, online, ready to connect, last used just now",
                  "a row's name is its label: %r" % rows[1].name)
            check(has_state(rows[0], pyatspi.STATE_SELECTED) and not has_state(rows[1], pyatspi.STATE_SELECTED),
                  "the selected row, and only it, is selected")
            check(attribute(rows[0], "posinset") == "1" and attribute(rows[0], "setsize") == "8",
                  "rows carry their position in the list")
            ext = rows[0].queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            check(ext.width > 100 and ext.height > 10 and 0 <= ext.x < 1280 and 0 <= ext.y < 800,
                  "a painted row has screen bounds inside the window: %s" % (ext,))
        targets = [r.description for r in rows]
        check(targets == SAMPLE_TARGETS, "every row's description is its target: %s" % targets)
        new_button = find(frame, named(pyatspi.ROLE_PUSH_BUTTON, "New connection"))
        check(new_button is not None, "the button \"New connection\" is there")
        search = find(frame, named(pyatspi.ROLE_ENTRY, "Search saved connections"))
        check(search is not None and search.queryText().getText(0, -1) == "", "the search entry is empty")

        # "/" focuses the search entry, Escape takes the focus away again.
        if search and check(press_keys(display, "slash"), "the window takes keys"):
            check(wait_for(lambda: has_state(search, pyatspi.STATE_FOCUSED)), "after \"/\" the search entry is focused")
            screenshot(display, out_dir, "1b-search-focused")
            press_keys(display, "Escape")
            check(wait_for(lambda: not has_state(search, pyatspi.STATE_FOCUSED)),
                  "after Escape the search entry no longer reports the focus")
            screenshot(display, out_dir, "1c-search-left")

        # An action opens the form.
        action = new_button.queryAction()
        check(action.getName(0) == "activate", "the button's first action is activate")
        check(action.doAction(0), "doAction on \"New connection\" is accepted")
        name_entry = wait_for(lambda: find(frame, named(pyatspi.ROLE_ENTRY, "Connection name")))
        check(name_entry is not None, "doAction opened the form: its Name entry is shown")
        heading = find(frame, named(pyatspi.ROLE_HEADING, "New connection"))
        check(heading is not None, "the form's heading reads \"New connection\"")
        check(wait_for(lambda: listing.getRole() is None or has_state(listing, pyatspi.STATE_DEFUNCT), 3) is not None
              or find(frame, named(pyatspi.ROLE_LIST, "Saved connections")) is None, "the list is gone from the tree")
        screenshot(display, out_dir, "2-form")

        # Setting the Name entry's text.
        if name_entry:
            check(name_entry.queryEditableText().setTextContents("Lab Router ü"), "setTextContents is accepted")
            check(wait_for(lambda: name_entry.queryText().getText(0, -1) == "Lab Router ü"),
                  "the Name entry now reads the new text")
            check(wait_for(lambda: has_state(name_entry, pyatspi.STATE_FOCUSED)), "the Name entry has the focus")
            screenshot(display, out_dir, "3-name-set")

        # Focus moves are reported.
        host_entry = find(frame, named(pyatspi.ROLE_ENTRY, "Host name or IP address"))
        check(host_entry is not None, "the Host entry is there")
        if host_entry:
            focus_events.clear()
            check(host_entry.queryComponent().grabFocus(), "grabFocus on the Host entry is accepted")
            check(wait_for(lambda: "Host name or IP address" in focus_events),
                  "a focus event names the Host entry: %s" % focus_events)
            check(not has_state(name_entry, pyatspi.STATE_FOCUSED), "the Name entry lost the focus")
            screenshot(display, out_dir, "4-host-focused")

        # Requests on nodes that are gone are refused, and nothing else happens.
        refused = True
        try:
            refused = not new_button.queryAction().doAction(0)
        except Exception as e:  # the bus may answer that the object is unknown
            print("     (stale doAction raised %s)" % type(e).__name__)
        check(refused, "doAction on the list's button, gone with the list, is refused")
        try:
            refused = not search.queryEditableText().setTextContents("x")
        except Exception as e:
            print("     (stale setTextContents raised %s)" % type(e).__name__)
            refused = True
        check(refused, "setTextContents on the gone search entry is refused")
        check(not name_entry.queryAction().doAction(99), "doAction with an index the entry lacks answers False")
        pump(0.3)
        check(app.alive(), "the application is still running")
        check(find(frame, named(pyatspi.ROLE_HEADING, "New connection")) is not None, "the form is still shown")

        # The window keeps painting and the tree keeps following: cancel the form.
        cancel = find(frame, named(pyatspi.ROLE_PUSH_BUTTON, "Cancel"))
        check(cancel is not None and cancel.queryAction().doAction(0), "Cancel is accepted")
        back = wait_for(lambda: find(frame, named(pyatspi.ROLE_LIST, "Saved connections")))
        check(back is not None, "Cancel brought the list back")
        # Bounds come from the hit regions of the last painted frame.
        first_row = wait_for(lambda: back.getChildAtIndex(0))
        check(first_row is not None and wait_for(
            lambda: first_row.queryComponent().getExtents(pyatspi.DESKTOP_COORDS).height > 0),
              "the list's rows have bounds again: the window painted it")
        screenshot(display, out_dir, "5-back-to-list")
        pump(0.2)
    finally:
        pyatspi.Registry.deregisterEventListener(on_focus, "object:state-changed:focused")
        code = app.stop()
        check(code == 0, "the application ends cleanly on SIGTERM (status %s)" % code)
        log = app.log_text()
        check("ERROR" not in log and "runtime error" not in log, "no sanitizer report")
        shutil.rmtree(data_home, ignore_errors=True)


def start_sshd(binary, pins):
    """The helper's sshd, or None when it cannot run here (not root)."""
    proc = subprocess.Popen([binary, pins], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline()
    if not line:
        proc.wait()
        return None, None
    return proc, json.loads(line)


def stop_sshd(proc):
    proc.stdin.close()
    try:
        proc.wait(timeout=30)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def button(root, name):
    return find(root, named(pyatspi.ROLE_PUSH_BUTTON, name))


def dialog_button(frame, name):
    dialog = find(frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_DIALOG)
    return button(dialog, name) if dialog else None


def connect_through_tree(frame, row_name):
    """The row's Connect, then the dialog's Connect, both by doAction."""
    row = wait_for(lambda: find(frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_LIST_ITEM
                                and a.name.startswith(row_name + ",")))
    connect = row and button(row, "Connect")
    if not check(connect is not None and connect.queryAction().doAction(0), "the row's Connect is accepted"):
        return False
    confirm = wait_for(lambda: dialog_button(frame, "Connect"))
    return check(confirm is not None and confirm.queryAction().doAction(0), "the dialog's Connect is accepted")


def run_with_sshd(args, display, out_dir):
    """A real sshd whose key no longer matches its pin: Forget key, then Trust key."""
    data_home = tempfile.mkdtemp(prefix="remote-atspi-ssh-")
    state = os.path.join(data_home, "state")
    os.mkdir(state, 0o700)
    pins = os.path.join(state, "known-hosts.json")
    sshd, peer = start_sshd(args.sshd, pins)
    if sshd is None:
        print("skip the host-key steps: the sshd helper did not start (needs root)")
        shutil.rmtree(data_home, ignore_errors=True)
        return
    app = App(args.app, display, os.path.join(out_dir, "app-ssh.log"), data_home,
              dict(NO_LEAK_CHECK, VESK_REMOTE_SAMPLE=None, REMOTE_LIVE_SESSIONS="1", REMOTE_SSH_KNOWN_HOSTS=pins,
                   REMOTE_SSH_PASSWORD=peer["password"], REMOTE_SSH_KEY=None))
    try:
        root = wait_for(find_app, 30)
        if not check(root is not None, "the application is on the accessibility bus"):
            return
        frame = wait_for(lambda: root.getChildAtIndex(0))
        # A profile made through the form, as a screen-reader user would.
        add = wait_for(lambda: button(frame, "Add connection"))
        check(add is not None and add.queryAction().doAction(0), "Add connection is accepted")
        entries = {"Connection name": "Key Box", "Host name or IP address": "127.0.0.1", "Port": str(peer["port"]),
                   "User name": peer["user"]}
        for label, text in entries.items():
            entry = wait_for(lambda: find(frame, named(pyatspi.ROLE_ENTRY, label)))
            check(entry is not None and entry.queryEditableText().setTextContents(text)
                  and wait_for(lambda: entry.queryText().getText(0, -1) == text), "%s set to %s" % (label, text))
        save = button(frame, "Save connection")
        check(save is not None and save.queryAction().doAction(0), "Save connection is accepted")
        target = "%s@127.0.0.1:%d" % (peer["user"], peer["port"])
        row = wait_for(lambda: find(frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_LIST_ITEM
                                    and a.name.startswith("Key Box,")))
        check(row is not None and row.description == target, "the new row's description is its target %s" % target)

        # The pin names another key: the card offers Forget key.
        if not connect_through_tree(frame, "Key Box"):
            return
        forget = wait_for(lambda: button(frame, "Forget key"), 30)
        check(forget is not None, "the changed key's card has the button \"Forget key\"")
        if not forget:
            return
        check(wait_for(lambda: on_screen(forget)), "Forget key has bounds inside the window: %s" % (extents(forget),))
        status = find(frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_LABEL
                      and a.name.startswith("Connection failed:"))
        check(status is not None and peer["fingerprint"] in status.name,
              "the status names the received key %s: %r" % (peer["fingerprint"], status and status.name))
        check(button(frame, "Trust key") is None and button(frame, "Retry connection") is None,
              "and neither Trust key nor Retry")
        pump(0.3)
        screenshot(display, out_dir, "7-changed-key")
        check(forget.queryAction().doAction(0), "doAction on Forget key is accepted")
        forget_confirm = wait_for(lambda: dialog_button(frame, "Forget key"))
        check(forget_confirm is not None, "it opens the forget dialog")
        screenshot(display, out_dir, "8-forget-dialog")
        # While the dialog is open, everything but its two buttons is refused.
        add = button(frame, "Add connection")
        check(add is not None and not add.queryAction().doAction(0),
              "doAction on Add connection behind the dialog answers False")
        check(dialog_button(frame, "Forget key") is not None, "the dialog is still open")
        check(forget_confirm.queryAction().doAction(0), "the dialog's Forget key is accepted")
        check(wait_for(lambda: find(frame, named(pyatspi.ROLE_LIST, "Saved connections"))) is not None,
              "forgetting goes back to the list")

        # No pin now: the card offers Trust key, whose dialog names the key.
        if not connect_through_tree(frame, "Key Box"):
            return
        trust = wait_for(lambda: button(frame, "Trust key"), 30)
        check(trust is not None and wait_for(lambda: on_screen(trust)), "the unknown key's card has \"Trust key\" "
              "with bounds")
        if not trust:
            return
        screenshot(display, out_dir, "9-unknown-key")
        check(trust.queryAction().doAction(0), "doAction on Trust key is accepted")
        dialog = wait_for(lambda: find(frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_DIALOG))
        check(dialog is not None and peer["fingerprint"] in dialog.description,
              "the trust dialog names the key: %r" % (dialog and dialog.description))
        trust_confirm = dialog_button(frame, "Trust key")
        check(trust_confirm is not None and trust_confirm.queryAction().doAction(0), "the dialog's Trust key is accepted")
        terminal = wait_for(lambda: find(frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_TERMINAL), 30)
        check(terminal is not None, "trusting reconnects: the terminal is shown")
        screenshot(display, out_dir, "10-trusted")
        disconnect = button(frame, "Disconnect")
        check(disconnect is not None and disconnect.queryAction().doAction(0), "Disconnect is accepted")
        pump(0.3)
    finally:
        code = app.stop()
        check(code == 0, "the application ends cleanly on SIGTERM (status %s)" % code)
        log = app.log_text()
        check("ERROR" not in log and "runtime error" not in log, "no sanitizer report")
        stop_sshd(sshd)
        shutil.rmtree(data_home, ignore_errors=True)


def run_without_bus(args, display, out_dir):
    data_home = tempfile.mkdtemp(prefix="remote-nobus-")
    app = App(args.app, display, os.path.join(out_dir, "app-nobus.log"), data_home,
              dict(NO_LEAK_CHECK, DBUS_SESSION_BUS_ADDRESS=None, XDG_RUNTIME_DIR=None, AT_SPI_BUS_ADDRESS=None))
    time.sleep(2.5)
    check(app.alive(), "without an accessibility bus the application runs")
    screenshot(display, out_dir, "6-no-bus")
    code = app.stop()
    check(code == 0, "and ends cleanly (status %s)" % code)
    warnings = [l for l in app.log_text().splitlines() if "accessibility" in l]
    check(len(warnings) == 1 and "not published to assistive technology" in warnings[0],
          "with one warning: %s" % warnings)
    shutil.rmtree(data_home, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--app", required=True)
    parser.add_argument("--sshd", required=True, help="the helper that starts an sshd whose key changed")
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    xvfb, display = start_xvfb()
    try:
        run_with_bus(args, display, args.out)
        run_with_sshd(args, display, args.out)
        run_without_bus(args, display, args.out)
    finally:
        xvfb.terminate()
        xvfb.wait()
    if FAILURES:
        print("%d check(s) failed" % len(FAILURES))
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
