"""Runs Wendlev14.EXE under Wine and works its window from outside through
the probe program; shared by the window test scripts."""

import unittest

import winelab
from winelab import BAUD_CHOICES, CLEAR_AFTER_SEND, MESSAGE, PORT_NUMBER, SC_CLOSE, WM_SYSCOMMAND


class Wendle:
    """One Wine prefix, and in it at most one running Wendle at a time."""

    def __init__(self, name="window", windows_version=None):
        self.display = winelab.ensure_display()
        self.prefix = winelab.WinePrefix(winelab.build_path("wine", name, "prefix"),
                                         windows_version=windows_version)
        self.process = None

    def probe(self, *commands):
        """Runs probe commands (tuples) in one probe process; one dict each."""
        return winelab.probe(self.prefix, *commands)

    def ask(self, *command):
        return self.probe(command)[0]

    def start(self, *args):
        self.process = self.prefix.start(winelab.WENDLE, *args)
        found = self.ask("find", winelab.patience_ms(20))
        if not found["found"]:
            raise AssertionError("the Wendle window did not appear")
        return found

    def state(self):
        return self.ask("state")

    def set_text(self, control, text):
        self.ask("settext", control, text)

    def wait_exit(self):
        return self.process.wait(timeout=winelab.patience(20))

    def running(self):
        return self.process is not None and self.process.poll() is None

    def close(self):
        """Ends a running Wendle through its close command; the exit code."""
        if not self.running():
            return None
        self.ask("post", 0, WM_SYSCOMMAND, SC_CLOSE, 0)
        return self.wait_exit()

    def shutdown(self):
        if self.running():
            try:
                self.close()
            except Exception:
                self.process.kill()
        self.prefix.stop()


class WendleTestCase(unittest.TestCase):
    """Starts one Wendle for the whole class with serial lines on COM1-COM3."""

    args = ()
    wendle = None
    lines = {}

    @classmethod
    def setUpClass(cls):
        cls.wendle = Wendle()
        cls.lines = {}
        for number in (1, 2, 3):
            cls.lines[number] = winelab.PtyLine()
            cls.wendle.prefix.link_com(number, cls.lines[number].device)
        cls.wendle.start(*cls.args)

    @classmethod
    def tearDownClass(cls):
        cls.wendle.shutdown()
        for line in cls.lines.values():
            line.close()

    def setUp(self):
        for line in self.lines.values():
            line.drain()

    def received(self, number=1, expect=None):
        return self.lines[number].read(idle=0.3, limit=winelab.patience(5), expect=expect)

    def assert_silent_lines(self):
        # A click is sent, not posted: any write is over when the probe returns.
        for number, line in self.lines.items():
            self.assertEqual(line.read(idle=0.15, limit=1.0), b"", f"COM{number} got bytes")

    def reset_window(self, port="1", rate=9600, message="", clear_after_send=False):
        """Sets the controls that the Send command reads, the check box ticked
        by a click as a user would; the window's state."""
        tick = [("click", CLEAR_AFTER_SEND)] if clear_after_send else []
        return self.wendle.probe(("settext", PORT_NUMBER, port), ("settext", MESSAGE, message),
                                 ("click", BAUD_CHOICES[rate]), ("setcheck", CLEAR_AFTER_SEND, 0),
                                 *tick, ("state",))[-1]
