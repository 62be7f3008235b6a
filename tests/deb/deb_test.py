#!/usr/bin/env python3
"""Uses the Debian packages as a user gets them.

    python3 tests/deb/deb_test.py DIR    (DIR holds wendle_<version>_amd64.deb
                                          and wendle_<version>_arm64.deb)

The amd64 package is installed with dpkg into a fresh root (its own dpkg
database; the libraries it depends on are the machine's) and its tools are
run by name from PATH: a message translated, one sent to a pseudo-terminal,
the man pages read with man, the bash completion asked. The arm64 package
is unpacked and its tools run under qemu-user: the same send, --decode. Both
pass lintian without errors. Ends with "N passed, N failed".
"""
import glob
import os
import pty
import re
import subprocess
import sys
import tempfile

results = []


def check(name, ok, detail=""):
    results.append(ok)
    print(("ok    " if ok else "FAIL  ") + name + ("" if ok else ": " + detail))


def run(args, env=None, stdin=None, timeout=60):
    return subprocess.run(args, env=env, input=stdin, capture_output=True, timeout=timeout)


def send_to_pty(command):
    """Runs `command` + [slave path, ...] and returns what reached the master."""
    master, slave = pty.openpty()
    path = os.ttyname(slave)
    try:
        proc = run([part.replace("PTY", path) for part in command])
        got = b""
        os.set_blocking(master, False)
        try:
            while chunk := os.read(master, 4096):
                got += chunk
        except BlockingIOError:
            pass
        return proc, got
    finally:
        os.close(master)
        os.close(slave)


def install_amd64(deb, root):
    os.makedirs(f"{root}/var/lib/dpkg/updates")
    os.makedirs(f"{root}/var/lib/dpkg/info")
    open(f"{root}/var/lib/dpkg/status", "w").close()
    # Its dependencies (libc6, libpng16-16) are the machine's, not in the root.
    return run(["dpkg", f"--root={root}", "--force-depends", "--force-not-root",
                "--no-triggers", "-i", deb])


def check_amd64(deb):
    root = tempfile.mkdtemp(prefix="wendle-deb-")
    try:
        proc = install_amd64(deb, root)
        check("amd64: dpkg -i into a fresh root", proc.returncode == 0, proc.stderr.decode())
        listed = run(["dpkg", f"--root={root}", "-L", "wendle"]).stdout.decode().split()
        env = dict(os.environ, PATH=f"{root}/usr/bin:/usr/bin:/bin")
        for tool in ("wendle-send", "wendle-display", "wendle-translate"):
            found = run(["sh", "-c", f"command -v {tool}"], env=env).stdout.decode().strip()
            check(f"amd64: {tool} from PATH, owned by the package",
                  found == f"{root}/usr/bin/{tool}" and f"/usr/bin/{tool}" in listed, found)

        cases = [  # what runs, what comes out
            (["wendle-translate", "--hex", "<CLS>Hi<13>"], b"0C 48 69 0D\n"),
            (["wendle-translate", "--decode", "--names"], b"<CLS>Hi<KTA_LINE2>"),
            (["wendle-display", "--dump", "--size", "16x2", "-"], b"Hello" + b" " * 11 + b"\n"),
        ]
        stdin = {"wendle-display": b"\x0cHello", "wendle-translate": b"\x0cHi\xfe\xc0"}
        for args, want in cases:
            proc = run(args, env=env, stdin=stdin.get(args[0]))
            check(f"amd64: {' '.join(args)}", proc.stdout.startswith(want),
                  repr(proc.stdout) + proc.stderr.decode())

        proc, got = send_to_pty(
            ["env", f"PATH={env['PATH']}", "wendle-send", "-p", "PTY", "<CLS>Hello<KTA_LINE2>"])
        check("amd64: wendle-send to a pty", proc.returncode == 0 and got == b"\x0cHello\xfe\xc0",
              repr(got) + proc.stderr.decode())

        # The pages are the tools' --help: each names its options.
        man_env = dict(env, MANPATH=f"{root}/usr/share/man", MANWIDTH="80", LC_ALL="C.UTF-8")
        for tool, option in (("wendle-send", "--baud"), ("wendle-display", "--profile"),
                             ("wendle-translate", "--decode")):
            page = run(["man", tool], env=man_env).stdout.decode()
            check(f"amd64: man {tool}", re.search(f"NAME\\s+{tool}\\s+-\\s", page) is not None
                  and option in page, page[:200])

        completion = f"{root}/usr/share/bash-completion/completions"
        for line, want in (("wendle-send --ba", "--baud"), ("wendle-send -b 19", "19200"),
                           ("wendle-display --size 20", "20x2 20x4"),
                           ("wendle-display --profile p", "prefix-only"),
                           ("wendle-translate --dec", "--decode")):
            script = (f"source {completion}/{line.split()[0]}; COMP_WORDS=({line}); "
                      "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                      '_wendle "${COMP_WORDS[0]}"; echo "${COMPREPLY[*]}"')
            proc = run(["bash", "-c", script], env=env)
            check(f"amd64: completion of '{line}'", proc.stdout.decode().strip() == want,
                  proc.stdout.decode() + proc.stderr.decode())
    finally:
        subprocess.run(["rm", "-rf", root])


def check_arm64(deb):
    root = tempfile.mkdtemp(prefix="wendle-deb-arm64-")
    try:
        run(["dpkg-deb", "-x", deb, root])
        tools = f"{root}/usr/bin"
        machine = run(["file", "-b", f"{tools}/wendle-send"]).stdout.decode()
        check("arm64: the programs are aarch64", "ARM aarch64" in machine, machine)
        qemu = ["qemu-aarch64", "-L", "/usr/aarch64-linux-gnu"]
        proc = run(qemu + [f"{tools}/wendle-translate", "--decode", "--names"],
                   stdin=b"\x0cHi\xfe\xc0\x01")
        check("arm64: wendle-translate --decode --names under qemu",
              proc.stdout == b"<CLS>Hi<KTA_LINE2,HOME>", repr(proc.stdout) + proc.stderr.decode())
        proc, got = send_to_pty(qemu + [f"{tools}/wendle-send", "-p", "PTY", "-b", "19200",
                                             "<CLS>Pi<254,1>"])
        check("arm64: wendle-send to a pty under qemu",
              proc.returncode == 0 and got == b"\x0cPi\xfe\x01", repr(got) + proc.stderr.decode())
        proc = run(qemu + [f"{tools}/wendle-display", "--dump", "-"], stdin=b"\x0cPi")
        check("arm64: wendle-display --dump under qemu", proc.stdout.startswith(b"Pi  "),
              repr(proc.stdout) + proc.stderr.decode())
    finally:
        subprocess.run(["rm", "-rf", root])


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: deb_test.py DIR (the folder scripts/package_deb wrote)")
    debs = {arch: glob.glob(f"{sys.argv[1]}/wendle_*_{arch}.deb") for arch in ("amd64", "arm64")}
    for arch, found in debs.items():
        check(f"{arch}: one package in {sys.argv[1]}", len(found) == 1, str(found))
    if debs["amd64"]:
        check_amd64(debs["amd64"][0])
    if debs["arm64"]:
        check_arm64(debs["arm64"][0])
    for deb in debs["amd64"] + debs["arm64"]:
        proc = run(["lintian", "--fail-on", "error", deb], timeout=600)
        check(f"lintian {os.path.basename(deb)}: no errors", proc.returncode == 0,
              proc.stdout.decode())
    failed = results.count(False)
    print(f"debs: {len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
