"""Runs Wendlev14.EXE under Wine for scripts/run: COM1 on a virtual serial
line whose bytes are shown as they arrive, or on a real device; without a
display, a demo under Xvfb that ends with a screenshot."""

import argparse
import os
import select
import signal
import string
import subprocess
import sys
import threading
import time

import winelab
from winelab import MESSAGE, SC_CLOSE, SEND, WENDLE, WM_SYSCOMMAND, probe

DEMO_MESSAGE = "<CLS>Hello<13>"


def show(data):
    """One line per chunk: the bytes in hex and as printable text."""
    text = "".join(chr(b) if chr(b) in string.printable[:95] else "." for b in data)
    print(f"COM1 <- {data.hex(' ')}  |{text}|", flush=True)


def watch(line, stop):
    while not stop.is_set():
        ready, _, _ = select.select([line.master], [], [], 0.1)
        if ready:
            try:
                data = os.read(line.master, 4096)
            except OSError:
                return
            show(data)


def set_decorated(prefix, decorated):
    # Without a window manager Wine draws the caption and frame itself only
    # when asked to.
    subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated",
                    "/d", "Y" if decorated else "N", "/f"], env=prefix.env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def screenshot(rect, path):
    left, top, right, bottom = rect
    subprocess.run(["import", "-window", "root", "-crop",
                    f"{right - left}x{bottom - top}+{left}+{top}", "+repage", path], check=True)


def demo(prefix, line, screenshot_path):
    found = probe(prefix, ("find", 20000))[0]
    if not found["found"]:
        sys.exit("run: the Wendle window did not appear")
    print(f"run: window \"{found['caption']}\"; sending {DEMO_MESSAGE}", flush=True)
    probe(prefix, ("settext", MESSAGE, DEMO_MESSAGE), ("click", SEND))
    data = line.read(idle=0.5, limit=5)
    if data:
        show(data)
    else:
        print("run: nothing arrived on COM1", flush=True)
    time.sleep(0.3)
    screenshot(probe(prefix, ("layout",))[0]["window"], screenshot_path)
    print(f"run: screenshot {screenshot_path}", flush=True)
    probe(prefix, ("post", 0, WM_SYSCOMMAND, SC_CLOSE, 0))
    return bool(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("device", nargs="?", help="a real serial device for COM1")
    parser.add_argument("--screenshot", default=winelab.build_path("run", "wendle-window.png"),
                        help="where the demo without a display saves its screenshot")
    args = parser.parse_args()

    headless = not os.environ.get("DISPLAY")
    winelab.ensure_display()
    prefix = winelab.WinePrefix(winelab.build_path("run", "prefix"))
    set_decorated(prefix, not headless)
    line = None
    if args.device:
        prefix.link_com(1, args.device)
        print(f"run: COM1 is {args.device}", flush=True)
    else:
        line = winelab.PtyLine()
        prefix.link_com(1, line.device)
        print(f"run: COM1 is the virtual line {line.device}", flush=True)

    wendle = prefix.start(WENDLE)
    ok = True
    try:
        if headless:
            ok = demo(prefix, line, args.screenshot) if line else True
        elif line:
            stop = threading.Event()
            threading.Thread(target=watch, args=(line, stop), daemon=True).start()
            print("run: close the window (or press Ctrl+C) to end", flush=True)
            signal.signal(signal.SIGINT, lambda *_: probe(
                prefix, ("post", 0, WM_SYSCOMMAND, SC_CLOSE, 0)))
        code = wendle.wait()
        print(f"run: Wendle ended with exit code {code}", flush=True)
    finally:
        if wendle.poll() is None:
            wendle.kill()
        if line:
            line.close()
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
