#!/usr/bin/env python3
"""Runs the examples of Markdown documents and compares what they print.

    doc_examples.py BINDIR DOC...

An example is a fenced block marked `console`: lines beginning with "$ " are
commands (a line ending in a backslash goes on), the lines up to the next
command are what it prints, standard output and standard error together. A
line "..." stands for any number of lines. The commands of one document run
in order, through bash, in one fresh folder holding a link to the docs/
folder, with BINDIR (servoctl, servosim) first on PATH. A command ending in
"&" stays running until the document is done; its first lines are compared
as they come. /tmp/ in a command is a folder in that folder, so that two
runs of the test cannot meet there.

What no run can repeat is compared by shape: clock times, dates (with their
offset from UTC), times in ms or s with a decimal point, the figures of a
statistics row, and the number of a pseudo-terminal.
"""
import os
import re
import signal
import subprocess
import sys
import tempfile

TIMEOUT_S = 120

NORMALISE = [
    (re.compile(r"/dev/pts/\d+"), "/dev/pts/N"),
    (re.compile(r"\d{4}-\d\d-\d\d[T ]\d\d:\d\d:\d\d(\.\d+)?([+-]\d\d:\d\d)?"), "DATE TIME"),
    (re.compile(r"\b\d\d:\d\d:\d\d\.\d+"), "TIME"),
    (re.compile(r"\b\d+\.\d+ (ms|s)\b"), r"T \1"),
    # a statistics row ends in min, median, 99th percentile and max
    (re.compile(r"^(\s+\d+(?:\s+\S+){8})(?:\s+\d+\.\d+){4}$"), r"\1 T T T T"),
]


def normalise(line, tmp):
    line = line.rstrip().replace(tmp, "/tmp/")
    for pattern, replacement in NORMALISE:
        line = pattern.sub(replacement, line)
    return line


def examples(path):
    """(line number, command, expected lines) of each console block."""
    found, block, command, expected = [], None, None, []
    with open(path, encoding="utf-8") as doc:
        lines = doc.read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        fence = re.match(r"^\s*```(\S*)", line)
        if block is None:
            if fence and fence.group(1) == "console":
                block = i + 1
            i += 1
            continue
        if fence:
            if command:
                found.append(command + (expected,))
            block, command, expected = None, None, []
            i += 1
            continue
        if line.startswith("$ "):
            if command:
                found.append(command + (expected,))
            start, text = i + 1, line[2:]
            while text.endswith("\\") and i + 1 < len(lines):
                i += 1
                text += "\n" + lines[i]
            command, expected = (start, text), []
        elif command:
            expected.append(line)
        else:
            raise SystemExit(f"{path}:{i + 1}: a console block must begin with a command")
        i += 1
    if block is not None:
        raise SystemExit(f"{path}:{block}: console block not closed")
    return found


def matches(expected, actual):
    """Whether the lines match, "..." standing for any number of lines."""
    if not expected:
        return not actual
    if expected[0] == "...":
        return any(matches(expected[1:], actual[k:]) for k in range(len(actual) + 1))
    return bool(actual) and expected[0] == actual[0] and matches(expected[1:], actual[1:])


def run_document(path, bindir):
    failures, background = 0, []
    with tempfile.TemporaryDirectory(prefix="doc-examples-") as work:
        docs = os.path.dirname(os.path.abspath(path))
        if os.path.basename(docs) != "docs":
            docs = os.path.join(docs, "docs")
        os.symlink(docs, os.path.join(work, "docs"))
        tmp = os.path.join(work, "tmp", "")
        os.mkdir(tmp)
        env = dict(os.environ, PATH=bindir + os.pathsep + os.environ.get("PATH", ""), LC_ALL="C")
        try:
            found = examples(path)
            if not found:
                print(f"{path}: no console examples")
                return 1
            for number, command, expected in found:
                text = command.replace("/tmp/", tmp)
                expected = [normalise(e, tmp) for e in expected]
                if text.rstrip().endswith("&"):
                    child = subprocess.Popen(["bash", "-c", "exec " + text.rstrip()[:-1]],
                                             cwd=work, env=env, stdin=subprocess.DEVNULL,
                                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                             text=True)
                    background.append(child)
                    actual = [normalise(child.stdout.readline(), tmp) for _ in expected]
                else:
                    try:
                        done = subprocess.run(["bash", "-c", text], cwd=work, env=env,
                                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                              stderr=subprocess.STDOUT, text=True,
                                              timeout=TIMEOUT_S)
                        out = done.stdout
                    except subprocess.TimeoutExpired as e:
                        out = (e.stdout or b"").decode(errors="replace") + "\n(timed out)"
                    actual = [normalise(a, tmp) for a in out.rstrip("\n").split("\n")] if out else []
                if matches(expected, actual):
                    continue
                failures += 1
                print(f"{path}:{number}: $ {command}")
                print("  expected (normalised):")
                print("".join(f"    {e}\n" for e in expected), end="")
                print("  printed (normalised):")
                print("".join(f"    {a}\n" for a in actual), end="")
            print(f"{path}: {len(found) - failures} of {len(found)} examples as shown")
        finally:
            for child in background:
                child.send_signal(signal.SIGTERM)
                try:
                    child.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
    return failures


def main():
    if len(sys.argv) < 3:
        raise SystemExit("usage: doc_examples.py BINDIR DOC...")
    bindir = os.path.abspath(sys.argv[1])
    failures = sum(run_document(doc, bindir) for doc in sys.argv[2:])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
