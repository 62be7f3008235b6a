"""Measures wendle-display drawing live on a terminal (a pseudo-terminal this
script holds as its standard output), with --pty as its input:

  idle     processor time (user + system, from /proc) over a stretch with
           nothing arriving, after the first frame is on the terminal;
  latency  from the moment write() of a message's last byte to the
           display's port returns to the moment the redrawn frame that
           shows it has reached the terminal (its closing clear-to-end);
           the writer opens, writes and closes the port for each message,
           as Wendle does, and sends one every 50 ms, slower than the
           display's pacing of about 30 frames a second;
  pacing   the frames drawn while messages come every 5 ms.

usage: python3 bench/measure_display.py [WENDLE_DISPLAY] [--idle SECONDS] [--sends N]
(default: build/host-release/tools/wendle-display)
"""

import argparse
import os
import pty
import select
import statistics
import subprocess
import time
import tty

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FRAME_END = b"\x1b[J"


class Terminal:
    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        self.text = bytearray()

    def read_until(self, wanted, start=0, limit=10.0):
        """Reads until `wanted` stands after `start`; the time it arrived."""
        deadline = time.monotonic() + limit
        while True:
            at = self.text.find(wanted, start)
            if at >= 0:
                return at + len(wanted)
            if not select.select([self.master], [], [], max(0, deadline - time.monotonic()))[0]:
                raise TimeoutError(f"{wanted!r} never came")
            self.text += os.read(self.master, 1 << 16)


def processor_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("program", nargs="?",
                        default=os.path.join(SOURCE_DIR, "build/host-release/tools/wendle-display"))
    parser.add_argument("--idle", type=float, default=10.0)
    parser.add_argument("--sends", type=int, default=500)
    args = parser.parse_args()

    terminal = Terminal()
    display = subprocess.Popen([args.program, "--pty", "--size", "20x4"], stdout=terminal.slave,
                               stdin=subprocess.DEVNULL)
    try:
        seen = terminal.read_until(b"\n")
        path = terminal.text[:seen - 1].decode()
        seen = terminal.read_until(FRAME_END, seen)

        before = processor_seconds(display.pid)
        time.sleep(args.idle)
        idle = processor_seconds(display.pid) - before
        print(f"idle: {idle:.3f} s of processor time in {args.idle:g} s "
              f"({100 * idle / args.idle:.2f} % of a core)")

        delays = []
        for n in range(args.sends):
            text = f"send {n:06d}"
            port = os.open(path, os.O_WRONLY | os.O_NOCTTY)
            tty.setraw(port)
            os.write(port, b"\x0c" + text.encode())
            sent = time.monotonic()
            os.close(port)
            at = terminal.read_until(text.encode(), seen)
            seen = terminal.read_until(FRAME_END, at)
            delays.append(time.monotonic() - sent)
            terminal.text = terminal.text[seen:]
            seen = 0
            time.sleep(0.05)
        # Pacing: sends every 5 ms (200 a second) are drawn together.
        start, frames = time.monotonic(), 0
        port = os.open(path, os.O_WRONLY | os.O_NOCTTY)
        for n in range(args.sends):
            os.write(port, f"\x0cburst {n:06d}".encode())
            time.sleep(0.005)
            while select.select([terminal.master], [], [], 0)[0]:
                frames += os.read(terminal.master, 1 << 16).count(FRAME_END)
        os.close(port)
        terminal.read_until(f"burst {args.sends - 1:06d}".encode())
        frames += terminal.text.count(FRAME_END)
        took = time.monotonic() - start
        print(f"pacing: {args.sends} sends in {took:.2f} s drawn as {frames} frames "
              f"({frames / took:.1f} frames a second)")
        delays.sort()
        ms = [1000 * d for d in delays]
        print(f"last byte to redrawn frame, {len(ms)} sends: median {statistics.median(ms):.2f} ms,"
              f" p10 {ms[len(ms) // 10]:.2f} ms, p90 {ms[len(ms) * 9 // 10]:.2f} ms,"
              f" max {ms[-1]:.2f} ms")
    finally:
        # Its last frame has no reader: with the terminal gone, the write fails.
        display.terminate()
        os.close(terminal.master)
        display.wait()
        os.close(terminal.slave)


if __name__ == "__main__":
    main()
