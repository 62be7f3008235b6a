#!/usr/bin/env python3
"""The tools' man pages and bash completion against their --help:
man_pages_test.py TOOLS MAN COMPLETION (the built tools, the built pages, the completion file).
Each page renders without a warning, has a man page's sections, and an item for every option
and exit status --help names; the completion offers each option of --help once."""
import os
import re
import subprocess
import sys

SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES", "SEE ALSO"]
# One tool's options written out, so that a fault the parser below shares with the
# completion (which reads --help the same way) still shows.
TRANSLATE = ["--version", "-h", "--help", "--hex", "--decode", "--names", "--strict",
             "--list-names"]


def run(*argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, check=False, **kwargs)


def help_options(text):
    """The option column of --help: lines that start two spaces in with a dash."""
    return [name for line in text.splitlines() if line.startswith("  -")
            for name in line.split()[0].split(",")]


def section(page, name):
    return re.search(rf"^{name}\n(.*?)(?=^\S|\Z)", page, re.M | re.S)[1]


def main():
    tools, man, completion = sys.argv[1:]
    problems = []
    for tool in ("wendle-send", "wendle-display", "wendle-translate"):
        path, source = os.path.join(man, tool + ".1"), f"man/{tool}.1.in"
        lint = run("groff", "-man", "-ww", "-z", path).stderr + run(
            "mandoc", "-T", "lint", "-W", "warning", path).stdout
        problems += [f"{source}: {line}" for line in lint.splitlines()]
        page = run("groff", "-man", "-Tascii", "-P-cbou", path).stdout
        headings = [h for h in re.findall(r"^([A-Z][A-Z ]*)$", page, re.M) if h in SECTIONS]
        if headings != SECTIONS:
            problems.append(f"{source}: sections {headings}, not {SECTIONS}")
            continue
        items = [name for tag in re.findall(r"^ {7}(-[^\s,]+(?:, -[^\s,]+)*)", section(page, "OPTIONS"),
                                            re.M) for name in tag.split(", ")]
        statuses = re.findall(r"^ {7}(\d+) ", section(page, "EXIT STATUS"), re.M)
        text = run(os.path.join(tools, tool), "--help").stdout
        options = help_options(text)
        problems += [f"{tool}(1) lacks {name}, which {tool} --help lists: add a .TP item for it "
                     f"to {source}" for name in options if name not in items]
        problems += [f"{tool}(1) has an item for {name}, which {tool} --help does not list"
                     for name in items if name not in options]
        problems += [f"{tool}(1) lacks exit status {code}, which {tool} --help names: add it "
                     f"to man/exit-status.man" for code in
                     re.findall(r"\b\d\b", text.partition("Exit status:")[2])
                     if code not in statuses]
        offered = run("bash", "-c", f'source "{completion}"; COMP_WORDS=({tool} -); COMP_CWORD=1; '
                      f'_wendle {tool}; printf "%s\\n" "${{COMPREPLY[@]}}"',
                      env=dict(os.environ, PATH=f"{tools}:{os.environ['PATH']}")).stdout.split()
        expected = TRANSLATE if tool == "wendle-translate" else options
        if sorted(offered) != sorted(set(expected)):
            problems.append(f"completion of '{tool} -' offers {offered}, not each of {expected} "
                            "once")
    for problem in problems:
        print("FAIL  " + problem)
    print(f"man pages and completion: {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
