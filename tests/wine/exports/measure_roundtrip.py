"""Measures one SER_OPEN + SER_SEND (64 bytes) + SER_CLOSE round trip under
Wine on a pty, beside the least a program can do for the same effect with the
Win32 calls alone (CreateFileW, GetCommState/SetCommState, WriteFile,
CloseHandle), alternating the two in one caller process. A benchmark: it
prints figures and fails only when the runs themselves fail.

usage (from the repository, after the win32 build):
    WENDLE_WIN32_BUILD=build/win32 PYTHONPATH=tests/wine \\
        python3 tests/wine/exports/measure_roundtrip.py [rounds] [runs]
"""

import os
import platform
import sys

from exportlab import Lines, open_prefix, run_caller

PORT = 91


def machine():
    model = "unknown processor"
    with open("/proc/cpuinfo", encoding="utf-8") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return f"{model}, {os.cpu_count()} cores, Linux {platform.release()}"


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 2000
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    prefix = open_prefix()
    lines = Lines(prefix, [PORT])
    try:
        print(f"machine: {machine()}")
        for run in range(runs):
            report = run_caller(prefix, lines, f"roundtrip:{PORT}:{rounds}", timeout=600)
            received = len(lines.take(PORT))
            summary = [line for line in report.lines if line.startswith("roundtrip")]
            if report.code != 0 or "failures=0" not in summary[0]:
                print(report.text)
                return 1
            print(f"run {run + 1}: {received} bytes on the line")
            for line in summary:
                print("  " + line)
    finally:
        lines.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
