"""The main window as built: every control, the window's size, place and
style, the initial state, that command-line arguments change nothing, and
that the idle window sleeps; and on a Windows that is not of the NT family,
no window but a message box and exit code 255.

usage: test_layout.py Layout|NonNtWindows"""

import os
import time
import unittest

import winelab
from wendle_window import Wendle
from winelab import (BAUD_CHOICES, CLEAR_AFTER_SEND, PORT_NUMBER, PORT_UPDOWN, SC_CLOSE, WENDLE,
                     WM_SYSCOMMAND)

WS_POPUP, WS_VISIBLE, WS_CLIPSIBLINGS = 0x80000000, 0x10000000, 0x04000000
WS_CAPTION, WS_SYSMENU, WS_THICKFRAME = 0x00C00000, 0x00080000, 0x00040000
WS_MINIMIZEBOX, WS_MAXIMIZEBOX = 0x00020000, 0x00010000
DS_3DLOOK, DS_SETFONT, DS_MODALFRAME, DS_NOFAILCREATE, DS_CENTER = 0x4, 0x40, 0x80, 0x10, 0x800
WINDOW_STYLE = (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER
                | DS_SETFONT | DS_3DLOOK | DS_NOFAILCREATE | WS_VISIBLE)

RADIO = 0x50010009  # WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON
HELP = ("Type text and press Send. To send by ASCII code, type <#> where # is the code "
        "(0-255).")

# In creation order: id, class, text, (x, y, width, height) in dialog units,
# style, extended style.
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
    (1012, "Edit", "1", (146, 20, 42, 14), 0x50002001, 0x200),
    (1013, "msctls_updown32", "msctls_updown32_3", (200, 18, 18, 14), 0x50000037, 0),
    (175, "Edit", "", (5, 54, 203, 44), 0x50211044, 0x200),
    (180, "Button", "Clear text box after sending data.", (11, 103, 131, 12), 0x50010003, 0),
    (1, "Button", "Send", (152, 113, 53, 15), 0x50010001, 0),
]


IDLE_SECONDS = 3


def cpu_seconds(*pids):
    """Processor time the processes have used so far (user and system)."""
    ticks = 0
    for pid in pids:
        with open(f"/proc/{pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        ticks += int(fields[11]) + int(fields[12])
    return ticks / os.sysconf("SC_CLK_TCK")


class Layout(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wendle = Wendle()
        cls.wendle.start()
        cls.layout, cls.state = cls.wendle.probe(("layout",), ("state",))
        # Pixels per 4 horizontal and 8 vertical dialog units.
        cls.base = (cls.layout["base"][2], cls.layout["base"][3])

    @classmethod
    def tearDownClass(cls):
        cls.wendle.shutdown()

    def to_units(self, rect):
        """A pixel rectangle as x, y, width, height in dialog units of Arial 9."""
        bx, by = self.base
        left, top, right, bottom = rect
        return (left * 4 / bx, top * 8 / by, (right - left) * 4 / bx, (bottom - top) * 8 / by)

    def assert_units(self, rect, expected, what):
        """Equal to within one pixel; a None in `expected` is not checked."""
        bx, by = self.base
        for got, want, pixel in zip(self.to_units(rect), expected, (4 / bx, 8 / by) * 2):
            if want is None:
                continue
            self.assertLessEqual(abs(got - want), pixel + 1e-9,
                                 f"{what}: {self.to_units(rect)} DU, expected {expected}")

    def test_caption_and_window_style(self):
        self.assertEqual(self.layout["caption"], "Wendle 1.4  https://wendle.example.org")
        self.assertEqual(self.layout["class"], "#32770")
        style = self.layout["style"] & ~WS_CLIPSIBLINGS
        self.assertEqual(hex(style), hex(WINDOW_STYLE))
        self.assertFalse(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), "resizable or maximisable")

    def test_client_size_and_centring(self):
        left, top, right, bottom = self.layout["client"]
        self.assert_units([left, top, right, bottom], (0, 0, 213, 148), "client area")
        wl, wt, wr, wb = self.layout["window"]
        al, at, ar, ab = self.layout["work"]
        self.assertLessEqual(abs((wl - al) - (ar - wr)), 1, "not centred across")
        self.assertLessEqual(abs((wt - at) - (ab - wb)), 1, "not centred down")

    def test_controls_in_creation_order(self):
        got = [c["id"] for c in self.layout["controls"]]
        self.assertEqual(got, [c[0] for c in CONTROLS], "Z order")

    def test_every_control(self):
        controls = {c["id"]: c for c in self.layout["controls"]}
        for ident, cls, text, units, style, exstyle in CONTROLS:
            with self.subTest(id=ident):
                control = controls[ident]
                self.assertEqual(control["class"].lower(), cls.lower())
                self.assertEqual(control["text"], text)
                self.assertEqual(hex(control["style"]), hex(style))
                self.assertEqual(hex(control["exstyle"]), hex(exstyle))
                if ident == PORT_NUMBER:  # narrowed by the up-down beside it
                    units = units[0:2] + (None,) + units[3:4]
                if ident != PORT_UPDOWN:  # placed against the field instead
                    self.assert_units(control["rect"], units, f"control {ident}")

    def test_updown_against_the_port_number(self):
        controls = {c["id"]: c for c in self.layout["controls"]}
        field, updown = controls[PORT_NUMBER]["rect"], controls[PORT_UPDOWN]["rect"]
        field_right = round((146 + 42) * self.base[0] / 4)
        self.assertLessEqual(abs(updown[0] - field[2]), 3, "up-down is not beside the field")
        self.assertLessEqual(abs(updown[2] - field_right), 3, "up-down is not at the field's end")
        self.assertEqual((updown[1], updown[3]), (field[1], field[3]))

    def test_initial_state(self):
        checks = self.state["checks"]
        self.assertEqual(self.state["port"], "1")
        self.assertEqual(self.state["message"], "")
        self.assertEqual({rate for rate, ident in BAUD_CHOICES.items() if checks[str(ident)]},
                         {9600})
        self.assertEqual(checks[str(CLEAR_AFTER_SEND)], 0)
        # Maximum 99 in the low word, minimum 1 in the high word.
        self.assertEqual(self.state["range"], 0x00010063)

    def test_idle_window_sleeps(self):
        # The loop sleeps on every turn and uses a few percent of a core; one
        # that never slept would keep a core busy, shared between the process
        # and the wineserver that answers each look at its message queue.
        pids = (self.wendle.process.pid, self.wendle.prefix.server_pid())
        with open(f"/proc/{pids[0]}/cmdline", "rb") as cmdline:
            self.assertIn(b"Wendlev14", cmdline.read())
        self.assertIsNotNone(pids[1])
        used, began = cpu_seconds(*pids), time.monotonic()
        time.sleep(IDLE_SECONDS)
        share = (cpu_seconds(*pids) - used) / (time.monotonic() - began)
        self.assertLess(share, 1 / 3, "the idle window keeps the processor busy")

    def test_zz_arguments_change_nothing_and_close_command_ends(self):
        self.assertEqual(self.wendle.close(), 0)
        self.wendle.start("/port", "7", "-baud", "1200", "hello world")
        layout, state = self.wendle.probe(("layout",), ("state",))
        self.assertEqual(layout, self.layout)
        self.assertEqual(state, self.state)
        self.wendle.ask("post", 0, WM_SYSCOMMAND, SC_CLOSE, 0)
        self.assertEqual(self.wendle.wait_exit(), 0)


class NonNtWindows(unittest.TestCase):
    def test_refuses_with_message_box_and_255(self):
        text = "Win98 No Support"
        wendle = Wendle(name="win98", windows_version="win98")
        try:
            wendle.process = wendle.prefix.start(WENDLE)
            box, main = wendle.probe(("msgbox", text, winelab.patience_ms(20)), ("find", 0))
            self.assertTrue(box["found"], "no message box")
            # No caption of its own: the system's default one.
            self.assertEqual(box["caption"], "Error")
            self.assertFalse(main["found"], "a main window was created")
            self.assertTrue(wendle.running(), "ended before the message box was answered")
            wendle.ask("msgbox", text, 0, "ok")
            self.assertEqual(wendle.wait_exit(), 255)
        finally:
            wendle.shutdown()


if __name__ == "__main__":
    unittest.main(verbosity=2)
