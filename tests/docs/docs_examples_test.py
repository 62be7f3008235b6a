#!/usr/bin/env python3
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

SKIPPED = (  # pattern, why the line is not run here
    (r"^(cmake|ctest) .*--preset (host|fuzz|win)", "another preset's build and tests: "
     "scripts/test runs them"),
    (r"bench/", "a benchmark: figures to read, minutes long"),
    (r"^(tail -f|while )", "runs until Ctrl+C (tests/send feeds --lines from a FIFO)"),
    (r"^sudo ", "installs into the system (the README's ~/.local install is run; tests/deb "
     "installs the package)"),
    (r"scripts/(run|package|test)\b|tests/wine/", "has a test of its own (scripts_run, "
     "package_archive, the Wine suites)"),
    (r"-w64-mingw32-gcc ", "needs the win32 or win64 build (the Wine suites build callers so)"),
)
FENCE = re.compile(r"^ *```(\w*)\n(.*?)\n *```$", re.M | re.S)
# What the examples read, as a user would have them.
FILES = {"message.txt": b"<CLS>Hello\n", "status.log": b"up\n", "capture.bin": b"\x0cHi\xfe\xc0!"}


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
    (the README counts lines with git ls-files), and FILES."""
    os.makedirs(checkout)
    subprocess.run(["bash", "-o", "pipefail", "-c", "git ls-files -z --cached --others "
                    "--exclude-standard | tar -c --null -T - --ignore-failed-read 2>/dev/null | "
                    'tar -x -C "$0" && cd "$0" && git init -q && git add -A', checkout],
                   cwd=source, check=True)
    for name, data in FILES.items():
        with open(os.path.join(checkout, name), "wb") as f:
            f.write(data)


def run_block(commands, checkout, env):
    """Whether the block ran: status 0, and a picture the docs show made the same."""
    proc = subprocess.run(["bash", "-c", "set -e\n" + "\n".join(commands)], cwd=checkout, env=env,
                          capture_output=True, stdin=subprocess.DEVNULL, timeout=1800)
    pictures_ok = True
    for made in glob.glob(os.path.join(checkout, "*.png")):
        shown = os.path.join(checkout, "docs", os.path.basename(made))
        with open(made, "rb") as picture:
            pictures_ok &= not os.path.exists(shown) or picture.read() == open(shown, "rb").read()
        os.unlink(made)
    if proc.returncode == 0 and pictures_ok:
        return True
    print((proc.stdout + proc.stderr).decode(errors="replace")[-3000:])
    return False


def main():
    source, work = sys.argv[1], os.path.join(os.path.abspath(sys.argv[2]), "docs-checkout")
    checkout, home = os.path.join(work, "wendle"), os.path.join(work, "home")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(home, ".wine", "dosdevices"))
    try:
        copy_checkout(source, checkout)
    except subprocess.CalledProcessError:
        print(f"SKIPPED: {source} is no git checkout to copy")
        return 77
    # As Debian's ~/.profile puts ~/.local/bin on PATH; man finds the pages beside it.
    env = {k: v for k, v in os.environ.items() if k not in ("MANPATH", "XDG_DATA_HOME")}
    env.update(HOME=home, PATH=f"{home}/.local/bin:{os.environ['PATH']}")
    master, slave = os.openpty()  # the serial port of the examples
    port = os.ttyname(slave)
    counts = {"ok": 0, "FAIL": 0, "skip": 0}
    try:
        for doc in ["README.md"] + sorted(glob.glob("docs/*.md", root_dir=source)):
            with open(os.path.join(source, doc), encoding="utf-8") as text:
                found = blocks(text.read())
            for language, lines in found:
                if language == "error":
                    print(f"FAIL  {doc}: {lines}")
                    counts["FAIL"] += 1
                    continue
                commands = []
                for line in lines:
                    why = next((why for pattern, why in SKIPPED if re.search(pattern, line)), None)
                    if why:
                        print(f"skip  {doc}: {line[:70]} ({why})")
                        counts["skip"] += 1
                        continue
                    line = re.sub(r"/dev/(ttyUSB|ttyACM)[0-9]+|/dev/pts/N\b", port, line)
                    # A live display of a pseudo-terminal runs until Ctrl+C: here it gets one.
                    commands.append(("timeout --preserve-status -s INT 1 " if "--pty" in line
                                     else "") + line)
                if commands:
                    result = "ok" if run_block(commands, checkout, env) else "FAIL"
                    counts[result] += 1
                    print(f"{result:6}{doc}: " + " | ".join(commands)[:150], flush=True)
    finally:
        os.close(master), os.close(slave)
        shutil.rmtree(work, ignore_errors=True)
    print(f"docs examples: {counts['ok']} passed, {counts['FAIL']} failed, "
          f"{counts['skip']} skipped")
    return 1 if counts["FAIL"] or not counts["ok"] else 0


if __name__ == "__main__":
    sys.exit(main())
