#!/usr/bin/env python3
"""Runs the shell examples of docs/linux.md and docs/display.md as written, each code block
in one bash in a fresh folder, a pty for serial ports: docs_examples_test.py SOURCE TOOLS"""
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../winelab"))
from winelab import PtyLine  # noqa: E402

# How a command line starts; "wendle-send: ..." is a tool's message, not a command.
COMMAND = re.compile(r"^(\$ )?(build/|wendle-[a-z]+(\s|$)|cmake |ctest |python3 |printf "
                     r"|scripts/|bash |sudo |man |tail |while |[A-Z]+=)")
SKIPPED = (  # pattern, why the line is not run
    (r"^(cmake|ctest) ", "builds and runs the tests: this test runs inside that"),
    (r"bench/", "benchmarks: figures to read, minutes long"),
    (r"\[[-A-Z]", "a usage line (PORT, [OPTIONS]), not a command"),
    (r"^(tail -f|while )", "runs until stopped with Ctrl+C (tests/send feeds --lines from a FIFO)"),
    (r"^sudo |scripts/(setup|package|test|run)",
     "installs into the system or builds everything (tests/deb tries the packages)"),
)


def main():
    source, tools = sys.argv[1], os.path.abspath(sys.argv[2])
    port = PtyLine()
    counts = {"ok": 0, "FAIL": 0, "skip": 0}
    for doc in ("docs/linux.md", "docs/display.md"):
        blocks, block, fenced = [], [], False
        with open(os.path.join(source, doc), encoding="utf-8") as text:
            for line in text.read().splitlines() + [""]:
                if line.startswith("```"):
                    fenced = not fenced
                elif (fenced or line.startswith("    ")) and COMMAND.match(line.strip()):
                    block.append(line.strip().removeprefix("$ "))
                elif block and not fenced and line.strip() == "":
                    blocks.append(block)
                    block = []
        for block in blocks:
            lines = []
            for line in block:
                why = next((why for pattern, why in SKIPPED if re.search(pattern, line)), None)
                if why:
                    print(f"skip  {doc}: {line[:70]} ({why})")
                    counts["skip"] += 1
                    continue
                line = re.sub(r"/dev/(ttyUSB|ttyACM)[0-9]+|/dev/pts/N\b", port.device,
                              line.replace("build/host-release/tools/", tools + "/"))
                # A live display of a pseudo-terminal runs until Ctrl+C: here it gets one.
                lines.append(("timeout --preserve-status -s INT 1 " if "--pty" in line else "")
                             + line)
            if not lines:
                continue
            with tempfile.TemporaryDirectory() as work:
                proc = subprocess.run(["bash", "-c", "set -e\n" + "\n".join(lines)], cwd=work,
                                      capture_output=True, stdin=subprocess.DEVNULL, timeout=60,
                                      env=dict(os.environ, PATH=f"{tools}:{os.environ['PATH']}"))
                pictures = [(os.path.join(work, name), os.path.join(source, "docs", name))
                            for name in os.listdir(work) if name.endswith(".png")]
                pictures_ok = all(open(made, "rb").read() == open(shown, "rb").read()
                                  for made, shown in pictures if os.path.exists(shown))
            sends = any("wendle-send -p" in line for line in lines)
            sent_ok = port.read(idle=0.05, limit=1) != b"" or not sends
            result = "ok" if proc.returncode == 0 and pictures_ok and sent_ok else "FAIL"
            counts[result] += 1
            print(f"{result:6}{doc}: " + " | ".join(lines)[:150])
            if result == "FAIL":
                print((proc.stdout + proc.stderr).decode(errors="replace"))
    print(f"docs examples: {counts['ok']} passed, {counts['FAIL']} failed, "
          f"{counts['skip']} skipped")
    return 1 if counts["FAIL"] or not counts["ok"] else 0


if __name__ == "__main__":
    sys.exit(main())
