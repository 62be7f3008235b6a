"""Runs every shell example of README.md and docs/*.md as written:
docs_examples_test.py SOURCE WORK. In a copy of the checkout's files (git ls-files) under WORK,
with a home of its own, each ```sh block runs in one bash from the copy's top, in order, README.md
first: its steps build and install the tools there, and everything after uses them by name. So
does each `$ ` line of a ```console block. A serial port in an example is a pseudo-terminal."""
import glob
import os
import re
import shutil
import subprocess
import sys
import unittest

from winelab import PtyLine, run, test_main

SKIPPED = (  # pattern, why the line is not run here
    (r"^(cmake|ctest) .*--preset (host|fuzz|win)", "another preset's: scripts/test runs it"),
    (r"bench/", "a benchmark: figures to read, minutes long"),
    (r"^(tail -f|while )", "runs until Ctrl+C (tests/send feeds --lines from a FIFO)"),
    (r"^sudo ", "installs into the system (tests/deb installs the package)"),
    (r"scripts/(run|package|test)\b|tests/wine/", "has a test of its own (scripts_run, "
     "package_archive, the Wine suites)"),
    (r"-w64-mingw32-gcc ", "needs the win32 or win64 build (the Wine suites build callers so)"),
)
FENCE = re.compile(r"^ *```(\w*)\n(.*?)\n *```$", re.M | re.S)
# What the examples read, as a user would have them.
FILES = {"message.txt": b"<CLS>Hello\n", "status.log": b"up\n", "capture.bin": b"\x0cHi\xfe\xc0!"}
SOURCE, WORK = sys.argv[1:3]
del sys.argv[1:3]  # the rest is unittest's


def blocks(text):
    """The commands of each sh block and the $ lines of each console block. An indented code
    block or a fence without a language would hide a command from this test: they come as
    ("error", what)."""
    found = [(m[1], [line.strip().removeprefix("$ ") for line in m[2].split("\n")
                     if m[1] == "sh" or line.startswith("$ ")]) if m[1] else
             ("error", f"a fence without a language (sh, console or text) before {m[2][:40]!r}")
             for m in FENCE.finditer(text) if m[1] in ("sh", "console", "")]
    indented = re.search(r"\n\n {4}(\S.*)", FENCE.sub("", text))
    return found + ([("error", f"an indented code block: fence it: {indented[1][:40]!r}")]
                    if indented else [])


def copy_checkout(source, checkout):
    """The checkout's files as they stand (deleted ones left out), in a git repository again
    (scripts/numbers counts lines with git ls-files), and FILES; False where `source` is none."""
    os.makedirs(checkout)
    copied = run(["bash", "-o", "pipefail", "-c", "git ls-files -z --cached --others "
                  "--exclude-standard | tar -c --null -T - --ignore-failed-read 2>/dev/null | "
                  'tar -x -C "$0" && cd "$0" && git init -q && git add -A', checkout], cwd=source)
    for name, data in FILES.items():
        with open(os.path.join(checkout, name), "wb") as f:
            f.write(data)
    return copied.returncode == 0


def run_block(commands, checkout, env):
    """What went wrong with the block: its output's end, or "" when it ended with status 0
    and a picture the docs show was made the same."""
    done = run(["bash", "-c", "set -e\n" + "\n".join(commands)], cwd=checkout, env=env,
               stderr=subprocess.STDOUT, timeout=1800)
    problem = "" if done.returncode == 0 else done.stdout[-3000:]
    for made in glob.glob(os.path.join(checkout, "*.png")):
        shown = os.path.join(checkout, "docs", os.path.basename(made))
        with open(made, "rb") as picture:
            if os.path.exists(shown) and picture.read() != open(shown, "rb").read():
                problem += f"\n{os.path.basename(made)} differs from the one in docs/"
        os.unlink(made)
    return problem


class Examples(unittest.TestCase):
    def test_every_example_runs_as_written_in_order(self):
        work = os.path.join(os.path.abspath(WORK), "docs-checkout")
        checkout, home = os.path.join(work, "wendle"), os.path.join(work, "home")
        shutil.rmtree(work, ignore_errors=True)
        self.addCleanup(shutil.rmtree, work, ignore_errors=True)
        os.makedirs(os.path.join(home, ".wine", "dosdevices"))
        if not copy_checkout(SOURCE, checkout):
            self.skipTest(f"{SOURCE} is no git checkout to copy")
        # As Debian's ~/.profile puts ~/.local/bin on PATH; man finds the pages beside it.
        env = {k: v for k, v in os.environ.items() if k not in ("MANPATH", "XDG_DATA_HOME")}
        env.update(HOME=home, PATH=f"{home}/.local/bin:{os.environ['PATH']}")
        port = self.enterContext(PtyLine()).device  # the serial port of the examples
        for doc in ["README.md"] + sorted(glob.glob("docs/*.md", root_dir=SOURCE)):
            with open(os.path.join(SOURCE, doc), encoding="utf-8") as text:
                found = blocks(text.read())
            for number, (language, lines) in enumerate(found, 1):
                with self.subTest(doc=doc, block=number):
                    self.assertNotEqual(language, "error", lines)
                    commands = []
                    for line in lines:
                        why = next((why for pattern, why in SKIPPED if re.search(pattern, line)),
                                   None)
                        if why:
                            print(f"skip  {doc}: {line[:70]} ({why})")
                            continue
                        line = re.sub(r"/dev/(ttyUSB|ttyACM)[0-9]+|/dev/pts/N\b", port, line)
                        # A live display of a pseudo-terminal runs until Ctrl+C: here it gets one.
                        commands.append(("timeout --preserve-status -s INT 1 " if "--pty" in line
                                         else "") + line)
                    if commands:
                        self.assertEqual(run_block(commands, checkout, env), "", commands)


if __name__ == "__main__":
    test_main(wine=False)
