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

_run_lock = None


def open_prefix():
    """The exports tests' own prefix, held by this process alone: the COM
    links in it are this process's (a second run on the same tree waits)."""
    global _run_lock
    path = build_path("wine-exports", "prefix")
    if _run_lock is None:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        _run_lock = open(path + ".run-lock", "w")
        fcntl.flock(_run_lock, fcntl.LOCK_EX)
    return WinePrefix(path)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def variable(data):
    """The caller's description of a string holding `data`."""
    fnv = 2166136261
    for byte in data:
        fnv = ((fnv ^ byte) * 16777619) & 0xFFFFFFFF
    return f"len={len(data)} fnv={fnv:08x} hex={data[:32].hex()}"


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
            for fd in select.select(list(by_fd), [], [], 0.05)[0]:
                try:
                    chunk = os.read(fd, 1 << 16)
                except OSError:
                    continue
                with self._lock:
                    self.received[by_fd[fd]] += chunk
                    self.last_byte = time.monotonic()

    def settle(self, quiet=0.3, limit=30.0):
        """Waits until no byte has come for `quiet` seconds, counted from the
        call at the earliest."""
        start = time.monotonic()
        while time.monotonic() < start + limit:
            with self._lock:
                idle = time.monotonic() - max(self.last_byte, start)
            if idle >= quiet:
                return
            time.sleep(quiet - idle)

    def take(self, port):
        """What has arrived on the port's line since the last take."""
        with self._lock:
            data = bytes(self.received[port])
            self.received[port].clear()
        return data

    def close(self):
        self._stop.set()
        self._thread.join()
        for port, line in self.lines.items():
            self.prefix.unlink_com(port)
            line.close()


class Report:
    """The caller's exit code and lines."""

    def __init__(self, code, text):
        self.code, self.text, self.lines = code, text, text.splitlines()

    def one(self, pattern):
        """The match of the one line that matches `pattern`."""
        found = [m for m in map(re.compile(pattern).fullmatch, self.lines) if m]
        if len(found) != 1:
            raise AssertionError(f"expected one line {pattern!r} in:\n{self.text}")
        return found[0]

    def opens(self):
        return [line.rsplit(" ", 1)[1] for line in self.lines if line.startswith("open ")]


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
        for port in self.PORTS:
            self.lines.take(port)

    def call(self, *steps, program=None):
        """Runs the caller (export_caller with the EXE, unless `program` is
        given) to its end, which must be exit code 0, while the lines drain;
        waits for the lines to fall quiet; the caller's report."""
        argv = [windows_path(EXE), *steps] if program is None else list(steps)
        report = Report(*self.prefix.run(program or CALLER, *argv, timeout=180))
        self.lines.settle()
        self.assertEqual(report.code, 0, report.text)
        return report
