"""SER_OPEN, SER_CLOSE and SER_VERSINFO called from another process: the line
settings Wine applies to the pty, the device names, the refusals, a port
held by an earlier open, and the version text."""

import termios
import unittest

from exportlab import Lines, holders, open_prefix, run_caller, run_caller_pausing

RATES = {1200: termios.B1200, 2400: termios.B2400, 4800: termios.B4800,
         9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400}
IFLAG, OFLAG, CFLAG, LFLAG, ISPEED, OSPEED = range(6)
MISSING_PORT = 47


class OpenAndClose(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = open_prefix()
        cls.prefix.unlink_com(MISSING_PORT)
        cls.lines = Lines(cls.prefix, [9, 10, 12, 99, 31, 32, 33, 34, 35, 36, 37, 38, 39])

    @classmethod
    def tearDownClass(cls):
        cls.lines.close()

    def setUp(self):
        self.lines.take_all()

    def test_open_puts_the_line_into_its_configuration_at_each_rate(self):
        ports = dict(zip(range(31, 37), RATES))
        for port in ports:
            # Everything a pty can hold that the open must undo.
            slave = self.lines.lines[port].slave
            attrs = termios.tcgetattr(slave)
            attrs[IFLAG] |= termios.IXON | termios.IXOFF
            attrs[CFLAG] |= termios.CSTOPB | termios.CRTSCTS
            attrs[ISPEED] = attrs[OSPEED] = termios.B300
            termios.tcsetattr(slave, termios.TCSANOW, attrs)
            self.assertTrue(termios.tcgetattr(slave)[CFLAG] & termios.CSTOPB)
        steps = [step for port, rate in ports.items() for step in (f"open:{port}:{rate}", "close")]
        report = run_caller(self.prefix, self.lines, *steps)
        self.assertEqual(report.code, 0, report.text)
        self.assertEqual(report.results(r"open \d+ \d+ = (-?\d+)"), ["1"] * 6)
        for port, rate in ports.items():
            with self.subTest(rate=rate):
                attrs = self.lines.termios(port)
                self.assertEqual((attrs[ISPEED], attrs[OSPEED]), (RATES[rate], RATES[rate]))
                self.assertEqual(attrs[CFLAG] & termios.CSIZE, termios.CS8)
                for flag in ("PARENB", "CSTOPB", "CRTSCTS"):
                    self.assertFalse(attrs[CFLAG] & getattr(termios, flag), flag)
                for flag in ("IXON", "IXOFF"):
                    self.assertFalse(attrs[IFLAG] & getattr(termios, flag), flag)

    def test_device_names_with_and_without_the_prefix(self):
        steps = []
        for port in (9, 10, 12, 99):
            steps += [f"open:{port}:9600", f"rawsend:hex:{f'port {port}'.encode().hex()}", "close"]
        report = run_caller(self.prefix, self.lines, *steps)
        self.assertEqual(report.code, 0, report.text)
        self.assertEqual(report.results(r"open \d+ \d+ = (-?\d+)"), ["1"] * 4)
        received = self.lines.take_all()
        for port in (9, 10, 12, 99):
            self.assertEqual(received.pop(port), f"port {port}".encode())
        self.assertEqual(set(received.values()), {b""})

    def test_refused_opens_open_nothing(self):
        refused = [(0, 9600), (100, 9600), (-1, 9600), (37, 9601), (37, 300), (37, 0),
                   (MISSING_PORT, 9600)]
        steps = []
        for port, rate in refused:
            steps += [f"open:{port}:{rate}", "rawsend:hex:2a"]
        device = self.lines.lines[37].device
        held = []
        # No close until the end: whatever a refused open had opened would
        # still be open during the pause.
        report, _ = run_caller_pausing(self.prefix, self.lines, steps + ["pause:1500", "close"],
                                       lambda _: held.append(holders(device)))
        self.assertEqual(report.code, 0, report.text)
        self.assertEqual(report.results(r"open -?\d+ -?\d+ = (-?\d+)"), ["0"] * len(refused))
        self.assertEqual(held, [set()])
        self.assertEqual(report.results(r"close = (-?\d+)"), ["1"])
        self.assertEqual(set(self.lines.take_all().values()), {b""})

    def test_an_open_port_stays_held_when_the_slot_moves_on(self):
        first, second = (self.lines.lines[p].device for p in (38, 39))
        held = []
        report, _ = run_caller_pausing(
            self.prefix, self.lines,
            ["open:38:9600", "hold:38", "open:38:9600", "rawsend:hex:31", "close",
             "rawsend:hex:32", "pause:1500", "open:39:9600", "rawsend:hex:33", "close",
             "rawsend:hex:34", "pause:1500"],
            lambda _: held.append((bool(holders(first)), bool(holders(second)))))
        self.assertEqual(report.code, 0, report.text)
        # A second open of the device succeeds exactly when the system lets a
        # second exclusive open through: Windows' serial driver refuses it,
        # Wine's pty-backed ports do not.
        system_refuses = report.one(r"hold 38 (\w+).*").group(1) == "held"
        self.assertEqual(report.results(r"open \d+ \d+ = (-?\d+)"),
                         ["1", "0" if system_refuses else "1", "1"])
        self.assertEqual(report.results(r"close = (-?\d+)"), ["1"] * 2)
        # The first open of COM38 stays open, out of reach of the close that
        # ends the second and of the open of COM39.
        self.assertEqual(held, [(True, False), (True, False)])
        received = self.lines.take_all()
        self.assertEqual((received[38], received[39]), (b"" if system_refuses else b"1", b"3"))

    def test_the_caller_may_unload_the_module_and_exit(self):
        # Exit handlers registered by the module's start-up run at the
        # caller's exit: the module must still be there.
        report = run_caller(self.prefix, self.lines, "open:37:9600", "send:hex:" + b"<90>".hex(),
                            "close", "unload")
        self.assertEqual(report.code, 0, report.text)
        self.assertEqual(report.lines[-2:], ["unload = 1", "end"])
        self.assertEqual(self.lines.take(37), b"Z")

    def test_version_text(self):
        report = run_caller(self.prefix, None, "version", "version")
        self.assertEqual(report.code, 0, report.text)
        texts = [bytes.fromhex(h) for h in report.results(r"version len=\d+ hex=([0-9a-f]*)")]
        expected = b"v1.3, 22 Oct 2012, https://wendle.example.org"
        self.assertEqual(texts, [expected, expected])


if __name__ == "__main__":
    unittest.main()
