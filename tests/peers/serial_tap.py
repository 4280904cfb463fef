#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A tap on a serial line, for the tests: it joins two pseudo-terminals as one line and copies
every byte either way onto a third, the moment it passes, so that a listener there hears the line
as a tap on the wire would.

Usage: serial_tap.py MASTER_SIDE SLAVE_SIDE COPY
Prints "tapping" once the three are open; runs until it is killed.
"""
import os
import select
import sys
import termios
import tty


def open_raw(path):
    descriptor = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(descriptor, termios.TCSANOW)
    return descriptor


def write_all(descriptor, data):
    while data:
        written = os.write(descriptor, data)
        data = data[written:]


def main():
    master, slave, copy = (open_raw(path) for path in sys.argv[1:4])
    other = {master: slave, slave: master}
    print("tapping", flush=True)
    while True:
        ready, _, _ = select.select([master, slave], [], [])
        # Requests before answers when both wait: the master spoke first.
        for descriptor in sorted(ready, key=lambda d: d != master):
            data = os.read(descriptor, 4096)
            if data:
                write_all(other[descriptor], data)
                write_all(copy, data)


if __name__ == "__main__":
    main()
