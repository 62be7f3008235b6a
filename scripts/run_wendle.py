"""The Wine side of scripts/run, which has checked the options and built
everything: Wendlev14.EXE in the run's own prefix with its COM ports linked
to a virtual display module drawn in this terminal (wendle-display), to
virtual lines shown here (--monitor), or to a real port; without an X
display, a demo under Xvfb that sends one message, shows what came of it and
ends. The window closed, Ctrl+C, SIGTERM, SIGHUP or an error end the run the
same way: the window closed, the display ended (it restores the terminal),
the links removed, the Wine server and the Xvfb ended."""

import argparse
import os
import signal
import subprocess
import sys
import termios
import threading
import time
from contextlib import contextmanager

import winelab
from run_lines import PortWatch
from winelab import CLEAR_AFTER_SEND, MESSAGE, SC_CLOSE, SEND, WENDLE, WM_SYSCOMMAND, probe

RUN_DIR = os.environ.get("WENDLE_RUN_DIR", os.path.abspath("build/run"))
TOOLS = os.environ.get("WENDLE_TOOLS", os.path.abspath("build/host/tools"))
DISPLAY_TOOL = os.path.join(TOOLS, "wendle-display")
TRANSLATE_TOOL = os.path.join(TOOLS, "wendle-translate")
PORTS = range(1, 10)


def say(text):
    print(f"run: {text}", flush=True)


class RunError(Exception):
    """A step that failed; its text says what, and what to look at."""


class Interrupted(Exception):
    pass


class Signals:
    """SIGINT, SIGTERM and SIGHUP end the run by raising Interrupted, except
    while a step that must not be cut short runs (making the prefix, starting
    a process that must be ended later): they then wait for its end."""

    def __init__(self):
        self.held = False
        self.number = None
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            signal.signal(number, self._arrived)

    def _arrived(self, number, _frame):
        if not self.held:
            self.number = number
            raise Interrupted()
        if self.number is None and self.held == "step":
            # Not print(): this may run in the middle of another print.
            os.write(2, b"\nrun: ending once this step is done\n")
        self.number = self.number or number

    @contextmanager
    def hold(self):
        self.held = "step"
        try:
            yield
        finally:
            self.held = False
        if self.number:
            raise Interrupted()

    def ignore(self):
        """For the clean-up: a second Ctrl+C must not cut it short."""
        self.held = "clean-up"


class Run:
    """What a run has started and made, and its end."""

    def __init__(self, signals):
        self.signals = signals
        self.prefix = None
        self.wendle = None
        self.display = None
        self.lines = {}
        self.watch = None
        self.linked = set()
        self.terminal = None
        self.notes = []
        self.elsewhere = []
        self.error = None

    def open_prefix(self, headless):
        # A prefix serves one architecture: the x64 build has its own.
        path = os.path.join(RUN_DIR, "prefix" if winelab.ARCH == "win32" else "prefix-win64")
        with self.signals.hold():
            try:
                winelab.ensure_display()
            except winelab.WineError as error:
                raise RunError(str(error)) from None
            if headless:
                say(f"no X display: a demo under a private Xvfb ({os.environ['DISPLAY']})")
            # A run that was killed left its links to pseudo-terminals, which
            # may by now be someone else's terminal: they go before Wine
            # starts, since making a prefix or starting its server looks at
            # every port linked there (and can wait on one for minutes).
            for port in range(1, 100):
                link = winelab.com_path(path, port)
                if os.path.realpath(link).startswith("/dev/pts/"):
                    os.unlink(link)
            if os.path.exists(os.path.join(path, "system.reg")):
                say("starting Wine")
            else:
                took = "about 20 s" if winelab.SLOW == 1 else "a minute or more, emulated"
                say(f"preparing Wine in {path} (first run only, {took})")
            try:
                self.prefix = winelab.WinePrefix(path)
            except winelab.WineError as error:
                raise RunError(str(error)) from None
        # Without a window manager (Xvfb) Wine draws the caption and the
        # frame itself only when asked to; with one, it lets it decorate.
        self.prefix.run("reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated",
                        "/d", "N" if headless else "Y", "/f", timeout=60)

    def link(self, port, device):
        self.linked.add(port)
        self.prefix.link_com(port, device)

    def watch_lines(self, ports, report):
        """Links the ports to virtual lines read in a thread."""
        for port in ports:
            self.lines[port] = winelab.PtyLine()
            self.link(port, self.lines[port].device)
        self.watch = PortWatch(self.lines, report, TRANSLATE_TOOL)

    def start_display(self, options, stdout=None):
        """wendle-display on a pseudo-terminal it links as COM1. Drawn live
        (stdout None: the terminal) it reads the terminal's keys, so that q
        ends it, and with it the run, as its frame says."""
        link = self.prefix.com_path(1)
        with self.signals.hold():
            self.linked.add(1)
            self.display = subprocess.Popen([DISPLAY_TOOL, "--pty", "--link", link, *options],
                                            stdin=subprocess.DEVNULL if stdout else None,
                                            stdout=stdout)
        deadline = time.monotonic() + 20
        # It replaces the link Wine made (to /dev/ttyS0) in one step.
        while not (os.path.islink(link) and os.readlink(link).startswith("/dev/pts/")):
            if self.display.poll() is not None or time.monotonic() > deadline:
                raise RunError(f"wendle-display did not link COM1 (status {self.display.poll()})")
            time.sleep(0.02)

    def start_wendle(self):
        with self.signals.hold():
            self.wendle = self.prefix.start(WENDLE)
        if not probe(self.prefix, ("find", winelab.patience_ms(20)))[0]["found"]:
            raise RunError("the Wendle window did not appear; Wendle wrote: "
                           + (self.prefix.output(self.wendle, keep=True).strip() or "nothing"))

    def send(self, message):
        say(f"typing {message} into the window and pressing Send")
        probe(self.prefix, ("settext", MESSAGE, message), ("click", SEND))

    def screenshot(self, path):
        time.sleep(0.3)  # the window repaints after the click
        left, top, right, bottom = probe(self.prefix, ("layout",))[0]["window"]
        os.makedirs(os.path.dirname(path), exist_ok=True)
        shot = winelab.run(["import", "-window", "root", "-crop",
                            f"{right - left}x{bottom - top}+{left}+{top}", "+repage", path])
        if shot.returncode != 0:
            raise RunError(f"the screenshot failed: {shot.stderr.strip()}")
        say(f"the window's screenshot: {path}")

    def quiet_terminal(self):
        """Keys typed while the module is drawn would be echoed over it."""
        if os.isatty(0) and os.isatty(1):
            self.terminal = termios.tcgetattr(0)
            quiet = termios.tcgetattr(0)
            quiet[3] &= ~termios.ECHO
            termios.tcsetattr(0, termios.TCSADRAIN, quiet)

    def wait_for_end(self):
        """Until the window is closed or the display ends; the status."""
        while True:
            if self.wendle.poll() is not None:
                self.notes.append("the window was closed")
                return 0
            if self.display is not None and self.display.poll() is not None:
                if self.display.returncode == 0:
                    self.notes.append("q typed: the display ended, and with it the run")
                    return 0
                self.notes.append(f"wendle-display ended with status {self.display.returncode}")
                return 1
            time.sleep(0.1)

    def end(self):
        """Ends whatever is running, in order; safe to call twice. A step
        that fails (the terminal hung up, say) does not stop the others."""
        for step in (self._close_window, self._end_display, self._stop_watch, self._unlink,
                     self._restore_terminal):
            try:
                step()
            except (OSError, termios.error, AssertionError, subprocess.SubprocessError):
                pass
        if self.prefix is not None:
            self.prefix.stop()  # and with the server every Wine program left

    def _close_window(self):
        if self.wendle is not None and self.wendle.poll() is None:
            probe(self.prefix, ("post", 0, WM_SYSCOMMAND, SC_CLOSE, 0), timeout=15)
            self.wendle.wait(timeout=winelab.patience(10))

    def _end_display(self):
        if self.display is not None and self.display.poll() is None:
            self.display.terminate()  # it restores the terminal and removes its link
            try:
                self.display.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.display.kill()
                self.display.wait()

    def _stop_watch(self):
        if self.watch is not None:
            self.watch.stop()
            self.watch = None
        for line in self.lines.values():
            line.close()
        self.lines = {}

    def _unlink(self):
        for port in self.linked:
            self.prefix.unlink_com(port)

    def _restore_terminal(self):
        if self.terminal is not None:
            saved, self.terminal = self.terminal, None
            termios.tcflush(0, termios.TCIFLUSH)
            termios.tcsetattr(0, termios.TCSADRAIN, saved)


def live(run, args):
    """With an X display: the window, and what it sends shown here. What to
    do is said before the display's frame covers the terminal, and stands in
    the window too: the message is put there, ready to send."""
    ending = "Ctrl+C ends"
    if args.device:
        run.link(1, args.device)
        say(f"COM1: {args.device}; the other ports are not connected")
    elif args.monitor:
        say("COM1-COM9: virtual lines; each arrival shows here with its line settings")
        run.watch_lines(PORTS, lambda line: print(line, flush=True))
    else:
        say("COM2-COM9: listed at the end if anything arrives (--monitor shows all)")
        run.watch_lines(range(2, 10), run.elsewhere.append)
        ending = "q or Ctrl+C here ends"
    say(f"the window holds {args.message}: press Send, or type another message; {ending}")
    if not args.device and not args.monitor:
        say(f"COM1: a virtual {args.size} display module, drawn in this terminal; its port:")
        run.quiet_terminal()
        run.start_display(["--size", args.size])
    run.start_wendle()
    probe(run.prefix, ("settext", MESSAGE, args.message))
    return run.wait_for_end()


def demo(run, args):
    """Without an X display: one message sent and what came of it."""
    if args.device:
        run.link(1, args.device)
        say(f"COM1: {args.device}")
        run.start_wendle()
        # The box is emptied after a send only when the port could be opened.
        probe(run.prefix, ("setcheck", CLEAR_AFTER_SEND, 1))
        run.send(args.message)
        if probe(run.prefix, ("text", MESSAGE, "", winelab.patience_ms(2)))[0]["text"]:
            raise RunError(f"Wendle could not open COM1 ({args.device})")
        say(f"sent to {args.device}")
    elif args.monitor:
        arrived = threading.Event()
        run.watch_lines(PORTS, lambda line: (print(line, flush=True), arrived.set()))
        say("COM1-COM9: virtual lines")
        run.start_wendle()
        run.send(args.message)
        if not arrived.wait(winelab.patience(15)):
            raise RunError(f"nothing arrived on COM1 in {winelab.patience(15)} s")
    else:
        say(f"COM1: a virtual {args.size} display module")
        run.start_display(["--size", args.size, "--dump", "--png", args.png, "--idle-exit", "1"],
                          stdout=subprocess.PIPE)
        run.start_wendle()
        run.send(args.message)
        try:
            out, _ = run.display.communicate(timeout=winelab.patience(15))
        except subprocess.TimeoutExpired:
            raise RunError(f"nothing arrived on COM1 in {winelab.patience(15)} s") from None
        say("the module's screen (its rows, then the cursor's row and column, then what a "
            "module without a buffer would lose of the message):")
        print("\n".join(out.decode().splitlines()[1:]), flush=True)
        say(f"the module's picture: {args.png}")
    run.screenshot(args.screenshot)
    return 0


def main():
    parser = argparse.ArgumentParser(prog="scripts/run", description="See scripts/run --help.")
    parser.add_argument("device", nargs="?")
    parser.add_argument("--monitor", action="store_true")
    parser.add_argument("--size", default="16x2")
    parser.add_argument("--message", default="<CLS>Hello<KTA_LINE2>world")
    parser.add_argument("--screenshot", default=os.path.join(RUN_DIR, "wendle-window.png"))
    parser.add_argument("--png", default=os.path.join(RUN_DIR, "wendle-display.png"))
    args = parser.parse_args()

    headless = not os.environ.get("DISPLAY")
    if not args.device and not args.monitor:
        # The display checks its own options; better now than after Wine started.
        check = winelab.run([DISPLAY_TOOL, "--size", args.size, "--dump", "/dev/null"])
        if check.returncode != 0:
            reason = check.stderr.splitlines()[0].removeprefix("wendle-display: ")
            print(f"run: --size {args.size}: {reason}", file=sys.stderr)
            sys.exit(2)
    signals = Signals()
    run = Run(signals)
    try:
        run.open_prefix(headless)
        status = demo(run, args) if headless else live(run, args)
    except Interrupted:
        status = 128 + signals.number if headless else 0
    except (RunError, AssertionError, OSError, subprocess.SubprocessError) as error:
        run.error = error
        status = 1
    finally:
        signals.ignore()
        run.end()
    if run.elsewhere:
        run.notes.append("while the display showed COM1, this came on other ports:\n  "
                         + "\n  ".join(run.elsewhere))
    try:
        if signals.number == signal.SIGINT and os.isatty(1):
            print(flush=True)  # after the ^C the terminal echoed
        for note in run.notes:
            say(note)
        if run.error:
            print(f"run: failed: {run.error}", file=sys.stderr, flush=True)
    except OSError:
        pass  # the terminal is gone
    sys.exit(status)


if __name__ == "__main__":
    main()
