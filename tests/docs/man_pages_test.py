#!/usr/bin/env python3
"""The tools' man pages and completion against their --help: man_pages_test.py TOOLS MAN
COMPLETION. Each page renders without a warning, has a man page's sections and an item for each
option and exit status --help names; the completion offers each option of --help once."""
import os
import re
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES", "SEE ALSO"]
# One tool's options written out: a fault the completion shares with help_options still shows.
TRANSLATE = "--version -h --help --hex --decode --names --strict --list-names".split()


def out(*argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, check=False, **kwargs).stdout


def help_options(text):
    """The option column of --help: the lines that start two spaces in with a dash."""
    return [name for line in text.splitlines() if line.startswith("  -")
            for name in line.split()[0].split(",")]


def page_problems(tool, page, text):
    source = f"man/{tool}.1.in"
    rendered = out("groff", "-man", "-Tascii", "-P-cbou", page)
    sections = dict(re.findall(r"^([A-Z][A-Z ]*)\n(.*?)(?=^\S|\Z)", rendered, re.M | re.S))
    if [name for name in sections if name in SECTIONS] != SECTIONS:
        return [f"{source}: sections {list(sections)}, not {SECTIONS} in this order"]
    items = [name for tag in re.findall(r"^ {7}(-[^\s,]+(?:, -[^\s,]+)*)", sections["OPTIONS"],
                                        re.M) for name in tag.split(", ")]
    statuses = re.findall(r"^ {7}(\d+) ", sections["EXIT STATUS"], re.M)
    lint = subprocess.run(["groff", "-man", "-ww", "-z", page], capture_output=True, text=True)
    return ([f"{source}: {line}" for line in (lint.stderr + out(
        "mandoc", "-T", "lint", "-W", "warning", page)).splitlines()]
            + [f"{tool}(1) lacks {name}, which {tool} --help lists: add a .TP item for it to "
               f"{source}" for name in help_options(text) if name not in items]
            + [f"{tool}(1) has an item for {name}, which {tool} --help does not list"
               for name in items if name not in help_options(text)]
            + [f"{tool}(1) lacks exit status {code}, which {tool} --help names: add it to "
               "man/exit-status.man" for code in re.findall(r"\b\d\b", text.partition(
                   "Exit status:")[2]) if code not in statuses])


def main():
    tools, man, completion = sys.argv[1:]
    problems = []
    for tool in ("wendle-send", "wendle-display", "wendle-translate"):
        text = out(os.path.join(tools, tool), "--help")
        problems += page_problems(tool, os.path.join(man, tool + ".1"), text)
        offered = out("bash", "-c", f'source "{completion}"; COMP_WORDS=({tool} -); COMP_CWORD=1; '
                      f'_wendle {tool}; printf "%s\\n" "${{COMPREPLY[@]}}"',
                      env=dict(os.environ, PATH=f"{tools}:{os.environ['PATH']}")).split()
        expected = TRANSLATE if tool == "wendle-translate" else help_options(text)
        if sorted(offered) != sorted(set(expected)):
            problems.append(f"completion of '{tool} -' offers {offered}, not each of {expected} "
                            "once")
    print("".join(f"FAIL  {problem}\n" for problem in problems)
          + f"man pages and completion: {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
