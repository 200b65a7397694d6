#!/usr/bin/env python3
"""Builds the manual page and the bash completion of vexlor from its --help texts.

The built binary is the one source: `vexlor --help` lists the commands, and
`vexlor COMMAND --help` gives each command's usage, description, options and
examples. The manual page is those texts set in roff, followed by the
hand-written sections of docs/vexlor-language.roff (the language, exit status,
licence); the completion is the template cli/completion/vexlor.bash.in with
the command and option tables filled in.

  helpdoc.py --vexlor BIN --language ROFF --man OUT.1 [--man-gz OUT.1.gz]
             --template BASH.IN --completion OUT.bash
"""
import argparse
import gzip
import re
import subprocess
import sys

# A section header of a help text: "options:", "examples:", "example (...):".
HEADER = re.compile(r"^([A-Za-z][^:]*):\s*$")
# A row of an option or command table: the term, two or more spaces, the text.
ROW = re.compile(r"^( +)(\S(?:.*?\S)?)(?: {2,}(\S.*))?$")
# Option argument placeholders whose value is a file name.
FILE_ARGS = {"FILE", "PATH", "DIR", "INPUT", "OUTPUT"}


def run_help(vexlor, *args):
    """The standard output of `vexlor ARGS --help`; fails loudly on a non-zero exit."""
    done = subprocess.run([vexlor, *args, "--help"], capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"helpdoc: {' '.join([vexlor, *args, '--help'])} exited {done.returncode}: "
                 f"{done.stderr.strip()}")
    return done.stdout


def parse(text):
    """Splits a help text into blocks: ("usage", [lines]), ("para", [lines]),
    ("table", header, [(term, text)]) for option and command tables, and
    ("verbatim", header, [lines]) for examples and any other indented block."""
    lines = text.rstrip("\n").split("\n")
    blocks, i = [], 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
        elif line.startswith("usage:"):
            usage = [line[len("usage:"):].strip()]
            i += 1
            while i < len(lines) and lines[i].startswith(" ") and lines[i].strip():
                usage.append(lines[i].strip())
                i += 1
            blocks.append(("usage", usage))
        elif HEADER.match(line):
            header = HEADER.match(line).group(1)
            body = []
            i += 1
            while i < len(lines) and lines[i].startswith(" ") and lines[i].strip():
                body.append(lines[i])
                i += 1
            rows = table_rows(body)
            if rows is not None and not header.startswith("example"):
                blocks.append(("table", header, rows))
            else:
                blocks.append(("verbatim", header, body))
        else:
            para = []
            while i < len(lines) and lines[i].strip() and not lines[i].startswith(" ") \
                    and not HEADER.match(lines[i]) and not lines[i].startswith("usage:"):
                para.append(lines[i])
                i += 1
            if para:
                blocks.append(("para", para))
            else:  # an indented block with no header: keep it as it is
                body = []
                while i < len(lines) and lines[i].startswith(" ") and lines[i].strip():
                    body.append(lines[i])
                    i += 1
                blocks.append(("verbatim", "", body))
    return blocks


def table_rows(body):
    """The (term, text) rows of a two-column table, or None when the block is
    not one. A line indented deeper than the rows continues the text of the
    row above (or is the whole text of a term that stands alone on its line)."""
    rows, indent = [], None
    for line in body:
        m = ROW.match(line)
        depth = len(m.group(1)) if m else 0
        if rows and depth > indent:
            rows[-1][1] = (rows[-1][1] + " " + line.strip()).strip()
            continue
        if not m or (indent is not None and depth != indent):
            return None
        indent = depth
        rows.append([m.group(2), m.group(3) or ""])
    if not rows or not all(text for _, text in rows):
        return None
    return [tuple(r) for r in rows]


def option_names(term):
    """The option names and the argument placeholder of a table term such as
    "--size WxH", "--level=N" or "-f, --file FILE": (["-f", "--file"], "FILE")."""
    names, arg = [], ""
    for part in term.split(","):
        words = part.replace("=", " ", 1).split()
        if words and words[0].startswith("-"):
            names.append(words[0])
            if len(words) > 1:
                arg = words[1].strip("[]")
    return names, arg


def commands_of(main_blocks):
    """The command names and summaries of the main help's command table."""
    for block in main_blocks:
        if block[0] == "table" and "command" in block[1]:
            return block[2]
    sys.exit("helpdoc: the main help has no command table")


def options_of(blocks):
    """[(names, arg, text)] of every option table of a command's help."""
    found = []
    for block in blocks:
        if block[0] == "table" and "option" in block[1]:
            for term, text in block[2]:
                names, arg = option_names(term)
                if names:
                    found.append((names, arg, text))
    return found


def roff(text):
    """Text escaped for roff: backslashes, hyphens as minus signs (so that
    options copy as typed), and no line starting with a control character."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


def roff_blocks(blocks, out):
    """Appends the roff of a command's or the main help's blocks to out."""
    for block in blocks:
        kind = block[0]
        if kind == "usage":
            out += [".PP", ".nf"] + [roff(u) for u in block[1]] + [".fi"]
        elif kind == "para":
            out += [".PP", roff(" ".join(block[1]))]
        elif kind == "table":
            out += [".PP", roff(block[1][:1].upper() + block[1][1:]) + ":"]
            for term, text in block[2]:
                out += [".TP", "\\fB" + roff(term) + "\\fR", roff(text)]
        else:
            if block[1]:
                out += [".PP", roff(block[1][:1].upper() + block[1][1:]) + ":"]
            width = min(len(l) - len(l.lstrip()) for l in block[2])
            out += [".PP", ".RS 4", ".nf"] + [roff(l[width:]) for l in block[2]] + [".fi", ".RE"]


def man_page(version_line, main_blocks, command_blocks, language):
    """The whole manual page as roff."""
    name, _, summary = main_blocks[0][1][0].partition(": ")
    program = name.partition(" ")[0]
    out = [f'.TH VEXLOR 1 "" "{roff(name)}" "User Commands"',
           ".SH NAME", f"{program} \\- {roff(summary)}",
           ".SH SYNOPSIS", ".nf"]
    for kind, *rest in main_blocks:
        if kind == "usage":
            out += [roff(u) for u in rest[0]]
    for blocks in command_blocks.values():
        for kind, *rest in blocks:
            if kind == "usage":
                out += [roff(u) for u in rest[0]]
    out += [".fi", ".SH DESCRIPTION"]
    roff_blocks([b for b in main_blocks[1:] if b[0] != "usage"], out)
    out += [".SH OPTIONS",
            ".TP", "\\fB\\-\\-help\\fR, \\fB\\-h\\fR",
            "Print the command list, or with a command (or after it) that command's help.",
            ".TP", "\\fB\\-\\-version\\fR", f"Print the version: {roff(version_line)}.",
            ".SH COMMANDS"]
    for command, blocks in command_blocks.items():
        out += [f".SS {command}"]
        roff_blocks(blocks, out)
    return "\n".join(out) + "\n" + language


def completion(template, commands, command_blocks):
    """The completion script: the template with @COMMANDS@, @OPTIONS@ and
    @ARGUMENTS@ replaced by the tables of the help texts."""
    option_cases, argument_cases = [], []
    for command, blocks in command_blocks.items():
        options = ["--help"]
        for names, arg, _ in options_of(blocks):
            options += names
            kind = "file" if arg in FILE_ARGS else ("value" if arg else "")
            for n in names:
                if kind:
                    argument_cases.append(f'    "{command} {n}") echo {kind} ;;')
        option_cases.append(f'    {command}) echo "{" ".join(dict.fromkeys(options))}" ;;')
    return (template.replace("@COMMANDS@", " ".join(commands))
            .replace("@OPTIONS@", "\n".join(option_cases))
            .replace("@ARGUMENTS@", "\n".join(argument_cases)))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--vexlor", required=True)
    p.add_argument("--language", required=True)
    p.add_argument("--man", required=True)
    p.add_argument("--man-gz")
    p.add_argument("--template", required=True)
    p.add_argument("--completion", required=True)
    a = p.parse_args()

    main_blocks = parse(run_help(a.vexlor))
    if main_blocks[0][0] != "para":
        sys.exit("helpdoc: the main help does not start with its title line")
    commands = [name for name, _ in commands_of(main_blocks)]
    command_blocks = {c: parse(run_help(a.vexlor, c)) for c in commands}
    version_line = subprocess.run([a.vexlor, "--version"], capture_output=True, text=True,
                                  check=True).stdout.strip()

    with open(a.language, encoding="utf-8") as f:
        language = f.read()
    page = man_page(version_line, main_blocks, command_blocks, language)
    with open(a.man, "w", encoding="utf-8") as f:
        f.write(page)
    if a.man_gz:
        # mtime 0 and no file name inside: the same page gives the same bytes.
        with open(a.man_gz, "wb") as raw, \
                gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0, compresslevel=9) as z:
            z.write(page.encode("utf-8"))
    with open(a.template, encoding="utf-8") as f:
        template = f.read()
    with open(a.completion, "w", encoding="utf-8") as f:
        f.write(completion(template, commands, command_blocks))


if __name__ == "__main__":
    main()
