"""What the Python tests, scripts/run, the release scripts and the
benchmarks share: running a command, virtual serial lines, an X display, Wine
prefixes, and the probe program that works Wendle's window from outside,
with the window's control identifiers (read from app/controls_win.h).

Nothing here ends the process: what cannot be had raises WineError, and the
caller decides (a test skips or fails through test_main, scripts/run says
one line).

Every process started here runs in a session of its own: Ctrl+C on the
terminal reaches the script, which ends them in its own order (a Wine
program cut short while it makes a prefix would leave it half made). A run
leaves nothing behind but one set-up log per prefix: program output files
are removed, and the wineservers and the Xvfb started here end with the
process.
"""

import atexit
import errno
import fcntl
import json
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

from hostlab import PtyLine, WineError, ensure_display, run  # noqa: F401 (offered here too)

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The build under test and its architecture, set by ctest for every Wine
# test: win32 (an i386 EXE, run by the 32-bit Wine loader, natively or under
# an emulator) or win64 (run by the 64-bit loader). Unset, as for the
# benchmarks: win32, from build/win32.
ARCH = os.environ.get("WENDLE_WINE_ARCH", "win32")
BUILD_DIR = os.environ.get("WENDLE_BUILD") or os.path.join(SOURCE_DIR, "build", ARCH)
# The `wine` wrapper picks the 32-bit loader whenever wine32 is installed, so
# each architecture names its loader; one wineserver (the wrapper prefers the
# 64-bit one) serves both kinds of process.
LOADER = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}.get(ARCH, "")


def build_path(*parts):
    """A file of the build tree under test (set by ctest through WENDLE_BUILD)."""
    return os.path.join(BUILD_DIR, *parts)


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


def check_wine():
    """Raises WineError where this architecture's Wine cannot run programs.
    One quick probe: a kernel that refuses i386 programs does so at once."""
    if not LOADER:
        raise WineError(f"WENDLE_WINE_ARCH is {ARCH!r}: give win32 or win64")
    way = os.environ.get("WENDLE_WINE32_WAY") if ARCH == "win32" else None
    if way == "unavailable":
        raise WineError(os.environ.get("WENDLE_WINE32_HOW") or "32-bit programs cannot run here",
                        refused=True)
    if way:
        return  # scripts/test has found out already
    package = "wine32:i386" if ARCH == "win32" else "wine64"
    try:
        result = run([LOADER, "--version"], timeout=patience(60))
    except FileNotFoundError:
        raise WineError(f"{LOADER} is missing: install {package} (scripts/setup does)") from None
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            raise WineError("this kernel runs no 32-bit programs: scripts/test runs them under "
                            "qemu-user (scripts/wine32), or use the win64 build",
                            refused=True) from None
        raise WineError(f"{LOADER} cannot be started ({error.strerror})") from None
    if result.returncode is None:
        raise WineError(f"{LOADER} --version did not answer (try it by hand)")
    if result.returncode != 0:
        said = result.stderr.strip().splitlines()
        raise WineError(f"{LOADER} --version failed with status {result.returncode}"
                        f"{': ' + said[-1] if said else ''} (try it by hand; reinstall {package})")


def test_main(wine=True, main=None):
    """The one way a test file runs: `main`, or else the unittest cases of
    the calling file (class names on the command line pick some), and exits
    with their status; 77, which ctest counts as skipped, when everything
    was skipped. A Wine test (`wine`) where this architecture's Wine cannot
    run at all (WineError.refused) is skipped with one line saying why; where
    Wine is missing or broken, it fails with one line."""
    if wine:
        try:
            check_wine()
        except WineError as error:
            if error.refused:
                print(f"SKIPPED: {error}", flush=True)
                sys.exit(77)
            sys.exit(f"winelab: {error}")
    if main:
        sys.exit(main())
    result = unittest.main(module="__main__", verbosity=2, exit=False).result
    skipped = result.wasSuccessful() and len(result.skipped) >= max(result.testsRun, 1)
    sys.exit(77 if skipped else 0 if result.wasSuccessful() else 1)


def _control_ids():
    """The main window's control identifiers, {"SEND": 1, ...}, as the
    program defines them."""
    with open(os.path.join(SOURCE_DIR, "app", "controls_win.h"), encoding="utf-8") as header:
        return {name: int(value)
                for name, value in re.findall(r"^\s*FORM1_(\w+) = (\d+),", header.read(), re.M)}


CONTROL = _control_ids()
SEND, MESSAGE, CLEAR_AFTER_SEND = CONTROL["SEND"], CONTROL["MESSAGE"], CONTROL["CLEARAFTERSEND"]
PORT_NUMBER, PORT_UPDOWN = CONTROL["PORTNUMBER"], CONTROL["PORTUPDOWN"]
# {9600: 115, ...}: each choice is named after its rate.
BAUD_CHOICES = {int(name[4:]): ident for name, ident in CONTROL.items()
                if name.startswith("BAUD") and name[4:].isdigit()}
WM_CLOSE, WM_SYSCOMMAND, SC_CLOSE = 0x0010, 0x0112, 0xF060
WENDLE = build_path("app", "Wendlev14.EXE")
PROBE = build_path("winelab", "wendle_window_probe.exe")
# Wine draws the caption buttons with this font, which the 32-bit Wine does
# not find where the package puts it; it does load it from the prefix.
MARLETT = "/usr/share/wine/fonts/marlett.ttf"


def com_path(prefix_path, number):
    """Where Wine looks for COMnumber: a link to the device."""
    return os.path.join(prefix_path, "dosdevices", f"com{number}")


def wine_argv(program, *args):
    """The command line that runs a Windows program, or one of Wine's own
    (wineboot, reg, cmd), under this architecture's loader; "wineserver"
    is the server itself."""
    return ["wineserver", *args] if program == "wineserver" else [LOADER, program, *args]


def prefix_env(path):
    """The environment of the prefix at `path`. Wine's server keeps its
    socket in a folder of TMPDIR whose name the prefix records: TMPDIR is a
    folder beside the prefix, so that no run leaves folders in /tmp, and the
    same one for every process that uses the prefix (another would start a
    second server on it)."""
    os.makedirs(path + ".tmp", mode=0o700, exist_ok=True)
    return dict(os.environ, WINEARCH=ARCH, WINELOADER=LOADER, WINEDEBUG="-all",
                WINEDLLOVERRIDES="mscoree,mshtml=", WINEPREFIX=path, TMPDIR=path + ".tmp")


def _call(argv, env, log_path, timeout):
    """Runs a Wine command to its end, its output appended to the log."""
    with open(log_path, "ab") as out:
        if run(argv, env=env, stdout=out, stderr=out, timeout=timeout).returncode is None:
            raise WineError(f"{' '.join(argv[1:3])} did not end within {timeout} s in "
                            f"{env['WINEPREFIX']} (its log: {log_path})")


def _boot(path, log_path):
    """Lays a new prefix out at `path` with wineboot, its server ended."""
    # What an interrupted making left (a drive folder, device links) would
    # stop wineboot from laying the prefix out.
    shutil.rmtree(path, ignore_errors=True)
    env = prefix_env(path)
    _call(wine_argv("wineboot", "-i"), env, log_path, patience(180))
    _call(wine_argv("wineserver", "-w"), env, log_path, patience(60))
    if not os.path.exists(os.path.join(path, "system.reg")):
        raise WineError(f"Wine could not make its prefix {path}: the end of {log_path} says why")


def _template():
    """A prefix of the build tree under test as wineboot leaves it, made once
    and copied for every prefix made later: making one takes half a minute
    and more under emulation, a copy a second (a prefix holds no path of its
    own)."""
    path = build_path("wine-prefix-template")
    os.makedirs(BUILD_DIR, exist_ok=True)
    with open(path + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(path, "system.reg")):
            open(path + ".log", "wb").close()
            _boot(path, path + ".log")
    return path


class WinePrefix:
    """A private Wine prefix with a server kept alive between program runs
    and ended with this process. Its set-up log, <prefix>.log, holds the
    latest run only."""

    def __init__(self, path, windows_version=None):
        check_wine()
        self.path = os.path.abspath(path)
        self.log_path = self.path + ".log"
        self.env = prefix_env(self.path)
        self._outputs = set()
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        open(self.log_path, "wb").close()
        with open(self.path + ".lock", "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            if not os.path.exists(os.path.join(self.path, "system.reg")):
                shutil.rmtree(self.path, ignore_errors=True)
                shutil.copytree(_template(), self.path, symlinks=True)
                if windows_version:
                    self._call("reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d",
                               windows_version, "/f")
                    self._call("wineserver", "-w")
            self._install_marlett()
        # The device manager re-creates com1 when a server starts: start the
        # server first, link ports afterwards. Its own output, object dumps
        # among it, would fill the log.
        run(wine_argv("wineserver", "-p30"), env=self.env, stderr=subprocess.DEVNULL, timeout=30)
        atexit.register(self.stop)
        atexit.register(self._remove_outputs)
        # The first window of a fresh server may come up before the desktop.
        self._call("cmd", "/c", "echo")

    def _call(self, *argv):
        _call(wine_argv(*argv), self.env, self.log_path, patience(60))

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

    def start(self, exe, *args):
        """Starts a program; its output goes to a file (proc.out_path), never
        to a pipe that Wine's helper processes would inherit and hold open.
        The file is removed by output() or at the latest when this process
        ends."""
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
        proc = self.start(exe, *args)
        try:
            code = proc.wait(timeout=patience(timeout))
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
        run(wine_argv("wineserver", "-k"), env=self.env, timeout=60)
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
