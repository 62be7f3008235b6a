"""The helpers that need no Wine: running a command, a virtual serial
line, an X display, and the one exception the lab raises. winelab offers
them too: tests, scripts and benchmarks import winelab alone."""

import atexit
import os
import pty
import select
import signal
import subprocess
import termios
import time
import tty


def run(argv, timeout=600, input=None, text=True, stderr=subprocess.PIPE, **popen):
    """Runs a command to its end, output captured: a CompletedProcess whose
    returncode is None when it overstayed `timeout` seconds. It runs in a
    session of its own, which is then sent SIGTERM (so that it ends what it
    started) and a minute later SIGKILL; on Ctrl+C too."""
    popen.setdefault("stdin", subprocess.DEVNULL if input is None else subprocess.PIPE)
    popen.setdefault("stdout", subprocess.PIPE)
    with subprocess.Popen(argv, stderr=stderr, text=text, start_new_session=True, **popen) as proc:
        try:
            out, err = proc.communicate(input, timeout=timeout)
            return subprocess.CompletedProcess(argv, proc.returncode, out, err)
        except BaseException as error:
            for how, wait in ((signal.SIGTERM, 60), (signal.SIGKILL, None)):
                try:
                    os.killpg(proc.pid, how)
                    out, err = proc.communicate(timeout=wait)
                    break
                except ProcessLookupError:
                    out, err = proc.communicate()
                    break
                except subprocess.TimeoutExpired:
                    continue
            if not isinstance(error, subprocess.TimeoutExpired):
                raise
            return subprocess.CompletedProcess(argv, None, out, err)


class WineError(RuntimeError):
    """What Wine or X needs and cannot have here, in one line that says what
    to do. `refused`: this machine runs no 32-bit programs at all and no
    emulator could be had, which a test reports as a skip, never a pass."""

    def __init__(self, why, refused=False):
        super().__init__(why)
        self.refused = refused


def end_process(proc):
    """Ends a process politely (Xvfb then removes its lock and socket)."""
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def _display_owner(number):
    """The process id in the display's lock file; None when there is none."""
    try:
        with open(f"/tmp/.X{number}-lock") as lock:
            return int(lock.read().strip())
    except (OSError, ValueError):
        return None


def ensure_display():
    """Use the caller's X display, or start a private Xvfb that ends with
    this process: the one place an X server is started. Returns the Xvfb
    process, or None for the caller's display."""
    if os.environ.get("DISPLAY"):
        return None
    for number in range(90, 140):
        owner = _display_owner(number)
        # A lock left by a server that is gone is Xvfb's to take over.
        if owner is not None and os.path.exists(f"/proc/{owner}"):
            continue
        try:
            proc = subprocess.Popen(
                ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        except FileNotFoundError:
            break
        for _ in range(100):
            if (_display_owner(number) == proc.pid
                    and os.path.exists(f"/tmp/.X11-unix/X{number}")):
                os.environ["DISPLAY"] = f":{number}"
                atexit.register(end_process, proc)
                return proc
            if proc.poll() is not None:
                break
            time.sleep(0.05)
        end_process(proc)
    raise WineError("no X display could be started (is Xvfb installed? scripts/setup)")


class PtyLine:
    """One virtual serial line. The slave stays open here for the line's life:
    were every slave fd closed, reads on the master would fail with EIO and
    bytes still buffered would be lost."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.master)
        tty.setraw(self.slave)
        self.device = os.ttyname(self.slave)

    def read(self, idle=0.3, limit=30.0, expect=None):
        """Reads until `expect` bytes have come (when given) and the line has
        then been quiet for `idle` seconds, or `limit` seconds have passed."""
        data = bytearray()
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            done = expect is None or len(data) >= expect
            wait = idle if done else min(1.0, deadline - time.monotonic())
            ready, _, _ = select.select([self.master], [], [], max(wait, 0))
            if not ready:
                if done:
                    break
                continue
            try:
                chunk = os.read(self.master, 1 << 16)
            except OSError:
                break
            if not chunk:
                break
            data += chunk
        return bytes(data)

    def termios(self):
        """The line settings as the writer left them: [iflag, oflag, cflag,
        lflag, ispeed, ospeed, cc]."""
        return termios.tcgetattr(self.slave)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass
