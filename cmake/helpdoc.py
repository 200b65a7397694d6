#!/usr/bin/env python3
"""Builds the manual page and the bash completion of vexlor from its command
and option tables.

The tables are the ones the tool parses its command lines with and prints its
--help from, dumped as JSON by the build's vexlor_doc_tables program. The
manual page is those tables set in roff, followed by the hand-written sections
of docs/vexlor-language.roff (the language, exit status, licence); the
completion is the template cli/completion/vexlor.bash.in with the command and
option tables filled in.

  helpdoc.py --tables JSON --language ROFF --man OUT.1 [--man-gz OUT.1.gz]
             --template BASH.IN --completion OUT.bash
"""
import argparse
import gzip
import json
import re


def roff(text):
    """Text escaped for roff: backslashes, hyphens as minus signs (so that
    options copy as typed), and no line starting with a control character."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text, flags=re.M)


def paragraphs(lines):
    """Lines broken as the help shows them, as paragraphs (split at empty lines)."""
    paras, current = [], []
    for line in lines + [""]:
        if line.strip():
            current.append(line.strip())
        elif current:
            paras.append(" ".join(current))
            current = []
    return paras


def term(option):
    """An option's term as --help shows it: "-s, --size WxH"."""
    value = " " + option["value"] if option["value"] else ""
    return ", ".join(option["names"][1:] + option["names"][:1]) + value


def heading(title):
    return ".PP\n" + roff(title[:1].upper() + title[1:]) + ":"


def command_roff(command):
    """A command's section: usage, what it does, its options, its examples."""
    out = [".PP", ".nf"] + [roff(u.strip()) for u in command["usage"]] + [".fi"]
    out += [x for p in paragraphs(command["about"]) for x in (".PP", roff(p))]
    for group in command["groups"]:
        out.append(heading(group["title"]))
        for option in group["options"]:
            out += [".TP", "\\fB" + roff(term(option)) + "\\fR", roff(" ".join(option["help"]))]
    out += [heading(command["examplesTitle"]), ".PP", ".RS 4", ".nf"]
    out += [roff(line) for line in command["examples"]] + [".fi", ".RE"]
    if command["after"]:
        out += [".PP", roff(command["after"])]
    if command["notes"]:
        out += [heading(" ".join(command["notesTitle"].split()))]
        out += [x for note in command["notes"] for x in (".IP \\(bu 2", roff(note))]
    return out


def man_page(tables, language):
    """The whole manual page as roff."""
    name, _, summary = tables["title"].partition(": ")
    out = [f'.TH VEXLOR 1 "" "{roff(name)}" "User Commands"',
           ".SH NAME", f"vexlor \\- {roff(summary)}", ".SH SYNOPSIS", ".nf"]
    out += [roff(u) for u in tables["usage"]]
    for command in tables["commands"]:
        out += [roff(u.strip()) for u in command["usage"]]
    out += [".fi", ".SH DESCRIPTION", heading("commands")]
    for command in tables["commands"]:
        out += [".TP", "\\fB" + command["name"] + "\\fR", roff(command["summary"])]
    out += [x for p in paragraphs(tables["about"]) for x in (".PP", roff(p))]
    out += [".SH OPTIONS",
            ".TP", "\\fB\\-\\-help\\fR, \\fB\\-h\\fR",
            "Print the command list, or with a command (or after it) that command's help.",
            ".TP", "\\fB\\-\\-version\\fR", f"Print the version: {roff(tables['version'])}.",
            ".SH COMMANDS"]
    for command in tables["commands"]:
        out += [f".SS {command['name']}"] + command_roff(command)
    check = next(c for c in tables["commands"] if c["name"] == "check")
    quirks = "\n".join(x for note in check["notes"] for x in (".IP \\(bu 2", roff(note)))
    return "\n".join(out) + "\n" + language.replace("@QUIRKS@", quirks)


def completion(template, tables):
    """The completion script: the template with @COMMANDS@, @OPTIONS@ and
    @ARGUMENTS@ replaced by the tables."""
    option_cases, argument_cases = [], []
    for command in tables["commands"]:
        names = ["--help"]
        for group in command["groups"]:
            for option in group["options"]:
                names += option["names"]
                kind = option["kind"]
                if kind == "flag":
                    continue
                what = ("file" if kind == "file" else
                        "words " + " ".join(option["words"]) if option["words"] else "value")
                for n in option["names"]:
                    argument_cases.append(f'    "{command["name"]} {n}") echo {what} ;;')
        option_cases.append(f'    {command["name"]}) echo "{" ".join(dict.fromkeys(names))}" ;;')
    commands = " ".join(c["name"] for c in tables["commands"])
    return (template.replace("@COMMANDS@", commands)
            .replace("@OPTIONS@", "\n".join(option_cases))
            .replace("@ARGUMENTS@", "\n".join(argument_cases)))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--tables", required=True)
    p.add_argument("--language", required=True)
    p.add_argument("--man", required=True)
    p.add_argument("--man-gz")
    p.add_argument("--template", required=True)
    p.add_argument("--completion", required=True)
    a = p.parse_args()

    with open(a.tables, encoding="utf-8") as f:
        tables = json.load(f)
    with open(a.language, encoding="utf-8") as f:
        language = f.read()
    page = man_page(tables, language)
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
        f.write(completion(template, tables))


if __name__ == "__main__":
    main()
