"""The release archive as a Windows user meets it. scripts/package builds it
twice from scratch, in two build folders, and the two must be the same
bytes. One is unpacked into a folder of its own; from there alone, in a
fresh Wine prefix, the program shows its window and examples/hello.c, built
exactly as README.txt says, writes its greeting to a COM port on a pty. The
VBA module and the .def are read against the EXE's export table."""

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
OBJDUMP = "i686-w64-mingw32-objdump"

FILES = ["README.txt", "Wendlev14.EXE", "include/wendle.h", "lib/libwendle.a",
         "lib/wendle.def", "vba/Wendle.bas", "examples/hello.c"]
TEXT_FILES = [name for name in FILES if not name.endswith((".EXE", ".a"))]

# Each export's ordinal and the bytes of its arguments, as the .def must say.
EXPORTS = {"SER_CLOSE": (1, 0), "SER_OPEN": (2, 8), "SER_RAWSEND": (3, 4),
           "SER_RAWSEND_BV": (4, 4), "SER_SEND": (5, 4), "SER_SEND_BV": (6, 4),
           "SER_VERSINFO": (7, 0)}
# The module's Declare lines, in name order: name, Sub or Function, library,
# (passing, type) of each argument, result. The _BV forms free a string that
# VB frees itself too: the module must not declare them.
VB_DECLARES = [
    ("SER_CLOSE", "Function", "Wendlev14.EXE", [], "Long"),
    ("SER_OPEN", "Function", "Wendlev14.EXE", [("ByVal", "Long"), ("ByVal", "Long")], "Long"),
    ("SER_RAWSEND", "Sub", "Wendlev14.EXE", [("ByRef", "String")], None),
    ("SER_SEND", "Sub", "Wendlev14.EXE", [("ByRef", "String")], None),
    ("SER_VERSINFO", "Function", "Wendlev14.EXE", [], "String"),
]
DECLARE = re.compile(r'(?:Public |Private )?Declare (Function|Sub) (\w+) Lib "([^"]*)" '
                     r'\(([^)]*)\)(?: As (\w+))?')
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


def exe_exports(exe):
    """{name: ordinal} and the module name from the EXE's export directory."""
    table = run([OBJDUMP, "-p", exe], check=True).stdout.split("The Export Tables")[1]
    base = int(re.search(r"Ordinal Base\s+(\d+)", table).group(1))
    module = re.search(r"^Name\s+[0-9a-f]+ (\S+)$", table, re.M).group(1)
    names = table.split("[Ordinal/Name Pointer] Table")[1].split("\n\n")[0]
    return {name: int(index) + base
            for index, name in re.findall(r"\[\s*(\d+)\] (\S+)", names)}, module


def vb_declares(module):
    """The Declare lines as VB_DECLARES lists them; an argument without ByVal
    or ByRef goes by reference, as in VB."""
    declares = []
    for line in module.replace(" _\r\n", " ").splitlines():
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
            mode = 0o100755 if entry.filename == "Wendlev14.EXE" else 0o100644
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
                     "ByRef s As String", "Call SER_CLOSE before calling SER_OPEN again"):
            self.assertIn(text, readme)

    def test_vba_module_declares_the_exports_for_vb(self):
        exports, module = exe_exports(self.path("Wendlev14.EXE"))
        self.assertEqual(module, "Wendlev14.EXE")
        self.assertEqual(exports, {name: ordinal for name, (ordinal, _) in EXPORTS.items()})
        self.assertEqual(vb_declares(self.read("vba/Wendle.bas").decode()), VB_DECLARES)

    def test_def_names_the_decorated_exports_and_makes_the_import_library(self):
        lines = self.read("lib/wendle.def").decode().splitlines()
        self.assertEqual(lines[:2], ['NAME "Wendlev14.EXE"', "EXPORTS"])
        listed = {}
        for line in lines[2:]:
            name, size, ordinal = re.fullmatch(r"\s+(\w+)@(\d+) @(\d+)", line).groups()
            listed[name] = (int(ordinal), int(size))
        self.assertEqual(listed, EXPORTS)
        # The README's command, run in the lib folder, gives lib/libwendle.a.
        readme = self.read("README.txt").decode()
        lib = os.path.join(self.tmp, "lib-again")
        os.makedirs(lib)
        shutil.copy(self.path("lib/wendle.def"), lib)
        made = run(shlex.split(command_line(readme, "i686-w64-mingw32-dlltool")), cwd=lib)
        self.assertEqual(made.returncode, 0, made.stderr)
        with open(os.path.join(lib, "libwendle.a"), "rb") as again:
            self.assertTrue(again.read() == self.read("lib/libwendle.a"))

    def test_hello_built_as_the_readme_says_writes_to_the_port(self):
        readme = self.read("README.txt").decode()
        build = command_line(readme, "i686-w64-mingw32-gcc")
        self.assertEqual(command_line(self.read("examples/hello.c").decode(),
                                      "i686-w64-mingw32-gcc"), build)
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
                result = self.prefix.run(self.path("hello.exe"), *args, timeout=60)
                self.assertEqual(result, (code, output + "\r\n"), args)
                self.assertEqual(line.read(idle=0.3, limit=10, expect=len(sent) or None), sent,
                                 args)
        finally:
            self.prefix.unlink_com(5)
            line.close()

    def test_program_shows_its_window(self):
        program = self.prefix.start(self.path("Wendlev14.EXE"))
        try:
            found = winelab.probe(self.prefix, ("find", 20000))[0]
            self.assertTrue(found["found"])
            self.assertTrue(found["caption"].startswith("Wendle 1.4"), found["caption"])
            winelab.probe(self.prefix, ("post", 0, winelab.WM_SYSCOMMAND, winelab.SC_CLOSE, 0))
            self.assertEqual(program.wait(timeout=20), 0)
        finally:
            if program.poll() is None:
                program.kill()


if __name__ == "__main__":
    unittest.main()
