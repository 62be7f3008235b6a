"""Uses the Debian packages that scripts/package_deb wrote to DIR:
PYTHONPATH=winelab python3 tests/deb/deb_test.py DIR. The amd64 one installed
into a fresh root, the arm64 one's tools run under qemu-user; both linted."""
import glob
import os
import sys
import tempfile
import unittest

from winelab import PtyLine, run, test_main

DEBS = sys.argv.pop(1)  # the rest is unittest's
# Tool and arguments (PTY: a pseudo-terminal), standard input, the start of
# what it prints, what reaches the pty.
USES = [
    (["wendle-translate", "--decode", "--names"], b"\x0cHi\xfe\xc0\x01",
     b"<CLS>Hi<KTA_LINE2,HOME>", b""),
    (["wendle-display", "--dump", "-"], b"\x0cPi", b"Pi" + b" " * 14 + b"\n", b""),
    (["wendle-send", "-p", "PTY", "-b", "19200", "<CLS>Pi<254,1>"], None, b"", b"\x0cPi\xfe\x01"),
]
# What the completion offers: it asks the tools on PATH for their choices.
COMPLETIONS = [
    ("wendle-send", "wendle-send -b 19", "19200"),
    ("wendle-display", "wendle-display --size 20", "20x2 20x4"),
    ("wendle-translate", "wendle-translate --dec", "--decode"),
]


class Packages(unittest.TestCase):
    def unpacked(self, arch, how):
        """The package's root after `how` (a command, ROOT and DEB in it)."""
        debs = glob.glob(f"{DEBS}/wendle_*_{arch}.deb")
        self.assertEqual(len(debs), 1, f"one package in {DEBS}")
        root = self.enterContext(tempfile.TemporaryDirectory(prefix=f"wendle-deb-{arch}-"))
        if arch == "amd64":
            for folder in ("updates", "info"):
                os.makedirs(f"{root}/var/lib/dpkg/{folder}")
            open(f"{root}/var/lib/dpkg/status", "w").close()
        done = run([part.replace("ROOT", root).replace("DEB", debs[0]) for part in how])
        self.assertEqual(done.returncode, 0, done.stderr)
        # lintian leaves temporary databases in TMPDIR.
        lint = run(["lintian", "--allow-root", "--fail-on", "error,warning", debs[0]],
                   env=dict(os.environ, TMPDIR=root))
        self.assertEqual(lint.returncode, 0, lint.stdout)
        return root

    def use_tools(self, root, runner=()):
        for (tool, *args), stdin, printed, sent in USES:
            with self.subTest(tool=tool), PtyLine() as line:
                args = [arg.replace("PTY", line.device) for arg in args]
                result = run([*runner, f"{root}/usr/bin/{tool}", *args], input=stdin, text=False)
                self.assertEqual((result.returncode, result.stdout[:len(printed)],
                                  line.read(idle=0.1, limit=5)), (0, printed, sent), result.stderr)

    def test_amd64_installed_into_a_fresh_root(self):
        root = self.unpacked("amd64", ["dpkg", "--root=ROOT", "--force-depends",
                                       "--force-not-root", "--no-triggers", "-i", "DEB"])
        self.use_tools(root)
        env = dict(os.environ, LC_ALL="C.UTF-8", PATH=f"{root}/usr/bin:/usr/bin:/bin")
        for tool, line, offered in COMPLETIONS:
            script = (f"source {root}/usr/share/bash-completion/completions/{tool}; "
                      f"COMP_WORDS=({line}); COMP_CWORD=$((${{#COMP_WORDS[@]}} - 1)); "
                      '_wendle "${COMP_WORDS[0]}"; echo "${COMPREPLY[*]}"')
            self.assertEqual(run(["bash", "-c", script], env=env).stdout.strip(), offered, line)

    def test_arm64_tools_run_under_qemu(self):
        # qemu-aarch64 runs nothing but aarch64 programs: no dpkg -i.
        root = self.unpacked("arm64", ["dpkg-deb", "-x", "DEB", "ROOT"])
        self.use_tools(root, ["qemu-aarch64", "-L", "/usr/aarch64-linux-gnu"])


if __name__ == "__main__":
    test_main(wine=False)
