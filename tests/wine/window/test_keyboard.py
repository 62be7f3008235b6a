"""Real keyboard and mouse input through the window's message loop: Tab
order, Enter as Send, line breaks, the up-down control, Escape, WM_CLOSE and
Alt+F4. Input takes effect some time after the probe sends it, so each look
waits (up to WAIT ms) for the effect it expects."""

import unittest

from wendle_window import WendleTestCase
import winelab
from winelab import CLEAR_AFTER_SEND, MESSAGE, PORT_NUMBER, PORT_UPDOWN, SEND, WM_CLOSE

BAUD_ORDER = [135, 140, 115, 120, 125, 130]
TAB_CYCLE = ["baud rate", MESSAGE, CLEAR_AFTER_SEND, SEND]
WAIT = winelab.patience_ms(5)


class Keyboard(WendleTestCase):
    def focus_port_number(self):
        answer = self.wendle.probe(("mouse", PORT_NUMBER, 0.3, 0.5), ("focus", WAIT, PORT_NUMBER))
        self.assertEqual(answer[-1]["focus"], PORT_NUMBER)

    def text_after(self, control, expected, *inputs):
        """The control's text once `inputs` have made it `expected`, or at the end of the wait."""
        return self.wendle.probe(*inputs, ("text", control, expected, WAIT))[-1]["text"]

    def test_tab_order(self):
        answers = self.wendle.probe(*[command for _ in range(len(BAUD_ORDER) + 8)
                                      for command in (("keys", "tab"), ("focus", WAIT))])
        seen = [answer["focus"] for answer in answers if "focus" in answer]
        # The dialog manager may pass over the unchecked choices of the baud-rate
        # group, so a run of stops in it counts as one, taken in table order.
        stops = []
        for ident in seen:
            stop = TAB_CYCLE[0] if ident in BAUD_ORDER else ident
            if stops and stop == TAB_CYCLE[0] == stops[-1][0]:
                stops[-1][1].append(ident)
            else:
                stops.append((stop, [ident]))
        names = [name for name, _ in stops]
        self.assertTrue(set(names) <= set(TAB_CYCLE), f"Tab stopped at {seen}")
        start = TAB_CYCLE.index(names[0])
        self.assertEqual(names, [TAB_CYCLE[(start + i) % 4] for i in range(len(names))], seen)
        for name, idents in stops:
            self.assertEqual(idents, sorted(idents, key=lambda i: BAUD_ORDER.index(i)
                                            if name == TAB_CYCLE[0] else 0), seen)

    def test_enter_sends_where_the_control_does_not_take_it(self):
        # Each way of placing the focus, and the controls that may then have it.
        cases = [
            ([("mouse", PORT_NUMBER, 0.3, 0.5)], [PORT_NUMBER]),
            ([("mouse", MESSAGE, 0.5, 0.5), ("keys", "tab")], [CLEAR_AFTER_SEND]),
            ([("mouse", MESSAGE, 0.5, 0.5), ("keys", "tab", "tab")], [SEND]),
            ([("mouse", MESSAGE, 0.5, 0.5), ("keys", "tab", "tab", "tab")], BAUD_ORDER),
        ]
        for focusing, focused in cases:
            with self.subTest(focused=focused):
                self.reset_window(message="<CLS>Hi<13>")
                focus = self.wendle.probe(*focusing, ("focus", WAIT, *focused))[-1]["focus"]
                self.assertIn(focus, focused)
                self.wendle.ask("keys", "enter")
                self.assertEqual(self.received(expect=4), b"\x0cHi\r")

    def test_enter_in_text_box_breaks_the_line(self):
        self.reset_window()
        text = self.text_after(MESSAGE, r"ab\r\ncd", ("mouse", MESSAGE, 0.5, 0.5),
                               ("keys", "text:ab", "enter", "text:cd"))
        self.assertEqual(text, "ab\r\ncd")
        self.assert_silent_lines()
        self.wendle.ask("click", SEND)
        self.assertEqual(self.received(expect=6), b"ab\r\ncd")

    def test_port_number_takes_digits_only(self):
        self.reset_window(port="")
        self.focus_port_number()
        self.assertEqual(self.text_after(PORT_NUMBER, "150", ("keys", "text:1a5-0")), "150")

    def test_updown_wraps(self):
        # Arrow keys in the field and clicks on the arrows step the number.
        cases = [
            ("1", ("keys", "down"), "99"),
            ("99", ("keys", "up"), "1"),
            ("5", ("keys", "up"), "6"),
            ("1", ("mouse", PORT_UPDOWN, 0.5, 0.25), "2"),
            ("1", ("mouse", PORT_UPDOWN, 0.5, 0.75), "99"),
            ("99", ("mouse", PORT_UPDOWN, 0.5, 0.25), "1"),
        ]
        for start, action, result in cases:
            with self.subTest(start=start, action=action):
                self.reset_window(port=start)
                self.focus_port_number()
                self.assertEqual(self.text_after(PORT_NUMBER, result, action), result)

    def test_zz_escape_and_close_message_leave_it_open_alt_f4_ends(self):
        self.wendle.ask("keys", "escape")
        self.wendle.ask("post", 0, WM_CLOSE, 0, 0)
        windows, found = self.wendle.probe(("windows",), ("find", 0))
        self.assertEqual(windows["windows"], [found["caption"]])
        self.assertTrue(self.wendle.running())
        self.reset_window(message="still here")
        self.wendle.ask("click", SEND)
        self.assertEqual(self.received(expect=10), b"still here")
        self.wendle.ask("keys", "alt+f4")
        self.assertEqual(self.wendle.wait_exit(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
