"""Tens of thousands of sends with fresh strings, by value and by reference,
and version texts freed by the caller, leave the caller's memory where it was. A run in which
the caller itself keeps one such string per round shows that the measure
sees a leak of that size."""

import re
import unittest

from exportlab import Lines, open_prefix, run_caller

ROUNDS = 30000
# A string of the test's size costs at least 24 bytes of heap; a leak of one
# per round would add 700 KiB. What the rounds may leave: caches' slack.
# (Wine 8 reports no private bytes, so the working set stands in for them.)
HEAP_SLACK = 64 * 1024
WORKING_SET_SLACK = 256 * 1024


def measure(prefix, lines, mode=""):
    report = run_caller(prefix, lines, f"memory:71:{ROUNDS}{mode}")
    if report.code != 0:
        raise AssertionError(report.text)
    match = report.one(r"memory rounds=\d+ heap=(\d+):(\d+) private=(\d+):(\d+) "
                       r"workingset=(\d+):(\d+)")
    heap_before, heap_after, _, _, set_before, set_after = map(int, match.groups())
    if report.results(r"memory (?:open|close) = (-?\d+)") != ["1", "1"]:
        raise AssertionError(report.text)
    return heap_after - heap_before, set_after - set_before, report.text


class Memory(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = open_prefix()
        cls.lines = Lines(cls.prefix, [71])

    @classmethod
    def tearDownClass(cls):
        cls.lines.close()

    def test_sends_leave_memory_flat(self):
        heap, working_set, text = measure(self.prefix, self.lines)
        self.assertLess(heap, HEAP_SLACK, text)
        self.assertLess(working_set, WORKING_SET_SLACK, text)
        # Every round wrote its three translated and one raw message.
        data = self.lines.take(71)
        self.assertEqual(len(re.findall(rb"memory MEM\r\n", data)), 3 * (2000 + ROUNDS))
        self.assertEqual(len(re.findall(rb"memory <77><69><77>\r\n", data)), 2000 + ROUNDS)

    def test_the_measure_sees_a_leak_of_one_string_per_round(self):
        heap, working_set, text = measure(self.prefix, self.lines, ":leak")
        self.lines.take(71)
        self.assertGreater(heap, 24 * ROUNDS, text)
        self.assertGreater(working_set, 2 * WORKING_SET_SLACK, text)


if __name__ == "__main__":
    unittest.main()
