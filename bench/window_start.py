#!/usr/bin/env python3
"""Run under an X server: starts the window program given and prints how many seconds pass
until its main window is on the screen; then closes it.   window_start.py PROGRAM"""
import subprocess
import sys
import time

CAPTION = "^Orvantis v1.4 - by Quellmar$"
start = time.monotonic()
program = subprocess.Popen([sys.argv[1]], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    while time.monotonic() - start < 60:
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", CAPTION],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.strip()
        if found:
            print(f"{time.monotonic() - start:.3f}")
            break
        time.sleep(0.01)
    else:
        print("window did not appear", file=sys.stderr)
        sys.exit(1)
finally:
    program.kill()
    program.wait()
