"""Reads the object code of the self-initialiser and of Wendlev14.EXE.

When another process loads the EXE, the exports run before the image is
relocated and bound, so until the self-initialiser has done its work no
instruction may hold an absolute address: in its object only the function
that runs after the work may carry relocations other than image-relative
ones (rva32; on x64 also RIP-relative ones to the image's base or the
object's own data); in the EXE each export's first call is
EnsureModuleReady, with no base relocation before it. Every base relocation
is an address-sized slot, the only kind the self-initialiser applies; the
header keeps the relocations and allows any base and no-execute data; no
code uses implicit thread-local storage, whose slot a host's loader never
allocates. The architecture is read from the EXE.

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
# RIP-relative operands (x64) that stay right in an unrelocated image: the
# image's base and the object's own data, where the record is.
OWN_TARGETS = {"__ImageBase", ".data", ".bss"}
# Per architecture: the base relocation kind of an address, and the operand
# through which implicit thread-local storage is reached.
ARCHITECTURES = {
    "pei-i386": ("HIGHLOW", "%fs:0x2c"),
    "pei-x86-64": ("DIR64", "%gs:0x58"),
}


def objdump(*args):
    return subprocess.run([OBJDUMP, *args], check=True, capture_output=True,
                          text=True).stdout


def image_relative(kind, target):
    return kind == "rva32" or (kind.startswith("IMAGE_REL_AMD64_REL32") and
                               target in OWN_TARGETS)


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
        self.assertFalse(all(image_relative(*r) for r in functions[finishing[0]]))
        for name, relocations in functions.items():
            if name in finishing:
                continue
            with self.subTest(function=name):
                self.assertEqual([r for r in relocations if not image_relative(*r)], [])


class Executable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = objdump("-p", EXE)
        file_format = re.search(r"file format (\S+)", cls.headers).group(1)
        cls.slot_kind, cls.tls_operand = ARCHITECTURES[file_format]
        cls.image_base = int(re.search(r"^ImageBase\s+([0-9a-f]+)$", cls.headers, re.M).group(1),
                             16)
        cls.relocations = [(int(rva, 16), kind) for rva, kind in
                           re.findall(r"reloc\s+\d+ offset\s+[0-9a-f]+ \[([0-9a-f]+)\] (\w+)",
                                      cls.headers) if kind != "ABSOLUTE"]
        cls.relocated = {rva for rva, _ in cls.relocations}

    def test_every_relocation_is_an_address_sized_slot(self):
        self.assertGreater(len(self.relocations), 100)
        self.assertEqual({kind for _, kind in self.relocations}, {self.slot_kind})

    def test_relocations_kept_any_base_and_no_execute_data_allowed(self):
        flags = re.search(r"^Characteristics\s+0x([0-9a-f]+)", self.headers, re.M).group(1)
        dll_flags = re.search(r"^DllCharacteristics\s+([0-9a-f]+)", self.headers, re.M).group(1)
        self.assertEqual(int(flags, 16) & 0x0001, 0, "relocations stripped")
        # DYNAMIC_BASE and NX_COMPAT
        self.assertEqual(int(dll_flags, 16) & 0x0140, 0x0140)

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
        self.assertNotIn(self.tls_operand, listing)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
