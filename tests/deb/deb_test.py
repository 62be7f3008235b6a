#!/usr/bin/env python3
"""Uses the Debian packages scripts/package_deb wrote to DIR: deb_test.py DIR.
amd64 installed into a fresh root, arm64 run under qemu-user; both linted."""
import glob
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../winelab"))
from winelab import PtyLine  # noqa: E402

results = []


def check(name, ok, detail=""):
    results.append(ok)
    print(("ok    " if ok else "FAIL  ") + name + ("" if ok else ": " + detail))


def run(args, env=None, stdin=None):
    """The result of `args`, PTY in them a pseudo-terminal, and what reached it."""
    line = PtyLine()
    proc = subprocess.run([part.replace("PTY", line.device) for part in args], env=env,
                          input=stdin, capture_output=True, timeout=600)
    got = line.read(idle=0.1, limit=5)
    line.close()
    return proc, got


def use_tools(arch, root, runner=()):
    cases = [  # tool and arguments, standard input, what it prints, what reaches the pty
        (["wendle-translate", "--decode", "--names"], b"\x0cHi\xfe\xc0\x01",
         b"<CLS>Hi<KTA_LINE2,HOME>", b""),
        (["wendle-display", "--dump", "-"], b"\x0cPi", b"Pi" + b" " * 14 + b"\n", b""),
        (["wendle-send", "-p", "PTY", "-b", "19200", "<CLS>Pi<254,1>"], None, b"",
         b"\x0cPi\xfe\x01"),
    ]
    for (tool, *args), stdin, printed, sent in cases:
        proc, got = run([*runner, f"{root}/usr/bin/{tool}", *args], stdin=stdin)
        check(f"{arch}: {tool} {' '.join(args)}",
              proc.returncode == 0 and proc.stdout.startswith(printed) and got == sent,
              repr((proc.stdout, proc.stderr, got)))


def check_amd64(deb, root):
    for folder in ("updates", "info"):
        os.makedirs(f"{root}/var/lib/dpkg/{folder}")
    open(f"{root}/var/lib/dpkg/status", "w").close()
    proc, _ = run(["dpkg", f"--root={root}", "--force-depends", "--force-not-root",
                   "--no-triggers", "-i", deb])
    check("amd64: dpkg -i into a fresh root", proc.returncode == 0, proc.stderr.decode())
    use_tools("amd64", root)
    # The completion asks the tools on PATH for their choices. (lintian checks that each
    # program has its man page, and that man reads it without a warning.)
    env = dict(os.environ, LC_ALL="C.UTF-8", PATH=f"{root}/usr/bin:/usr/bin:/bin")
    for tool, line, offered in (("wendle-send", "wendle-send -b 19", "19200"),
                                ("wendle-display", "wendle-display --size 20", "20x2 20x4"),
                                ("wendle-translate", "wendle-translate --dec", "--decode")):
        proc, _ = run(["bash", "-c", f"source {root}/usr/share/bash-completion/completions/{tool}; "
                       f'COMP_WORDS=({line}); COMP_CWORD=$((${{#COMP_WORDS[@]}} - 1)); '
                       '_wendle "${COMP_WORDS[0]}"; echo "${COMPREPLY[*]}"'], env)
        check(f"amd64: completion of '{line}'", proc.stdout.decode().strip() == offered,
              repr((proc.stdout, proc.stderr)))


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: deb_test.py DIR (the folder scripts/package_deb wrote)")
    for arch in ("amd64", "arm64"):
        debs = glob.glob(f"{sys.argv[1]}/wendle_*_{arch}.deb")
        check(f"{arch}: one package in {sys.argv[1]}", len(debs) == 1, str(debs))
        for deb in debs:
            with tempfile.TemporaryDirectory(prefix=f"wendle-deb-{arch}-") as root:
                if arch == "amd64":
                    check_amd64(deb, root)
                else:  # qemu-aarch64 runs nothing but aarch64 programs: no dpkg -i
                    run(["dpkg-deb", "-x", deb, root])
                    use_tools("arm64", root, ["qemu-aarch64", "-L", "/usr/aarch64-linux-gnu"])
                # lintian leaves temporary databases in TMPDIR.
                proc, _ = run(["lintian", "--allow-root", "--fail-on", "error,warning", deb],
                              env=dict(os.environ, TMPDIR=root))
                check(f"lintian {os.path.basename(deb)}: no errors, no warnings",
                      proc.returncode == 0, proc.stdout.decode())
    failed = results.count(False)
    print(f"debs: {len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
