"""scripts/wine32's bookworm-backports source, taken from the machine's own
Debian source in a made-up apt folder, whichever style it is written in;
and a 32-bit Wine test where 32-bit programs cannot run: skipped with its
reason, never passed."""

import os
import subprocess
import tempfile
import unittest

REPO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..")
MAIN = ("Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm bookworm-updates\n"
        "Components: main\nSigned-By: /keys/archive.gpg\n")


class Wine32(unittest.TestCase):
    def test_backports_source_from_the_machines_own(self):
        cases = [  # files in the apt folder, stdout, status
            ({"sources.list.d/debian.sources": MAIN.replace("bookworm bookworm-updates",
                                                            "bookworm-security") + "\n" + MAIN},
             "Types: deb\nURIs: http://mirror.example/debian\nSuites: bookworm-backports\n"
             "Components: main\nSigned-By: /keys/archive.gpg\n", 0),
            ({"sources.list": "# a comment\ndeb http://s.example/debian-security bookworm-security "
              "main\ndeb [arch=amd64 signed-by=/keys/k.gpg] http://one.example/debian bookworm "
              "main contrib\n"},
             "Types: deb\nURIs: http://one.example/debian\nSuites: bookworm-backports\n"
             "Components: main\nSigned-By: /keys/k.gpg\n", 0),
            ({"sources.list": "deb http://two.example/debian bookworm main\n"},
             "Types: deb\nURIs: http://two.example/debian\nSuites: bookworm-backports\n"
             "Components: main\n", 0),
            ({"sources.list": "deb http://x.example/debian trixie main\n"}, "", 1),
        ]
        for files, expected, status in cases:
            with self.subTest(files), tempfile.TemporaryDirectory() as etc:
                os.makedirs(os.path.join(etc, "sources.list.d"))
                for path, text in files.items():
                    with open(os.path.join(etc, path), "w") as f:
                        f.write(text)
                result = subprocess.run(
                    ["bash", "-c", 'source "$0" && wendle_backports_source "$1"',
                     os.path.join(REPO, "scripts", "wine32"), etc], capture_output=True, text=True)
                self.assertEqual((result.stdout, result.returncode), (expected, status))
                self.assertEqual(result.stderr, status * f"no Debian bookworm source found in {etc} "
                                 "to take bookworm-backports from\n")

    def test_32_bit_tests_are_skipped_with_the_reason(self):
        why = "this kernel runs no 32-bit programs and binfmt_misc cannot be mounted here"
        env = dict(os.environ, WENDLE_WINE_TEST="1", WENDLE_WINE_ARCH="win32",
                   WENDLE_WINE32_WAY="unavailable", WENDLE_WINE32_HOW=why,
                   PYTHONPATH=os.path.join(REPO, "winelab"))
        result = subprocess.run(["python3", os.path.join(REPO, "tests/serial/run_in_wine.py"),
                                 "/tmp/p", "x.exe"], env=env, capture_output=True, text=True)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (77, f"SKIPPED: {why}\n", ""))


if __name__ == "__main__":
    unittest.main()
