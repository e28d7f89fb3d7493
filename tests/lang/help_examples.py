#!/usr/bin/env python3
"""Runs every example of the help sources (tools/help/*.txt) in the real
program, headless, and fails on any error it gives.

The convention is described at the top of tools/help/words.txt:

- An example starts at the word "Example" or "Examples", optionally followed
  by a few words, and a colon ("Example:", "Example, sums divided by 8:").
  The text after the colon, when any, is its first command; the lines after
  it that are indented further than the line holding the marker are its
  further commands (a "{" block typed as at the prompt). A command may carry
  a note after three or more spaces (outside quotes), which is not run.
- In words.txt, comment lines "#setup COMMAND" before an example run before
  it without being shown; they belong to the next example of the topic.
- Each example runs in a fresh program in a folder holding the files of
  tests/lang/help_examples.files, after the prelude below.

  python3 tests/lang/help_examples.py build/pelix [--list]
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parents[2]
SRC = ROOT / "tools" / "help"
FILES = pathlib.Path(__file__).resolve().parent / "help_examples.files"

# Names every example may use without making them (see words.txt).
PRELUDE = """declare byte image a(64,48)
a = 100
declare byte image b(64,48)
declare byte image img(64,48)
img = 50
declare real array x(100)
x = 1.5
declare real array y(100)
y = 2
declare number n
n = 4
declare number i
"""

MARK = re.compile(r"\bExamples?\b[^:\n]{0,60}?:(.*)$")
FAIL = re.compile(r"ERROR\s+-?\d+|Unknown command|Internal error|No help for")


def indent(line):
    return len(line) - len(line.lstrip(" "))


def strip_note(cmd):
    """The command without a note after three or more spaces outside quotes."""
    quoted = False
    for i, ch in enumerate(cmd):
        if ch == '"':
            quoted = not quoted
        elif not quoted and cmd.startswith("   ", i):
            return cmd[:i].rstrip()
    return cmd.rstrip()


def topics():
    """(topic, [(line, is_setup)]) from the help sources."""
    found = []
    for path in sorted(SRC.glob("*.txt")):
        raw = path.read_text().splitlines()
        if path.name == "words.txt":
            name, lines = None, []
            for line in raw:
                if line.startswith("@"):
                    if name:
                        found.append((name, lines))
                    name, lines = line[1:].strip(), []
                elif line.startswith("#setup "):
                    lines.append((line[len("#setup "):], True))
                elif line.startswith("#"):
                    continue
                elif name:
                    lines.append((line, False))
            if name:
                found.append((name, lines))
        else:
            while raw and raw[0].startswith(("#section", "#also")):
                raw = raw[1:]
            found.append((path.stem, [(line, False) for line in raw]))
    return found


def examples():
    """(topic, number, setup commands, commands) of every example."""
    out = []
    for name, lines in topics():
        setup, k, count = [], 0, 0
        while k < len(lines):
            line, is_setup = lines[k]
            k += 1
            if is_setup:
                setup.append(line)
                continue
            m = MARK.search(line)
            if not m:
                continue
            cmds = []
            first = m.group(1).strip()
            if first:
                cmds.append(strip_note(first))
            base = indent(line)
            while k < len(lines) and not lines[k][1] and lines[k][0].strip() and indent(lines[k][0]) > base:
                cmds.append(strip_note(lines[k][0].strip()))
                k += 1
            count += 1
            out.append((name, count, setup, cmds))
            setup = []
    return out


def run(pelix, setup, cmds):
    """The transcript of a fresh program, its exit status and its errors."""
    work = tempfile.mkdtemp(prefix="pelix-helpex-")
    try:
        if FILES.is_dir():
            for f in FILES.iterdir():
                shutil.copy(f, work)
        keys = PRELUDE + "".join(c + "\n" for c in setup) + "type \"@@examples\"\n"
        keys += "".join(c + "\n" for c in cmds) + "quit\n"
        env = dict(os.environ, PELIX=str(ROOT / "system"), PELIX_BACKEND="headless",
                   PELIX_CLOCK="virtual", SDL_AUDIODRIVER="dummy", TEMP=work, TMP=work)
        for n in range(1, 11):
            env[f"PELIX_COM{n}"] = f"/nonexistent/ttyS{n}"
        p = subprocess.run([pelix], input=keys.encode(), cwd=work, env=env, capture_output=True,
                           timeout=60)
        return p.stdout.decode(errors="replace"), p.returncode, p.stderr.decode(errors="replace")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    pelix = os.path.abspath(sys.argv[1])
    found = examples()
    if "--list" in sys.argv:
        for name, num, setup, cmds in found:
            print(f"{name} #{num}:", *("  (setup) " + s for s in setup), *("  " + c for c in cmds), sep="\n")
        return 0
    bad = 0
    # The prelude itself runs clean, so that a failure is the example's.
    out, rc, err = run(pelix, [], [])
    if rc != 0 or FAIL.search(out):
        print(f"the prelude fails (status {rc}):\n{out}{err}")
        return 1
    for name, num, setup, cmds in found:
        if not cmds:
            print(f"help {name}, example {num}: no command after the marker")
            bad += 1
            continue
        out, rc, err = run(pelix, setup, cmds)
        shown = out[out.find("@@examples"):]
        hit = FAIL.search(shown)
        if rc != 0 or hit:
            bad += 1
            print(f"help {name}, example {num} fails (status {rc}):")
            print("".join("  > " + c + "\n" for c in cmds) + shown + err)
    print(f"{len(found)} examples, {bad} failing")
    return 1 if bad or not found else 0


if __name__ == "__main__":
    sys.exit(main())
