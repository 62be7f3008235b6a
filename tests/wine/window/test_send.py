"""The Send command: what reaches the serial line for the port, baud rate and
text in the window, and what happens to the text box afterwards."""

import termios
import unittest

from wendle_window import WendleTestCase
from winelab import BAUD_CHOICES, CLEAR_AFTER_SEND, MESSAGE, PORT_NUMBER, SEND

SPEEDS = {1200: termios.B1200, 2400: termios.B2400, 4800: termios.B4800,
          9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400}


class Send(WendleTestCase):
    def send(self):
        self.wendle.ask("click", SEND)

    def test_messages_reach_the_line_at_the_default_port_and_rate(self):
        cases = [
            # the text as the probe takes it, as the box holds it, as written
            ("<CLS>Hi<13>", "<CLS>Hi<13>", b"\x0cHi\r"),
            # e-acute is in the ANSI code page; a smiling face is not and
            # becomes its default character.
            (r"\u00e9|\u263a", "\u00e9|\u263a", b"\xe9|?"),
            (r"A\r\nB", "A\r\nB", b"A\r\nB"),  # a line break is 13 10
        ]
        for text, box, written in cases:
            with self.subTest(text=text):
                self.reset_window(message=text)
                self.send()
                self.assertEqual(self.received(expect=len(written)), written)
                self.assertEqual(self.lines[1].termios()[5], termios.B9600)
                # Tokens are not replaced in the box: the message can go again.
                self.assertEqual(self.wendle.state()["message"], box)

    def test_port_number_text(self):
        cases = [
            ("2", 2), ("  3", 3), ("2.6", 3), ("1.4", 1), ("2abc", 2),
            ("0", None), ("100", None), ("", None), ("-1", None), ("abc", None),
            # 2**32 + 1 must not wrap round to port 1.
            ("4294967297", None),
        ]
        for text, port in cases:
            with self.subTest(port_text=text):
                self.assertEqual(self.reset_window(port=text, message="x")["port"], text)
                before, _, after = self.wendle.probe(("windows",), ("click", SEND), ("windows",))
                if port is None:
                    self.assert_silent_lines()
                else:
                    self.assertEqual(self.received(port, expect=1), b"x")
                # Nothing is ever shown: no message box, no other window.
                self.assertEqual(after, before)

    def test_each_baud_rate_reaches_the_line(self):
        for rate, speed in SPEEDS.items():
            with self.subTest(rate=rate):
                checks = self.reset_window(rate=rate, message="<65>")["checks"]
                self.assertEqual([r for r, i in BAUD_CHOICES.items() if checks[str(i)]], [rate])
                self.send()
                self.assertEqual(self.received(expect=1), b"A")
                self.assertEqual(self.lines[1].termios()[4:6], [speed, speed])

    def test_empty_message_opens_the_port_and_writes_nothing(self):
        self.reset_window(rate=1200, message="a")
        self.send()
        self.assertEqual(self.received(expect=1), b"a")
        self.reset_window(rate=38400, message="", clear_after_send=True)
        self.send()
        self.assertEqual(self.lines[1].termios()[5], termios.B38400)
        self.assert_silent_lines()
        self.assertEqual(self.wendle.state()["message"], "")

    def test_text_box_kept_or_emptied(self):
        cases = [
            # port, clear after send, bytes written, text left in the box
            ("1", False, b"keep", "keep"),
            ("1", True, b"keep", ""),
            # A message that could not be sent is not thrown away.
            ("100", True, b"", "keep"),
            ("", True, b"", "keep"),
        ]
        for port, clear, written, left in cases:
            with self.subTest(port=port, clear=clear):
                self.reset_window(port=port, message="keep", clear_after_send=clear)
                state = self.wendle.probe(("click", SEND), ("state",))[1]
                self.assertEqual(self.received(expect=len(written) or None), written)
                self.assertEqual(state["message"], left)
                self.assertEqual(state["checks"][str(CLEAR_AFTER_SEND)], int(clear))

    def test_port_field_is_read_at_each_send(self):
        self.reset_window(port="3", message="three")
        self.wendle.probe(("click", SEND), ("settext", PORT_NUMBER, "2"),
                          ("settext", MESSAGE, "two"), ("click", SEND))
        self.assertEqual(self.received(3, expect=5), b"three")
        self.assertEqual(self.received(2, expect=3), b"two")


if __name__ == "__main__":
    unittest.main(verbosity=2)
