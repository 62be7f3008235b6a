#!/usr/bin/env python3
"""Runs the shell examples of docs/linux.md and docs/display.md as written.

    python3 tests/docs/docs_examples_test.py SOURCE_DIR TOOLS_DIR

Every command line in the documents' code blocks (indented or fenced) runs in
bash, in a fresh folder, with the built tools in place of build/host-release/
tools/ and on PATH, and the serial ports named replaced by a pseudo-terminal
this test holds. The lines of one block share one shell (a variable set on
one line is used on the next), and must all exit with 0; a message sent to
a port must arrive, and a picture written under the name of one in docs/
must be that picture, byte for byte. The lines it does
not run are the SKIPPED patterns below, each with its reason. Ends with
"N passed, N failed".
"""
import os
import pty
import re
import subprocess
import sys
import tempfile

DOCS = ("docs/linux.md", "docs/display.md")
# The words a command line of these documents starts with (after a "$ ");
# "wendle-send: ..." is a tool's message shown, not a command.
COMMAND = re.compile(
    r"^(\$ )?(build/|wendle-[a-z]+(\s|$)|cmake |ctest |python3 |printf |scripts/|bash |sudo |man "
    r"|tail |while |[A-Z]+=)")
SKIPPED = (  # pattern, why the line is not run
    (re.compile(r"^(cmake|ctest) "), "builds and runs the tests: this test runs inside that"),
    (re.compile(r"bench/"), "benchmarks: figures to read, minutes long"),
    (re.compile(r"\[[-A-Z]"), "a usage line (PORT, [OPTIONS]), not a command"),
    (re.compile(r"^(tail -f|while )"),
     "runs until stopped with Ctrl+C (tests/send feeds --lines from a FIFO)"),
    (re.compile(r"^sudo |scripts/(setup|package|test|run)"),
     "installs into the system or builds everything (tests/deb tries the packages)"),
)
PORTS = re.compile(r"/dev/(ttyUSB|ttyACM)[0-9]+|/dev/pts/N\b")
PROGRAM = "build/host-release/tools/"


def command_blocks(text):
    """The documents' code blocks, as lists of command lines."""
    blocks, block, fenced = [], [], False
    for line in text.splitlines() + [""]:
        if line.startswith("```"):
            fenced = not fenced
            continue
        if fenced or line.startswith("    "):
            line = line.strip()
            if COMMAND.match(line):
                block.append(line.removeprefix("$ "))
        elif block and line.strip() == "":
            blocks.append(block)
            block = []
    return blocks


def runnable(line, port, tools):
    """The line as this machine runs it."""
    line = PORTS.sub(port, line.replace(PROGRAM, tools + "/"))
    # A live display of a pseudo-terminal runs until Ctrl+C: here it gets one.
    if "--pty" in line:
        line = "timeout --preserve-status -s INT 1 " + line
    return line


def main():
    source, tools = sys.argv[1], os.path.abspath(sys.argv[2])
    master, slave = pty.openpty()
    port = os.ttyname(slave)
    os.set_blocking(master, False)
    passed = failed = skipped = 0
    for doc in DOCS:
        for block in command_blocks(open(os.path.join(source, doc), encoding="utf-8").read()):
            lines = []
            for line in block:
                reason = next((why for pattern, why in SKIPPED if pattern.search(line)), None)
                if reason:
                    print(f"skip  {doc}: {line[:70]} ({reason})")
                    skipped += 1
                else:
                    lines.append(line)
            if not lines:
                continue
            with tempfile.TemporaryDirectory() as work:
                script = "set -e\n" + "\n".join(runnable(line, port, tools) for line in lines)
                proc = subprocess.run(["bash", "-c", script], cwd=work, capture_output=True,
                                      stdin=subprocess.DEVNULL,
                                      env=dict(os.environ, PATH=f"{tools}:{os.environ['PATH']}"),
                                      timeout=60)
                # A picture the documents show is the one their message makes.
                picture_ok = all(
                    open(os.path.join(work, name), "rb").read()
                    == open(os.path.join(source, "docs", name), "rb").read()
                    for name in os.listdir(work) if name.endswith(".png")
                    and os.path.exists(os.path.join(source, "docs", name)))
            arrived = b""
            try:
                while chunk := os.read(master, 65536):
                    arrived += chunk
            except BlockingIOError:
                pass
            # What is sent to a port reaches it.
            sent_ok = not any("wendle-send -p" in line for line in lines) or arrived != b""
            ok = proc.returncode == 0 and picture_ok and sent_ok
            passed += ok
            failed += not ok
            print(("ok    " if ok else "FAIL  ") + f"{doc}: " + " | ".join(lines)[:150])
            if not ok:
                print(proc.stdout.decode(errors="replace") + proc.stderr.decode(errors="replace"))
    os.close(master)
    os.close(slave)
    print(f"docs examples: {passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
