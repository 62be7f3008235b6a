"""The exports called from other processes through Wine's real comm and OLE
stacks, the serial lines on ptys.

usage: calls_test.py PortSlot|Threads|LoaderStates"""

import os
import re
import select
import time
import unittest

from winelab import PtyLine, WinePrefix, build_path, patience, prefix_env, run, test_main

CALLER = build_path("app", "export_caller.exe")
LINKED_CALLER = build_path("app", "linked_caller.exe")

VERSION = b"v1.3, 22 Oct 2012, https://wendle.example.org".hex()
# Zero bytes are ordinary characters, inside tokens' results as elsewhere.
ZEROS, ZEROS_TRANSLATED = b"\x00A\x00<13>\x00<0>B\x00", b"\x00A\x00\r\x00\x00B\x00"
# 256 KiB of whole tokens, and of every byte value.
CHUNK, CHUNK_TRANSLATED, CHUNKS = b"Wendle\x00<65><13>\xff", b"Wendle\x00A\r\xff", 16384
RAW_CHUNK = bytes(range(256))
# What each thread of the caller sends, ended by a CR: long enough that a
# write cut in pieces lets another thread's pieces in.
RECORD = b"{T%d#%d" + b" " * 48 + b"}"


class ExportsTest(unittest.TestCase):
    """The class's PORTS linked to serial lines on ptys (one test a class),
    read while a caller runs, so that its writes never wait on a full pty."""

    @classmethod
    def setUpClass(cls):
        path = build_path("wine-exports", "prefix")
        # The server that the last test stopped may still be ending: a program
        # started in it ends with it, silently, with status 1. -k waits until
        # it is gone (and kills it if it has to).
        run(["wineserver", "-k"], env=prefix_env(path), timeout=60)
        cls.prefix = WinePrefix(path)
        cls.lines = {port: PtyLine() for port in cls.PORTS}
        for port, line in cls.lines.items():
            cls.prefix.link_com(port, line.device)
            cls.addClassCleanup(line.close)
            cls.addClassCleanup(cls.prefix.unlink_com, port)

    def read(self, wait):
        ready = select.select([line.master for line in self.lines.values()], [], [], wait)[0]
        for port, line in self.lines.items():
            self.received[port] += os.read(line.master, 1 << 16) if line.master in ready else b""
        return bool(ready)

    def call(self, *steps, program=CALLER):
        """The lines of the caller (killed after 180 s at native speed), which
        must exit with 0; reads on until the lines are quiet, into `received`."""
        self.received = {port: bytearray() for port in self.PORTS}
        proc = self.prefix.start(program, *steps)
        deadline = time.monotonic() + patience(180)
        while proc.poll() is None and time.monotonic() < deadline:
            self.read(0.05)
        proc.kill()  # nothing if it has ended
        proc.wait()
        while self.read(0.3):
            pass
        text = self.prefix.output(proc)
        self.assertEqual(proc.returncode, 0, text)
        return text.splitlines()


class PortSlot(ExportsTest):
    PORTS = [81, 84, 85]

    def test_the_port_slot_and_the_four_sends_through_the_import_library(self):
        # Every open draws the next number into the slot before any check, so a
        # send after a refused open reaches no port. The draws wrap after 32767,
        # past 1, which COM84 still holds. A close may come twice.
        refused = [(0, 9600), (100, 9600), (-2**31, 9600), (84, 9601), (84, 300), (84, 115200)]
        big = {False: f"{CHUNK.hex()}*{CHUNKS}", True: f"{RAW_CHUNK.hex()}*{CHUNKS // 16}"}
        sends = [f"{op}:{payload}" for op in ("send", "rawsend", "send_bv", "rawsend_bv")
                 for payload in ("hex:" + ZEROS.hex(), "null", "hex:", "hex:" + big["raw" in op])]
        report = self.call("close", "open:84:9600", "rawsend_bv:hex:41",
                           *(f"open:{port}:{baud}" for port, baud in refused), "rawsend_bv:hex:42",
                           "draws:32759", "open:85:2400", "rawsend_bv:hex:43", "close",
                           "open:85:4800", "rawsend_bv:hex:44", "close", "close",
                           "rawsend_bv:hex:45", "open:81:19200", *sends, "version", "close",
                           program=LINKED_CALLER)
        big_translated, big_raw = CHUNK_TRANSLATED * CHUNKS, RAW_CHUNK * (CHUNKS // 16)
        # SER_SEND leaves the translation, a string of its own even for a
        # null one; SER_RAWSEND the string as it was.
        self.assertEqual(report, [
            "close = 1", "open 84 9600 = 1", *(f"open {port} {baud} = 0" for port, baud in refused),
            "open 85 2400 = 1", "close = 1", "open 85 4800 = 1", "close = 1", "close = 1",
            "open 81 19200 = 1", "send var " + ZEROS_TRANSLATED.hex(), "send var ", "send var ",
            "send var " + big_translated.hex(), "rawsend var " + ZEROS.hex(), "rawsend var=null",
            "rawsend var ", "rawsend var " + big_raw.hex(), "version " + VERSION,
            "close = 1", "end"])
        self.assertEqual((self.received[84], self.received[85]), (b"A", b"CD"))
        self.assertEqual(self.received[81],
                         (ZEROS_TRANSLATED + big_translated + ZEROS + big_raw) * 2)


class Threads(ExportsTest):
    PORTS = [61, 62, 63, 64]

    def records(self, port):
        """The records that came whole, each ended by a CR."""
        *records, rest = bytes(self.received[port]).split(b"\r")
        self.assertEqual(rest, b"", f"COM{port}")
        return records

    def test_racing_first_calls_then_records_from_eight_threads_whole_and_the_heap_flat(self):
        # The first calls race into the module's one-time preparation. Wine opens
        # a pty-backed port non-exclusively: every open succeeds. The later
        # rounds on one port: a string left by one kind of send would add 480
        # KiB over the last, after the first have filled the caches.
        report = self.call("threads:6:300:62,63,64", "open:61:38400", "threads:8:1000", "heap",
                           "threads:8:4000", "heap", "close")
        self.assertEqual(report[0], "threads opens=1800 failures=0")
        before, after = (int(line.split()[1]) for line in report if line.startswith("heap "))
        self.assertLess(after - before, 64 * 1024, report)
        # Each send is one write: a record cut by another thread's write, or lost, is missed.
        sent = {RECORD % (t, n) for t in range(6) for n in range(300)}
        for port in (62, 63, 64):
            records = self.records(port)
            self.assertTrue(records, f"COM{port}")
            self.assertLessEqual(set(records), sent, f"COM{port}")
        self.assertEqual(sorted(self.records(61)), sorted(
            RECORD % (t, n) for rounds in (1000, 4000) for t in range(8) for n in range(rounds)))


# Wine maps the EXE away from its base and leaves it unrelocated and unbound;
# Vista to 11 relocate it and rewrite the header's ImageBase; a loader might
# also bind the imports. One fresh process per state.
STATES = ["none", "relocate,header", "relocate", "bind", "relocate,header,bind"]
SENT = b"\xfe\x01\xfe\x80Hi\r"


class LoaderStates(ExportsTest):
    PORTS = [83]

    def test_exports_work_and_every_slot_is_right_in_each_state(self):
        for state in STATES:
            with self.subTest(state=state):
                # Exit handlers that the module's start-up registered run at
                # the caller's exit, after FreeLibrary: the module must stay.
                report = self.call(f"loader:{state}", "version", "open:83:9600",
                                   "send:hex:" + b"<KTA_CLS>Hi<13>".hex(), "close", "slots",
                                   "unload")
                relocs, imports = map(int, re.findall(r"/(\d+)", report[-3]))
                self.assertGreater(min(relocs - 500, imports - 50), 0)
                self.assertEqual(report, [
                    "landed away", "version " + VERSION, "open 83 9600 = 1",
                    "send var " + SENT.hex(), "close = 1",
                    f"slots relocs={relocs}/{relocs} imports={imports}/{imports}", "unload = 1",
                    "end"])
                self.assertEqual(self.received[83], SENT)


if __name__ == "__main__":
    test_main()
