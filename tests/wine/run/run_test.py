"""scripts/run as a newcomer meets it: --help and a bad DEVICE answered
before anything is built or started; the demo without an X display; on a
real terminal (tmux), the module or the monitor showing each Send, and
Ctrl+C ending the run with the terminal restored and nothing left behind."""

import glob
import os
import pty
import subprocess
import sys
import tempfile
import termios
import time
import unittest

import winelab
from winelab import BAUD_CHOICES, MESSAGE, PORT_NUMBER, SEND, probe

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(REPO, "scripts"))
from run_lines import line_settings  # noqa: E402

SCRIPT = os.path.join(REPO, "scripts", "run")
# The tests' own run folder and prefix, kept between test runs; scripts/run
# keeps the x64 build's prefix apart.
RUN_DIR = winelab.build_path("scripts-run")
PREFIX = os.path.join(RUN_DIR, "prefix" if winelab.ARCH == "win32" else "prefix-win64")
ARCH = ["--arch", winelab.ARCH]
# The live runs need an X display: the caller's, or a private Xvfb.
winelab.ensure_display()
# What scripts/run says where it starts the x64 build by itself.
X64_BY_DEFAULT = ("run: this machine runs no 32-bit programs natively: starting the x64 build "
                  "(build/win64); --arch win32 runs the 32-bit one under emulation, slowly")
ENV = dict(os.environ, WENDLE_RUN_DIR=RUN_DIR)
HEADLESS = {k: v for k, v in ENV.items() if k != "DISPLAY"}


def run_script(*args, env=ENV, timeout=winelab.patience(600)):
    """scripts/run to its end; one that overstays gets SIGTERM, so that it
    still ends what it started. (status, stdout, stderr)"""
    proc = subprocess.Popen([SCRIPT, *args], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.terminate()
        out, err = proc.communicate(timeout=60)
        err += f"\n(ended after {timeout} s)"
    return proc.returncode, out, err


def processes(named=None):
    """{pid: command name} of the processes that belong to the run's prefix
    (in their command line or environment), or that are named so and were
    started by a run in RUN_DIR (the other build's suite may be running
    beside this one, with Xvfbs of its own)."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as comm, open(f"/proc/{pid}/cmdline", "rb") as cmd, \
                    open(f"/proc/{pid}/environ", "rb") as env:
                name, text = comm.read().strip(), cmd.read() + env.read()
        except OSError:
            continue
        if named is None and PREFIX.encode() in text:
            found[int(pid)] = name
        elif name == named and f"WENDLE_RUN_DIR={RUN_DIR}".encode() in text:
            found[int(pid)] = name
    return found


class Leftovers:
    """What a run may leave behind: its prefix's processes (the display, Wine),
    links of its COM ports to pseudo-terminals, program output files, its Xvfb."""

    def __init__(self):
        self.outputs = self._outputs()

    @staticmethod
    def _outputs():
        return set(glob.glob(os.path.join(RUN_DIR, "*out-*")))

    def check(self, test):
        time.sleep(0.2)
        links = [name for name in os.listdir(os.path.join(PREFIX, "dosdevices"))
                 if os.path.realpath(os.path.join(PREFIX, "dosdevices", name)).startswith("/dev/pts/")]
        test.assertEqual(links, [])
        test.assertEqual(processes(), {})
        test.assertEqual(processes("Xvfb"), {})
        test.assertEqual(self._outputs() - self.outputs, set())


class Terminal:
    """A tmux session of its own, 100 x 32, running one shell command."""

    def __init__(self, command):
        self.tmux = ["tmux", "-L", f"wendle-run-test-{os.getpid()}", "-f", "/dev/null"]
        subprocess.run(self.tmux + ["new-session", "-d", "-x", "100", "-y", "32", command],
                       env=ENV, check=True)

    def screen(self):
        return subprocess.run(self.tmux + ["capture-pane", "-p", "-S", "-200"], capture_output=True,
                              text=True, check=True).stdout

    def wait_for(self, text, timeout):
        """Waits for `text`, or for any one of a tuple of texts."""
        texts = (text,) if isinstance(text, str) else text
        deadline = time.monotonic() + timeout
        while not any(t in self.screen() for t in texts):
            if time.monotonic() > deadline:
                raise AssertionError(f"{text!r} never showed; the terminal:\n{self.screen()}")
            time.sleep(0.2)

    def ask(self, variable):
        return subprocess.run(self.tmux + ["display-message", "-p", variable], capture_output=True,
                              text=True, check=True).stdout.strip()

    def close(self):
        """Ends the session, and waits for the run to finish its clean-up
        (the hang-up ends it), so that the next case does not find it there."""
        subprocess.run(self.tmux + ["kill-server"], stderr=subprocess.DEVNULL, check=False)
        with open(os.path.join(RUN_DIR, "run.lock"), "a") as lock:
            subprocess.run(["flock", "-w", "120", str(lock.fileno())], pass_fds=[lock.fileno()],
                           check=False)


class BeforeAnything(unittest.TestCase):
    def test_help_and_bad_devices(self):
        cases = [  # arguments, status, the first line of stdout, or all of stderr
            (["--help"], 0,
             "scripts/run: Wendle (Wendlev14.EXE) under Wine, with a serial display to send to."),
            (["/no/such/port"], 2, "run: /no/such/port does not exist: give a serial port such "
             "as /dev/ttyUSB0, or no DEVICE for the virtual display"),
            (["/dev/null"], 2, "run: /dev/null is not a serial port (not a terminal device)"),
            ([SCRIPT], 2, f"run: {SCRIPT} is not a serial port (not a character device)"),
            (["--arch", "win16"], 2, "run: --arch is win32 or win64, not 'win16'\nusage: "
             "scripts/run [--arch win32|win64] [--monitor] [--size SIZE] [--message TEXT] "
             "[--screenshot FILE] [--png FILE] [DEVICE] (see --help)"),
            (["--size", "17x2"], 2, "run: no glass of size 17x2: use 8x1, 16x1, 16x2, 16x4, "
             "20x2, 20x4, 24x2 or 40x2"),
        ]
        for args, status, first_line in cases:
            with self.subTest(args=args):
                code, out, err = run_script(*args, timeout=10)
                self.assertEqual(code, status)
                if status:
                    self.assertEqual(out, "")  # nothing built or started
                    self.assertEqual(err, first_line + "\n")
                else:
                    self.assertEqual(out.splitlines()[0], first_line)
                    self.assertNotIn("run: building", out)


def runs_32_bit_natively():
    if subprocess.run(["/usr/lib/wine/wine", "--version"], stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL, check=False).returncode != 0:
        return False
    try:
        with open("/proc/sys/fs/binfmt_misc/qemu-i386") as handler:
            return handler.readline().strip() != "enabled"
    except OSError:
        return True


class Demo(unittest.TestCase):
    def test_without_a_display(self):
        leftovers = Leftovers()
        # The x64 build is the one started by itself where 32-bit programs
        # do not run natively; the 32-bit one where they do.
        by_default = (winelab.ARCH == "win64") != runs_32_bit_natively()
        with tempfile.TemporaryDirectory() as folder:
            shot, picture = os.path.join(folder, "w.png"), os.path.join(folder, "d.png")
            code, out, err = run_script(*([] if by_default else ARCH), "--screenshot", shot,
                                        "--png", picture, env=HEADLESS)
            self.assertEqual(code, 0, out + err)
            lines = out.splitlines()
            self.assertEqual(X64_BY_DEFAULT in lines, by_default and winelab.ARCH == "win64")
            self.assertIn(f"run: building Wendlev14.EXE and its window probe ({winelab.ARCH} "
                          "preset)", out)
            start = lines.index("Hello           ")
            self.assertEqual(lines[start:start + 3],
                             ["Hello           ", "world           ", "cursor 2 6"])
            with open(picture, "rb") as png:
                header = png.read(24)
            # The signature, then IHDR: a 16x2 module is 526 x 136 pixels.
            self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n")
            self.assertEqual(header[16:24], (526).to_bytes(4, "big") + (136).to_bytes(4, "big"))
            with open(shot, "rb") as png:
                self.assertEqual(png.read(8), b"\x89PNG\r\n\x1a\n")
        leftovers.check(self)


class Live(unittest.TestCase):
    def test_sends_show_and_ctrl_c_ends(self):
        cases = [  # arguments, sends (port, baud, message), shown while running, after the end
            ("", [(1, 9600, "<CLS>Hello<KTA_LINE2>world"), (3, 9600, "port<13>")],
             ["║Hello           ║", "║world           ║"],
             ["COM3 9600 8N1 <- 70 6F 72 74 0D  port<RETURN>"]),
            ("--monitor", [(1, 9600, "<CLS>Hi"), (4, 38400, "<KTA_LINE2>x")],
             ["COM1 9600 8N1 <- 0C 48 69  <CLS>Hi", "COM4 38400 8N1 <- FE C0 78  <KTA_LINE2>x"],
             []),
        ]
        for args, sends, shown, after in cases:
            with self.subTest(args=args):
                leftovers = Leftovers()
                # A killed run's link to a pseudo-terminal, now perhaps
                # someone's terminal (the demo above made the prefix).
                stale = winelab.com_path(PREFIX, 5)
                if os.path.lexists(stale):
                    os.unlink(stale)
                master, slave = pty.openpty()
                os.symlink(os.ttyname(slave), stale)
                self.addCleanup(os.close, master)
                self.addCleanup(os.close, slave)
                terminal = Terminal(f"{SCRIPT} {' '.join(ARCH)} {args}; echo run-ended-$?; "
                                    "stty -a; sleep 600")
                try:
                    # The display's title says its way out in full where the
                    # terminal is wide enough, "q quits" where it is not.
                    terminal.wait_for(("Ctrl+C ends", "q quits"), winelab.patience(300))
                    prefix = winelab.WinePrefix(PREFIX)
                    self.assertTrue(probe(prefix, ("find", winelab.patience_ms(30)))[0]["found"])
                    for port, baud, message in sends:
                        probe(prefix, ("settext", PORT_NUMBER, port), ("click", BAUD_CHOICES[baud]),
                              ("settext", MESSAGE, message), ("click", SEND))
                    for text in shown:
                        terminal.wait_for(text, winelab.patience(20))
                    subprocess.run(terminal.tmux + ["send-keys", "C-c"], check=True)
                    terminal.wait_for("run-ended-0", winelab.patience(60))
                    for text in after:
                        self.assertIn(text, terminal.screen())
                    self.assertEqual(terminal.ask("#{alternate_on} #{cursor_flag}"), "0 1")
                    self.assertIn(" echo ", terminal.screen())
                finally:
                    terminal.close()
                leftovers.check(self)


class LineSettings(unittest.TestCase):
    def test_line_settings(self):
        cs8 = termios.CS8 | termios.CREAD
        cases = [  # iflag, cflag, speed, shown
            (0, cs8, termios.B9600, "9600 8N1"),
            (0, termios.CS7 | termios.PARENB | termios.CSTOPB, termios.B19200, "19200 7E2"),
            (0, cs8 | termios.PARENB | termios.PARODD, termios.B1200, "1200 8O1"),
            (0, cs8 | termios.CRTSCTS, termios.B38400, "38400 8N1 RTS/CTS"),
            (termios.IXON | termios.IXOFF, termios.CS5, termios.B2400, "2400 5N1 XON/XOFF"),
        ]
        for iflag, cflag, speed, shown in cases:
            with self.subTest(shown=shown):
                self.assertEqual(line_settings([iflag, 0, cflag, 0, speed, speed, []]), shown)


if __name__ == "__main__":
    unittest.main()
