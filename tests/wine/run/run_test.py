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


def run_script(*args, env=ENV, timeout=winelab.patience(600)):
    result = run([SCRIPT, *args], env=env, timeout=timeout)
    return result.returncode, result.stdout, result.stderr


def setUpModule():
    winelab.ensure_display()  # for the live runs
    ENV["DISPLAY"] = os.environ["DISPLAY"]
    # The terminal's server socket, in a folder that goes at the end: a -L
    # socket would stay behind in /tmp/tmux-UID after the server ends.
    folder = tempfile.TemporaryDirectory(prefix="wendle-run-test-")
    unittest.addModuleCleanup(folder.cleanup)
    ENV["TMUX_SOCKET"] = os.path.join(folder.name, "tmux")


def tmux(*args):
    return run(["tmux", "-S", ENV["TMUX_SOCKET"], "-f", "/dev/null", *args], env=ENV).stdout


def leftovers():
    """What a run may leave: COM links to ptys, its processes, output files."""
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
        if RUN_DIR.encode() in text:  # the other build's suite has a run folder of its own
            found.append(name)
    return found + glob.glob(os.path.join(RUN_DIR, "*out-*"))


class Run(unittest.TestCase):
    def test_help_and_bad_arguments_before_anything_is_built(self):
        ports = self.enterContext(tempfile.TemporaryDirectory())  # type 0: no UART there
        for tty, kind in (("ttyS0", "0"), ("ttyS1", "4"), ("ttyS10", "4"), ("ttyS2", "4"),
                          ("ttyUSB3", "")):
            os.makedirs(f"{ports}/sys/class/tty/{tty}/device")
            pathlib.Path(f"{ports}/sys/class/tty/{tty}/type").write_text(kind)
        cases = [  # arguments, environment, status, stdout's first line, stderr (one line)
            (["--help"], {}, 0,
             ["scripts/run: Wendle (Wendlev14.EXE) under Wine, with a serial display to send to."],
             ""),
            (["/no/such/port"], {"WENDLE_SYSTEM_ROOT": ports}, 2, [],
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
                code, out, err = run_script(*args, env=dict(ENV, **env), timeout=120)
                self.assertEqual((code, out.splitlines()[:1], err), (status, first_line, error))

    def test_demo_without_a_display(self):
        with tempfile.TemporaryDirectory() as folder:
            shot, picture = os.path.join(folder, "w.png"), os.path.join(folder, "d.png")
            code, out, err = run_script(*ARCH, "--screenshot", shot, "--png", picture,
                                        env={k: v for k, v in ENV.items() if k != "DISPLAY"})
            self.assertEqual(code, 0, out + err)
            lines = out.splitlines()
            self.assertIn("run: COM1: a virtual 16x2 display module", lines)
            start = lines.index("run: the module's screen (its rows, then the cursor's row "
                                "and column, then what a module without a buffer would lose "
                                "of the message):")
            # One write at 9600 8N1: 'H' ends 2 frames (2 x 10 / 9600 s) in, 1.042 ms
            # into the 1.52 ms clear.
            self.assertEqual(lines[start + 1:start + 5],
                             ["Hello           ", "world           ", "cursor 2 6",
                              "timing: at 9600 baud a module without a buffer loses 1 byte: "
                              "offset 1 'H' arrives 1.042 ms into a 1.52 ms clear; pause 0.5 ms "
                              "after each clear, or send with wendle-send --pace"])
            for path in (shot, picture):
                with open(path, "rb") as png:
                    self.assertEqual(png.read(8), b"\x89PNG\r\n\x1a\n", path)
        self.assertEqual(leftovers(), [])

    def test_live_sends_show_and_q_or_ctrl_c_ends(self):
        cases = [  # arguments, sends (port, baud, message), shown while running, the key that
            # ends it (q where the module is drawn, as its frame says), after the end
            ("", [(1, 9600, "<CLS>Hello<KTA_LINE2>world"), (3, 9600, "port<13>")],
             ["║Hello           ║", "║world           ║"], "q",
             ["COM3 9600 8N1 <- 70 6F 72 74 0D  port<RETURN>",
              "run: q typed: the display ended, and with it the run"]),
            ("--monitor", [(1, 9600, "<CLS>Hi"), (4, 38400, "<KTA_LINE2>x")],
             ["COM1 9600 8N1 <- 0C 48 69  <CLS>Hi", "COM4 38400 8N1 <- FE C0 78  <KTA_LINE2>x"],
             "C-c", []),
        ]
        screen = ("capture-pane", "-p", "-S", "-200")

        def wait_for(texts, timeout):
            deadline = time.monotonic() + winelab.patience(timeout)
            while not any(text in tmux(*screen) for text in texts):
                self.assertLess(time.monotonic(), deadline, f"{texts}: {tmux(*screen)}")
                time.sleep(0.2)

        for args, sends, shown, key, after in cases:
            with self.subTest(args=args):
                # A killed run's link to a pty, now perhaps someone's terminal.
                stale = winelab.com_path(PREFIX, 5)
                if os.path.lexists(stale):
                    os.unlink(stale)
                line = winelab.PtyLine()
                self.addCleanup(line.close)
                os.symlink(line.device, stale)
                tmux("new-session", "-d", "-x", "100", "-y", "32", f"{SCRIPT} {' '.join(ARCH)} "
                     f"{args}; echo run-ended-$?; stty -a; sleep 600")
                try:
                    wait_for(("Ctrl+C ends", "q quits"), 300)
                    prefix = winelab.WinePrefix(PREFIX)
                    self.assertTrue(probe(prefix, ("find", winelab.patience_ms(30)))[0]["found"])
                    ready = "<CLS>Hello<KTA_LINE2>world"  # put in the window, to be sent
                    self.assertEqual(probe(prefix, ("text", MESSAGE, ready,
                                                    winelab.patience_ms(30)))[0]["text"], ready)
                    for port, baud, message in sends:
                        probe(prefix, ("settext", PORT_NUMBER, port), ("click", BAUD_CHOICES[baud]),
                              ("settext", MESSAGE, message), ("click", SEND))
                    for text in shown:
                        wait_for((text,), 20)
                    tmux("send-keys", key)
                    wait_for(("run-ended-0",), 60)
                    for text in after + [" echo "]:  # stty -a: echo is back on
                        self.assertIn(text, tmux(*screen))
                    self.assertEqual(tmux("display-message", "-p",
                                          "#{alternate_on} #{cursor_flag}"), "0 1\n")
                finally:
                    tmux("kill-server")
                    # The hang-up ends the run; its clean-up holds the lock.
                    run(["flock", "-w", "120", os.path.join(RUN_DIR, "run.lock"), "true"])
                self.assertEqual(leftovers(), [])

    def test_32_bit_tests_without_a_way_to_run_are_skipped_never_passed(self):
        why = "this kernel runs no 32-bit programs and binfmt_misc cannot be mounted here"
        env = dict(os.environ, WENDLE_WINE_TEST="1", WENDLE_WINE_ARCH="win32",
                   WENDLE_WINE32_WAY="unavailable", WENDLE_WINE32_HOW=why)
        result = run(["python3", os.path.join(SOURCE_DIR, "tests/wine/exports/exportlab.py"),
                      "/tmp/p", "x.exe"], env=env)
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (77, f"SKIPPED: {why}\n", ""))


if __name__ == "__main__":
    winelab.test_main()
