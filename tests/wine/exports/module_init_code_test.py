"""Loaded by another process, Wendlev14.EXE runs its exports unrelocated and
unbound, so until the self-initialiser's work is done no instruction may hold
an absolute address: in its object only the function that runs after the work
may carry relocations other than image-relative ones (rva32; on x64 also
RIP-relative ones to the image's base or the object's own data), and each
export's first relocation is its call of EnsureModuleReady. No code uses
implicit thread-local storage, whose slot a host's loader never allocates.

usage: module_init_code_test.py OBJDUMP EXE MODULE_INIT_OBJECT EXPORTS_OBJECT"""

import re
import subprocess
import sys
import unittest

from winelab import test_main

OBJDUMP, EXE, MODULE_INIT, EXPORTS = sys.argv[1:]
del sys.argv[1:]


def objdump(*args):
    return subprocess.run([OBJDUMP, *args], check=True, stdout=subprocess.PIPE, text=True).stdout


def relocations(path):
    """{function: [(kind, target)...]} of an object: a function starts with
    "<address> <name>:" and ends at a blank line; a relocation reads
    "<offset>: <kind>\t<target>" (an instruction has a tab after the colon)."""
    functions = {}
    for name, code in re.findall(r"^[0-9a-f]+ <(.+)>:\n((?:.+\n)*)", objdump("-drC", path), re.M):
        found = re.findall(r"^\s+[0-9a-f]+: (\w+)\t(.+)$", code, re.M)
        functions.setdefault(name, []).extend(found)
    return functions


def absolute(relocation):
    kind, target = relocation
    return kind != "rva32" and not (kind.startswith("IMAGE_REL_AMD64_REL32") and
                                    target in ("__ImageBase", ".data", ".bss"))


class ObjectCode(unittest.TestCase):
    def test_the_work_comes_first_and_nothing_before_it_holds_an_absolute_address(self):
        functions = {name: list(filter(absolute, found))
                     for name, found in relocations(MODULE_INIT).items()}
        self.assertNotEqual(functions.pop("(anonymous namespace)::FinishStartUp(char*)"), [])
        self.assertEqual({name: found for name, found in functions.items() if found}, {})
        exports = {name: found for name, found in relocations(EXPORTS).items() if "SER_" in name}
        self.assertEqual(len(exports), 7, exports)
        for name, found in exports.items():
            self.assertIn("EnsureModuleReady", found[0][1], name)

    def test_executable(self):
        headers = objdump("-p", EXE)

        def field(name):
            return int(re.search(rf"^{name}\s+(?:0x)?([0-9a-f]+)", headers, re.M)[1], 16)

        self.assertEqual(field("Characteristics") & 0x0001, 0, "relocations stripped")
        self.assertEqual(field("DllCharacteristics") & 0x0140, 0x0140, "DYNAMIC_BASE, NX_COMPAT")
        tls = {"pei-i386": "%fs:0x2c", "pei-x86-64": "%gs:0x58"}
        self.assertNotIn(tls[re.search(r"file format (\S+)", headers)[1]], objdump("-d", EXE))
        table = headers.split("Export Address Table -- Ordinal Base 1\n")[1]
        # Callers that import by ordinal hold these numbers (from 1).
        names = re.findall(r"\[\s*(\d+)\] (SER_\w+)", table.split("[Ordinal/Name")[1])
        self.assertEqual([(int(i), name) for i, name in names], list(enumerate([
            "SER_CLOSE", "SER_OPEN", "SER_RAWSEND", "SER_RAWSEND_BV", "SER_SEND", "SER_SEND_BV",
            "SER_VERSINFO"])))


if __name__ == "__main__":
    test_main(wine=False)
