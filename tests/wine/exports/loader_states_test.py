"""Wendlev14.EXE loaded as a library works whatever a Windows loader did to it
before the first export call.

Wine maps it elsewhere and leaves it unrelocated and unbound; XP leaves it at
its preferred base when that is free; Vista to 11 relocate it and rewrite the
header's ImageBase. A loader might also have bound its imports or run its TLS
callbacks. The caller's `loader` step puts the image in each such state, one
fresh process per state (the self-initialiser runs once per process), then
the exports are called and the relocated and import slots counted again.
"""

import unittest

from exportlab import VERSION, ExportsTest, variable

PORT = 83
SENT = b"\xfe\x01\xfe\x80Hi\r"
# (state, what leaves the image so). XP leaves the image at its preferred
# base when that is free: no slot needs relocating there and the header's
# ImageBase is where the image is, which is what "relocate,header" presents
# (this caller holds 0x400000 itself, as most hosts do).
STATES = [
    ("none", "Wine: nothing done"),
    ("relocate,header", "Vista to 11, or XP at the preferred base"),
    ("relocate", "relocated, ImageBase left alone"),
    ("bind", "unrelocated, imports bound"),
    ("relocate,header,bind", "relocated, ImageBase rewritten, bound"),
    ("relocate,bind", "relocated, ImageBase left alone, bound"),
    ("relocate,header,bind,tls", "relocated, ImageBase rewritten, bound, TLS run"),
    ("relocate,bind,tls", "relocated, ImageBase left alone, bound, TLS run"),
]
SLOTS = r"slots {} relocs=(\d+)/(\d+) imports=(\d+)/(\d+) first_wrong_reloc=(\w+)"


class LoaderStates(ExportsTest):
    PORTS = [PORT]

    def test_exports_work_and_every_slot_is_right_in_each_state(self):
        for state, meaning in STATES:
            with self.subTest(state=state, meaning=meaning):
                report = self.call(f"loader:{state}", "version", f"open:{PORT}:9600",
                                   "send:hex:" + b"<KTA_CLS>Hi<13>".hex(), "close", "slots")
                flags = state.split(",")
                report.one("landed away")
                relocs, reloc_total, imports, import_total, _ = report.one(
                    SLOTS.format("before")).groups()
                self.assertEqual(relocs, reloc_total if "relocate" in flags else "0", report.text)
                self.assertEqual(imports, import_total if "bind" in flags else "0", report.text)
                self.assertGreater(int(reloc_total), 500)
                self.assertGreater(int(import_total), 50)
                if "tls" in flags:
                    self.assertGreater(int(report.one(r"tls callbacks=(\d+)").group(1)), 0)
                self.assertEqual(report.results(r"((?:version|open|send var|close) .*)"), [
                    "version " + variable(VERSION), f"open {PORT} 9600 = 1",
                    "send var " + variable(SENT), "close = 1"])
                self.assertEqual(self.lines.take(PORT), SENT)
                self.assertEqual(report.one(SLOTS.format("after")).groups(),
                                 (reloc_total, reloc_total, import_total, import_total, "0"),
                                 report.text)

    def test_the_file_keeps_its_relocations_and_allows_any_base_and_no_execute_data(self):
        report = self.call("loader:none")
        found = report.one(r"file characteristics=(\w+) dll_characteristics=(\w+) "
                           r"reloc_size=(\d+)")
        characteristics, dll_characteristics = (int(v, 16) for v in found.groups()[:2])
        self.assertEqual(characteristics & 0x0001, 0, "relocations stripped")
        self.assertEqual(dll_characteristics & 0x0040, 0x0040, "not dynamic-base")
        self.assertEqual(dll_characteristics & 0x0100, 0x0100, "not NX-compatible")
        self.assertGreater(int(found.group(3)), 0)


if __name__ == "__main__":
    unittest.main()
