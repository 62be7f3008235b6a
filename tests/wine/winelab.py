"""Wine prefixes, virtual serial lines and a display for the tests that run
Wendlev14.EXE and its callers under Wine with the real Win32 stacks.

A serial line is a Linux pseudo-terminal: the slave end is linked into the
prefix as dosdevices/comN, the test reads what the program writes from the
master end.
"""

import atexit
import fcntl
import os
import pty
import select
import shutil
import subprocess
import termios
import time
import tty

BUILD_DIR = os.environ.get("WENDLE_WIN32_BUILD", "")


def build_path(*parts):
    """A file of the win32 build tree (set by ctest through WENDLE_WIN32_BUILD)."""
    return os.path.join(BUILD_DIR, *parts)


def ensure_display():
    """Use the caller's X display, or start a private Xvfb for this process."""
    if os.environ.get("DISPLAY"):
        return None
    for number in range(90, 140):
        if os.path.exists(f"/tmp/.X11-unix/X{number}") or os.path.exists(f"/tmp/.X{number}-lock"):
            continue
        proc = subprocess.Popen(
            ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{number}"):
                os.environ["DISPLAY"] = f":{number}"
                atexit.register(proc.kill)
                return proc
            time.sleep(0.05)
        proc.kill()
    raise RuntimeError("no X display could be started")


class WinePrefix:
    """A private Wine prefix with a server kept alive between program runs."""

    def __init__(self, path, windows_version=None):
        self.path = os.path.abspath(path)
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        lock_path = self.path + ".lock"
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        with open(lock_path, "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(self.path, "system.reg")):
                self._call(["wineboot", "-i"], timeout=180)
                if windows_version:
                    self._call(["wine", "reg", "add", r"HKCU\Software\Wine", "/v", "Version",
                                "/d", windows_version, "/f"], timeout=60)
                self._call(["wineserver", "-w"], timeout=60)
        # The device manager re-creates com1 when a server starts: start the
        # server first, link ports afterwards.
        self._call(["wineserver", "-p30"], timeout=30)
        # The first window of a fresh server may come up before the desktop.
        self._call(["wine", "cmd", "/c", "echo"], timeout=60)

    def _call(self, argv, timeout):
        log = os.path.join(os.path.dirname(self.path), "wine-setup.log")
        with open(log, "ab") as out:
            subprocess.run(argv, env=self.env, stdout=out, stderr=out, timeout=timeout,
                           stdin=subprocess.DEVNULL, check=False)

    def link_com(self, number, device):
        link = os.path.join(self.path, "dosdevices", f"com{number}")
        if os.path.lexists(link):
            os.unlink(link)
        os.symlink(device, link)

    def unlink_com(self, number):
        link = os.path.join(self.path, "dosdevices", f"com{number}")
        if os.path.lexists(link):
            os.unlink(link)

    def start(self, exe, *args, out_path=None):
        """Starts a program; its output goes to a file, never to a pipe that
        Wine's helper processes would inherit and hold open."""
        out_path = out_path or os.path.join(os.path.dirname(self.path),
                                            f"out-{os.getpid()}-{time.monotonic_ns()}.txt")
        out = open(out_path, "wb")
        proc = subprocess.Popen(["wine", exe, *args], env=self.env, stdout=out,
                                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        proc.out_path = out_path
        out.close()
        return proc

    def run(self, exe, *args, timeout=120):
        """Runs a program to its end; returns (exit code, output text)."""
        proc = self.start(exe, *args)
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            code = None
        with open(proc.out_path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        os.unlink(proc.out_path)
        return code, text

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)


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
            wait = idle if expect is None or len(data) >= expect else min(1.0, deadline - time.monotonic())
            ready, _, _ = select.select([self.master], [], [], max(wait, 0))
            if not ready:
                if expect is None or len(data) >= expect:
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

    def drain(self):
        return self.read(idle=0.05, limit=1.0)

    def termios(self):
        """The line settings as Wine applied them: [iflag, oflag, cflag, lflag, ispeed, ospeed, cc]."""
        return termios.tcgetattr(self.slave)

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass


def have_wine():
    return shutil.which("wine") is not None
