"""What the Wine tests of the exported interface share. As a program, it runs
a Win32 test program in a prefix of its own and passes its exit code on:
exportlab.py PREFIX PROGRAM [ARGUMENTS...]"""

import os
import select
import sys
import time
import unittest

from winelab import PtyLine, WinePrefix, _prefix_env, build_path, patience, run, test_main

EXE = build_path("app", "Wendlev14.EXE")
CALLER = build_path("tests", "wine", "exports", "export_caller.exe")
LINKED_CALLER = build_path("app", "linked_caller.exe")


class Lines:
    """Serial lines linked into the prefix as COM ports, read while a program
    runs, so that its writes never wait on a full pty."""

    def __init__(self, prefix, ports):
        self.prefix, self.lines = prefix, {port: PtyLine() for port in ports}
        self.received = {port: bytearray() for port in ports}
        for port, line in self.lines.items():
            prefix.link_com(port, line.device)

    def _read(self, wait):
        by_fd = {line.master: port for port, line in self.lines.items()}
        ready = select.select(list(by_fd), [], [], wait)[0]
        for fd in ready:
            self.received[by_fd[fd]] += os.read(fd, 1 << 16)
        return bool(ready)

    def run(self, program, *args, timeout=180):
        """(exit code, output) of a program (killed after `timeout` seconds
        at native speed); reads on until the lines are quiet."""
        proc = self.prefix.start(program, *args)
        deadline = time.monotonic() + patience(timeout)
        while proc.poll() is None and time.monotonic() < deadline:
            self._read(0.05)
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        while self._read(0.3):
            pass
        return proc.returncode, self.prefix.output(proc)

    def take(self, port):
        """What has arrived on the port's line since the last take."""
        data = bytes(self.received[port])
        self.received[port].clear()
        return data

    def close(self):
        for port, line in self.lines.items():
            self.prefix.unlink_com(port)
            line.close()


class ExportsTest(unittest.TestCase):
    """The class's PORTS linked to lines (one test a class)."""

    @classmethod
    def setUpClass(cls):
        path = build_path("wine-exports", "prefix")
        # The server that the last test stopped may still be ending: a program
        # started in it ends with it, silently, with status 1. -k waits until
        # it is gone (and kills it if it has to).
        run(["wineserver", "-k"], env=_prefix_env(path), timeout=60)
        cls.prefix = WinePrefix(path)
        cls.lines = Lines(cls.prefix, cls.PORTS)
        cls.addClassCleanup(cls.lines.close)

    def call(self, *steps, program=None):
        """The lines of the caller (export_caller with the EXE unless
        `program` is given), which must exit with 0."""
        exe = "Z:" + os.path.abspath(EXE).replace("/", "\\")
        code, text = self.lines.run(program or CALLER, *([exe] if program is None else []), *steps)
        self.assertEqual(code, 0, text)
        return text.splitlines()


def run_program():
    prefix_path, program, *arguments = sys.argv[1:]
    code, output = WinePrefix(prefix_path).run(program, *arguments, timeout=300)
    print(output if code is not None else output + f"\n{program} did not end in time")
    return 1 if code is None else code


if __name__ == "__main__":
    test_main(main=run_program)
