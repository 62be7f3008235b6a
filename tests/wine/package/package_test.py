"""The release archive as a Windows user meets it. scripts/package builds it
twice from scratch, in two build folders, and the two must be the same
bytes. One is unpacked into a folder of its own; from there alone, in a
fresh Wine prefix, the EXE of the bitness under test (winelab.ARCH) shows
its window and examples/hello.c, built for that bitness exactly as
README.txt says, writes its greeting to a COM port on a pty. What needs no
running is checked for both bitnesses: both declaration blocks of the VBA
module and both .def files against both EXEs' export tables."""

import os
import re
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest
import zipfile

import winelab

SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))))
FILES = ["README.txt", "Wendlev14.EXE", "x64/Wendlev14.EXE", "include/wendle.h",
         "lib/libwendle.a", "lib/wendle.def", "lib/x64/libwendle.a", "lib/x64/wendle.def",
         "vba/Wendle.bas", "examples/hello.c"]
TEXT_FILES = [name for name in FILES if not name.endswith((".EXE", ".a"))]

# Each bitness's files in the archive, its tools, its EXE's file format, and
# where README.txt's build of hello.c puts the program: beside the EXE it loads.
BITNESS = {
    "win32": {"folder": "", "lib": "lib/", "tools": "i686-w64-mingw32-", "format": "pei-i386"},
    "win64": {"folder": "x64/", "lib": "lib/x64/", "tools": "x86_64-w64-mingw32-",
              "format": "pei-x86-64"},
}
# Each export's ordinal and the bytes of its arguments, which the 32-bit .def
# names in the stdcall decoration; x64 has none.
EXPORTS = {"SER_CLOSE": (1, 0), "SER_OPEN": (2, 8), "SER_RAWSEND": (3, 4),
           "SER_RAWSEND_BV": (4, 4), "SER_SEND": (5, 4), "SER_SEND_BV": (6, 4),
           "SER_VERSINFO": (7, 0)}
DEF_LINE = {"win32": "    {name}@{size} @{ordinal}", "win64": "    {name} @{ordinal}"}
# The module's Declare lines, in name order: name, Sub or Function, library,
# (passing, type) of each argument, result. The _BV forms free a string that
# VB frees itself too: the module must not declare them. Both blocks hold
# these, PtrSafe under VBA7 (Office 2010 on, either bitness), plain after
# #Else (older Office and VB6, 32-bit only); the numbers stay Long, since
# the exports take and give 32-bit LONGs.
VB_DECLARES = [
    ("SER_CLOSE", "Function", "Wendlev14.EXE", [], "Long"),
    ("SER_OPEN", "Function", "Wendlev14.EXE", [("ByVal", "Long"), ("ByVal", "Long")], "Long"),
    ("SER_RAWSEND", "Sub", "Wendlev14.EXE", [("ByRef", "String")], None),
    ("SER_SEND", "Sub", "Wendlev14.EXE", [("ByRef", "String")], None),
    ("SER_VERSINFO", "Function", "Wendlev14.EXE", [], "String"),
]
VB_BLOCKS = re.compile(r"#If VBA7 Then\n(.*)\n#Else\n(.*)\n#End If\n", re.S)
DECLARE = re.compile(r'(?:Public |Private )?Declare ((?:PtrSafe )?(?:Function|Sub)) (\w+) '
                     r'Lib "([^"]*)" \(([^)]*)\)(?: As (\w+))?')
ARGUMENT = re.compile(r"(?:(ByVal|ByRef) )?\w+ As (\w+)")

GREETING = b"\x0cHello from Wendle\r\n"


def run(argv, **kwargs):
    return subprocess.run(argv, capture_output=True, text=True, timeout=900, **kwargs)


def command_line(text, program):
    """The one line of `text` that runs `program`, without its indent or a
    C comment's leading star."""
    lines = [line.strip().lstrip("* ") for line in text.splitlines()]
    found = [line for line in lines if line.startswith(program + " ")]
    if len(found) != 1:
        raise AssertionError(f"{len(found)} lines run {program}")
    return found[0]


def exe_exports(exe, tools):
    """The EXE's file format, and its export directory's module name and
    {name: ordinal}."""
    dump = run([tools + "objdump", "-p", exe], check=True).stdout
    file_format = re.search(r"file format (\S+)", dump).group(1)
    table = dump.split("The Export Tables")[1]
    base = int(re.search(r"Ordinal Base\s+(\d+)", table).group(1))
    module = re.search(r"^Name\s+[0-9a-f]+ (\S+)$", table, re.M).group(1)
    names = table.split("[Ordinal/Name Pointer] Table")[1].split("\n\n")[0]
    return file_format, module, {name: int(index) + base
                                 for index, name in re.findall(r"\[\s*(\d+)\] (\S+)", names)}


def vb_declares(block):
    """The block's Declare lines as VB_DECLARES lists them, "PtrSafe" kept
    before Sub or Function; an argument without ByVal or ByRef goes by
    reference, as in VB."""
    declares = []
    for line in block.replace(" _\n", " ").splitlines():
        if re.match(r"(Public |Private )?Declare ", line):
            found = DECLARE.fullmatch(line)
            assert found, f"unreadable declaration: {line}"
            kind, name, lib, args, result = found.groups()
            passing = [ARGUMENT.fullmatch(arg.strip()) for arg in args.split(",") if arg.strip()]
            assert all(passing), f"unreadable arguments: {line}"
            declares.append((name, kind, lib, [(p[1] or "ByRef", p[2]) for p in passing], result))
    return sorted(declares)


class ReleaseArchive(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="wendle-package-")
        cls.addClassCleanup(shutil.rmtree, cls.tmp, ignore_errors=True)
        cls.zips = [cls.package(n) for n in (1, 2)]
        cls.folder = os.path.join(cls.tmp, "unpacked")
        with zipfile.ZipFile(cls.zips[0]) as archive:
            archive.extractall(cls.folder)
            cls.entries = archive.infolist()
        # The prefix's programs take the display from the environment it
        # was made with.
        display = winelab.ensure_display()
        if display is not None:
            cls.addClassCleanup(display.wait)
            cls.addClassCleanup(display.kill)
        cls.prefix = winelab.WinePrefix(os.path.join(cls.tmp, "wine", "prefix"))
        cls.addClassCleanup(cls.prefix.stop)

    @classmethod
    def package(cls, number):
        output = os.path.join(cls.tmp, f"wendle-{number}.zip")
        done = run([os.path.join(SOURCE_DIR, "scripts", "package"), "--build-dir",
                    os.path.join(cls.tmp, f"build-{number}"), "--output", output])
        if done.returncode != 0:
            raise AssertionError(f"scripts/package failed:\n{done.stdout[-3000:]}{done.stderr}")
        return output

    def path(self, name):
        return os.path.join(self.folder, *name.split("/"))

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def test_two_builds_from_scratch_give_the_same_bytes(self):
        with open(self.zips[0], "rb") as first, open(self.zips[1], "rb") as second:
            self.assertTrue(first.read() == second.read(), "the two archives differ")

    def test_archive_holds_the_listed_files_dated_to_the_commit(self):
        self.assertEqual([entry.filename for entry in self.entries], FILES)
        commit = run(["git", "-C", SOURCE_DIR, "log", "-1", "--format=%ct"], check=True)
        # A zip date holds even seconds only.
        date = time.gmtime(int(commit.stdout) // 2 * 2)[:6]
        for entry in self.entries:
            mode = 0o100755 if entry.filename.endswith(".EXE") else 0o100644
            self.assertEqual((entry.filename, entry.date_time, entry.external_attr >> 16),
                             (entry.filename, date, mode))

    def test_texts_are_ascii_with_windows_line_ends(self):
        for name in TEXT_FILES:
            data = self.read(name)
            bare = data.replace(b"\r\n", b"")
            self.assertTrue(data.isascii() and b"\r\n" in data, name)
            self.assertFalse(b"\n" in bare or b"\r" in bare, name)
        readme = self.read("README.txt").decode()
        for text in ("Wendle 1.4 for Windows", "lib /def:lib\\wendle.def /machine:x86",
                     "lib /def:lib\\x64\\wendle.def /machine:x64", "ByRef s As String",
                     "Call SER_CLOSE before calling SER_OPEN again"):
            self.assertIn(text, readme)

    def test_vba_module_declares_the_exports_of_both_exes(self):
        for bitness in BITNESS.values():
            self.assertEqual(exe_exports(self.path(bitness["folder"] + "Wendlev14.EXE"),
                                         bitness["tools"]),
                             (bitness["format"], "Wendlev14.EXE",
                              {name: ordinal for name, (ordinal, _) in EXPORTS.items()}))
        blocks = VB_BLOCKS.search(self.read("vba/Wendle.bas").decode().replace("\r\n", "\n"))
        self.assertIsNotNone(blocks, "no #If VBA7 Then ... #Else ... #End If")
        for block, safe in ((blocks[1], "PtrSafe "), (blocks[2], "")):
            self.assertEqual(vb_declares(block),
                             [(name, safe + kind, *rest) for name, kind, *rest in VB_DECLARES])

    def test_defs_name_the_exports_and_make_the_import_libraries(self):
        readme = self.read("README.txt").decode()
        for arch, bitness in BITNESS.items():
            lines = ['NAME "Wendlev14.EXE"', "EXPORTS"] + [
                DEF_LINE[arch].format(name=name, ordinal=ordinal, size=size)
                for name, (ordinal, size) in EXPORTS.items()]
            self.assertEqual(self.read(bitness["lib"] + "wendle.def").decode().splitlines(), lines)
            # The README's command, run in the lib folder, makes the shipped
            # import library again.
            lib = os.path.join(self.tmp, "lib-again-" + arch)
            os.makedirs(lib)
            shutil.copy(self.path(bitness["lib"] + "wendle.def"), lib)
            made = run(shlex.split(command_line(readme, bitness["tools"] + "dlltool")), cwd=lib)
            self.assertEqual(made.returncode, 0, made.stderr)
            with open(os.path.join(lib, "libwendle.a"), "rb") as again:
                self.assertTrue(again.read() == self.read(bitness["lib"] + "libwendle.a"), arch)

    def test_hello_built_as_the_readme_says_writes_to_the_port(self):
        bitness = BITNESS[winelab.ARCH]
        compiler = bitness["tools"] + "gcc"
        build = command_line(self.read("README.txt").decode(), compiler)
        self.assertEqual(command_line(self.read("examples/hello.c").decode(), compiler), build)
        built = run(shlex.split(build), cwd=self.folder)
        self.assertEqual((built.returncode, built.stdout + built.stderr), (0, ""))
        line = winelab.PtyLine()
        self.prefix.link_com(5, line.device)
        self.prefix.unlink_com(42)
        try:
            for args, code, output, sent in [
                (["5"], 0, "hello: 20 bytes passed to COM5", GREETING),
                (["42"], 1, "hello: COM42 could not be opened at 9600 baud: is the port "
                            "there, and not in use by another program?", b""),
                (["100"], 2, 'hello: "100" is not a port number from 1 to 99', b""),
                (["5x"], 2, 'hello: "5x" is not a port number from 1 to 99', b""),
            ]:
                result = self.prefix.run(self.path(bitness["folder"] + "hello.exe"), *args)
                self.assertEqual(result, (code, output + "\r\n"), args)
                self.assertEqual(line.read(idle=0.3, limit=10, expect=len(sent) or None), sent,
                                 args)
        finally:
            self.prefix.unlink_com(5)
            line.close()

    def test_program_shows_its_window(self):
        program = self.prefix.start(self.path(BITNESS[winelab.ARCH]["folder"] + "Wendlev14.EXE"))
        try:
            found = winelab.probe(self.prefix, ("find", winelab.patience_ms(20)))[0]
            self.assertTrue(found["found"])
            self.assertTrue(found["caption"].startswith("Wendle 1.4"), found["caption"])
            winelab.probe(self.prefix, ("post", 0, winelab.WM_SYSCOMMAND, winelab.SC_CLOSE, 0))
            self.assertEqual(program.wait(timeout=winelab.patience(20)), 0)
        finally:
            if program.poll() is None:
                program.kill()


if __name__ == "__main__":
    unittest.main()
