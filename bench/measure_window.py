"""Measures the running window under Wine: processor time of the idle window
over ten seconds, beside a plain window of the same build served by a
GetMessage loop (bench/idle_window_floor_win.c), and the time from a Send
click to the last byte on the serial line. A measurement, not a test: it
prints and fails on nothing.

  [WENDLE_WINE_ARCH=win64] python3 bench/measure_window.py
      (from the repository, after the win32 or win64 build)
"""

import os
import select
import statistics
import sys
import threading
import time

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(REPOSITORY, "winelab"),
                os.path.join(REPOSITORY, "tests", "wine", "window")]

import winelab  # noqa: E402
from wendle_window import Wendle  # noqa: E402
from winelab import MESSAGE, SEND  # noqa: E402

IDLE_SECONDS = 10
SENDS = 30


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure_idle(prefix, process, name, what):
    pid = process.pid
    with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
        assert name.encode() in cmdline.read(), f"the wine process is not {name}"
    server = prefix.server_pid()
    time.sleep(1)
    start = (cpu_seconds(pid), cpu_seconds(server) if server else 0.0, time.monotonic())
    time.sleep(IDLE_SECONDS)
    wall = time.monotonic() - start[2]
    used = cpu_seconds(pid) - start[0]
    served = (cpu_seconds(server) - start[1]) if server else float("nan")
    print(f"idle {wall:.1f} s: {what} {used:.2f} s CPU ({100 * used / wall:.1f} %), "
          f"wineserver {served:.2f} s CPU ({100 * served / wall:.1f} %)")


def measure_floor(prefix):
    """The same measure on the plain window, which ends itself afterwards."""
    floor = prefix.start(winelab.build_path("bench", "idle_window_floor.exe"),
                         str(IDLE_SECONDS + 10))
    try:
        # Its start-up is over within a few seconds, under an emulator too.
        time.sleep(5)
        measure_idle(prefix, floor, "idle_window_floor", "plain GetMessage window")
    finally:
        floor.kill()
        floor.wait()
        prefix.output(floor)


def measure_send(wendle, line, message, expect):
    arrivals = []
    stop = threading.Event()

    def reader():
        while not stop.is_set():
            ready, _, _ = select.select([line.master], [], [], 0.05)
            if ready:
                data = os.read(line.master, 65536)
                arrivals.append((time.time(), len(data)))

    thread = threading.Thread(target=reader, daemon=True)
    thread.start()
    wendle.ask("settext", MESSAGE, message)
    latencies = []
    for _ in range(SENDS):
        arrivals.clear()
        clicked = wendle.ask("click", SEND)["clicked"]
        deadline = time.time() + 5
        while sum(n for _, n in arrivals) < expect and time.time() < deadline:
            time.sleep(0.01)
        time.sleep(0.05)
        latencies.append((arrivals[-1][0] - clicked) * 1000)
    stop.set()
    thread.join()
    latencies.sort()
    print(f"Send to last byte, {expect} bytes, {SENDS} clicks: median "
          f"{statistics.median(latencies):.1f} ms, min {latencies[0]:.1f} ms, "
          f"max {latencies[-1]:.1f} ms")


def main():
    wendle = Wendle(name="measure")
    line = winelab.PtyLine()
    wendle.prefix.link_com(1, line.device)
    try:
        print(f"build: {winelab.ARCH}, {winelab.BUILD_DIR}, under {winelab.LOADER}")
        measure_floor(wendle.prefix)
        wendle.start()
        measure_idle(wendle.prefix, wendle.process, "Wendlev14", "Wendle process")
        measure_send(wendle, line, "<CLS>Hello<13>", 7)
        measure_send(wendle, line, "<65>" * 1024, 1024)
    finally:
        wendle.shutdown()
        line.close()


if __name__ == "__main__":
    main()
