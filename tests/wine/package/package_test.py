"""The release archive as a Windows user meets it: the same bytes twice, its
files and declarations; in a fresh Wine prefix, its EXE and the example."""

import os
import pathlib
import re
import shlex
import tempfile
import time
import unittest
import zipfile

import winelab
from winelab import SOURCE_DIR, run

FILES = ["README.txt", "Wendlev14.EXE", "x64/Wendlev14.EXE", "include/wendle.h",
         "lib/libwendle.a", "lib/wendle.def", "lib/x64/libwendle.a", "lib/x64/wendle.def",
         "vba/Wendle.bas", "examples/hello.c"]
# The 32-bit .def's exports: stdcall decoration (bytes of arguments), then ordinal.
EXPORTS = ["SER_CLOSE@0 @1", "SER_OPEN@8 @2", "SER_RAWSEND@4 @3", "SER_RAWSEND_BV@4 @4",
           "SER_SEND@4 @5", "SER_SEND_BV@4 @6", "SER_VERSINFO@0 @7"]
# Each bitness's EXE and library folders, tools, EXE format and .def lines.
BITNESS = {
    "win32": ("", "lib/", "i686-w64-mingw32-", "pei-i386", EXPORTS),
    "win64": ("x64/", "lib/x64/", "x86_64-w64-mingw32-", "pei-x86-64",
              [re.sub(r"@\d+ ", " ", line) for line in EXPORTS]),
}
# The _BV forms free a string that VB frees itself too: never declared. The
# numbers stay Long in both bitnesses, since the exports take 32-bit LONGs.
DECLARES = ['Function SER_OPEN Lib "Wendlev14.EXE" (ByVal PortNumber As Long, ByVal BaudRate '
            'As Long) As Long', 'Function SER_CLOSE Lib "Wendlev14.EXE" () As Long',
            'Sub SER_SEND Lib "Wendlev14.EXE" (ByRef Message As String)',
            'Sub SER_RAWSEND Lib "Wendlev14.EXE" (ByRef Message As String)',
            'Function SER_VERSINFO Lib "Wendlev14.EXE" () As String']


class ReleaseArchive(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        tmp = pathlib.Path(cls.enterClassContext(
            tempfile.TemporaryDirectory(prefix="wendle-package-", ignore_cleanup_errors=True)))
        cls.zips, cls.folder = [tmp / "wendle-1.zip", tmp / "wendle-2.zip"], tmp / "unpacked"
        for number, path in enumerate(cls.zips):
            done = run([os.path.join(SOURCE_DIR, "scripts", "package"), "--build-dir",
                        tmp / f"build-{number}", "--output", path], umask=0o022, timeout=900)
            if done.returncode != 0:
                raise AssertionError(f"scripts/package failed:\n{done.stdout[-3000:]}{done.stderr}")
        with zipfile.ZipFile(cls.zips[0]) as archive:
            archive.extractall(cls.folder)
            cls.entries = archive.infolist()
        winelab.ensure_display()  # before the prefix: its programs keep that display
        cls.prefix = winelab.WinePrefix(tmp / "wine" / "prefix")
        cls.addClassCleanup(cls.prefix.stop)

    def test_archive_twice_alike_its_files_exes_defs_readme_and_vba_declarations(self):
        self.assertTrue(self.zips[0].read_bytes() == self.zips[1].read_bytes(), "they differ")
        self.assertEqual(oct(self.zips[0].stat().st_mode & 0o777), "0o644")  # umask 022
        # The package's rule: SOURCE_DATE_EPOCH, else the commit's time.
        stamp = os.environ.get("SOURCE_DATE_EPOCH") or run(
            ["git", "-C", SOURCE_DIR, "log", "-1", "--format=%ct"]).stdout
        date = time.gmtime(int(stamp) // 2 * 2)[:6]  # a zip holds even seconds
        self.assertEqual([(e.filename, e.date_time, e.external_attr >> 16) for e in self.entries],
                         [(name, date, 0o100755 if name.endswith(".EXE") else 0o100644)
                          for name in FILES])
        for name in (name for name in FILES if not name.endswith((".EXE", ".a"))):
            # ASCII lines, each ended by CR LF: no bare CR or LF
            self.assertRegex((self.folder / name).read_bytes(), rb"\A(?:[^\r\n\x80-\xff]*\r\n)+\Z",
                             name)
        for folder, lib, tools, file_format, exports in BITNESS.values():
            dump = run([tools + "objdump", "-f", self.folder / folder / "Wendlev14.EXE"]).stdout
            self.assertIn(f"file format {file_format}", dump)
            self.assertEqual((self.folder / lib / "wendle.def").read_text().splitlines(),
                             ['NAME "Wendlev14.EXE"', "EXPORTS"] + ["    " + e for e in exports])
        module = (self.folder / "vba" / "Wendle.bas").read_bytes().decode()
        blocks = re.search(r"#If VBA7 Then\r\n(.*)\r\n#Else\r\n(.*)\r\n#End If\r\n", module, re.S)
        for block, safe in ((blocks[1], "PtrSafe "), (blocks[2], "")):
            self.assertEqual(sorted(re.findall(r"^Public Declare .*$", block, re.M)),
                             sorted(f"Public Declare {safe}{text}\r" for text in DECLARES))
        self.assertIn("Wendle 1.4 for Windows", (self.folder / "README.txt").read_text())

    def test_hello_built_as_the_readme_says_writes_to_the_port(self):
        folder, _, tools, _, _ = BITNESS[winelab.ARCH]
        readme = (self.folder / "README.txt").read_text()
        build = [found.strip() for found in re.findall(rf"^\s*{tools}gcc .*", readme, re.M)]
        self.assertEqual(len(build), 1, build)
        built = run(shlex.split(build[0]), cwd=self.folder)
        self.assertEqual((built.returncode, built.stdout + built.stderr), (0, ""))
        line = self.enterContext(winelab.PtyLine())
        self.prefix.link_com(5, line.device)  # and no COM42 in a fresh prefix
        for args, code, output, sent in [
            (["5"], 0, "hello: 19 bytes passed to COM5", b"\x0cHello from\xfe\xc0Wendle"),
            (["42"], 1, "hello: COM42 could not be opened at 9600 baud: is the port there, "
                        "and not in use by another program?", b""),
            (["5x"], 2, 'hello: "5x" is not a port number from 1 to 99', b""),
        ]:
            result = self.prefix.run(self.folder / folder / "hello.exe", *args)
            self.assertEqual(result, (code, output + "\r\n"), args)
            self.assertEqual(line.read(idle=0.3, limit=10, expect=len(sent) or None), sent)
        program = self.prefix.start(self.folder / folder / "Wendlev14.EXE")
        found = winelab.probe(self.prefix, ("find", winelab.patience_ms(20)))[0]
        self.assertTrue(found["caption"].startswith("Wendle 1.4"), found)
        winelab.probe(self.prefix, ("post", 0, winelab.WM_SYSCOMMAND, winelab.SC_CLOSE, 0))
        self.assertEqual(program.wait(timeout=winelab.patience(20)), 0)


if __name__ == "__main__":
    winelab.test_main()
