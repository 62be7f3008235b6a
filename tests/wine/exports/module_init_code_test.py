"""Loaded by another process, Wendlev14.EXE runs its exports unrelocated and
unbound, so until the self-initialiser's work is done no instruction may hold
an absolute address: in its object only the function that runs after the work
may carry relocations other than image-relative ones (rva32; on x64 also
RIP-relative ones to the image's base or the object's own data), and each
export first calls EnsureModuleReady, with no base relocation before. No code
uses implicit thread-local storage, whose slot a host's loader never allocates.

usage: module_init_code_test.py <objdump> <Wendlev14.EXE> <objects of wendle_exports...>"""

import os
import re
import sys
import unittest

from winelab import run, test_main

OBJDUMP, EXE, *OBJECTS = sys.argv[1:]
del sys.argv[1:]


def objdump(*args):
    result = run([OBJDUMP, *args])
    if result.returncode != 0:
        raise AssertionError(f"objdump {' '.join(args)}: {result.stderr}")
    return result.stdout


def absolute(relocation):
    kind, target = relocation
    return kind != "rva32" and not (kind.startswith("IMAGE_REL_AMD64_REL32") and
                                    target in ("__ImageBase", ".data", ".bss"))


class ObjectCode(unittest.TestCase):
    def test_nothing_before_the_work_holds_an_absolute_address(self):
        found = [o for o in OBJECTS if os.path.basename(o).startswith("module_init_win.")]
        functions = {}
        for line in objdump("-drC", *found).splitlines():
            # A relocation is "<offset>: <type>\t<target>" (an instruction has a
            # tab after the colon).
            start = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
            relocation = re.match(r"^\s+[0-9a-f]+: (\w+)\t(.+)$", line)
            if start:
                current = functions.setdefault(start.group(1), [])
            elif relocation:
                current.append(relocation.groups())
        self.assertEqual(len(found), 1, OBJECTS)
        finish = functions.pop("(anonymous namespace)::FinishStartUp(char*)")
        self.assertTrue(any(map(absolute, finish)))
        for name, relocations in functions.items():
            self.assertEqual(list(filter(absolute, relocations)), [], name)

    def test_executable(self):
        headers = objdump("-p", EXE)

        def field(name):
            return int(re.search(rf"^{name}\s+(?:0x)?([0-9a-f]+)", headers, re.M)[1], 16)

        self.assertEqual(field("Characteristics") & 0x0001, 0, "relocations stripped")
        self.assertEqual(field("DllCharacteristics") & 0x0140, 0x0140, "DYNAMIC_BASE, NX_COMPAT")
        tls = {"pei-i386": "%fs:0x2c", "pei-x86-64": "%gs:0x58"}
        self.assertNotIn(tls[re.search(r"file format (\S+)", headers)[1]], objdump("-d", EXE))
        relocated = {int(rva, 16) for rva in re.findall(
            r"reloc\s+\d+ offset\s+[0-9a-f]+ \[([0-9a-f]+)\] (?!ABSOLUTE)", headers)}
        table = headers.split("Export Address Table -- Ordinal Base 1\n")[1]
        rvas = dict(re.findall(r"\[\s*(\d+)\] \+base\[\s*\d+\]\s+([0-9a-f]+) Export RVA", table))
        names = [(int(i), name) for i, name in re.findall(
            r"\[\s*(\d+)\] (SER_\w+)", table.split("[Ordinal/Name Pointer] Table")[1])]
        # Callers that import by ordinal hold these numbers (from 1).
        self.assertEqual(names, list(enumerate([
            "SER_CLOSE", "SER_OPEN", "SER_RAWSEND", "SER_RAWSEND_BV", "SER_SEND", "SER_SEND_BV",
            "SER_VERSINFO"])))
        for index, name in names:
            rva, start = int(rvas[str(index)], 16), field("ImageBase") + int(rvas[str(index)], 16)
            address, encoding, target = re.findall(
                r"^\s+([0-9a-f]+):\t((?:[0-9a-f]{2} )+)\s*call\s+(.*)$", objdump(
                    "-d", f"--start-address={start:#x}", f"--stop-address={start + 64:#x}", EXE),
                re.M)[0]
            self.assertIn("EnsureModuleReady", target, name)
            end = int(address, 16) + len(encoding.split()) - field("ImageBase")
            self.assertEqual([r for r in relocated if rva <= r < end], [], name)


if __name__ == "__main__":
    test_main(wine=False)
