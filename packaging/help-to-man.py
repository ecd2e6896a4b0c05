#!/usr/bin/env python3
"""Writes a manual page from a program's --help, so the text that explains each option lives only there.

The help texts follow one layout, and this reads exactly that layout:
  usage: PROGRAM ARGUMENTS          the synopsis (one or more such lines)
  heading: [text]                   a subsection ("commands:", "exit codes: 0 ok, ...")
    TERM    description             a row: the term, two or more spaces, its description
            more description        deeper lines continue the row (or the heading's text) line by line
  Other text at the margin          a paragraph
"""
import argparse
import os
import re
import subprocess
import sys

USAGE = re.compile(r"^usage:\s*(\S+)\s*(.*)$", re.IGNORECASE)
HEADING = re.compile(r"^([A-Za-z][A-Za-z -]*):\s*(.*)$")
TABLE_GAP = re.compile(r"\S\s{2,}\S")
ROW_INDENT = 4  # rows start within this many spaces; anything deeper continues the line above


def roff_text(text):
    """Escapes a line for roff: backslashes, option dashes, and control characters at the start."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    if text.startswith((".", "'")):
        text = "\\&" + text
    return text


def split_row(line, column):
    """Term and description of a row; a single space may part them when deeper lines show the column."""
    body = line.strip()
    gap = re.search(r"\s{2,}", body)
    if gap:
        return body[: gap.start()], body[gap.end() :]
    if column and len(line) > column and line[column - 1] == " " and line[:column].strip():
        return line[:column].strip(), line[column:].strip()
    return body, ""


def indent_of(line):
    return len(line) - len(line.lstrip(" "))


def parse(help_text):
    """The synopsis lines and a list of blocks: ('heading', title), ('para', lines), ('row', term, lines)."""
    lines = help_text.expandtabs().splitlines()
    synopsis, blocks = [], []
    paragraph_open = False  # the last line was paragraph text at the margin, so the next one continues it
    i = 0
    while i < len(lines):
        line = lines[i].rstrip()
        i += 1
        if not line.strip():
            paragraph_open = False
            continue
        usage = USAGE.match(line)
        if usage:
            synopsis.append((usage.group(1), usage.group(2)))
            continue
        following = []
        while i < len(lines) and indent_of(lines[i]) > ROW_INDENT and lines[i].strip():
            following.append(lines[i])
            i += 1
        if indent_of(line) == 0:
            heading = HEADING.match(line)
            if heading:
                blocks.append(("heading", heading.group(1)))
                text = [heading.group(2)] if heading.group(2) else []
                if text or following:
                    blocks.append(("para", text + [f.strip() for f in following]))
            elif blocks and blocks[-1][0] == "para" and paragraph_open:
                blocks[-1][1].extend([line] + [f.strip() for f in following])
            else:
                blocks.append(("para", [line] + [f.strip() for f in following]))
            paragraph_open = not heading
            continue
        paragraph_open = False
        column = indent_of(following[0]) if following else 0
        term, description = split_row(line, column)
        # Deeper lines keep their own indentation beyond the row's column: some are small tables.
        more = [f[column:].rstrip() if f[:column].isspace() else f.strip() for f in following]
        blocks.append(("row", term, ([description] if description else []) + more))
    return synopsis, blocks


def render(name, section, summary, version, date, see_also, files, help_text):
    synopsis, blocks = parse(help_text)
    out = [
        f'.TH {name.upper()} {section} "{date}" "{name} {version}" "User Commands"',
        ".SH NAME",
        f"{roff_text(name)} \\- {roff_text(summary)}",
        ".SH SYNOPSIS",
    ]
    for index, (program, arguments) in enumerate(synopsis or [(name, "")]):
        if index:
            out.append(".br")
        out.append(f".B {roff_text(program)}")
        if arguments:
            out.append(roff_text(arguments))
    out.append(".SH DESCRIPTION")
    for block in blocks:
        if block[0] == "heading":
            out.append(f".SS {roff_text(block[1][:1].upper() + block[1][1:])}")
        elif block[0] == "para":
            out.append(".PP")
            out.extend(roff_text(text) for text in block[1])
        else:
            out.append(".TP")
            out.append(f".B {roff_text(block[1])}")
            lines = block[2]
            if any(TABLE_GAP.search(text) for text in lines[1:]):
                # Columns inside the description: filling would run them together.
                out.append(roff_text(lines[0]) if lines else "")
                out.append(".nf")
                out.extend(roff_text(text) for text in lines[1:])
                out.append(".fi")
                continue
            for index, text in enumerate(lines):
                # A deeper line in lower case goes on with the sentence; anything else starts a line of its own.
                if index and not text[:1].islower():
                    out.append(".br")
                out.append(roff_text(text))
    if files:
        out.append(".SH FILES")
        for path, description in files:
            out.extend([".TP", f".I {roff_text(path)}", roff_text(description)])
    if see_also:
        out.append(".SH SEE ALSO")
        out.append(",\n".join(f".BR {roff_text(page[:-3])} ({page[-2]})" for page in see_also))
    return "\n".join(out) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--name", required=True, help="program name, as in the page's title")
    parser.add_argument("--section", default="1")
    parser.add_argument("--summary", required=True, help="the one line after the name in NAME")
    parser.add_argument("--version", required=True)
    parser.add_argument("--date", required=True, help="the release date, so the page is the same on every build")
    parser.add_argument("--see-also", action="append", default=[], metavar="PAGE(N)")
    parser.add_argument("--file", action="append", default=[], metavar="PATH=DESCRIPTION")
    parser.add_argument("--output", required=True)
    parser.add_argument("program", nargs="+",
                        help="the executable to ask for --help, after the emulator that runs it when cross-built")
    args = parser.parse_args()

    for page in args.see_also:
        if not re.fullmatch(r"\S+\(\d\)", page):
            sys.exit(f"help-to-man: --see-also wants NAME(N), not {page}")
    files = []
    for entry in args.file:
        path, sep, description = entry.partition("=")
        if not sep:
            sys.exit(f"help-to-man: --file wants PATH=DESCRIPTION, not {entry}")
        files.append((path, description))

    # In a sanitizer build a leak report at exit would fail the build over a manual page; the test runs are
    # where leaks count.
    environment = dict(os.environ)
    environment["ASAN_OPTIONS"] = ":".join(filter(None, [environment.get("ASAN_OPTIONS"), "detect_leaks=0"]))
    result = subprocess.run([*args.program, "--help"], capture_output=True, text=True, timeout=30, env=environment)
    if result.returncode != 0 or not result.stdout.strip():
        sys.exit(f"help-to-man: {' '.join(args.program)} --help failed (exit {result.returncode}): "
                 f"{result.stderr.strip()}")
    page = render(args.name, args.section, args.summary, args.version, args.date, args.see_also, files,
                  result.stdout)
    with open(args.output, "w", encoding="utf-8") as output:
        output.write(page)


if __name__ == "__main__":
    main()
