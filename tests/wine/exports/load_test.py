"""The exports called many times over from another process. From many
threads at once: records sent through one port arrive whole and complete,
racing opens, sends and closes do no harm, and the first calls, made
together, all find the module ready. Tens of thousands of sends with fresh
strings, by value and by reference, and version texts freed by the caller,
leave the caller's memory where it was; a run in which the caller itself
keeps one such string per round shows that the measure sees a leak of that
size.

usage: load_test.py Threads|Memory"""

import re
import unittest

from exportlab import ExportsTest, fnv1a

RECORD = re.compile(rb"\{T(\d+)#(\d+):([a-z]*):([0-9a-f]{8})\}")
ROUNDS = 30000
# A string of the test's size costs at least 24 bytes of heap; a leak of one
# per round would add 700 KiB. What the rounds may leave: caches' slack.
# (Wine 8 reports no private bytes, so the working set stands in for them.)
HEAP_SLACK = 64 * 1024
WORKING_SET_SLACK = 256 * 1024


class Threads(ExportsTest):
    PORTS = [61, 62, 63, 64]

    def test_records_from_eight_threads_arrive_whole(self):
        threads, messages = 8, 1000
        report = self.call(f"threads:61:{threads}:{messages}")
        self.assertEqual(report.results(r"threads (?:open|close) = (-?\d+)"), ["1", "1"])
        data = self.lines.take(61)
        self.assertTrue(data.endswith(b"\r"), data[-40:])
        units = data[:-1].split(b"\r")
        seen = set()
        for unit in units:
            match = RECORD.fullmatch(unit)
            # A record cut by another thread's write would not match or not
            # carry its own checksum.
            self.assertIsNotNone(match, unit)
            self.assertEqual(int(match.group(4), 16), fnv1a(unit[1:-10]), unit)
            seen.add((int(match.group(1)), int(match.group(2))))
        self.assertEqual(len(units), threads * messages)
        self.assertEqual(seen, {(t, n) for t in range(threads) for n in range(messages)})

    def test_racing_opens_sends_and_closes(self):
        threads, rounds = 6, 300
        report = self.call("open:62:9600", "hold:62", "close", f"race:62,63,64:{threads}:{rounds}")
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
                report = self.call("firstcall:12")
                self.assertEqual(report.one(r"firstcall ok=(\d+) of 12").group(1), "12")


class Memory(ExportsTest):
    PORTS = [71]

    def measure(self, mode=""):
        report = self.call(f"memory:71:{ROUNDS}{mode}")
        self.assertEqual(report.results(r"memory (?:open|close) = (-?\d+)"), ["1", "1"])
        found = report.one(r"memory rounds=\d+ heap=(\d+):(\d+) workingset=(\d+):(\d+)")
        heap_before, heap_after, set_before, set_after = map(int, found.groups())
        return heap_after - heap_before, set_after - set_before, report.text

    def test_sends_leave_memory_flat(self):
        heap, working_set, text = self.measure()
        self.assertLess(heap, HEAP_SLACK, text)
        self.assertLess(working_set, WORKING_SET_SLACK, text)
        # Every round wrote its three translated and one raw message.
        data = self.lines.take(71)
        self.assertEqual(len(re.findall(rb"memory MEM\r\n", data)), 3 * (2000 + ROUNDS))
        self.assertEqual(len(re.findall(rb"memory <77><69><77>\r\n", data)), 2000 + ROUNDS)

    def test_the_measure_sees_a_leak_of_one_string_per_round(self):
        heap, working_set, text = self.measure(":leak")
        self.assertGreater(heap, 24 * ROUNDS, text)
        self.assertGreater(working_set, 2 * WORKING_SET_SLACK, text)


if __name__ == "__main__":
    unittest.main()
