#!/usr/bin/env python3
"""servoctl scan on its paced simulated line: wall times, as a person runs it.

    bench/scan_figures.py SERVOCTL [RUNS]

Prints markdown tables (scripts/bench puts them into docs/performance.md).
Each case is run RUNS times (default 3); every run must find what the case
expects, or the script fails: a fast scan that misses a drive is no figure.
"""
import re
import subprocess
import sys
import time

BAUDS = "1200,2400,4800,9600,19200,38400,57600,115200"

# name, servoctl's arguments, the rows that must be found (station, settings)
FULL = [
    ("RS485,115200,NONE,8,2", ["--line", "RS485,115200,NONE,8,2", "scan"]),
    ("RS485,9600,NONE,8,2", ["--line", "RS485,9600,NONE,8,2", "scan"]),
]
LATE = [
    ("RS485,9600,NONE,8,2", ["--line", "RS485,9600,NONE,8,2", "--sim-stations", "1,40,200",
                             "--sim-faults", "delay=1:40", "scan"]),
    ("RS485,115200,NONE,8,2", ["--line", "RS485,115200,NONE,8,2", "--sim-stations", "1,40,200",
                               "--sim-faults", "delay=1:40", "scan"]),
]
SETTINGS = [
    ("RS485,9600,NONE,8,2", ["--sim-line", "RS485,9600,NONE,8,2"]),
    ("RS485,19200,NONE,8,2", ["--sim-line", "RS485,19200,NONE,8,2"]),
    ("RS485,115200,NONE,8,2", ["--sim-line", "RS485,115200,NONE,8,2"]),
]


def run(servoctl, args):
    start = time.monotonic()
    done = subprocess.run([servoctl, "--sim", "--sim-pace"] + args, capture_output=True, text=True)
    wall = time.monotonic() - start
    return done, wall


def rows(out):
    """The table's rows: (station, settings, answer)."""
    found = []
    for line in out.splitlines():
        m = re.match(r"^\s*(\d+)  (\S+)\s+(.*)$", line)
        if m:
            found.append((int(m.group(1)), m.group(2), m.group(3)))
    return found


def check(done, expected, label):
    got = [(station, settings) for station, settings, _ in rows(done.stdout)]
    if done.returncode != 0 or got != expected:
        sys.exit(f"scan_figures: {label}: expected {expected}, got {got} (status {done.returncode})\n"
                 f"{done.stdout}{done.stderr}")
    return rows(done.stdout)


def times(walls):
    return ", ".join(f"{w:.2f}" for w in walls) + " s"


def main():
    servoctl = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3

    print("Whole scan, 247 stations, three drives (1, 2, 3):")
    print()
    print("| Line | Wall time (%d runs) | Goal |" % runs)
    print("|---|---:|---:|")
    for line, args in FULL:
        walls = []
        for _ in range(runs):
            done, wall = run(servoctl, args)
            check(done, [(s, line) for s in (1, 2, 3)], line)
            walls.append(wall)
        goal = "4 s" if "115200" in line else "8 s"
        print(f"| {line} | {times(walls)} | {goal} |")

    print()
    print("Drives that begin answering 40 ms late (`--sim-faults delay=1:40`), stations 1, 40 and 200:")
    print()
    print("| Line | Wall time (%d runs) | Station 40's row |" % runs)
    print("|---|---:|---|")
    for line, args in LATE:
        walls, answer = [], ""
        for _ in range(runs):
            done, wall = run(servoctl, args)
            found = check(done, [(s, line) for s in (1, 40, 200)], line + " late")
            answer = found[1][2]
            walls.append(wall)
        print(f"| {line} | {times(walls)} | {answer} |")

    print()
    print(f"A settings scan, `scan baud {BAUDS} parity none,even,odd` (24 settings),")
    print("one drive at station 17:")
    print()
    print("| The drive's line | Wall time (%d runs) | Settings probed | Goal |" % runs)
    print("|---|---:|---:|---:|")
    for line, args in SETTINGS:
        walls, summary = [], ""
        for _ in range(runs):
            done, wall = run(servoctl, args + ["--sim-stations", "17", "scan", "baud", BAUDS,
                                               "parity", "none,even,odd"])
            check(done, [(17, line)], line + " settings")
            summary = re.search(r"at (\d+) line settings?", done.stdout).group(1)
            walls.append(wall)
        print(f"| {line} | {times(walls)} | {summary} | 30 s |")


if __name__ == "__main__":
    main()
