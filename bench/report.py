#!/usr/bin/env python3
"""Turns Google Benchmark's JSON output into a Markdown table."""
import json
import sys

SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def main(path):
    with open(path) as f:
        data = json.load(f)
    print("| Benchmark | Time (ns) | CPU (ns) | Throughput (MB/s) | Heap allocations |")
    print("|---|---:|---:|---:|---:|")
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        scale = SCALE[b.get("time_unit", "ns")]
        rate = b.get("bytes_per_second")
        allocs = b.get("allocs")
        print("| {} | {:.0f} | {:.0f} | {} | {} |".format(
            b["name"].replace("BM_", ""),
            b["real_time"] * scale,
            b["cpu_time"] * scale,
            "{:.0f}".format(rate / 1e6) if rate else "",
            "{:g}".format(allocs) if allocs is not None else ""))


if __name__ == "__main__":
    main(sys.argv[1])
