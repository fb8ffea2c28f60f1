#!/usr/bin/env python3
"""servoctl gateway in front of its paced simulated line: Modbus TCP clients
reading 10 registers of three drives, against what the line allows.

    bench/gateway_figures.py SERVOCTL [SECONDS]

Prints a markdown table (scripts/bench puts it into docs/performance.md).
The line's limit is a request, a silent interval, the answer and a silent
interval again, at 11 bits a character (8N2): above 1, a master keeps no
silence. Every answer is checked (its transaction, its station, 20 bytes of
registers); one that is not right fails the script: a fast wrong answer is
no figure.
"""
import re
import socket
import struct
import subprocess
import sys
import threading
import time

CLIENTS = 4
STATIONS = (1, 2, 3)
REQUEST, ANSWER = 8, 5 + 20  # RTU bytes of a read of 10 registers and its answer


def line_limit(baud):
    char = 11 / baud
    silence = 3.5 * char if baud <= 19200 else 0.00175
    return 1 / ((REQUEST + ANSWER) * char + 2 * silence)


def client(port, until, counts, index, failures):
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    tid = 0
    while time.monotonic() < until:
        tid = (tid + 1) & 0xFFFF
        unit = STATIONS[tid % len(STATIONS)]
        s.sendall(struct.pack(">HHHBBHH", tid, 0, 6, unit, 3, 0, 10))
        answer = b""
        while len(answer) < 7 + 2 + 20:
            part = s.recv(64)
            if not part:
                failures.append("closed")
                return
            answer += part
            if len(answer) >= 9 and answer[7] & 0x80:
                break
        got_tid, _, _, got_unit, function, count = struct.unpack(">HHHBBB", answer[:9])
        if (got_tid, got_unit, function, count, len(answer)) != (tid, unit, 3, 20, 29):
            failures.append(answer.hex(" "))
            return
        counts[index] += 1
    s.close()


def measure(servoctl, baud, seconds):
    gateway = subprocess.Popen([servoctl, "--sim", "--sim-pace", "--line", f"RS485,{baud},NONE,8,2",
                                "gateway", "listen", "0", "clients", str(CLIENTS)],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    first = gateway.stdout.readline()
    port = int(re.search(r"modbus\+tcp://127\.0\.0\.1:(\d+) ", first).group(1))
    counts, failures = [0] * CLIENTS, []
    start = time.monotonic()
    threads = [threading.Thread(target=client, args=(port, start + seconds, counts, i, failures))
               for i in range(CLIENTS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    wall = time.monotonic() - start
    gateway.terminate()
    gateway.wait()
    if failures:
        sys.exit(f"{baud} baud: a wrong answer: {failures[0]}")
    return sum(counts) / wall, min(counts), max(counts)


def main():
    servoctl = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 5
    print(f"{CLIENTS} Modbus TCP clients, each reading 10 registers of stations 1, 2 and 3 in turn, "
          f"back to back, for {seconds:g} s through `servoctl gateway` on its paced simulated line:\n")
    print("| Baud | Transactions/s | Line limit/s | Of the limit | Fewest, most by one client |")
    print("|---:|---:|---:|---:|---:|")
    for baud in (9600, 19200, 115200):
        rate, fewest, most = measure(servoctl, baud, seconds)
        limit = line_limit(baud)
        print(f"| {baud} | {rate:.1f} | {limit:.1f} | {rate / limit:.2f} | {fewest}, {most} |")


if __name__ == "__main__":
    main()
