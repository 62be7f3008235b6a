"""What the Wine tests and scripts/run share: Wine prefixes, virtual serial
lines, an X display, and the probe program that works Wendle's window from
outside, with the window's control identifiers.

Every process started here runs in a session of its own: Ctrl+C on the
terminal reaches the script, which ends them in its own order (a Wine
program cut short while it makes a prefix would leave it half made).

A serial line is a Linux pseudo-terminal: the slave end is linked into the
prefix as dosdevices/comN, and what the program writes is read from the master
end. A run leaves nothing behind but one set-up log per prefix: program
output files are removed, and the wineservers and the Xvfb started here end
with the process.
"""

import atexit
import errno
import fcntl
import json
import os
import pty
import select
import shutil
import subprocess
import sys
import termios
import time
import tty

# The build under test and its architecture, set by ctest for every Wine
# test: win32 (an i386 EXE, run by the 32-bit Wine loader, natively or under
# an emulator) or win64 (run by the 64-bit loader).
BUILD_DIR = os.environ.get("WENDLE_BUILD", "")
ARCH = os.environ.get("WENDLE_WINE_ARCH", "win32")
if ARCH not in ("win32", "win64"):
    sys.exit(f"winelab: WENDLE_WINE_ARCH is {ARCH!r}: give win32 or win64")

# The `wine` wrapper picks the 32-bit loader whenever wine32 is installed, so
# each architecture names its loader; one wineserver (the wrapper prefers the
# 64-bit one) serves both kinds of process.
LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}
LOADER = LOADERS[ARCH]


def build_path(*parts):
    """A file of the build tree under test (set by ctest through WENDLE_BUILD)."""
    return os.path.join(BUILD_DIR, *parts)


class WineError(RuntimeError):
    """Wine cannot run this architecture's programs here; the text says why
    and what to do, in one line."""


def _emulated():
    """Whether i386 programs go through a registered QEMU (binfmt_misc)."""
    way = os.environ.get("WENDLE_WINE32_WAY")
    if way:
        return way == "emulated"
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as handler:
            return handler.readline().strip() == "enabled"
    except OSError:
        return False


# An emulated 32-bit Wine is about ten times slower in everything it does
# (a prefix in 30 s, a window in 5 s): every wait here and in the tests is
# scaled by this one factor. No test fails on a time otherwise.
SLOW = 10 if ARCH == "win32" and _emulated() else 1


def patience(seconds):
    """How long to wait for something that takes `seconds` natively at worst."""
    return seconds * SLOW


def patience_ms(seconds):
    """patience() in milliseconds, for the probe program's waits."""
    return int(seconds * SLOW * 1000)


def wine_problem():
    """Why this architecture's Wine cannot run programs here, or None."""
    return _wine_problem()[0]


def _wine_problem():
    """(why Wine cannot run programs here or None, whether the reason is that
    this machine runs no 32-bit programs at all). One quick probe: a kernel
    that refuses i386 programs does so at once."""
    if ARCH == "win32" and os.environ.get("WENDLE_WINE32_WAY") == "unavailable":
        return os.environ.get("WENDLE_WINE32_HOW") or "32-bit programs cannot run here", True
    if ARCH == "win32" and os.environ.get("WENDLE_WINE32_WAY"):
        return None, False  # scripts/test has found out already
    package = "wine32:i386" if ARCH == "win32" else "wine64"
    try:
        result = subprocess.run([LOADER, "--version"], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                timeout=patience(60), check=False)
    except FileNotFoundError:
        return f"{LOADER} is missing: install {package} (scripts/setup does)", False
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return ("this kernel runs no 32-bit programs: scripts/test runs them under "
                    "qemu-user (scripts/wine32), or use the win64 build"), True
        return f"{LOADER} cannot be started ({error.strerror})", False
    except subprocess.TimeoutExpired:
        return f"{LOADER} --version did not answer (try it by hand)", False
    if result.returncode != 0:
        said = result.stderr.decode(errors="replace").strip().splitlines()
        return (f"{LOADER} --version failed with status {result.returncode}"
                f"{': ' + said[-1] if said else ''} (try it by hand; reinstall {package})"), False
    return None, False


def wine_env(base=None):
    """The environment every Wine command of this architecture runs with."""
    env = dict(os.environ if base is None else base)
    env.update(WINEARCH=ARCH, WINELOADER=LOADER, WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def prefix_env(env, path):
    """`env` for the prefix at `path`. Wine's server keeps its socket in a
    folder of TMPDIR whose name the prefix records: TMPDIR is a folder beside
    the prefix, so that no run leaves folders in /tmp, and the same one for
    every process that uses the prefix (another would start a second server
    on it)."""
    os.makedirs(path + ".tmp", mode=0o700, exist_ok=True)
    return dict(env, WINEPREFIX=path, TMPDIR=path + ".tmp")


def wine_argv(program, *args):
    """The command line that runs a Windows program, or one of Wine's own
    (wineboot, reg, cmd), under this architecture's loader; "wineserver"
    is the server itself."""
    if program == "wineserver":
        return ["wineserver", *args]
    return [LOADER, program, *args]


WENDLE = build_path("app", "Wendlev14.EXE")
PROBE = build_path("winelab", "wendle_window_probe.exe")

# The main window's controls.
SEND = 1
MESSAGE = 175
CLEAR_AFTER_SEND = 180
PORT_NUMBER = 1012
PORT_UPDOWN = 1013
BAUD_CHOICES = {38400: 135, 19200: 140, 9600: 115, 4800: 120, 2400: 125, 1200: 130}
WM_CLOSE, WM_SYSCOMMAND, SC_CLOSE = 0x0010, 0x0112, 0xF060

# Wine draws the caption buttons with this font, which the 32-bit Wine does
# not find where the package puts it; it does load it from the prefix.
MARLETT = "/usr/share/wine/fonts/marlett.ttf"


def _end(proc):
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
    this process. Returns the Xvfb process, or None for the caller's display."""
    if os.environ.get("DISPLAY"):
        return None
    for number in range(90, 140):
        owner = _display_owner(number)
        # A lock left by a server that is gone is Xvfb's to take over.
        if owner is not None and os.path.exists(f"/proc/{owner}"):
            continue
        proc = subprocess.Popen(
            ["Xvfb", f":{number}", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        for _ in range(100):
            if (_display_owner(number) == proc.pid
                    and os.path.exists(f"/tmp/.X11-unix/X{number}")):
                os.environ["DISPLAY"] = f":{number}"
                atexit.register(_end, proc)
                return proc
            if proc.poll() is not None:
                break
            time.sleep(0.05)
        _end(proc)
    raise RuntimeError("no X display could be started (is Xvfb installed? scripts/setup)")


def com_path(prefix_path, number):
    """Where Wine looks for COMnumber: a link to the device."""
    return os.path.join(prefix_path, "dosdevices", f"com{number}")


def _call(argv, env, log_path, timeout):
    """Runs a Wine command to its end, its output appended to the log."""
    with open(log_path, "ab") as out:
        try:
            subprocess.run(argv, env=env, stdout=out, stderr=out, timeout=timeout,
                           stdin=subprocess.DEVNULL, check=False, start_new_session=True)
        except subprocess.TimeoutExpired:
            raise WineError(f"{' '.join(argv[1:3])} did not end within {timeout} s in "
                            f"{env['WINEPREFIX']} (its log: {log_path})") from None


def _boot(path, env, log_path):
    """Lays a new prefix out at `path` with wineboot, its server ended."""
    # What an interrupted making left (a drive folder, device links) would
    # stop wineboot from laying the prefix out.
    shutil.rmtree(path, ignore_errors=True)
    env = prefix_env(env, path)
    _call(wine_argv("wineboot", "-i"), env, log_path, patience(180))
    _call(wine_argv("wineserver", "-w"), env, log_path, patience(60))
    if not os.path.exists(os.path.join(path, "system.reg")):
        raise WineError(f"Wine could not make its prefix {path}: the end of {log_path} says why")


def _template():
    """A prefix of the build tree under test as wineboot leaves it, made once
    and copied for every prefix made later: making one takes half a minute
    and more under emulation, a copy a second (a prefix holds no path of its
    own). None outside a build tree."""
    if not BUILD_DIR:
        return None
    path = build_path("wine-prefix-template")
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(path, "system.reg")):
            with open(path + ".log", "wb"):
                pass
            _boot(path, wine_env(), path + ".log")
    return path


class WinePrefix:
    """A private Wine prefix with a server kept alive between program runs
    and ended with this process. Its set-up log, <prefix>.log, holds the
    latest run only."""

    def __init__(self, path, windows_version=None):
        self.path = os.path.abspath(path)
        self.log_path = self.path + ".log"
        self.env = prefix_env(wine_env(), self.path)
        self._outputs = set()
        problem = wine_problem()
        if problem:
            raise WineError(problem)
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        with open(self.log_path, "wb"):
            pass
        with open(self.path + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(self.path, "system.reg")):
                template = _template()
                if template:
                    shutil.rmtree(self.path, ignore_errors=True)
                    shutil.copytree(template, self.path, symlinks=True)
                else:
                    _boot(self.path, self.env, self.log_path)
                if windows_version:
                    self._call(wine_argv("reg", "add", r"HKCU\Software\Wine", "/v", "Version",
                                         "/d", windows_version, "/f"), timeout=patience(60))
                    self._call(wine_argv("wineserver", "-w"), timeout=patience(60))
            self._install_marlett()
        # The device manager re-creates com1 when a server starts: start the
        # server first, link ports afterwards. Its own output, object dumps
        # among it, would fill the log.
        subprocess.run(wine_argv("wineserver", "-p30"), env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30, check=False, start_new_session=True)
        atexit.register(self.stop)
        atexit.register(self._remove_outputs)
        # The first window of a fresh server may come up before the desktop.
        self._call(wine_argv("cmd", "/c", "echo"), timeout=patience(60))

    def _call(self, argv, timeout):
        _call(argv, self.env, self.log_path, timeout)

    def _install_marlett(self):
        fonts = os.path.join(self.path, "drive_c", "windows", "Fonts")
        if os.path.exists(os.path.join(fonts, "marlett.ttf")):
            return
        if not os.path.exists(MARLETT):
            print(f"winelab: {MARLETT} is missing (package fonts-wine): caption buttons "
                  "will be drawn as letters", file=sys.stderr)
            return
        os.makedirs(fonts, exist_ok=True)
        shutil.copy(MARLETT, fonts)

    def com_path(self, number):
        return com_path(self.path, number)

    def link_com(self, number, device):
        self.unlink_com(number)
        os.symlink(device, self.com_path(number))

    def unlink_com(self, number):
        link = self.com_path(number)
        if os.path.lexists(link):
            os.unlink(link)

    def start(self, exe, *args, out_path=None):
        """Starts a program; its output goes to a file (proc.out_path), never
        to a pipe that Wine's helper processes would inherit and hold open.
        A file chosen here is removed by output() or at the latest when this
        process ends."""
        if out_path is None:
            out_path = f"{self.path}.out-{os.getpid()}-{time.monotonic_ns()}.txt"
            self._outputs.add(out_path)
        with open(out_path, "wb") as out:
            proc = subprocess.Popen(wine_argv(exe, *args), env=self.env, stdout=out,
                                    stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                    start_new_session=True)
        proc.out_path = out_path
        return proc

    def output(self, proc, keep=False):
        """The program's output so far; the file goes unless `keep`."""
        with open(proc.out_path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        if not keep and proc.out_path in self._outputs:
            self._outputs.discard(proc.out_path)
            os.unlink(proc.out_path)
        return text

    def run(self, exe, *args, timeout=120):
        """Runs a program to its end; returns (exit code, output text), with
        None for a program that did not end in time (`timeout` seconds at
        native speed) and was killed."""
        timeout = patience(timeout)
        proc = self.start(exe, *args)
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            code = None
        return code, self.output(proc)

    def _remove_outputs(self):
        for path in self._outputs:
            if os.path.exists(path):
                os.unlink(path)
        self._outputs.clear()

    def server_pid(self):
        """The process id of the prefix's wineserver, or None."""
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as env:
                    variables = env.read().split(b"\0")
                with open(f"/proc/{pid}/comm", "rb") as comm:
                    name = comm.read()
            except OSError:
                continue
            if name.startswith(b"wineserver") and f"WINEPREFIX={self.path}".encode() in variables:
                return int(pid)
        return None

    def stop(self):
        """Ends the prefix's server and every program still running in it,
        and waits (up to 10 s) for the server to be gone."""
        subprocess.run(wine_argv("wineserver", "-k"), env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        deadline = time.monotonic() + 10
        while self.server_pid() is not None and time.monotonic() < deadline:
            time.sleep(0.05)


def probe(prefix, *commands, timeout=60):
    """Runs probe commands (tuples such as ("click", SEND)) in one run of the
    probe program; one dict per command, in order."""
    argv = []
    for command in commands:
        argv += [str(part) for part in command] + [";"]
    _, text = prefix.run(PROBE, *argv, timeout=timeout)
    results = [json.loads(line) for line in text.splitlines() if line.startswith("{")]
    if len(results) != len(commands):
        raise AssertionError(f"probe {commands!r} answered {text!r}")
    return results


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


# A Wine test (ctest sets WENDLE_WINE_TEST) where Wine cannot run ends here
# with one line: skipped (status 77) where the machine runs no 32-bit
# programs and no emulator could be had, failed for anything else.
if os.environ.get("WENDLE_WINE_TEST"):
    _why, _refused = _wine_problem()
    if _why and _refused:
        print(f"SKIPPED: {_why}", flush=True)
        sys.exit(77)
    if _why:
        sys.exit(f"winelab: {_why}")
