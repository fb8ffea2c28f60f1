#!/usr/bin/env python3
"""servoctl monitor under CPU load: does it ever show a negative time?

    monitor_check.py SERVOCTL SERVOSIM TRANSACTIONS

servosim serves stations 1 and 2 with a tap at 19200 baud; servoctl polls
them back to back while servoctl monitor --stats listens on the tap for
TRANSACTIONS requests, and two busy loops (sh -c 'while :; do :; done')
take the machine's cores from both. Each of the monitor's lines is read:
its answer time (a number, or "answer time unknown") and its silence.
Prints Markdown; exits 1 when a negative time was shown.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

LINE = "RS485,19200,NONE,8,2"
HOGS = 2
LIMIT_S = 600


def wait_for(process, text):
    seen = ""
    while text not in seen:
        chunk = process.stdout.readline()
        if not chunk:
            raise SystemExit("no %r from %s" % (text, process.args[0]))
        seen += chunk


def stop(process, sig=signal.SIGTERM):
    if process.poll() is None:
        process.send_signal(sig)
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def measure(servoctl, servosim, transactions):
    with tempfile.TemporaryDirectory() as tmp:
        link, tap = os.path.join(tmp, "line"), os.path.join(tmp, "tap")
        sim = subprocess.Popen([servosim, "--stations", "1,2", "--line", LINE, "--link", link, "--tap", tap],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        hogs, monitor, poll = [], None, None
        try:
            wait_for(sim, "listen-only")
            # what servosim says after it is read away, so that it never waits on a full pipe
            threading.Thread(target=sim.stdout.read, daemon=True).start()
            monitor = subprocess.Popen([servoctl, "-d", tap, "--line", LINE, "--stats", "--count", str(transactions),
                                        "monitor"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            wait_for(monitor, "listen-only")
            hogs = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(HOGS)]
            start = time.monotonic()
            poll = subprocess.Popen([servoctl, "-d", link, "--line", LINE, "--station", "1,2", "--interval", "0",
                                     "poll", "HR1", "2"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            out, _ = monitor.communicate(timeout=LIMIT_S)
            wall = time.monotonic() - start
        finally:
            for process in hogs:
                stop(process, signal.SIGKILL)
            if poll:
                stop(poll, signal.SIGINT)
            if monitor:
                stop(monitor, signal.SIGINT)
            stop(sim)
    return out, wall


def main():
    servoctl, servosim, transactions = sys.argv[1], sys.argv[2], int(sys.argv[3])
    out, wall = measure(servoctl, servosim, transactions)
    lines = [l for l in out.splitlines() if re.match(r"\d\d:\d\d:\d\d\.\d{3} station ", l)]
    shown = [float(m) for m in re.findall(r"  answer (-?\d+\.\d+) ms", out)]
    silences = [float(m) for m in re.findall(r"  silence (-?\d+\.\d+) ms", out)]
    unknown = out.count("  answer time unknown")
    negative = sum(t < 0 for t in shown + silences)
    stats = [l for l in out.splitlines()
             if re.match(r" +\d+ +\d+ ", l) or l.startswith(("station  requests", "answer times", "master:"))]
    print("servoctl monitor --stats on servosim's tap, %s, stations 1 and 2 polled back to back (HR1 2),"
          " %d busy loops beside them; %.1f s." % (LINE, HOGS, wall))
    print()
    print("| transactions | answer times shown | unknown | negative times shown (answers and silences) |"
          " answer min / median / max ms |")
    print("|---:|---:|---:|---:|---|")
    ordered = sorted(shown)
    spread = "%.2f / %.2f / %.2f" % (ordered[0], ordered[len(ordered) // 2], ordered[-1]) if ordered else "-"
    print("| %d | %d | %d | %d | %s |" % (len(lines), len(shown), unknown, negative, spread))
    print()
    print("Its statistics:")
    print()
    print("```text")
    print("\n".join(stats))
    print("```")
    sys.exit(1 if negative or len(lines) < transactions else 0)


main()
