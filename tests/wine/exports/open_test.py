"""SER_OPEN and SER_CLOSE called from another process: the line settings Wine
applies to the pty at each rate, the device names with and without their
prefix, and a caller that unloads the module before it exits."""

import termios
import unittest

from exportlab import Lines, open_prefix, run_caller

RATES = {1200: termios.B1200, 2400: termios.B2400, 4800: termios.B4800,
         9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400}
IFLAG, OFLAG, CFLAG, LFLAG, ISPEED, OSPEED = range(6)
# COM1 to COM9 are opened by their names, from COM10 on with the prefix \\.\.
PORTS = dict(zip((9, 10, 12, 99, 31, 32), RATES))


class OpenAndClose(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = open_prefix()
        cls.lines = Lines(cls.prefix, [*PORTS, 37])

    @classmethod
    def tearDownClass(cls):
        cls.lines.close()

    def setUp(self):
        self.lines.take_all()

    def test_each_port_opens_by_its_name_into_the_configuration_at_each_rate(self):
        for port in PORTS:
            # Everything a pty can hold that the open must undo.
            slave = self.lines.lines[port].slave
            attrs = termios.tcgetattr(slave)
            attrs[IFLAG] |= termios.IXON | termios.IXOFF
            attrs[CFLAG] |= termios.CSTOPB | termios.CRTSCTS
            attrs[ISPEED] = attrs[OSPEED] = termios.B300
            termios.tcsetattr(slave, termios.TCSANOW, attrs)
            self.assertTrue(termios.tcgetattr(slave)[CFLAG] & termios.CSTOPB)
        steps = [step for port, rate in PORTS.items()
                 for step in (f"open:{port}:{rate}", f"rawsend:hex:{f'port {port}'.encode().hex()}",
                              "close")]
        report = run_caller(self.prefix, self.lines, *steps)
        self.assertEqual(report.code, 0, report.text)
        self.assertEqual(report.results(r"open \d+ \d+ = (-?\d+)"), ["1"] * len(PORTS))
        received = self.lines.take_all()
        for port, rate in PORTS.items():
            with self.subTest(port=port, rate=rate):
                self.assertEqual(received[port], f"port {port}".encode())
                attrs = self.lines.termios(port)
                self.assertEqual((attrs[ISPEED], attrs[OSPEED]), (RATES[rate], RATES[rate]))
                self.assertEqual(attrs[CFLAG] & termios.CSIZE, termios.CS8)
                for flag in ("PARENB", "CSTOPB", "CRTSCTS"):
                    self.assertFalse(attrs[CFLAG] & getattr(termios, flag), flag)
                for flag in ("IXON", "IXOFF"):
                    self.assertFalse(attrs[IFLAG] & getattr(termios, flag), flag)

    def test_the_caller_may_unload_the_module_and_exit(self):
        # Exit handlers registered by the module's start-up run at the
        # caller's exit: the module must still be there.
        report = run_caller(self.prefix, self.lines, "open:37:9600", "send:hex:" + b"<90>".hex(),
                            "close", "unload")
        self.assertEqual(report.code, 0, report.text)
        self.assertEqual(report.lines[-2:], ["unload = 1", "end"])
        self.assertEqual(self.lines.take(37), b"Z")


if __name__ == "__main__":
    unittest.main()
