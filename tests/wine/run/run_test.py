"""scripts/run as a newcomer meets it: --help and a bad DEVICE answered
before anything is built or started; the demo without an X display; on a
real terminal (tmux), the module or the monitor showing each Send, and
Ctrl+C ending the run with the terminal restored and nothing left behind."""

import glob
import os
import pty
import subprocess
import tempfile
import time
import unittest

import winelab
from winelab import BAUD_CHOICES, MESSAGE, PORT_NUMBER, SEND, probe

SCRIPT = os.path.abspath(os.path.join(os.path.dirname(__file__), "../../../scripts/run"))
# The tests' own run folder, kept between test runs; the x64 build has a
# prefix of its own in it.
RUN_DIR = winelab.build_path("scripts-run")
PREFIX = os.path.join(RUN_DIR, "prefix" if winelab.ARCH == "win32" else "prefix-win64")
ARCH = ["--arch", winelab.ARCH]
winelab.ensure_display()  # for the live runs
ENV = dict(os.environ, WENDLE_RUN_DIR=RUN_DIR)
ENV_MARK = f"WENDLE_RUN_DIR={RUN_DIR}".encode()


def run_script(*args, env=ENV, timeout=winelab.patience(600)):
    """(status, stdout, stderr) of scripts/run; one that overstays gets
    SIGTERM, so that it still ends what it started."""
    proc = subprocess.Popen([SCRIPT, *args], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    try:
        out, err = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.terminate()
        out, err = proc.communicate(timeout=60)
    return proc.returncode, out, err


def leftovers():
    """What a run may leave behind: links of the prefix's COM ports to
    pseudo-terminals, processes of the prefix (the display, Wine), an Xvfb
    it started (not one of the other build's suite), program output files."""
    time.sleep(0.2)
    devices = os.path.join(PREFIX, "dosdevices")
    found = [name for name in os.listdir(devices)
             if os.path.realpath(os.path.join(devices, name)).startswith("/dev/pts/")]
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as comm, open(f"/proc/{pid}/cmdline", "rb") as cmd, \
                    open(f"/proc/{pid}/environ", "rb") as environ:
                name, text = comm.read().strip(), cmd.read() + environ.read()
        except OSError:
            continue
        if PREFIX.encode() in text or (name == "Xvfb" and ENV_MARK in text):
            found.append(name)
    return found + glob.glob(os.path.join(RUN_DIR, "*out-*"))


class Run(unittest.TestCase):
    def test_help_and_bad_arguments_before_anything_is_built(self):
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
        for args, status, text in cases:
            with self.subTest(args=args):
                code, out, err = run_script(*args, timeout=10)
                if status:  # one line, and nothing built or started
                    self.assertEqual((code, out, err), (status, "", text + "\n"))
                else:
                    self.assertEqual((code, out.splitlines()[0]), (0, text))

    def test_demo_without_a_display(self):
        # The build started when none is named: the x64 one where 32-bit
        # programs do not run natively.
        natively = subprocess.run(["bash", "-c", "/usr/lib/wine/wine --version && ! grep -qsx "
                                   "enabled /proc/sys/fs/binfmt_misc/qemu-i386"],
                                  capture_output=True).returncode == 0
        by_itself = (winelab.ARCH == "win64") != natively
        with tempfile.TemporaryDirectory() as folder:
            shot, picture = os.path.join(folder, "w.png"), os.path.join(folder, "d.png")
            code, out, err = run_script(*([] if by_itself else ARCH), "--screenshot", shot,
                                        "--png", picture,
                                        env={k: v for k, v in ENV.items() if k != "DISPLAY"})
            self.assertEqual(code, 0, out + err)
            lines = out.splitlines()
            x64 = ("run: this machine runs no 32-bit programs natively: starting the x64 build "
                   "(build/win64); --arch win32 runs the 32-bit one under emulation, slowly")
            self.assertEqual(x64 in lines, by_itself and winelab.ARCH == "win64")
            self.assertIn(f"run: building Wendlev14.EXE and its window probe ({winelab.ARCH} "
                          "preset)", lines)
            self.assertIn("run: COM1: a virtual 16x2 display module", lines)
            start = lines.index("run: the module's screen (its rows, then the cursor's row "
                                "and column):")
            self.assertEqual(lines[start + 1:start + 4],
                             ["Hello           ", "world           ", "cursor 2 6"])
            # The signature, then IHDR: a 16x2 module is 526 x 136 pixels.
            with open(picture, "rb") as png, open(shot, "rb") as window:
                header = png.read(24)
                self.assertEqual((header[:8], header[16:24], window.read(8)),
                                 (b"\x89PNG\r\n\x1a\n", bytes.fromhex("0000020e00000088"),
                                  b"\x89PNG\r\n\x1a\n"))
        self.assertEqual(leftovers(), [])

    def test_live_sends_show_and_ctrl_c_ends(self):
        cases = [  # arguments, sends (port, baud, message), shown while running, after the end
            ("", [(1, 9600, "<CLS>Hello<KTA_LINE2>world"), (3, 9600, "port<13>")],
             ["║Hello           ║", "║world           ║"],
             ["COM3 9600 8N1 <- 70 6F 72 74 0D  port<RETURN>"]),
            ("--monitor", [(1, 9600, "<CLS>Hi"), (4, 38400, "<KTA_LINE2>x")],
             ["COM1 9600 8N1 <- 0C 48 69  <CLS>Hi", "COM4 38400 8N1 <- FE C0 78  <KTA_LINE2>x"],
             []),
        ]
        tmux = ["tmux", "-L", f"wendle-run-test-{os.getpid()}", "-f", "/dev/null"]

        def screen():
            return subprocess.run(tmux + ["capture-pane", "-p", "-S", "-200"],
                                  capture_output=True, text=True, check=True).stdout

        def wait_for(texts, timeout):
            deadline = time.monotonic() + winelab.patience(timeout)
            while not any(text in screen() for text in texts):
                self.assertLess(time.monotonic(), deadline, f"{texts} never showed:\n{screen()}")
                time.sleep(0.2)

        for args, sends, shown, after in cases:
            with self.subTest(args=args):
                # A killed run's link to a pseudo-terminal, now perhaps
                # someone's terminal (the demo made the prefix).
                stale = winelab.com_path(PREFIX, 5)
                if os.path.lexists(stale):
                    os.unlink(stale)
                master, slave = pty.openpty()
                os.symlink(os.ttyname(slave), stale)
                self.addCleanup(os.close, master)
                self.addCleanup(os.close, slave)
                subprocess.run(tmux + ["new-session", "-d", "-x", "100", "-y", "32",
                                       f"{SCRIPT} {' '.join(ARCH)} {args}; echo run-ended-$?; "
                                       "stty -a; sleep 600"], env=ENV, check=True)
                try:
                    # The title says the way out in full where the terminal
                    # is wide enough, "q quits" where it is not.
                    wait_for(("Ctrl+C ends", "q quits"), 300)
                    prefix = winelab.WinePrefix(PREFIX)
                    self.assertTrue(probe(prefix, ("find", winelab.patience_ms(30)))[0]["found"])
                    for port, baud, message in sends:
                        probe(prefix, ("settext", PORT_NUMBER, port), ("click", BAUD_CHOICES[baud]),
                              ("settext", MESSAGE, message), ("click", SEND))
                    for text in shown:
                        wait_for((text,), 20)
                    subprocess.run(tmux + ["send-keys", "C-c"], check=True)
                    wait_for(("run-ended-0",), 60)
                    for text in after + [" echo "]:  # stty -a: echo is back on
                        self.assertIn(text, screen())
                    restored = subprocess.run(
                        tmux + ["display-message", "-p", "#{alternate_on} #{cursor_flag}"],
                        capture_output=True, text=True, check=True).stdout
                    self.assertEqual(restored, "0 1\n")
                finally:
                    subprocess.run(tmux + ["kill-server"], stderr=subprocess.DEVNULL)
                    # The hang-up ends the run; its clean-up holds the lock.
                    with open(os.path.join(RUN_DIR, "run.lock"), "a") as lock:
                        subprocess.run(["flock", "-w", "120", str(lock.fileno())],
                                       pass_fds=[lock.fileno()])
                self.assertEqual(leftovers(), [])


if __name__ == "__main__":
    unittest.main()
