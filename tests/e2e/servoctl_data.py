#!/usr/bin/env python3
"""servoctl's data for other programs, read as they read it.

    servoctl_data.py SERVOCTL...

--csv - through a pipe that head closes, --csv /dev/stdout, JSON Lines of
read, poll and scan parsed with the json module, and --csv-wide opened with
the csv module. The command (after an emulator, when cross-compiling) is
the arguments.
"""
import csv
import json
from datetime import datetime
import os
import subprocess
import sys
import tempfile
import unittest

SERVOCTL = sys.argv[1:]
TIMEOUT_S = 60


def contents(path):
    with open(path) as file:
        return file.read()


def run(*args, **kwargs):
    return subprocess.run(SERVOCTL + list(args), capture_output=True, text=True,
                          timeout=TIMEOUT_S, stdin=subprocess.DEVNULL, **kwargs)


class CsvToPipes(unittest.TestCase):
    def test_csv_to_standard_output_is_csv_alone(self):
        out = run("--sim", "poll", "HR1", "IR1", "--polls", "2", "--interval", "0", "--csv", "-")
        self.assertEqual(out.returncode, 0, out.stderr)
        rows = list(csv.reader(out.stdout.splitlines()))
        self.assertEqual(rows[0], ["time", "station", "address", "raw", "value", "kind", "error"])
        self.assertEqual([r[2:] for r in rows[1:]], [["HR1", "0x0000", "0", "read", ""],
                                                     ["IR1", "0x03E8", "1000", "read", ""]] * 2)
        # an instant wherever it is read: local time and its offset from UTC
        self.assertTrue(all(datetime.fromisoformat(r[0]).utcoffset() is not None for r in rows[1:]), rows)
        # the person's text went to standard error
        self.assertIn("2 polls, 2 good", out.stderr)

    def test_a_reader_that_goes_away_ends_servoctl_quietly(self):
        # poll without --polls runs until its reader, head, has what it
        # wanted: its end, whether it writes data or a person's text
        shell = " ".join("'%s'" % a for a in SERVOCTL)
        for output in ("--csv -", "--format json", ""):
            out = subprocess.run(
                ["bash", "-c", "set -o pipefail; %s --sim poll HR1 --interval 1 %s | head -n 3" % (shell, output)],
                capture_output=True, text=True, timeout=TIMEOUT_S, stdin=subprocess.DEVNULL)
            self.assertEqual(out.returncode, 0, output + ": " + out.stderr)
            self.assertEqual(len(out.stdout.splitlines()), 3)
            self.assertNotIn("interrupted", out.stderr)

    def test_dev_stdout_and_fifos_but_never_a_users_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            target = os.path.join(tmp, "out.csv")
            with open(target, "w") as sink:
                out = subprocess.run(SERVOCTL + ["--sim", "--csv", "/dev/stdout", "read", "HR1", "word", "2"],
                                     stdout=sink, stderr=subprocess.PIPE, text=True, timeout=TIMEOUT_S)
            self.assertEqual(out.returncode, 0, out.stderr)
            self.assertEqual(contents(target).splitlines()[0], "time,station,address,raw,value,kind,error")
            before = contents(target)
            out = run("--sim", "--csv", target, "read", "HR1")
            self.assertEqual(out.returncode, 2)
            self.assertEqual(out.stderr, "servoctl: --csv: %s exists: servoctl never replaces a file; "
                                         "give a new name (see servoctl --help)\n" % target)
            self.assertEqual(contents(target), before)
            fifo = os.path.join(tmp, "fifo")
            os.mkfifo(fifo)
            child = subprocess.Popen(SERVOCTL + ["--sim", "--csv-wide", fifo, "read", "HR5", "word", "2"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            with open(fifo) as reader:
                rows = list(csv.reader(reader))
            self.assertEqual(child.wait(TIMEOUT_S), 0, child.stderr.read())
            self.assertEqual(rows[0], ["time", "HR5", "HR6"])
            child.stdout.close()
            child.stderr.close()


class JsonLines(unittest.TestCase):
    def lines(self, *args, status=0):
        self.out = run(*args)
        self.assertEqual(self.out.returncode, status, self.out.stderr)
        return [json.loads(line) for line in self.out.stdout.splitlines()]

    def test_read_and_poll_readings(self):
        found = self.lines("--sim", "write", "HR10", "float", "-3.14", "then", "write", "HR12", "word", "1500",
                           "0xBEEF", "then", "read", "HR10", "dword", "float", "then", "read", "HR12",
                           "word", "2", "hex", "--format", "json")
        for item in found:
            self.assertEqual(set(item), {"time", "station", "address", "kind", "type", "value", "raw", "ok"})
            self.assertIsNotNone(datetime.fromisoformat(item["time"]).utcoffset(), item)
        # the writes as given, then the reads as asked
        self.assertEqual([(i["kind"], i["address"], i["type"], i["value"], i["raw"]) for i in found],
                         [("write", "HR10", "dword", -3.14, [0xF5C3, 0xC048]),
                          ("write", "HR12", "word", 1500, [1500]),
                          ("write", "HR13", "word", 0xBEEF, [0xBEEF]),
                          ("read", "HR10", "dword", -3.14, [0xF5C3, 0xC048]),
                          ("read", "HR12", "word", "0x05DC", [1500]),
                          ("read", "HR13", "word", "0xBEEF", [0xBEEF])])
        polled = self.lines("--sim", "--station", "1,2", "poll", "IR1", "signed", "--polls", "2",
                            "--interval", "0", "--format", "json")
        self.assertEqual([(i["station"], i["value"]) for i in polled], [(1, 1000), (2, 2000)] * 2)

    def test_failures_carry_the_drivers_text(self):
        found = self.lines("--sim", "--station", "9", "--retries", "0", "--timeout", "50", "read", "HR1",
                           "--format", "json", status=1)
        # the driver's text, as servoctl also says it on standard error
        said = self.out.stderr.splitlines()[1]
        self.assertTrue(said.startswith("servoctl: read HR1: PLC "), said)
        self.assertEqual(found, [{"time": found[0]["time"], "station": 9, "address": "HR1", "kind": "read",
                                  "ok": False, "error": said[len("servoctl: read HR1: "):]}])
        # a write not acknowledged: what was sent, and why it is in doubt
        found = self.lines("--sim", "--station", "9", "--retries", "0", "--timeout", "50", "write", "HR1",
                           "int16", "-5", "then", "read", "HR1", "--format", "json", status=1)
        self.assertEqual([(i["kind"], i["value"], i["raw"], i["ok"], i["error"]) for i in found],
                         [("write", -5, [0xFFFB], False, "PLC no response (write 1 word to 9-HR1)")])

    def test_scan_findings_and_manual_addresses(self):
        found = self.lines("--sim", "--sim-stations", "2,4", "scan", "1-4", "--format", "json")
        self.assertEqual([(i["station"], i["found"], i["ok"]) for i in found], [(2, "answered", True),
                                                                                 (4, "answered", True)])
        self.assertEqual(found[0]["line"], "RS485,9600,NONE,8,2")
        found = self.lines("--sim", "-0", "read", "HR0x10", "word", "2", "--format", "json")
        self.assertEqual([(i["address"], i["manual_address"]) for i in found],
                         [("HR17", "HR0x10"), ("HR18", "HR0x11")])


class WideCsv(unittest.TestCase):
    def test_a_column_a_signal_a_row_a_cycle(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "wide.csv")
            out = run("--sim", "--station", "1,2", "poll", "HR1", "IR1", "IR2", "dword", "--polls", "3",
                      "--interval", "0", "--csv-wide", path)
            self.assertEqual(out.returncode, 0, out.stderr)
            with open(path, newline="") as log:
                rows = list(csv.DictReader(log))
        signals = ["station %d %s" % (s, a) for s in (1, 2) for a in ("HR1", "IR1", "IR2")]
        self.assertEqual(list(rows[0]), ["time"] + signals)
        self.assertEqual(len(rows), 3)
        self.assertEqual([rows[0][s] for s in signals], ["0", "1000", "65668073", "0", "2000", "131205073"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
