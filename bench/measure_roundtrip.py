"""Measures one SER_OPEN + SER_SEND (64 bytes) + SER_CLOSE round trip under
Wine on a pty, beside the least a program can do for the same effect with the
Win32 calls alone (CreateFileW, GetCommState/SetCommState, WriteFile,
CloseHandle), alternating the two in one caller process. A benchmark: it
prints figures and fails only when the runs themselves fail.

usage (from the repository, after the win32 or win64 build):
    [WENDLE_WINE_ARCH=win64] python3 bench/measure_roundtrip.py [rounds] [runs]
Built for win64, the caller and the EXE are both x64 and run under wine64.
"""

import os
import platform
import sys
import time

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPOSITORY, "winelab"))

import winelab  # noqa: E402
from winelab import LOADER, PtyLine, WinePrefix, build_path, patience  # noqa: E402

PORT = 91
EXE = build_path("app", "Wendlev14.EXE")
CALLER = build_path("bench", "roundtrip_caller.exe")


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
    prefix = WinePrefix(build_path("bench-roundtrip", "prefix"))
    serial = PtyLine()
    prefix.link_com(PORT, serial.device)
    try:
        print(f"machine: {machine()}")
        print(f"build: {winelab.ARCH}, {winelab.BUILD_DIR}, under {LOADER}")
        for run in range(runs):
            print(f"run {run + 1} of {runs}: {rounds} round trips of each kind...", flush=True)
            proc = prefix.start(CALLER, "Z:" + EXE.replace("/", "\\"), str(PORT), str(rounds))
            deadline = time.monotonic() + patience(600)
            received = 0
            # Read while it writes: a full pty would hold the caller's writes.
            while proc.poll() is None and time.monotonic() < deadline:
                received += len(serial.read(idle=0.05, limit=0.5))
            proc.kill()  # nothing if it has ended
            received += len(serial.read(idle=0.3))
            text = prefix.output(proc)
            if proc.wait() != 0:
                print(text)
                return 1
            print(f"  {received} bytes on the line")
            for line in text.splitlines():
                if line.startswith("roundtrip"):
                    print("  " + line)
    finally:
        prefix.unlink_com(PORT)
        serial.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
