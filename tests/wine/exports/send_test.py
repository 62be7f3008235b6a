"""The four send operations, called from another process through the real
comm and OLE stacks: the bytes that reach the line, and what the caller's
variable holds afterwards."""

import unittest

from exportlab import Lines, fnv1a, open_prefix, run_caller

MIB = 1 << 20
# Zero bytes are ordinary characters, inside tokens' results as elsewhere.
ZEROS = b"\x00A\x00<13>\x00<0>B\x00"
ZEROS_TRANSLATED = b"\x00A\x00\r\x00\x00B\x00"
# Sixteen bytes, so that the megabyte holds whole tokens only.
TOKEN_CHUNK = b"Wendle\x00<65><13>\xff"
TOKEN_CHUNK_TRANSLATED = b"Wendle\x00A\r\xff"
RAW_CHUNK = bytes(range(256))


def variable(data):
    """The caller's description of a variable holding `data`."""
    return f"len={len(data)} fnv={fnv1a(data):08x} hex={data[:32].hex()}"


class SendOperations(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = open_prefix()
        cls.lines = Lines(cls.prefix, [41, 42, 43, 44, 45])

    @classmethod
    def tearDownClass(cls):
        cls.lines.close()

    def assertBytes(self, actual, expected):
        self.assertEqual((len(actual), fnv1a(actual)), (len(expected), fnv1a(expected)),
                         f"got {actual[:48]!r}..., expected {expected[:48]!r}...")

    def test_each_operation_writes_its_bytes_and_leaves_the_variable(self):
        big_translated = TOKEN_CHUNK_TRANSLATED * (MIB // len(TOKEN_CHUNK))
        big_raw = RAW_CHUNK * (MIB // len(RAW_CHUNK))
        cases = [
            # operation, port, translates, by reference
            ("send", 41, True, True),
            ("rawsend", 42, False, True),
            ("send_bv", 43, True, False),
            ("rawsend_bv", 44, False, False),
        ]
        for operation, port, translates, by_reference in cases:
            with self.subTest(operation=operation):
                chunk = TOKEN_CHUNK if translates else RAW_CHUNK
                report = run_caller(self.prefix, self.lines, f"open:{port}:9600",
                                    f"{operation}:hex:{ZEROS.hex()}", f"{operation}:null",
                                    f"{operation}:hex:", f"{operation}:fill:{chunk.hex()}:{MIB}",
                                    "close")
                self.assertEqual(report.code, 0, report.text)
                self.assertEqual(report.results(r"open \d+ \d+ = (-?\d+)"), ["1"])
                zeros, big = (ZEROS_TRANSLATED, big_translated) if translates else (ZEROS, big_raw)
                # Null and empty strings write nothing that a line can carry.
                self.assertBytes(self.lines.take(port), zeros + big)
                if not by_reference:
                    self.assertEqual(len(report.find(rf"{operation} done")), 4)
                    continue
                after = report.results(rf"{operation} var[= ](.*)")
                if translates:
                    # The variable holds the translation, a string of its own
                    # even when the caller's was null.
                    expected = [variable(zeros), variable(b""), variable(b""), variable(big)]
                else:
                    expected = [variable(ZEROS), "null", variable(b""), variable(big_raw)]
                self.assertEqual(after, expected)

    def test_without_a_port_in_the_slot_nothing_is_written(self):
        sends = ["send:hex:" + b"A<13>".hex(), "rawsend:hex:41", "send_bv:hex:" + b"<66>".hex(),
                 "rawsend_bv:hex:43"]
        # Before any open, after a close, and after a refused open of a
        # working line.
        report = run_caller(self.prefix, self.lines, "close", *sends, "close", "open:45:9600",
                            "close", *sends, "close", "close", "open:45:9601", *sends, "close")
        self.assertEqual(report.code, 0, report.text)
        self.assertEqual(report.results(r"close = (-?\d+)"), ["1"] * 6)
        self.assertEqual(report.results(r"open \d+ \d+ = (-?\d+)"), ["1", "0"])
        # The translation still replaces the caller's string.
        self.assertEqual(report.results(r"send var[= ](.*)"), [variable(b"A\r")] * 3)
        self.assertEqual(report.results(r"rawsend var[= ](.*)"), [variable(b"A")] * 3)
        self.assertEqual(self.lines.take_all(), {port: b"" for port in self.lines.lines})


if __name__ == "__main__":
    unittest.main()
