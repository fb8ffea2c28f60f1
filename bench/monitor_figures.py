#!/usr/bin/env python3
"""servoctl monitor on a busy line: its CPU, and how far its frame times are
from the poller's own.

    monitor_figures.py SERVOCTL SERVOSIM SECONDS

For each line, servosim serves station 1 with a tap; servoctl poll asks it
with --interval 0 and --trace for SECONDS while servoctl monitor listens on
the tap with --stats and --pcap. The monitor's CPU is its user and system
time from /proc over the poll, against the wall time. The line's occupancy
is the characters the capture holds, times a character's time, over the
wall time. Frame times: each request's begin in the capture against the
poller's trace line of it (written once the request is handed to the line),
and each answer's begin against the poller's first byte of it less one
character (a character is read once its stop bit is in). Prints Markdown.
"""
import os
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

TICKS = os.sysconf("SC_CLK_TCK")
LINES = [("RS485,115200,NONE,8,1", "HR1", "60"), ("RS485,9600,NONE,8,1", "HR1", "10")]


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


def character_us(line):
    _, baud, parity, data, stop = line.split(",")
    return 1e6 * (1 + int(data) + (parity != "NONE") + int(stop)) / int(baud)


def capture(path):
    """(microseconds since the epoch, bytes) of each packet."""
    with open(path, "rb") as pcap:
        data = pcap.read()
    packets, at = [], 24
    while at + 16 <= len(data):
        seconds, micros, length, _ = struct.unpack_from("<IIII", data, at)
        packets.append((seconds * 1000000 + micros, data[at + 16:at + 16 + length]))
        at += 16 + length
    return packets


def trace(text):
    """(microseconds since midnight, 'TX' or 'RX', bytes) of each frame line."""
    frames = []
    for line in text.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[1] in ("TX", "RX"):
            h, m, s = parts[0].split(":")
            us = round((int(h) * 3600 + int(m) * 60 + float(s)) * 1e6)
            frames.append((us, parts[1], bytes.fromhex(parts[2])))
    return frames


def distances(packets, frames, char_us):
    """The monitor's begin less the poller's, in microseconds: requests, answers."""
    requests, answers = [], []
    day = (packets[0][0] // 86400000000) * 86400000000 if packets else 0
    at = 0
    for kind, list_, shift in (("TX", requests, 0), ("RX", answers, char_us)):
        theirs = [(us, raw) for us, k, raw in frames if k == kind]
        ours = [(us - day, raw) for us, raw in packets]
        at = 0
        for us, raw in theirs:
            while at < len(ours) and ours[at][1] != raw:
                at += 1
            if at == len(ours):
                break
            list_.append(ours[at][0] - (us - shift))
            at += 1
    return requests, answers


def spread(values):
    if not values:
        return "-"
    ordered = sorted(values)
    pick = lambda q: ordered[min(len(ordered) - 1, int(q * len(ordered)))]
    return "%d / %d / %d / %d" % (ordered[len(ordered) // 2], pick(0.99), ordered[0], ordered[-1])


def measure(servoctl, servosim, seconds, line, address, count):
    env = dict(os.environ, TZ="UTC")
    with tempfile.TemporaryDirectory() as tmp:
        link, tap, pcap = (os.path.join(tmp, name) for name in ("line", "tap", "line.pcap"))
        sim = subprocess.Popen([servosim, "--stations", "1", "--line", line, "--link", link, "--tap", tap],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        wait_for(sim, "listen-only")
        # what servosim says after it is read away, so that it never waits on a full pipe
        threading.Thread(target=sim.stdout.read, daemon=True).start()
        monitor = subprocess.Popen([servoctl, "-d", tap, "--line", line, "--stats", "--pcap", pcap, "monitor"],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=env)
        wait_for(monitor, "listen-only")
        # its lines are read as they come, or a full pipe would stop it listening
        heard = []
        listener = threading.Thread(target=lambda: heard.append(monitor.stdout.read()), daemon=True)
        listener.start()
        monitor_cpu0, start = cpu_s(monitor.pid), time.monotonic()
        poll = subprocess.Popen([servoctl, "-d", link, "--line", line, "--interval", "0", "--trace", "poll",
                                 address, count], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                env=env)
        traced = []
        reader = threading.Thread(target=lambda: traced.append(poll.stderr.read()), daemon=True)
        reader.start()
        time.sleep(seconds)
        poll_cpu = cpu_s(poll.pid)
        monitor_cpu = cpu_s(monitor.pid) - monitor_cpu0
        wall = time.monotonic() - start
        poll.send_signal(signal.SIGINT)
        poll.wait()
        reader.join()
        time.sleep(0.5)
        monitor.send_signal(signal.SIGINT)
        monitor.wait()
        listener.join()
        out = heard[0] if heard else ""
        sim.send_signal(signal.SIGTERM)
        sim.wait()
        packets = capture(pcap)
    requests = too_soon = 0
    for text in out.splitlines():
        fields = text.split()
        if len(fields) > 6 and fields[0] == "1":
            requests = int(fields[1])
        if text.startswith("master:"):
            too_soon = int(text.rsplit("), ", 1)[1].split()[0])
    char_us = character_us(line)
    busy = sum(len(raw) for _, raw in packets) * char_us / 1e6 / wall
    asked, answered = distances(packets, trace(traced[0] if traced else ""), char_us)
    return {"line": line, "read": "%s %s" % (address, count), "wall": wall, "requests": requests, "busy": busy,
            "monitor_cpu": monitor_cpu, "poll_cpu": poll_cpu, "too_soon": too_soon, "char_us": char_us,
            "asked": asked, "answered": answered}


def main():
    servoctl, servosim, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    runs = [measure(servoctl, servosim, seconds, *line) for line in LINES]
    print("| line, poll --interval 0 | wall s | requests heard | per s | line busy | monitor CPU s |"
          " monitor CPU % of one core | poller CPU % | requests judged too soon |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for r in runs:
        print("| %s, %s | %.1f | %d | %.0f | %.0f %% | %.2f | %.2f | %.1f | %d |" % (
            r["line"], r["read"], r["wall"], r["requests"], r["requests"] / r["wall"], 100 * r["busy"],
            r["monitor_cpu"], 100 * r["monitor_cpu"] / r["wall"], 100 * r["poll_cpu"] / r["wall"], r["too_soon"]))
    print()
    print("The monitor's frame begin less the poller's, in microseconds (median / 99th percentile / min / max),"
          " and the share within one character time:")
    print()
    print("| line | one character | requests | within one character | answers | within one character |")
    print("|---|---:|---:|---:|---:|---:|")
    for r in runs:
        within = lambda v: "%.1f %% of %d" % (100 * sum(abs(x) <= r["char_us"] for x in v) / max(1, len(v)), len(v))
        print("| %s | %.0f us | %s | %s | %s | %s |" % (r["line"], r["char_us"], spread(r["asked"]),
                                                        within(r["asked"]), spread(r["answered"]),
                                                        within(r["answered"])))


main()
