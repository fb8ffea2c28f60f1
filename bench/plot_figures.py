#!/usr/bin/env python3
"""servoctl plot on long logs: time and peak memory against the log's size.

    bench/plot_figures.py SERVOCTL

Prints a markdown table (scripts/bench puts it into docs/performance.md).
plot reads a log as it goes, never whole: its memory must not grow with the
log. Each log is a speed, a position and a status bit every 20 ms; every run
must draw all of its rows, or the script fails.
"""
import os
import resource
import subprocess
import sys
import tempfile
import time

ROWS = [30000, 300000, 3000000]


def write_log(path, rows):
    with open(path, "w") as out:
        out.write("time,station,address,raw,value\n")
        for i in range(rows // 3):
            ms = 20 * i
            on = (i // 50000) % 2
            speed = on * 1500
            at = "2026-12-06T%02d:%02d:%02d.%03d,1," % (ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000)
            out.write("%sIR1,0x%04X,%04d\n%sIR2,0x%08X,%07d\n%sIR4.1,0x%d,%d\n"
                      % (at, speed, speed, at, i, i, at, on, on))


def measure(servoctl, csv, png):
    """Wall seconds and the peak resident size (KiB) of servoctl and its
    gnuplot: in a child of our own, so that each run's peak is its own."""
    read, write = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read)
        start = time.monotonic()
        done = subprocess.run([servoctl, "plot", csv, "-o", png], capture_output=True, text=True)
        wall = time.monotonic() - start
        peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
        os.write(write, ("%d\t%f\t%d\t%s" % (done.returncode, wall, peak, done.stdout)).encode())
        os._exit(0)
    os.close(write)
    with os.fdopen(read) as f:
        status, wall, peak, out = f.read().split("\t", 3)
    os.waitpid(pid, 0)
    return int(status), float(wall), int(peak), out


def main():
    servoctl = sys.argv[1]
    print("| rows | log | time | peak memory (servoctl and gnuplot) |")
    print("|---:|---:|---:|---:|")
    with tempfile.TemporaryDirectory() as folder:
        for rows in ROWS:
            csv = os.path.join(folder, "log-%d.csv" % rows)
            png = os.path.join(folder, "plot-%d.png" % rows)
            write_log(csv, rows)
            status, wall, peak, out = measure(servoctl, csv, png)
            if status != 0 or ("plot of %d rows," % rows) not in out:
                sys.exit("plot_figures: %d rows: status %d, %r" % (rows, status, out))
            print("| %s | %.0f MB | %.1f s | %.1f MB |"
                  % (format(rows, ","), os.path.getsize(csv) / 1e6, wall, peak / 1024))
            os.remove(csv)


if __name__ == "__main__":
    main()
