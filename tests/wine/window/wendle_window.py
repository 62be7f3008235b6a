"""Wendlev14.EXE's main window under Wine, driven by the probe program, serial lines on
ptys. The Wendle class serves bench/ too. usage: wendle_window.py Window|NonNtWindows"""

import os
import pathlib
import termios
import time
import unittest

import winelab
from winelab import BAUD_CHOICES, CLEAR_AFTER_SEND, MESSAGE, PORT_NUMBER, PORT_UPDOWN, SEND

# WS_POPUP|WS_VISIBLE|WS_CAPTION|WS_SYSMENU|WS_MINIMIZEBOX, DS_CENTER|DS_MODALFRAME|DS_SETFONT|
# DS_NOFAILCREATE|DS_3DLOOK: neither resizable nor maximisable. WS_CLIPSIBLINGS is Wine's to add.
WINDOW_STYLE, WS_CLIPSIBLINGS = 0x90CA08D4, 0x04000000
RADIO = 0x50010009  # WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON
HELP = "Type text and press Send. To send by ASCII code, type <#> where # is the code (0-255)."
# In creation (Z) order: id, class, text, (x, y, width, height) in DU (None: any), style, exstyle.
CONTROLS = [
    (100, "Button", "Comm Port", (113, 5, 95, 42), 0x50000007, 0x20),
    (105, "Button", "Baud Rate", (5, 5, 105, 42), 0x50000007, 0x20),
    (110, "Static", HELP, (8, 118, 123, 25), 0x50000000, 0),
    (135, "Button", "38400", (10, 15, 30, 12), RADIO, 0),
    (140, "Button", "19200", (10, 30, 30, 12), RADIO, 0),
    (115, "Button", "9600", (47, 15, 26, 12), RADIO, 0),
    (120, "Button", "4800", (47, 30, 26, 12), RADIO, 0),
    (125, "Button", "2400", (80, 15, 26, 12), RADIO, 0),
    (130, "Button", "1200", (80, 30, 26, 12), RADIO, 0),
    (1012, "Edit", "1", (146, 20, None, 14), 0x50002001, 0x200),
    (1013, "msctls_updown32", "msctls_updown32_3", (None, 20, None, 14), 0x50000037, 0),
    (175, "Edit", "", (5, 54, 203, 44), 0x50211044, 0x200),
    (180, "Button", "Clear text box after sending data.", (11, 103, 131, 12), 0x50010003, 0),
    (1, "Button", "Send", (152, 113, 53, 15), 0x50010001, 0),
]


class Wendle:
    """One Wine prefix, and in it at most one running Wendle at a time."""

    def __init__(self, name="window", windows_version=None):
        winelab.ensure_display()
        self.prefix = winelab.WinePrefix(winelab.build_path("wine", name, "prefix"),
                                         windows_version=windows_version)

    def probe(self, *commands):  # one probe process; one dict a command
        return winelab.probe(self.prefix, *commands)

    def ask(self, *command):
        return self.probe(command)[0]

    def start(self):
        # Every run starts alike: the command line is not read.
        self.process = self.prefix.start(winelab.WENDLE, "/port", "7", "-baud", "1200", "hi")
        if not self.ask("find", winelab.patience_ms(20))["found"]:
            raise AssertionError("the Wendle window did not appear")

    def shutdown(self):
        self.prefix.stop()  # and with its server every program in it


class Window(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wendle = Wendle()
        cls.addClassCleanup(cls.wendle.shutdown)
        cls.lines = {number: cls.enterClassContext(winelab.PtyLine()) for number in (1, 2, 3)}
        for number, line in cls.lines.items():
            cls.wendle.prefix.link_com(number, line.device)
        cls.wendle.start()

    def reset_window(self, port="1", rate=9600, message="", clear_after_send=False):
        """Sets what Send reads, the check box ticked by a click."""
        tick = [("click", CLEAR_AFTER_SEND)] if clear_after_send else []
        self.wendle.probe(("settext", PORT_NUMBER, port), ("settext", MESSAGE, message),
                          ("click", BAUD_CHOICES[rate]), ("setcheck", CLEAR_AFTER_SEND, 0), *tick)

    def test_caption_style_controls_and_sleep_when_idle(self):
        layout = self.wendle.ask("layout")
        self.assertEqual((layout["caption"], layout["class"],
                          hex(layout["style"] & ~WS_CLIPSIBLINGS)),
                         ("Wendle 1.4  https://wendle.example.org", "#32770", hex(WINDOW_STYLE)))
        controls = layout["controls"]
        self.assertEqual([(c["id"], c["class"].lower(), c["text"], hex(c["style"]),
                           hex(c["exstyle"])) for c in controls],
                         [(ident, cls.lower(), text, hex(style), hex(exstyle))
                          for ident, cls, text, _, style, exstyle in CONTROLS])
        # Pixels (left, top, right, bottom) as x, y, width, height in dialog units, ± a pixel.
        scale = (layout["base"][2] / 4, layout["base"][3] / 8) * 2
        rects = [("client area", layout["client"], (0, 0, 213, 148))]
        rects += [(c["id"], c["rect"], row[3]) for c, row in zip(controls, CONTROLS)]
        for what, (left, top, right, bottom), units in rects:
            for got, want, pixels in zip((left, top, right - left, bottom - top), units, scale):
                self.assertTrue(want is None or abs(got - want * pixels) <= 1 + 1e-9,
                                f"{what}: {(left, top, right, bottom)} {units}")
        field, updown = (c["rect"] for c in controls if c["id"] in (PORT_NUMBER, PORT_UPDOWN))
        gaps = (updown[0] - field[2], updown[2] - (146 + 42) * scale[0])  # Wine's, ± 3 pixels
        self.assertLessEqual(max(map(abs, gaps)), 3, f"up-down not at the field's end: {gaps}")
        # One that never slept would keep a core busy, with the wineserver it asks.
        stats = [pathlib.Path(f"/proc/{pid}/stat")
                 for pid in (self.wendle.process.pid, self.wendle.prefix.server_pid())]

        def cpu_seconds():  # utime and stime, after the command name
            return sum(int(ticks) for stat in stats for ticks in
                       stat.read_text().rsplit(")", 1)[1].split()[11:13]) / os.sysconf("SC_CLK_TCK")

        used, began = cpu_seconds(), time.monotonic()
        time.sleep(3)
        self.assertLess((cpu_seconds() - used) / (time.monotonic() - began), 1 / 3,
                        "the idle window keeps the processor busy")

    def test_send_on_a_click_and_on_enter_where_the_control_does_not_take_it(self):
        cases = [  # port text, rate, message (\u escapes for the probe), clear ticked,
            # COM written to (None: none), bytes, text left in the box
            ("1", 9600, "<CLS>Hi<13>", False, 1, b"\x0cHi\r", "<CLS>Hi<13>"),
            # A smiling face is not in the ANSI code page: its default character.
            ("1", 4800, r"\u00e9|\u263a", False, 1, b"\xe9|?", "\u00e9|\u263a"),
            ("2", 38400, r"A\r\nB", True, 2, b"A\r\nB", ""),
            (" \t+3", 19200, "x", True, 3, b"x", ""),  # blanks, then a sign
            ("2.6", 2400, "x", False, 3, b"x", "x"),
            ("2abc", 1200, "x", False, 2, b"x", "x"),
            # No port: not sent, so kept in the box; 2^32 + 1 not wrapped round to 1.
            *[(text, 9600, "keep", True, None, b"", "keep")
              for text in ("0", "100", "", "-1", "4294967297")],
            # An empty message still opens the port at the rate chosen.
            ("1", 38400, "", True, 1, b"", ""),
        ]
        for port_text, rate, message, clear, port, written, left in cases:
            with self.subTest(port=port_text, rate=rate, message=message):
                self.reset_window(port_text, rate, message, clear)
                before, _, state, after = self.wendle.probe(("windows",), ("click", SEND),
                                                            ("state",), ("windows",))
                # A click is sent, not posted: any write is over but for the reading.
                sent = {n: line.read(0.3, winelab.patience(5), n == port and len(written) or None)
                        for n, line in self.lines.items()}
                self.assertEqual((sent, port and self.lines[port].termios()[4:6], state["message"],
                                  state["checks"][str(CLEAR_AFTER_SEND)], after),
                                 ({n: written if n == port else b"" for n in self.lines},
                                  port and [getattr(termios, f"B{rate}")] * 2, left, int(clear),
                                  before))
        cases = [  # the control clicked, Tabs pressed, the controls that may then have focus
            (PORT_NUMBER, 0, [PORT_NUMBER]),
            (MESSAGE, 1, [CLEAR_AFTER_SEND]),
            (MESSAGE, 2, [SEND]),
            (MESSAGE, 3, list(BAUD_CHOICES.values())),
        ]
        for clicked, tabs, focused in cases:
            with self.subTest(focused=focused):
                self.reset_window(message="<CLS>Hi<13>")
                got = self.wendle.probe(("mouse", clicked, 0.3, 0.5), ("keys", *["tab"] * tabs),
                                        ("focus", winelab.patience_ms(5), *focused),
                                        ("keys", "enter"))[2]["focus"]
                self.assertIn(got, focused)
                self.assertEqual(self.lines[1].read(limit=winelab.patience(5), expect=4),
                                 b"\x0cHi\r")

    def test_escape_and_close_message_leave_it_open_alt_f4_ends_the_next_starts_afresh(self):
        self.reset_window("42", 38400, "typed", clear_after_send=True)
        self.wendle.probe(("keys", "escape"), ("post", 0, winelab.WM_CLOSE, 0, 0))
        windows, found = self.wendle.probe(("windows",), ("find", 0))
        self.assertEqual(windows["windows"], [found["caption"]])
        self.wendle.ask("keys", "alt+f4")
        self.assertEqual(self.wendle.process.wait(timeout=winelab.patience(20)), 0)
        self.wendle.start()
        state = self.wendle.ask("state")
        checks = state["checks"]
        self.assertEqual((state["port"], state["message"], checks[str(CLEAR_AFTER_SEND)],
                          [rate for rate, ident in BAUD_CHOICES.items() if checks[str(ident)]],
                          state["range"]),  # 1 to 99: high word and low word
                         ("1", "", 0, [9600], 0x00010063))


class NonNtWindows(unittest.TestCase):
    def test_refuses_with_message_box_and_255(self):
        wendle = Wendle(name="win98", windows_version="win98")
        self.addCleanup(wendle.shutdown)
        wendle.process = wendle.prefix.start(winelab.WENDLE)
        box, main = wendle.probe(("msgbox", "Win98 No Support", winelab.patience_ms(20)),
                                 ("find", 0))
        self.assertEqual((box["found"], box["caption"], main["found"], wendle.process.poll()),
                         (True, "Error", False, None))
        wendle.ask("msgbox", "Win98 No Support", 0, "ok")
        self.assertEqual(wendle.process.wait(timeout=winelab.patience(20)), 255)


if __name__ == "__main__":
    winelab.test_main()
