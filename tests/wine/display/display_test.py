"""Wendlev14.EXE under Wine sends through a COM port that wendle-display
--pty has linked into the prefix, as scripts/run does, and the display's
dump shows the message."""

import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "exports"))
from exportlab import ExportsTest  # noqa: E402
from winelab import patience  # noqa: E402

DISPLAY = os.environ.get("WENDLE_DISPLAY", "")
PORT = 51


class SendToTheDisplay(ExportsTest):
    def test_ser_send_reaches_the_display(self):
        if not os.access(DISPLAY, os.X_OK):
            self.fail(f"wendle-display is not at {DISPLAY!r}: build the host preset first "
                      "(cmake --preset host && cmake --build --preset host), or configure "
                      "the win32 preset with -DWENDLE_HOST_BUILD=<its build folder>")
        link = self.prefix.com_path(PORT)
        out_path = self.prefix.path + f"-display-{os.getpid()}.txt"
        with open(out_path, "wb") as out:
            display = subprocess.Popen(
                [DISPLAY, "--pty", "--link", link, "--dump", "--idle-exit", "1"],
                stdout=out, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 30
            while not os.path.islink(link) and time.monotonic() < deadline:
                time.sleep(0.01)
            message = b"<CLS>Hello<KTA_LINE2>world"
            report = self.call(f"open:{PORT}:9600", f"send:hex:{message.hex()}", "close")
            self.assertEqual(report.opens(), ["1"])
            # --idle-exit ends it a second after the message.
            self.assertEqual(display.wait(timeout=patience(60)), 0)
        finally:
            if display.poll() is None:
                display.kill()
                display.wait()
                self.prefix.unlink_com(PORT)
            with open(out_path, encoding="utf-8") as out:
                lines = out.read().splitlines()
            os.unlink(out_path)
        self.assertEqual(lines[1:], ["Hello           ", "world           ", "cursor 2 6"])
        self.assertTrue(lines[0].startswith("/dev/pts/"), lines[0])
        self.assertFalse(os.path.lexists(link), "the link is left behind")


if __name__ == "__main__":
    unittest.main()
