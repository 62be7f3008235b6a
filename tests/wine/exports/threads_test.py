"""The exports called from many threads of another process at once: records
sent through one port arrive whole and complete, racing opens, sends and
closes do no harm, and the first calls, made together, all find the module
ready."""

import re
import unittest

from exportlab import Lines, fnv1a, open_prefix, run_caller

RECORD = re.compile(rb"\{T(\d+)#(\d+):([a-z]*):([0-9a-f]{8})\}")


class Threads(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = open_prefix()
        cls.lines = Lines(cls.prefix, [61, 62, 63, 64])

    @classmethod
    def tearDownClass(cls):
        cls.lines.close()

    def setUp(self):
        self.lines.take_all()

    def test_records_from_eight_threads_arrive_whole(self):
        threads, messages = 8, 1000
        report = run_caller(self.prefix, self.lines, f"threads:61:{threads}:{messages}")
        self.assertEqual(report.code, 0, report.text)
        self.assertEqual(report.results(r"threads (?:open|close) = (-?\d+)"), ["1", "1"])
        data = self.lines.take(61)
        self.assertTrue(data.endswith(b"\r"), data[-40:])
        seen = set()
        for unit in data[:-1].split(b"\r"):
            match = RECORD.fullmatch(unit)
            # A record cut by another thread's write would not match or not
            # carry its own checksum.
            self.assertIsNotNone(match, unit)
            body = unit[1:-10]
            self.assertEqual(int(match.group(4), 16), fnv1a(body), unit)
            seen.add((int(match.group(1)), int(match.group(2))))
        self.assertEqual(len(data[:-1].split(b"\r")), threads * messages)
        self.assertEqual(seen, {(t, n) for t in range(threads) for n in range(messages)})

    def test_racing_opens_sends_and_closes(self):
        threads, rounds = 6, 300
        report = run_caller(self.prefix, self.lines, "open:62:9600", "hold:62", "close",
                            f"race:62,63,64:{threads}:{rounds}")
        self.assertEqual(report.code, 0, report.text)
        opens, failures = map(int, report.one(r"race done opens=(\d+) of \d+ failures=(\d+)")
                              .groups())
        self.assertEqual(failures, 0, report.text)
        # An open fails only where the system refuses a second exclusive open
        # of a device another thread holds: Wine does not.
        if report.one(r"hold 62 (\w+).*").group(1) == "free":
            self.assertEqual(opens, threads * rounds)
        self.assertGreater(opens, 0)
        # Each send is one write: whatever port it reached, it arrived whole,
        # and each port was in the slot for some of them.
        units = 0
        for port in (62, 63, 64):
            data = self.lines.take(port)
            self.assertRegex(data, rb"\A(?:x\r|yy\r)+\Z", f"COM{port}")
            units += data.count(b"\r")
        self.assertLessEqual(units, 2 * threads * rounds)

    def test_first_calls_made_together(self):
        # Each process starts with a fresh image; its first calls race into
        # the module's one-time preparation.
        for attempt in range(6):
            with self.subTest(attempt=attempt):
                report = run_caller(self.prefix, None, "firstcall:12")
                self.assertEqual(report.code, 0, report.text)
                self.assertEqual(report.one(r"firstcall ok=(\d+) of 12").group(1), "12")


if __name__ == "__main__":
    unittest.main()
