"""The exports called from another process through the real comm and OLE
stacks: the four sends (the bytes that reach the line and what the caller's
variable holds afterwards), SER_OPEN and SER_CLOSE (the device names and the
line settings Wine applies to the pty at each rate, a caller that unloads
the module), and callers that bind the exports otherwise than by name:
through the import library, and by ordinal.

usage: calls_test.py SendOperations|OpenAndClose|OtherCallers"""

import os
import shutil
import termios
import unittest

from exportlab import EXE, LINKED_CALLER, VERSION, ExportsTest, fnv1a, variable
from winelab import build_path

MIB = 1 << 20
# Zero bytes are ordinary characters, inside tokens' results as elsewhere.
ZEROS = b"\x00A\x00<13>\x00<0>B\x00"
ZEROS_TRANSLATED = b"\x00A\x00\r\x00\x00B\x00"
# Sixteen bytes, so that the megabyte holds whole tokens only.
TOKEN_CHUNK = b"Wendle\x00<65><13>\xff"
TOKEN_CHUNK_TRANSLATED = b"Wendle\x00A\r\xff"
RAW_CHUNK = bytes(range(256))

SPEEDS = {1200: termios.B1200, 2400: termios.B2400, 4800: termios.B4800,
          9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400}
IFLAG, CFLAG, ISPEED, OSPEED = 0, 2, 4, 5
# COM1 to COM9 are opened by their names, from COM10 on with the prefix \\.\.
OPEN_RATES = dict(zip((9, 10, 12, 99, 31, 32), SPEEDS))


class SendOperations(ExportsTest):
    PORTS = [41, 42, 43, 44]

    def assertBytes(self, actual, expected):
        self.assertEqual((len(actual), fnv1a(actual)), (len(expected), fnv1a(expected)),
                         f"got {actual[:48]!r}..., expected {expected[:48]!r}...")

    def test_each_operation_writes_its_bytes_and_leaves_the_variable(self):
        big_translated = TOKEN_CHUNK_TRANSLATED * (MIB // len(TOKEN_CHUNK))
        big_raw = RAW_CHUNK * (MIB // len(RAW_CHUNK))
        # operation, port, translates, by reference
        cases = [("send", 41, True, True), ("rawsend", 42, False, True),
                 ("send_bv", 43, True, False), ("rawsend_bv", 44, False, False)]
        for operation, port, translates, by_reference in cases:
            with self.subTest(operation=operation):
                chunk = TOKEN_CHUNK if translates else RAW_CHUNK
                report = self.call(f"open:{port}:9600", f"{operation}:hex:{ZEROS.hex()}",
                                   f"{operation}:null", f"{operation}:hex:",
                                   f"{operation}:fill:{chunk.hex()}:{MIB}", "close")
                self.assertEqual(report.opens(), ["1"])
                zeros, big = (ZEROS_TRANSLATED, big_translated) if translates else (ZEROS, big_raw)
                # Null and empty strings write nothing that a line can carry.
                self.assertBytes(self.lines.take(port), zeros + big)
                if not by_reference:
                    self.assertEqual(len(report.find(rf"{operation} done")), 4)
                    continue
                after = report.results(rf"{operation} var[= ](.*)")
                if translates:
                    # The variable holds the translation, a string of its own
                    # even when the caller's was null.
                    expected = [variable(zeros), variable(b""), variable(b""), variable(big)]
                else:
                    expected = [variable(ZEROS), "null", variable(b""), variable(big_raw)]
                self.assertEqual(after, expected)


class OpenAndClose(ExportsTest):
    PORTS = [*OPEN_RATES, 37]

    def test_each_port_opens_by_its_name_into_the_configuration_at_each_rate(self):
        for port in OPEN_RATES:
            # Everything a pty can hold that the open must undo.
            slave = self.lines.lines[port].slave
            attrs = termios.tcgetattr(slave)
            attrs[IFLAG] |= termios.IXON | termios.IXOFF
            attrs[CFLAG] |= termios.CSTOPB | termios.CRTSCTS
            attrs[ISPEED] = attrs[OSPEED] = termios.B300
            termios.tcsetattr(slave, termios.TCSANOW, attrs)
            self.assertTrue(termios.tcgetattr(slave)[CFLAG] & termios.CSTOPB)
        report = self.call(*[step for port, rate in OPEN_RATES.items()
                             for step in (f"open:{port}:{rate}",
                                          f"rawsend:hex:{f'port {port}'.encode().hex()}", "close")])
        self.assertEqual(report.opens(), ["1"] * len(OPEN_RATES))
        received = self.lines.take_all()
        for port, rate in OPEN_RATES.items():
            with self.subTest(port=port, rate=rate):
                self.assertEqual(received[port], f"port {port}".encode())
                attrs = self.lines.termios(port)
                self.assertEqual((attrs[ISPEED], attrs[OSPEED]), (SPEEDS[rate], SPEEDS[rate]))
                self.assertEqual(attrs[CFLAG] & termios.CSIZE, termios.CS8)
                for flag in ("PARENB", "CSTOPB", "CRTSCTS"):
                    self.assertFalse(attrs[CFLAG] & getattr(termios, flag), flag)
                for flag in ("IXON", "IXOFF"):
                    self.assertFalse(attrs[IFLAG] & getattr(termios, flag), flag)

    def test_the_caller_may_unload_the_module_and_exit(self):
        # Exit handlers registered by the module's start-up run at the
        # caller's exit: the module must still be there.
        report = self.call("open:37:9600", "send:hex:" + b"<90>".hex(), "close", "unload")
        self.assertEqual(report.lines[-2:], ["unload = 1", "end"])
        self.assertEqual(self.lines.take(37), b"Z")


class OtherCallers(ExportsTest):
    PORTS = [81, 83]

    def test_open_send_close_through_the_import_library(self):
        # The loader looks for Wendlev14.EXE beside the program first.
        folder = build_path("wine-exports", "linked")
        os.makedirs(folder, exist_ok=True)
        for program in (EXE, LINKED_CALLER):
            shutil.copy(program, folder)
        message = b"linked <76><73><78><75>ed<13><10>"
        report = self.call("open:81:19200", "send:hex:" + message.hex(), "version", "close",
                           program=os.path.join(folder, os.path.basename(LINKED_CALLER)))
        self.assertEqual(report.lines, ["open 81 19200 = 1",
                                        "send var " + variable(b"linked LINKed\r\n"),
                                        "version " + variable(VERSION), "close = 1", "end"])
        self.assertEqual(self.lines.take(81), b"linked LINKed\r\n")

    def test_each_ordinal_reaches_its_function(self):
        report = self.call("ordinals", "open:83:2400", "send:hex:" + b"<83>".hex(),
                           "rawsend:hex:" + b"<82>".hex(), "send_bv:hex:" + b"<66>".hex(),
                           "rawsend_bv:hex:" + b"<86>".hex(), "version", "close")
        self.assertEqual(report.lines[1:], [
            "ordinal 1 SER_CLOSE same", "ordinal 2 SER_OPEN same", "ordinal 3 SER_RAWSEND same",
            "ordinal 4 SER_RAWSEND_BV same", "ordinal 5 SER_SEND same",
            "ordinal 6 SER_SEND_BV same", "ordinal 7 SER_VERSINFO same",
            "open 83 2400 = 1", "send var len=1 fnv=d60c1322 hex=53",
            "rawsend var len=4 fnv=1ba9bc7d hex=3c38323e", "send_bv done", "rawsend_bv done",
            "version " + variable(VERSION), "close = 1", "end",
        ])
        self.assertEqual(self.lines.take(83), b"S<82>B<86>")


if __name__ == "__main__":
    unittest.main()
