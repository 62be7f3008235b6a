"""scripts/run: --help, bad DEVICEs and X displays, the demo without an X display, live runs in
tmux ended by q or Ctrl+C leaving nothing behind; a 32-bit Wine test with no way to run: skipped."""

import glob
import os
import pathlib
import tempfile
import time
import unittest

import winelab
from winelab import BAUD_CHOICES, MESSAGE, PORT_NUMBER, SEND, SOURCE_DIR, probe, run

SCRIPT = os.path.join(SOURCE_DIR, "scripts", "run")
# The tests' own run folder, kept between runs; each build a prefix of its own.
RUN_DIR = winelab.build_path("scripts-run")
PREFIX = os.path.join(RUN_DIR, "prefix" if winelab.ARCH == "win32" else "prefix-win64")
ARCH = ["--arch", winelab.ARCH]
ENV = dict(os.environ, WENDLE_RUN_DIR=RUN_DIR)


def setUpModule():
    global TMP  # for files of the tests and the terminal's socket (-L would leave /tmp/tmux-UID)
    winelab.ensure_display()  # for the live runs
    ENV["DISPLAY"] = os.environ["DISPLAY"]
    TMP = unittest.enterModuleContext(tempfile.TemporaryDirectory(prefix="wendle-run-test-"))


def tmux(*args):
    return run(["tmux", "-S", f"{TMP}/tmux", "-f", "/dev/null", *args], env=ENV).stdout


def leftovers():
    """What a run may leave: COM links to ptys, its processes, output files."""
    time.sleep(0.2)
    found = [link for link in glob.glob(os.path.join(PREFIX, "dosdevices", "*"))
             if os.path.realpath(link).startswith("/dev/pts/")]
    for proc in glob.glob("/proc/[0-9]*"):
        try:
            comm, cmdline, environ = (pathlib.Path(proc, name).read_bytes()
                                      for name in ("comm", "cmdline", "environ"))
        except OSError:
            continue
        if RUN_DIR.encode() in cmdline + environ:  # the other build's suite has its own RUN_DIR
            found.append(comm.strip().decode())
    return found + glob.glob(os.path.join(RUN_DIR, "*out-*"))


class Run(unittest.TestCase):
    def test_help_and_bad_arguments_before_anything_is_built(self):
        for tty, kind in (("ttyS0", "0"), ("ttyS1", "4"), ("ttyS10", "4"), ("ttyS2", "4"),
                          ("ttyUSB3", "")):
            os.makedirs(f"{TMP}/sys/class/tty/{tty}/device")  # type 0: no UART there
            pathlib.Path(f"{TMP}/sys/class/tty/{tty}/type").write_text(kind)
        cases = [  # arguments, environment, status, stdout's first line, stderr (one line)
            (["--help"], {}, 0,
             ["scripts/run: Wendle (Wendlev14.EXE) under Wine, with a serial display to send to."],
             ""),
            (["/no/such/port"], {"WENDLE_SYSTEM_ROOT": TMP}, 2, [],
             "run: /no/such/port does not exist; the serial ports here: /dev/ttyS1 /dev/ttyS2 "
             "/dev/ttyS10 /dev/ttyUSB3 (wendle-send --list tells more), or no DEVICE for the "
             "virtual display\n"),
            (["/no/such/port"], {"WENDLE_SYSTEM_ROOT": "/no/such/root"}, 2, [],
             "run: /no/such/port does not exist, and no serial ports were found: plug the "
             "adapter in, or give no DEVICE for the virtual display\n"),
            (["/dev/null"], {}, 2, [], "run: /dev/null is not a serial port (not a terminal "
             "device)\n"),
            ([SCRIPT], {}, 2, [], f"run: {SCRIPT} is not a serial port (not a character device)\n"),
            (["--size", "20X4", "--monitor"], {}, 2, [], "run: --size is the virtual module's: "
             "not with --monitor or a DEVICE\nusage: scripts/run [--arch win32|win64] [--monitor] "
             "[--size SIZE] [--message TEXT] [--screenshot FILE] [--png FILE] [DEVICE] (see "
             "--help)\n"),
            (["--size", "16x3"], {}, 2, [], "run: no module of size 16x3: use 8x1, 16x1, 16x2, "
             "16x4, 20x2, 20x4, 24x2 or 40x2\n"),
            # Before Wine starts, instead of a window that never appears.
            (ARCH, {"DISPLAY": ":7777"}, 1, [], "run: the X display :7777 cannot be reached: "
             "unset DISPLAY for the demo under a private Xvfb (env -u DISPLAY scripts/run), or "
             "start an X server\n"),
        ]
        for args, env, status, first_line, error in cases:
            with self.subTest(args=args, env=env):
                done = run([SCRIPT, *args], env=dict(ENV, **env), timeout=120)
                self.assertEqual((done.returncode, done.stdout.splitlines()[:1], done.stderr),
                                 (status, first_line, error))

    def test_demo_without_a_display(self):
        shot, picture = os.path.join(TMP, "w.png"), os.path.join(TMP, "d.png")
        done = run([SCRIPT, *ARCH, "--screenshot", shot, "--png", picture],
                   env={k: v for k, v in ENV.items() if k != "DISPLAY"},
                   timeout=winelab.patience(600))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("run: COM1: a virtual 16x2 display module\n", done.stdout)
        # One write at 9600 8N1: 'H' ends 2 frames (2 x 10 / 9600 s) in, in the clear.
        self.assertIn("run: the module's screen (its rows, then the cursor's row and column, then "
                      "what a module without a buffer would lose of the message):\n"
                      "Hello           \nworld           \ncursor 2 6\ntiming: at 9600 baud a "
                      "module without a buffer loses 1 byte: offset 1 'H' arrives", done.stdout)
        for path in (shot, picture):
            self.assertEqual(pathlib.Path(path).read_bytes()[:8], b"\x89PNG\r\n\x1a\n", path)
        self.assertEqual(leftovers(), [])

    def test_live_sends_show_and_q_or_ctrl_c_ends(self):
        cases = [  # arguments, sends (port, baud, message), shown while running, the text that
            # says how it ends and the key that does (q where the module is drawn), shown after
            ("", [(1, 9600, "<CLS>Hello<KTA_LINE2>world"), (3, 9600, "port<13>")],
             ["║Hello           ║", "║world           ║"], "q quits", "q",
             ["COM3 9600 8N1 <- 70 6F 72 74 0D  port<RETURN>",
              "run: q typed: the display ended, and with it the run"]),
            ("--monitor", [(1, 9600, "<CLS>Hi"), (4, 38400, "<KTA_LINE2>x")],
             ["COM1 9600 8N1 <- 0C 48 69  <CLS>Hi", "COM4 38400 8N1 <- FE C0 78  <KTA_LINE2>x"],
             "Ctrl+C ends", "C-c", []),
        ]
        screen = ("capture-pane", "-p", "-S", "-200")

        def wait_for(texts, timeout):
            deadline = time.monotonic() + winelab.patience(timeout)
            while not all(text in tmux(*screen) for text in texts):
                self.assertLess(time.monotonic(), deadline, f"{texts}: {tmux(*screen)}")
                time.sleep(0.2)

        line, stale = self.enterContext(winelab.PtyLine()), winelab.com_path(PREFIX, 5)
        for args, sends, shown, how, key, after in cases:
            with self.subTest(args=args):
                # A killed run's link to a pty, now perhaps someone's terminal.
                if os.path.lexists(stale):
                    os.unlink(stale)
                os.symlink(line.device, stale)
                tmux("new-session", "-d", "-x", "100", "-y", "32", f"{SCRIPT} {' '.join(ARCH)} "
                     f"{args}; echo run-ended-$?; stty -a; sleep 600")
                try:
                    wait_for([how], 300)
                    prefix = winelab.WinePrefix(PREFIX)
                    ready = "<CLS>Hello<KTA_LINE2>world"  # put in the window, to be sent
                    found, text = probe(prefix, ("find", winelab.patience_ms(30)),
                                        ("text", MESSAGE, ready, winelab.patience_ms(30)))
                    self.assertEqual((found["found"], text["text"]), (True, ready))
                    for port, baud, message in sends:
                        probe(prefix, ("settext", PORT_NUMBER, port), ("click", BAUD_CHOICES[baud]),
                              ("settext", MESSAGE, message), ("click", SEND))
                    wait_for(shown, 20)
                    tmux("send-keys", key)
                    wait_for(["run-ended-0", " echo ", *after], 60)  # stty -a: echo is back on
                    self.assertEqual(tmux("display-message", "-p",
                                          "#{alternate_on} #{cursor_flag}"), "0 1\n")
                finally:
                    tmux("kill-server")
                    # The hang-up ends the run; its clean-up holds the lock.
                    run(["flock", "-w", "120", os.path.join(RUN_DIR, "run.lock"), "true"])
                self.assertEqual(leftovers(), [])

    def test_32_bit_tests_without_a_way_to_run_are_skipped_never_passed(self):
        why = "this kernel runs no 32-bit programs and binfmt_misc cannot be mounted here"
        env = dict(os.environ, WENDLE_WINE_ARCH="win32", WENDLE_WINE32_WAY="unavailable",
                   WENDLE_WINE32_HOW=why)
        result = run(["python3", "-c", "import winelab; winelab.test_main()"], env=env)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (77, f"SKIPPED: {why}\n", ""))


if __name__ == "__main__":
    winelab.test_main()
