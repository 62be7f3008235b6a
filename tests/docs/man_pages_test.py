"""The tools' man pages and completion against their --help: man_pages_test.py TOOLS MAN
COMPLETION. Each page renders without a warning, has a man page's sections and an item for each
option and exit status --help names; the completion offers each option of --help once."""
import os
import re
import sys
import unittest

from winelab import run, test_main

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES", "SEE ALSO"]
# One tool's options written out: a fault the completion shares with help_options still shows.
TRANSLATE = "--version -h --help --hex --decode --names --strict --list-names".split()
TOOLS, MAN, COMPLETION = sys.argv[1:4]
del sys.argv[1:4]  # the rest is unittest's


def help_options(text):
    """The option column of --help: the lines that start two spaces in with a dash."""
    return [name for line in text.splitlines() if line.startswith("  -")
            for name in line.split()[0].split(",")]


def page_problems(tool, page, text):
    source = f"man/{tool}.1.in"
    rendered = run(["groff", "-man", "-Tascii", "-P-cbou", page]).stdout
    sections = dict(re.findall(r"^([A-Z][A-Z ]*)\n(.*?)(?=^\S|\Z)", rendered, re.M | re.S))
    if [name for name in sections if name in SECTIONS] != SECTIONS:
        return [f"{source}: sections {list(sections)}, not {SECTIONS} in this order"]
    items = [name for tag in re.findall(r"^ {7}(-[^\s,]+(?:, -[^\s,]+)*)", sections["OPTIONS"],
                                        re.M) for name in tag.split(", ")]
    statuses = re.findall(r"^ {7}(\d+) ", sections["EXIT STATUS"], re.M)
    lint = run(["groff", "-man", "-ww", "-z", page])
    return ([f"{source}: {line}" for line in (lint.stderr + run(
        ["mandoc", "-T", "lint", "-W", "warning", page]).stdout).splitlines()]
            + [f"{tool}(1) lacks {name}, which {tool} --help lists: add a .TP item for it to "
               f"{source}" for name in help_options(text) if name not in items]
            + [f"{tool}(1) has an item for {name}, which {tool} --help does not list"
               for name in items if name not in help_options(text)]
            + [f"{tool}(1) lacks exit status {code}, which {tool} --help names: add it to "
               "man/exit-status.man" for code in re.findall(r"\b\d\b", text.partition(
                   "Exit status:")[2]) if code not in statuses])


class ManPages(unittest.TestCase):
    def test_pages_and_completion_against_help(self):
        for tool in ("wendle-send", "wendle-display", "wendle-translate"):
            with self.subTest(tool=tool):
                text = run([os.path.join(TOOLS, tool), "--help"]).stdout
                self.assertEqual(page_problems(tool, os.path.join(MAN, tool + ".1"), text), [])
                offered = run(["bash", "-c", f'source "{COMPLETION}"; COMP_WORDS=({tool} -); '
                               f'COMP_CWORD=1; _wendle {tool}; printf "%s\\n" "${{COMPREPLY[@]}}"'],
                              env=dict(os.environ, PATH=f"{TOOLS}:{os.environ['PATH']}")).stdout
                expected = TRANSLATE if tool == "wendle-translate" else help_options(text)
                self.assertEqual(sorted(offered.split()), sorted(set(expected)),
                                 f"completion of '{tool} -': each option of --help once")


if __name__ == "__main__":
    test_main(wine=False)
