#!/usr/bin/env python3
"""Records real programs in an 80x24 pseudo-terminal for the terminal's
differential test.

Each scenario starts a clean bash (no rc files, prompt "$ "), types its keys
one step at a time and waits after each step until the output has been quiet
for a while. Everything the programs wrote is saved as NAME.vt, and the byte
offset reached after each step as one line of NAME.marks, so the test can
compare the screens at every step, not only at the end.

    record.py [--out DIR] [NAME ...]     (default: every scenario, here)

The recordings are fixtures: CI replays them and never runs this script. It
needs bash, less, vim, nano, man and top (procps).
"""

import argparse
import fcntl
import os
import pty
import select
import shutil
import struct
import sys
import tempfile
import termios
import time

COLS, ROWS = 80, 24
# A step is over when nothing arrived for this long...
QUIET_SECONDS = 0.4
# ...or, for programs that keep drawing (top), after this long.
STEP_LIMIT_SECONDS = 4.0

ESC = "\x1b"
UP, DOWN, RIGHT, LEFT = ESC + "[A", ESC + "[B", ESC + "[C", ESC + "[D"
HOME, END, DELETE = ESC + "[H", ESC + "[F", ESC + "[3~"
BACKSPACE, ENTER = "\x7f", "\r"


def ctrl(letter):
    return chr(ord(letter.upper()) - 64)


def text_file(path, lines):
    with open(path, "w", encoding="utf-8") as f:
        for i in range(1, lines + 1):
            f.write(f"line {i:3d}: the quick brown fox jumps over the lazy dog {i * 37 % 101}\n")


# Each scenario: the keys of each step, typed in order. Strings are typed
# whole; a step waits for the output to settle before the next.
SCENARIOS = {
    # The line bash holds must be the line shown: insert at Home, append at
    # End, backspace and delete mid-line, an insert mid-line, history.
    "bash_edit": [
        "cho abc", HOME, "e", END, "Z", LEFT + LEFT, BACKSPACE, DELETE, ENTER,
        "echo abcdef", LEFT, LEFT, LEFT, "XY", ENTER,
        UP, UP, ctrl("a"), RIGHT * 5, ctrl("k"), "hello", ENTER,
        "echo one two three", ctrl("a"), ctrl("e"), BACKSPACE * 5, ctrl("u"), "echo cleared", ENTER,
        "exit", ENTER,
    ],
    # Lines longer than the screen: typing across the wrap, moving back over
    # it, inserting and deleting there.
    "bash_wrap": [
        "echo " + "abcdefghij" * 9, ENTER,
        "echo " + "0123456789" * 8, LEFT * 10, "INSERTED", ctrl("a"), RIGHT * 76, DELETE * 3, ctrl("e"),
        BACKSPACE * 4, ENTER,
        UP, ctrl("a"), "x", ctrl("e"), " tail", ENTER,
        "exit", ENTER,
    ],
    "less": [
        "less file.txt", ENTER,
        " ", " ", "b", "j", "j", "j", "k", "G", "k", "g", ctrl("f"), ctrl("b"), "q",
        "exit", ENTER,
    ],
    "vim": [
        "vim -u NONE -i NONE -N file.txt", ENTER,
        "3G", "dd", "dd", "Onew line above\x1b", "ointo the middle\x1b", ctrl("f"), ctrl("f"), ctrl("b"),
        "G", "dd", "gg", "x", ":q!" + ENTER,
        "echo back", ENTER,
        "exit", ENTER,
    ],
    "top": [
        "top -d 30 -p $$", ENTER,
        "",
        "q",
        "exit", ENTER,
    ],
    "nano": [
        "nano -I file.txt", ENTER,
        "typed at the top ", DOWN * 3, ctrl("k"), ctrl("k"), END, " end", ctrl("v"), ctrl("y"), DOWN * 30,
        ctrl("x"), "n",
        "exit", ENTER,
    ],
    "man": [
        "man ls", ENTER,
        " ", " ", "b", "j", "j", "G", "g", "q",
        "exit", ENTER,
    ],
}


def spawn(workdir):
    env = {
        "PATH": "/usr/bin:/bin",
        "HOME": workdir,
        "TERM": "xterm-256color",
        "LANG": "C.UTF-8",
        "LC_ALL": "C.UTF-8",
        "PS1": "$ ",
        "INPUTRC": "/dev/null",
        "LESSHISTFILE": "-",
        "MANPAGER": "less",
        "MANWIDTH": str(COLS),
        "COLUMNS": str(COLS),
        "LINES": str(ROWS),
    }
    pid, fd = pty.fork()
    if pid == 0:
        os.chdir(workdir)
        os.execve("/bin/bash", ["bash", "--norc", "--noprofile", "-i"], env)
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", ROWS, COLS, 0, 0))
    return pid, fd


def settle(fd, out):
    start = time.monotonic()
    last = start
    while True:
        now = time.monotonic()
        if now - last >= QUIET_SECONDS or now - start >= STEP_LIMIT_SECONDS:
            return True
        ready, _, _ = select.select([fd], [], [], QUIET_SECONDS / 4)
        if ready:
            try:
                data = os.read(fd, 65536)
            except OSError:
                return False  # the shell has gone
            if not data:
                return False
            out.extend(data)
            last = time.monotonic()


def record(name, steps, out_dir):
    workdir = tempfile.mkdtemp(prefix="vt-record-")
    try:
        text_file(os.path.join(workdir, "file.txt"), 120)
        pid, fd = spawn(workdir)
        out = bytearray()
        marks = []
        settle(fd, out)
        marks.append(len(out))
        alive = True
        for keys in steps:
            if not alive:
                break
            # Keys arrive one at a time, as a person types them.
            for key in split_keys(keys):
                os.write(fd, key.encode())
                time.sleep(0.02)
            alive = settle(fd, out)
            marks.append(len(out))
        os.close(fd)
        os.waitpid(pid, 0)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    with open(os.path.join(out_dir, name + ".vt"), "wb") as f:
        f.write(out)
    with open(os.path.join(out_dir, name + ".marks"), "w") as f:
        f.write("".join(f"{m}\n" for m in dict.fromkeys(marks)))
    print(f"{name}: {len(out)} bytes, {len(marks)} marks")


def split_keys(keys):
    """Splits typed text into keys, keeping each escape sequence whole."""
    out, i = [], 0
    while i < len(keys):
        if keys[i] == ESC and i + 1 < len(keys) and keys[i + 1] in "[O":
            j = i + 2
            while j < len(keys) and not ("@" <= keys[j] <= "~"):
                j += 1
            out.append(keys[i:j + 1])
            i = j + 1
        else:
            out.append(keys[i])
            i += 1
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", default=os.path.dirname(os.path.abspath(__file__)))
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    for name in args.names or SCENARIOS:
        if name not in SCENARIOS:
            sys.exit(f"unknown scenario {name}")
        record(name, SCENARIOS[name], args.out)


if __name__ == "__main__":
    main()
