"""Measures the running window under Wine: processor time of the idle window
over ten seconds, and the time from a Send click to the last byte on the
serial line. A measurement, not a test: it prints and fails on nothing.

  python3 bench/measure_window.py     (from the repository, after the win32 build)
"""

import os
import select
import statistics
import sys
import threading
import time

REPOSITORY = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[:0] = [os.path.join(REPOSITORY, "tests", "wine"),
                os.path.join(REPOSITORY, "tests", "wine", "window")]
os.environ.setdefault("WENDLE_WIN32_BUILD", os.path.join(REPOSITORY, "build", "win32"))

import winelab  # noqa: E402
from wendle_window import Wendle  # noqa: E402
from winelab import MESSAGE, SEND  # noqa: E402

IDLE_SECONDS = 10
SENDS = 30


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure_idle(wendle):
    pid = wendle.process.pid
    with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
        assert b"Wendlev14" in cmdline.read(), "the wine process is not Wendle's"
    server = wendle.prefix.server_pid()
    time.sleep(1)
    start = (cpu_seconds(pid), cpu_seconds(server) if server else 0.0, time.monotonic())
    time.sleep(IDLE_SECONDS)
    wall = time.monotonic() - start[2]
    used = cpu_seconds(pid) - start[0]
    served = (cpu_seconds(server) - start[1]) if server else float("nan")
    print(f"idle {wall:.1f} s: Wendle process {used:.2f} s CPU ({100 * used / wall:.1f} %), "
          f"wineserver {served:.2f} s CPU ({100 * served / wall:.1f} %)")


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
    wendle.set_text(MESSAGE, message)
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
        wendle.start()
        measure_idle(wendle)
        measure_send(wendle, line, "<CLS>Hello<13>", 7)
        measure_send(wendle, line, "<65>" * 1024, 1024)
    finally:
        wendle.shutdown()
        line.close()


if __name__ == "__main__":
    main()
