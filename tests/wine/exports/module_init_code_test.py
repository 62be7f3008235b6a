"""Reads the object code of the self-initialiser and of Wendlev14.EXE.

When another process loads the EXE, the exports run before the image is
relocated and bound, so until the self-initialiser has done its work no
instruction may hold an absolute address: in its object only the function
that runs after the work may carry relocations other than image-relative
ones (rva32; on x64 also RIP-relative ones to the image's base or the
object's own data); in the EXE each export's first call is
EnsureModuleReady, with no base relocation before it. The header keeps the
relocations and allows any base and no-execute data; no code uses implicit
thread-local storage, whose slot a host's loader never allocates.

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
# The operand through which implicit thread-local storage is reached.
TLS_OPERANDS = {"pei-i386": "%fs:0x2c", "pei-x86-64": "%gs:0x58"}


def objdump(*args):
    return subprocess.run([OBJDUMP, *args], check=True, capture_output=True, text=True).stdout


def image_relative(kind, target):
    return kind == "rva32" or (kind.startswith("IMAGE_REL_AMD64_REL32") and
                               target in ("__ImageBase", ".data", ".bss"))


class ObjectCode(unittest.TestCase):
    def test_nothing_before_the_work_holds_an_absolute_address(self):
        found = [o for o in OBJECTS if os.path.basename(o).startswith("module_init_win.")]
        self.assertEqual(len(found), 1, OBJECTS)
        functions, current = {}, None
        for line in objdump("-drC", found[0]).splitlines():
            start = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
            # A relocation: "<offset>: <type>\t<target>" (an instruction has
            # a tab after the colon).
            reloc = re.match(r"^\s+[0-9a-f]+: (\w+)\t(.+)$", line)
            if start:
                current = start.group(1)
                functions[current] = []
            elif reloc and current:
                functions[current].append(reloc.groups())
        finishing = [name for name in functions if "FinishStartUp(" in name]
        self.assertEqual(len(finishing), 1, list(functions))
        self.assertFalse(all(image_relative(*r) for r in functions.pop(finishing[0])))
        for name, relocations in functions.items():
            with self.subTest(function=name):
                self.assertEqual([r for r in relocations if not image_relative(*r)], [])

    def test_executable(self):
        headers = objdump("-p", EXE)
        flags = re.search(r"^Characteristics\s+0x([0-9a-f]+)", headers, re.M).group(1)
        dll_flags = re.search(r"^DllCharacteristics\s+([0-9a-f]+)", headers, re.M).group(1)
        self.assertEqual(int(flags, 16) & 0x0001, 0, "relocations stripped")
        self.assertEqual(int(dll_flags, 16) & 0x0140, 0x0140, "DYNAMIC_BASE and NX_COMPAT")
        listing = objdump("-d", EXE)
        self.assertNotIn(TLS_OPERANDS[re.search(r"file format (\S+)", headers).group(1)], listing)

        image_base = int(re.search(r"^ImageBase\s+([0-9a-f]+)$", headers, re.M).group(1), 16)
        relocated = {int(rva, 16) for rva, kind in re.findall(
            r"reloc\s+\d+ offset\s+[0-9a-f]+ \[([0-9a-f]+)\] (\w+)", headers) if kind != "ABSOLUTE"}
        table = headers.split("Export Address Table -- Ordinal Base")[1]
        addresses = dict(re.findall(r"\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA", table))
        names = re.findall(r"\[\s*(\d+)\] (SER_\w+)", table.split("[Ordinal/Name Pointer] Table")[1])
        self.assertEqual(sorted(name for _, name in names), EXPORTS)
        for index, name in names:
            with self.subTest(export=name):
                rva = int(addresses[index], 16)
                start = image_base + rva
                calls = re.findall(r"^\s+([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*call\s+(.*)$",
                                   objdump("-d", f"--start-address={start:#x}",
                                           f"--stop-address={start + 64:#x}", EXE), re.M)
                self.assertTrue(calls, name)
                address, encoding, target = calls[0]
                self.assertIn("EnsureModuleReady", target)
                end = int(address, 16) + len(encoding.split()) - image_base
                self.assertEqual(sorted(r for r in relocated if rva <= r < end), [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
