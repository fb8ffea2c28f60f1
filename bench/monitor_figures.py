#!/usr/bin/env python3
"""servoctl monitor's own CPU on a line kept busy at 115200 baud.

    monitor_figures.py SERVOCTL SERVOSIM SECONDS

servosim serves station 1 with a tap; servoctl poll asks it with
--interval 0 for SECONDS while servoctl monitor listens on the tap. The
monitor's CPU is its user and system time from /proc between the poll's
start and end, against the wall time between them. Prints a Markdown table.
"""
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time

LINE = "RS485,115200,NONE,8,1"
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_s(pid):
    with open("/proc/%d/stat" % pid) as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def wait_for(process, text):
    seen = ""
    while text not in seen:
        chunk = process.stdout.readline() if process.stdout else ""
        if not chunk:
            raise SystemExit("no %r from %s" % (text, process.args[0]))
        seen += chunk


def main():
    servoctl, servosim, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    with tempfile.TemporaryDirectory() as tmp:
        link, tap = os.path.join(tmp, "line"), os.path.join(tmp, "tap")
        sim = subprocess.Popen([servosim, "--stations", "1", "--line", LINE, "--link", link, "--tap", tap],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        wait_for(sim, "listen-only")
        # what servosim says after it is read away, so that it never waits on a full pipe
        threading.Thread(target=sim.stdout.read, daemon=True).start()
        monitor = subprocess.Popen([servoctl, "-d", tap, "--line", LINE, "--stats", "monitor"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        wait_for(monitor, "listen-only")
        sink = open(os.devnull, "w")
        monitor_cpu0, start = cpu_s(monitor.pid), time.monotonic()
        poll = subprocess.Popen([servoctl, "-d", link, "--line", LINE, "--interval", "0", "poll", "HR1", "10"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(seconds)
        poll_cpu = cpu_s(poll.pid)
        monitor_cpu = cpu_s(monitor.pid) - monitor_cpu0
        wall = time.monotonic() - start
        poll.send_signal(signal.SIGINT)
        poll.wait()
        time.sleep(0.5)
        monitor.send_signal(signal.SIGINT)
        out, _ = monitor.communicate()
        sim.send_signal(signal.SIGTERM)
        sim.wait()
        sink.close()
    requests = 0
    for line in out.splitlines():
        fields = line.split()
        if len(fields) > 6 and fields[0] == "1":
            requests = int(fields[1])
    print("| line | wall s | requests heard | per s | monitor CPU s | monitor CPU % of one core | poller CPU % |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    print("| %s, poll HR1 10 --interval 0 | %.1f | %d | %.0f | %.2f | %.2f | %.1f |" % (
        LINE, wall, requests, requests / wall, monitor_cpu, 100 * monitor_cpu / wall, 100 * poll_cpu / wall))


main()
