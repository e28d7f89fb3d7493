#!/usr/bin/env python3
"""Builds the help file system/pelix.hlp from the topic sources in tools/help.

  tools/help/NAME.txt   one topic named NAME; optional first lines
                        "#section N" give its section number (default 1)
                        and "#also OTHER" a second name for the same text
  tools/help/words.txt  the topics of the command and function words: a line
                        "@word" starts a topic, "#" lines are comments
  tools/help/NAME.words more topics in the same form (the real-time ops)
  tools/help/sysvars.tab the system variables, "name<TAB>read<TAB>set"
  tools/help/errors.tab the error texts, "code<TAB>text" per line; they
                        become the topic "errors", whose line n is the text
                        of error n after an 18-character prefix

--check also fails when a command or function word, a system variable, a
real-time op or an error number that the sources raise has no text, when
the topic "realtime" does not list every real-time op once, at the start
of a line, and when a topic line is wider than the console's 80 columns
(an error text also as its error message prints it).

File layout: "##PELIX HELP FILE=<table offset>=<topic count>", the topic
table (one line per topic: "T <offset> 0 <lines> <section> <name>"), then
the topics' lines. Lines end with LF.

  python3 tools/mkhelp.py          write system/pelix.hlp
  python3 tools/mkhelp.py --check  exit 1 when system/pelix.hlp is stale
"""
import pathlib
import re
import textwrap
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SRC = ROOT / "tools" / "help"
OUT = ROOT / "system" / "pelix.hlp"
PREFIX = 18  # characters of an error line that are not printed


def errors_topic():
    texts = {}
    for raw in (SRC / "errors.tab").read_text().splitlines():
        if not raw.strip() or raw.startswith("#"):
            continue
        code, text = raw.split("\t", 1)
        texts[int(code)] = text.strip()
    lines = []
    for code in range(max(texts) + 1):
        head = f"Error {code:3d}".ljust(PREFIX)
        lines.append(head + (" " + texts[code] if code in texts else ""))
    return lines


def word_topics():
    found, name, lines = [], None, []
    text = "\n".join((SRC / "words.txt").read_text().splitlines() +
                     [ln for p in sorted(SRC.glob("*.words")) for ln in ["@"] + p.read_text().splitlines()])
    for raw in text.splitlines():
        if raw.startswith("#"):
            continue
        if raw.startswith("@"):
            if name:
                found.append((name, lines))
            name, lines = raw[1:].strip().lower() or None, []
        elif name:
            lines.append(raw)
    if name:
        found.append((name, lines))
    return found


def sysvar_topics():
    found = []
    for raw in (SRC / "sysvars.tab").read_text().splitlines():
        if not raw.strip() or raw.startswith("#"):
            continue
        name, read, sets = raw.split("\t")
        lines = [f"{name}  (system variable)"]
        lines += textwrap.wrap(f"Reading gives {read}.", 76, initial_indent="  ", subsequent_indent="  ")
        lines += textwrap.wrap(f"Setting: {sets}.", 76, initial_indent="  ", subsequent_indent="  ")
        found.append((name, lines))
    return found


def topics():
    found = []
    merged = {}
    for name, lines in word_topics() + sysvar_topics():
        if name in merged:
            merged[name].extend([""] + lines)
        else:
            merged[name] = lines
            found.append((name, 1, lines))
    for path in sorted(SRC.glob("*.txt")):
        if path.name == "words.txt":
            continue
        lines = path.read_text().splitlines()
        section, also = 1, []
        while lines and lines[0].startswith(("#section", "#also")):
            word, value = lines[0].split()[:2]
            if word == "#section":
                section = int(value)
            else:
                also.append(value.lower())
            lines = lines[1:]
        for name in [path.stem.lower()] + also:
            found.append((name, section, lines))
    found.append(("errors", 1, errors_topic()))
    for name, _, lines in found:
        if len(name) > 16 or " " in name:
            sys.exit(f"bad topic name: {name!r}")
        for line in lines:
            if len(line) > 130:
                sys.exit(f"line longer than 130 characters in topic {name}")
    return found


def too_wide():
    """Topic lines wider than the 80 columns of the console. A line of the
    topic errors is also printed as an error message, "ERROR nnn (arg nn):"
    and the line from its 19th character, which must fit as well."""
    wide = []
    for name, _, lines in topics():
        for n, line in enumerate(lines):
            shown = [line]
            if name == "errors":
                shown.append("ERROR 999 (arg 99):" + line[PREFIX:])
            cols = max(len(s.expandtabs()) for s in shown)
            if cols > 80:
                wide.append(f"topic {name!r} line {n}: {cols} columns, more than 80")
    return wide


def build():
    tops = topics()
    header_len = len(f"##PELIX HELP FILE={0:07d}={0:05d}\n")
    table_len = sum(len(f"T {0:08d} 0 {0:5d} {0:2d} {n}\n") for n, _, _ in tops)
    offset = header_len + table_len
    table, body = [], []
    for name, section, lines in tops:
        table.append(f"T {offset:08d} 0 {len(lines):5d} {section:2d} {name}\n")
        text = "".join(line + "\n" for line in lines)
        body.append(text)
        offset += len(text.encode())
    return f"##PELIX HELP FILE={header_len:07d}={len(tops):05d}\n" + "".join(table) + "".join(body)


def keywords():
    src = (ROOT / "lang" / "keywords.h").read_text()
    body = src[src.index("cmdwds = {"):]
    return re.findall(r'"([^"]*)"', body[:body.index("};")])


def sysvars():
    src = (ROOT / "lang" / "names.cpp").read_text()
    start = src.index("sysnam")
    return re.findall(r'"(\w+)"', src[start:src.index("};", start)])


def rtops():
    src = (ROOT / "realtime" / "rtcomp.cpp").read_text()
    body = src[src.index("rtkeys[RTNOPS + 1] = {"):]
    return [w for w in re.findall(r'"([^"]*)"', body[:body.index("};")]) if w]


def raised_errors():
    """Error numbers passed to error() as a literal or a named constant."""
    texts = {}
    for folder in ("core", "lang", "compute", "files", "ui", "graphics", "realtime", "app"):
        for path in (ROOT / folder).glob("**/*.[ch]*"):
            texts[path] = path.read_text()
    consts = {}
    for text in texts.values():
        for m in re.finditer(r"\b([A-Z][A-Z0-9_]+)\s*=\s*(\d+)\b", text):
            consts.setdefault(m.group(1), int(m.group(2)))
    codes = {}
    for path, text in texts.items():
        for m in re.finditer(r"\berror\(\s*[^;]*?,\s*([A-Za-z_]\w*|\d+)\s*\)\s*;", text):
            c = m.group(1)
            code = int(c) if c.isdigit() else consts.get(c)
            if code is not None:
                codes.setdefault(code, path.relative_to(ROOT))
    return codes


def missing():
    names = {name for name, _, _ in topics()}
    problems = [f"no help topic for the word {w!r}" for w in keywords() if w not in names]
    problems += [f"no help topic for the system variable {v!r}" for v in sysvars() if v not in names]
    problems += [f"no help topic for the real-time op {o!r}" for o in rtops() if o not in names]
    # The op list's lines: the op alone, or two blanks or more and what it
    # does (an example's script line has single blanks).
    listed = [ln.split()[0] for name, _, lines in topics() if name == "realtime" for ln in lines
              if re.match(r"\s*r_\w+(\s*$|\s{2,}\S)", ln)]
    problems += [f"the topic 'realtime' lists the real-time op {o!r} {listed.count(o)} times, not once"
                 for o in rtops() if listed.count(o) != 1]
    if "begin" not in names:
        problems.append("no help topic 'begin'")
    problems += too_wide()
    have = set()
    for raw in (SRC / "errors.tab").read_text().splitlines():
        if raw.strip() and not raw.startswith("#"):
            have.add(int(raw.split("\t", 1)[0]))
    for code, path in sorted(raised_errors().items()):
        if code not in have:
            problems.append(f"error {code} (raised in {path}) has no text in tools/help/errors.tab")
    return problems


def main():
    text = build()
    if "--check" in sys.argv:
        problems = missing()
        for p in problems:
            print(p)
        if problems:
            return 1
        if not OUT.exists() or OUT.read_text() != text:
            print(f"{OUT} is stale: run python3 tools/mkhelp.py")
            return 1
        return 0
    OUT.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
