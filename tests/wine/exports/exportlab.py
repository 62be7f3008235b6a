"""What the tests of the exported interface share: the prefix, the programs,
serial lines drained while a caller runs, the caller's report, and a test
case that holds them."""

import fcntl
import os
import re
import select
import threading
import time
import unittest

from winelab import PtyLine, WinePrefix, build_path

EXE = build_path("app", "Wendlev14.EXE")
CALLER = build_path("tests", "wine", "exports", "export_caller.exe")
LINKED_CALLER = build_path("tests", "wine", "exports", "linked_caller.exe")
VERSION = b"v1.3, 22 Oct 2012, https://wendle.example.org"


_run_lock = None


def open_prefix():
    """The exports tests' own prefix, made once per build tree, held for
    this process alone: the COM links in it are this process's (a second
    test run on the same tree waits). The callers open no window, so no
    display is needed."""
    global _run_lock
    path = build_path("wine-exports", "prefix")
    if _run_lock is None:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        _run_lock = open(path + ".run-lock", "w")
        fcntl.flock(_run_lock, fcntl.LOCK_EX)
    return WinePrefix(path)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def fnv1a(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return value


def variable(data):
    """The caller's description of a string holding `data`."""
    return f"len={len(data)} fnv={fnv1a(data):08x} hex={data[:32].hex()}"


class Lines:
    """Serial lines linked into the prefix as COM ports and drained in the
    background, so that a caller's writes never wait on a full pty."""

    def __init__(self, prefix, ports):
        self.prefix = prefix
        self.lines = {port: PtyLine() for port in ports}
        self.received = {port: bytearray() for port in ports}
        self.last_byte = time.monotonic()
        self._lock = threading.Lock()
        self._stop = threading.Event()
        for port, line in self.lines.items():
            prefix.link_com(port, line.device)
        self._thread = threading.Thread(target=self._drain, daemon=True)
        self._thread.start()

    def _drain(self):
        by_fd = {line.master: port for port, line in self.lines.items()}
        while not self._stop.is_set():
            ready, _, _ = select.select(list(by_fd), [], [], 0.05)
            for fd in ready:
                try:
                    chunk = os.read(fd, 1 << 16)
                except OSError:
                    chunk = b""
                if chunk:
                    with self._lock:
                        self.received[by_fd[fd]] += chunk
                        self.last_byte = time.monotonic()

    def settle(self, quiet=0.3, limit=30.0):
        """Waits until nothing is left to read and no byte has come for
        `quiet` seconds, counted from the call at the earliest."""
        start = time.monotonic()
        while time.monotonic() < start + limit:
            with self._lock:
                idle = time.monotonic() - max(self.last_byte, start)
            masters = [line.master for line in self.lines.values()]
            if idle >= quiet and not select.select(masters, [], [], 0)[0]:
                return
            time.sleep(max(0.01, quiet - idle))

    def take(self, port):
        """What has arrived on the port's line since the last take."""
        with self._lock:
            data = bytes(self.received[port])
            self.received[port].clear()
        return data

    def take_all(self):
        return {port: self.take(port) for port in self.lines}

    def termios(self, port):
        return self.lines[port].termios()

    def close(self):
        self._stop.set()
        self._thread.join()
        for port, line in self.lines.items():
            self.prefix.unlink_com(port)
            line.close()


class Report:
    """The caller's exit code and lines."""

    def __init__(self, code, text):
        self.code = code
        self.text = text
        self.lines = text.splitlines()

    def find(self, pattern):
        """The match objects of the lines matching `pattern`, in order."""
        return [m for m in (re.fullmatch(pattern, line) for line in self.lines) if m]

    def one(self, pattern):
        found = self.find(pattern)
        if len(found) != 1:
            raise AssertionError(f"expected one line {pattern!r} in:\n{self.text}")
        return found[0]

    def results(self, pattern):
        return [m.group(1) for m in self.find(pattern)]

    def opens(self):
        return self.results(r"open \d+ \d+ = (-?\d+)")


class ExportsTest(unittest.TestCase):
    """The prefix, with the class's PORTS linked to lines drained for the
    whole class and emptied before each test."""

    PORTS = []

    @classmethod
    def setUpClass(cls):
        cls.prefix = open_prefix()
        cls.lines = Lines(cls.prefix, cls.PORTS)

    @classmethod
    def tearDownClass(cls):
        cls.lines.close()

    def setUp(self):
        self.lines.take_all()

    def call(self, *steps, program=None):
        """Runs the caller (export_caller with the EXE, unless `program` is
        given) to its end, which must be exit code 0, while the lines drain;
        waits for the lines to fall quiet; the caller's report."""
        argv = [windows_path(EXE), *steps] if program is None else list(steps)
        report = Report(*self.prefix.run(program or CALLER, *argv, timeout=180))
        self.lines.settle()
        self.assertEqual(report.code, 0, report.text)
        return report
