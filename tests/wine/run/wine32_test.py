"""scripts/wine32's bookworm-backports source, taken from the machine's own
Debian source in a made-up apt folder: the URIs and keyring of the plain
bookworm suite, whichever style the machine's source is written in. And a
32-bit Wine test where 32-bit programs cannot run at all: skipped with its
reason, never passed."""

import os
import subprocess
import tempfile
import unittest

REPO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
SCRIPT = os.path.join(REPO, "scripts", "wine32")

SECURITY = """Types: deb
URIs: http://security.example/debian-security
Suites: bookworm-security
Components: main
Signed-By: /keys/security.gpg
"""
MAIN = """Types: deb
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /keys/archive.gpg
"""


def stanza(uri, keyring=None):
    lines = ["Types: deb", f"URIs: {uri}", "Suites: bookworm-backports", "Components: main"]
    return "\n".join(lines + ([f"Signed-By: {keyring}"] if keyring else [])) + "\n"


class BackportsSource(unittest.TestCase):
    def test_source_from_the_machines_own(self):
        cases = [  # name, files in the apt folder, stdout, status
            ("deb822, security first", {"sources.list.d/debian.sources": SECURITY + "\n" + MAIN},
             stanza("http://mirror.example/debian", "/keys/archive.gpg"), 0),
            ("one-line with options",
             {"sources.list": "# a comment\ndeb [arch=amd64 signed-by=/keys/k.gpg] "
              "http://one.example/debian bookworm main contrib\n"},
             stanza("http://one.example/debian", "/keys/k.gpg"), 0),
            ("one-line, security first, no options",
             {"sources.list": "deb http://s.example/debian-security bookworm-security main\n"
              "deb http://two.example/debian bookworm main\n"},
             stanza("http://two.example/debian"), 0),
            ("backports there already",
             {"sources.list.d/debian.sources": MAIN,
              "sources.list.d/b.list": "deb http://b.example/debian bookworm-backports main\n"},
             "", 0),
            ("no bookworm source", {"sources.list": "deb http://x.example/debian trixie main\n"},
             "", 1),
        ]
        for name, files, expected, status in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as etc:
                os.makedirs(os.path.join(etc, "sources.list.d"))
                for path, text in files.items():
                    with open(os.path.join(etc, path), "w") as f:
                        f.write(text)
                result = subprocess.run(
                    ["bash", "-c", f'source "$0" && wendle_backports_source "$1"', SCRIPT, etc],
                    capture_output=True, text=True, check=False)
                self.assertEqual((result.stdout, result.returncode), (expected, status),
                                 result.stderr)
                if status:
                    self.assertEqual(result.stderr, "no Debian bookworm source found in "
                                     f"{etc} to take bookworm-backports from\n")


class NoWayToRun(unittest.TestCase):
    def test_32_bit_tests_are_skipped_with_the_reason(self):
        why = "this kernel runs no 32-bit programs and binfmt_misc cannot be mounted here"
        env = dict(os.environ, WENDLE_WINE_TEST="1", WENDLE_WINE_ARCH="win32",
                   WENDLE_WINE32_WAY="unavailable", WENDLE_WINE32_HOW=why,
                   PYTHONPATH=os.path.join(REPO, "tests", "wine"))
        for script in (["tests/wine/exports/exportlab.py", "/tmp/p", "x.exe"],
                       ["tests/wine/window/test_layout.py", "Layout"]):
            with self.subTest(script[0]):
                result = subprocess.run(["python3", os.path.join(REPO, script[0]), *script[1:]],
                                        env=env, capture_output=True, text=True, check=False)
                self.assertEqual((result.returncode, result.stdout, result.stderr),
                                 (77, f"SKIPPED: {why}\n", ""))


if __name__ == "__main__":
    unittest.main()
