"""Callers that bind the exports otherwise than by name through GetProcAddress:
a program written from serial/wendle.h alone and linked with the import
library, which the system's loader binds, and a caller that binds by ordinal."""

import os
import shutil
import unittest

from exportlab import EXE, LINKED_CALLER, Lines, fnv1a, open_prefix, run_caller
from winelab import build_path


VERSION = b"v1.3, 22 Oct 2012, https://wendle.example.org"


class OtherCallers(unittest.TestCase):
    def test_open_send_close_through_the_import_library(self):
        prefix = open_prefix()
        # The loader looks for Wendlev14.EXE beside the program first.
        folder = build_path("wine-exports", "linked")
        os.makedirs(folder, exist_ok=True)
        for program in (EXE, LINKED_CALLER):
            shutil.copy(program, folder)
        lines = Lines(prefix, [81])
        try:
            report = run_caller(prefix, lines, "81",
                                program=os.path.join(folder, os.path.basename(LINKED_CALLER)))
            self.assertEqual(report.code, 0, report.text)
            self.assertEqual(report.lines, [
                "open=1 sent=15:linked LINKed",
                "version=" + VERSION.decode(),
                "close=1",
            ])
            self.assertEqual(lines.take(81), b"linked LINKed\r\n")
        finally:
            lines.close()

    def test_each_ordinal_reaches_its_function(self):
        prefix = open_prefix()
        lines = Lines(prefix, [83])
        try:
            report = run_caller(prefix, lines, "ordinals", "open:83:2400",
                                "send:hex:" + b"<83>".hex(), "rawsend:hex:" + b"<82>".hex(),
                                "send_bv:hex:" + b"<66>".hex(), "rawsend_bv:hex:" + b"<86>".hex(),
                                "version", "close")
            self.assertEqual(report.code, 0, report.text)
            self.assertEqual(report.lines[1:8], [
                "ordinal 1 SER_CLOSE same", "ordinal 2 SER_OPEN same",
                "ordinal 3 SER_RAWSEND same", "ordinal 4 SER_RAWSEND_BV same",
                "ordinal 5 SER_SEND same", "ordinal 6 SER_SEND_BV same",
                "ordinal 7 SER_VERSINFO same",
            ])
            self.assertEqual(report.lines[8:], [
                "open 83 2400 = 1", "send var len=1 fnv=d60c1322 hex=53",
                "rawsend var len=4 fnv=1ba9bc7d hex=3c38323e", "send_bv done", "rawsend_bv done",
                f"version len=45 fnv={fnv1a(VERSION):08x} hex={VERSION.hex()}", "close = 1", "end",
            ])
            self.assertEqual(lines.take(83), b"S<82>B<86>")
        finally:
            lines.close()


if __name__ == "__main__":
    unittest.main()
