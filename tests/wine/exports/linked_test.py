"""A program written from serial/wendle.h alone and linked with the import
library drives a port: the system's loader brings Wendlev14.EXE in as one
of its libraries."""

import os
import shutil
import unittest

from exportlab import EXE, LINKED_CALLER, Lines, open_prefix, run_caller
from winelab import build_path


class LinkedCaller(unittest.TestCase):
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
                "version=v1.3, 22 Oct 2012, https://wendle.example.org",
                "close=1",
            ])
            self.assertEqual(lines.take(81), b"linked LINKed\r\n")
        finally:
            lines.close()


if __name__ == "__main__":
    unittest.main()
