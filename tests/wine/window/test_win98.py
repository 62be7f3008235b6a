"""On a Windows that is not of the NT family the program refuses to run: a
message box, no main window, exit code 255."""

import unittest

from wendle_window import Wendle
from winelab import WENDLE

TEXT = "Win98 No Support"


class NonNtWindows(unittest.TestCase):
    def test_refuses_with_message_box_and_255(self):
        wendle = Wendle(name="win98", windows_version="win98")
        try:
            wendle.process = wendle.prefix.start(WENDLE)
            box, main = wendle.probe(("msgbox", TEXT, 20000), ("find", 0))
            self.assertTrue(box["found"], "no message box")
            # No caption of its own: the system's default one.
            self.assertEqual(box["caption"], "Error")
            self.assertFalse(main["found"], "a main window was created")
            self.assertTrue(wendle.running(), "ended before the message box was answered")
            wendle.ask("msgbox", TEXT, 0, "ok")
            self.assertEqual(wendle.wait_exit(), 255)
        finally:
            wendle.shutdown()


if __name__ == "__main__":
    unittest.main(verbosity=2)
