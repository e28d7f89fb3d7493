#!/usr/bin/env python3
"""Builds the help file system/pelix.hlp from the topic sources in tools/help.

  tools/help/NAME.txt   one topic named NAME; an optional first line
                        "#section N" gives its section number (default 1)
  tools/help/errors.tab the error texts, "code<TAB>text" per line; they
                        become the topic "errors", whose line n is the text
                        of error n after an 18-character prefix

File layout: "##PELIX HELP FILE=<table offset>=<topic count>", the topic
table (one line per topic: "T <offset> 0 <lines> <section> <name>"), then
the topics' lines. Lines end with LF.

  python3 tools/mkhelp.py          write system/pelix.hlp
  python3 tools/mkhelp.py --check  exit 1 when system/pelix.hlp is stale
"""
import pathlib
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


def topics():
    found = []
    for path in sorted(SRC.glob("*.txt")):
        lines = path.read_text().splitlines()
        section = 1
        if lines and lines[0].startswith("#section"):
            section = int(lines[0].split()[1])
            lines = lines[1:]
        found.append((path.stem.lower(), section, lines))
    found.append(("errors", 1, errors_topic()))
    for name, _, lines in found:
        if len(name) > 16 or " " in name:
            sys.exit(f"bad topic name: {name!r}")
        for line in lines:
            if len(line) > 130:
                sys.exit(f"line longer than 130 characters in topic {name}")
    return found


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


def main():
    text = build()
    if "--check" in sys.argv:
        if not OUT.exists() or OUT.read_text() != text:
            print(f"{OUT} is stale: run python3 tools/mkhelp.py")
            return 1
        return 0
    OUT.write_text(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
