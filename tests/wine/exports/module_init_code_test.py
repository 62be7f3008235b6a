"""Reads the object code of the self-initialiser and of Wendlev14.EXE.

When another process loads the EXE, the exports run before the image is
relocated and bound. So, up to the point where the self-initialiser has
done its work, no instruction may hold an absolute address (a base
relocation, or a relocation against data, an import or a library function
in the object file):
- in the self-initialiser's object, only the function that runs after the
  work may carry relocations other than image-relative ones;
- in the EXE, no export may carry a base relocation before its call of
  EnsureModuleReady, which must be its first call;
- none of the EXE's code uses implicit thread-local storage, whose slot the
  host's loader never allocates (that the EXE keeps its relocation table,
  exports_loader_states reads from its header).

usage: module_init_code_test.py <objdump> <Wendlev14.EXE> <object files of wendle_serial...>
"""

import os
import re
import subprocess
import sys
import unittest

OBJDUMP, EXE, *OBJECTS = sys.argv[1:] if len(sys.argv) > 2 else ("", "")
EXPORTS = ["SER_CLOSE", "SER_OPEN", "SER_RAWSEND", "SER_RAWSEND_BV", "SER_SEND", "SER_SEND_BV",
           "SER_VERSINFO"]
AFTER_THE_WORK = "FinishStartUp("


def objdump(*args):
    return subprocess.run([OBJDUMP, *args], check=True, capture_output=True,
                          text=True).stdout


def functions_with_relocations(listing):
    """{function: [(type, target)]} from `objdump -drC`."""
    functions, current = {}, None
    for line in listing.splitlines():
        start = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if start:
            current = start.group(1)
            functions[current] = []
            continue
        # A relocation: "<offset>: <type>\t<target>" (an instruction has a
        # tab after the colon).
        reloc = re.match(r"^\s+[0-9a-f]+: (\w+)\t(.+)$", line)
        if reloc and current:
            functions[current].append((reloc.group(1), reloc.group(2)))
    return functions


class SelfInitialiserObject(unittest.TestCase):
    def test_nothing_before_the_work_holds_an_absolute_address(self):
        found = [o for o in OBJECTS if os.path.basename(o).startswith("module_init_win.")]
        self.assertEqual(len(found), 1, OBJECTS)
        functions = functions_with_relocations(objdump("-drC", found[0]))
        finishing = [name for name in functions if AFTER_THE_WORK in name]
        self.assertEqual(len(finishing), 1, list(functions))
        self.assertTrue(any(kind != "rva32" for kind, _ in functions[finishing[0]]))
        for name, relocations in functions.items():
            if name in finishing:
                continue
            with self.subTest(function=name):
                self.assertEqual([r for r in relocations if r[0] != "rva32"], [])


class Executable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = objdump("-p", EXE)
        cls.image_base = int(re.search(r"^ImageBase\s+([0-9a-f]+)$", cls.headers, re.M).group(1),
                             16)
        cls.relocated = {int(rva, 16) for rva in
                         re.findall(r"reloc\s+\d+ offset\s+[0-9a-f]+ \[([0-9a-f]+)\] HIGHLOW",
                                    cls.headers)}

    def export_rvas(self):
        table = self.headers.split("Export Address Table -- Ordinal Base")[1]
        addresses = dict(re.findall(r"\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA",
                                    table))
        names = re.findall(r"\[\s*(\d+)\] (SER_\w+)", table.split("[Ordinal/Name Pointer] Table")[1])
        return {name: int(addresses[index], 16) for index, name in names}

    def test_each_export_calls_the_self_initialiser_before_any_absolute_address(self):
        rvas = self.export_rvas()
        self.assertEqual(sorted(rvas), EXPORTS)
        for name, rva in rvas.items():
            with self.subTest(export=name):
                start = self.image_base + rva
                listing = objdump("-d", f"--start-address={start:#x}",
                                  f"--stop-address={start + 64:#x}", EXE)
                calls = re.findall(r"^\s+([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*call\s+(.*)$",
                                   listing, re.M)
                self.assertTrue(calls, listing)
                address, encoding, target = calls[0]
                self.assertIn("EnsureModuleReady", target)
                end = int(address, 16) + len(encoding.split()) - self.image_base
                self.assertEqual(sorted(r for r in self.relocated if rva <= r < end), [])

    def test_no_implicit_thread_local_storage(self):
        listing = objdump("-d", EXE)
        self.assertNotIn("%fs:0x2c", listing)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
