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


class ExportsTest(unittest.TestCase):
    """The class's PORTS linked to serial lines on ptys (one test a class),
    read while a caller runs, so that its writes never wait on a full pty."""

    @classmethod
    def setUpClass(cls):
        path = build_path("wine-exports", "prefix")
        # The server that the last test stopped may still be ending: a program
        # started in it ends with it, silently, with status 1. -k waits until
        # it is gone (and kills it if it has to).
        run(["wineserver", "-k"], env=_prefix_env(path), timeout=60)
        cls.prefix = WinePrefix(path)
        cls.lines = {port: PtyLine() for port in cls.PORTS}
        cls.received = {port: bytearray() for port in cls.PORTS}
        for port, line in cls.lines.items():
            cls.prefix.link_com(port, line.device)
            cls.addClassCleanup(line.close)
            cls.addClassCleanup(cls.prefix.unlink_com, port)

    def read(self, wait):
        by_fd = {line.master: port for port, line in self.lines.items()}
        ready = select.select(list(by_fd), [], [], wait)[0]
        for fd in ready:
            self.received[by_fd[fd]] += os.read(fd, 1 << 16)
        return bool(ready)

    def call(self, *steps, program=None):
        """The lines of the caller (export_caller with the EXE unless `program`
        is given, killed after 180 s at native speed), which must exit with 0;
        reads on until the lines are quiet."""
        exe = [] if program else ["Z:" + os.path.abspath(EXE).replace("/", "\\")]
        proc = self.prefix.start(program or CALLER, *exe, *steps)
        deadline = time.monotonic() + patience(180)
        while proc.poll() is None and time.monotonic() < deadline:
            self.read(0.05)
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        while self.read(0.3):
            pass
        text = self.prefix.output(proc)
        self.assertEqual(proc.returncode, 0, text)
        return text.splitlines()

    def take(self, port):
        """What has arrived on the port's line since the last take."""
        data = bytes(self.received[port])
        self.received[port].clear()
        return data


def run_program():
    prefix_path, program, *arguments = sys.argv[1:]
    code, output = WinePrefix(prefix_path).run(program, *arguments, timeout=300)
    print(output if code is not None else output + f"\n{program} did not end in time")
    return 1 if code is None else code


if __name__ == "__main__":
    test_main(main=run_program)
