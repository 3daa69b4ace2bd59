#!/usr/bin/env python3
"""Runs QEMU with its serial line on stdio and types on it as an operator would.

  serial-typist.py OUTPUT [--after TEXT --type LINE]... -- QEMU COMMAND...

Everything QEMU prints goes to OUTPUT. Each --after/--type pair waits until
TEXT appears in the output (after what the previous step waited for) and then
types LINE and Enter, a character at a time. Once the steps are done, Enter is
typed every half second (the driver waits for a key after its warning), until
QEMU ends. The exit status is QEMU's.
"""
import os
import select
import subprocess
import sys
import time


def main():
    args = sys.argv[1:]
    if '--' not in args or not args:
        print(__doc__, file=sys.stderr)
        return 2
    split = args.index('--')
    output, options, command = args[0], args[1:split], args[split + 1:]
    steps = []
    while options:
        if len(options) < 4 or options[0] != '--after' or options[2] != '--type':
            print(__doc__, file=sys.stderr)
            return 2
        steps.append((options[1].encode(), options[3].encode()))
        options = options[4:]
    qemu = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    seen = b''
    searched = 0
    last_enter = time.monotonic()
    with open(output, 'wb') as out:
        while True:
            ready, _, _ = select.select([qemu.stdout], [], [], 0.1)
            if ready:
                chunk = os.read(qemu.stdout.fileno(), 65536)
                if not chunk:
                    break
                out.write(chunk)
                seen += chunk
            try:
                if steps:
                    at = seen.find(steps[0][0], searched)
                    if at >= 0:
                        searched = at + len(steps[0][0])
                        for byte in steps[0][1] + b'\r':
                            qemu.stdin.write(bytes([byte]))
                            qemu.stdin.flush()
                            time.sleep(0.02)
                        steps.pop(0)
                elif time.monotonic() - last_enter >= 0.5:
                    qemu.stdin.write(b'\r')
                    qemu.stdin.flush()
                    last_enter = time.monotonic()
            except BrokenPipeError:
                pass
    return qemu.wait()


if __name__ == '__main__':
    sys.exit(main())
