"""wendle-display as LCDproc's display: lcdproc_test.py DISPLAY_TOOL. LCDd's hd44780 driver
(lcdserializer) writes to the display's pseudo-terminal, a client puts a screen up over LCDd's
text protocol, and the dump holds it on its rows."""
import getpass
import glob
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from winelab import test_main

TOOL, LCDD = sys.argv.pop(1), "/usr/sbin/LCDd"
WIDGETS = ((1, 1, "Wendle and LCDproc"), (3, 5, "row three"))  # row, column, text


def wait_until(done):  # ends as soon as `done` holds, however loaded the machine
    deadline = time.monotonic() + 60
    while not done() and time.monotonic() < deadline:
        time.sleep(0.1)
    return done()


class Lcdproc(unittest.TestCase):
    def start(self, *args, **streams):
        process = subprocess.Popen(args, **streams)
        self.addCleanup(lambda: process.poll() is not None or process.kill() or process.wait())
        return process

    def test_a_clients_screen(self):
        drivers = glob.glob("/usr/lib/*/lcdproc/hd44780.so")
        if not os.access(LCDD, os.X_OK) or not drivers:
            self.skipTest("needs lcdproc and lcdproc-extra-drivers (scripts/setup)")
        folder = self.enterContext(tempfile.TemporaryDirectory())
        recording, config = os.path.join(folder, "l.rec"), os.path.join(folder, "LCDd.conf")
        display = self.start(TOOL, "--pty", "--profile", "prefix-only", "--size", "20x4",
                             "--record", recording, "--dump", stdout=subprocess.PIPE)
        with socket.socket() as probe:  # a free port, which LCDd binds a moment later
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        with open(config, "w", encoding="ascii") as conf:
            conf.write(f"[server]\nDriverPath={os.path.dirname(drivers[0])}/\nDriver=hd44780\n"
                       f"Port={port}\nUser={getpass.getuser()}\nForeground=yes\n"
                       "ServerScreen=off\nReportToSyslog=no\n[hd44780]\n"
                       f"ConnectionType=lcdserializer\nDevice={display.stdout.readline().decode()}"
                       "Speed=9600\nSize=20x4\n")
        lcdd = self.start(LCDD, "-c", config, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def listening():
            with socket.socket() as attempt:
                return lcdd.poll() is not None or attempt.connect_ex(("127.0.0.1", port)) == 0
        self.assertTrue(wait_until(listening) and lcdd.poll() is None, "LCDd took no client")
        client = self.enterContext(socket.create_connection(("127.0.0.1", port)))
        commands = ["hello", "screen_add s", "screen_set s -priority foreground -heartbeat off"]
        for n, (row, column, text) in enumerate(WIDGETS):
            commands += [f"widget_add s w{n} string", f'widget_set s w{n} {column} {row} "{text}"']
        client.sendall("".join(command + "\n" for command in commands).encode())

        def arrived():  # the bytes of the recording's byte lines
            with open(recording, encoding="ascii") as lines:
                data = b"".join(bytes.fromhex(" ".join(line.split()[1:])) for line
                                in lines.read().splitlines()[1:] if " line " not in line)
            return all(text.encode() in data for _, _, text in WIDGETS)
        self.assertTrue(wait_until(arrived))
        display.terminate()  # first: LCDd puts a farewell screen up as it ends
        out = display.communicate()[0].decode().splitlines()
        self.assertEqual((display.returncode, out[:4]), (0, [
            "Wendle and LCDproc  ", " " * 20, "    row three       ", " " * 20]))


if __name__ == "__main__":
    test_main(wine=False)
