"""wendle-display as the display of LCDproc's server: lcdproc_test.py DISPLAY_TOOL. LCDd's hd44780
driver (ConnectionType=lcdserializer) writes to the pseudo-terminal the display makes; a client
puts a screen up over LCDd's text protocol; the display's dump holds it on its rows."""
import getpass
import glob
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

TOOL = sys.argv.pop(1)
LCDD = "/usr/sbin/LCDd"
PATIENCE = 60  # seconds, for a loaded machine; each wait ends as soon as what it waits for holds
# The client's screen: row, column, text.
WIDGETS = ((1, 1, "Wendle and LCDproc"), (3, 5, "row three"))


def recorded_bytes(path):
    """The bytes of a recording's byte lines, in order."""
    data = bytearray()
    with open(path, encoding="ascii") as recording:
        for line in recording.read().splitlines()[1:]:
            words = line.split()
            if len(words) > 1 and words[1] != "line":
                data += bytes.fromhex("".join(words[1:]))
    return bytes(data)


def wait_until(done):
    deadline = time.monotonic() + PATIENCE
    while not done():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.1)
    return True


def config_text(driver_path, port, pty):
    return (f"[server]\nDriverPath={driver_path}/\nDriver=hd44780\nBind=127.0.0.1\nPort={port}\n"
            f"User={getpass.getuser()}\nForeground=yes\nServerScreen=off\nReportToSyslog=no\n"
            f"[hd44780]\nConnectionType=lcdserializer\nDevice={pty}\nSpeed=9600\nSize=20x4\n")


class Lcdproc(unittest.TestCase):
    def setUp(self):
        drivers = glob.glob("/usr/lib/*/lcdproc/hd44780.so")
        if not os.access(LCDD, os.X_OK) or not drivers:
            raise unittest.SkipTest("needs lcdproc and lcdproc-extra-drivers (scripts/setup)")
        self.driver_path = os.path.dirname(drivers[0])
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name

    def start(self, args, **streams):
        process = subprocess.Popen(args, **streams)

        def end():
            if process.poll() is None:
                process.kill()
            process.communicate()
        self.addCleanup(end)
        return process

    def test_a_clients_screen(self):
        recording = os.path.join(self.folder, "lcdd.rec")
        display = self.start([TOOL, "--pty", "--profile", "prefix-only", "--size", "20x4",
                              "--record", recording, "--dump"],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        pty = display.stdout.readline().decode().strip()
        with socket.socket() as probe:  # a free port: LCDd binds it a moment later
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        config = os.path.join(self.folder, "LCDd.conf")
        with open(config, "w", encoding="ascii") as conf:
            conf.write(config_text(self.driver_path, port, pty))
        lcdd = self.start([LCDD, "-c", config], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
        client = []

        def connected():
            try:
                client.append(socket.create_connection(("127.0.0.1", port), timeout=PATIENCE))
            except OSError:
                return lcdd.poll() is not None
            return True
        self.assertTrue(wait_until(connected) and client, f"LCDd took no client ({lcdd.poll()})")
        with client[0] as connection:
            commands = ["hello", "screen_add s", "screen_set s -priority foreground -heartbeat off"]
            for number, (row, column, text) in enumerate(WIDGETS):
                commands += [f"widget_add s w{number} string",
                             f'widget_set s w{number} {column} {row} "{text}"']
            connection.sendall("".join(command + "\n" for command in commands).encode())
            self.assertTrue(wait_until(lambda: all(text.encode() in recorded_bytes(recording)
                                                   for _, _, text in WIDGETS)),
                            recorded_bytes(recording))
        # The display ends first: LCDd puts a farewell screen up as it ends.
        display.terminate()
        out, err = display.communicate(timeout=PATIENCE)
        lcdd.terminate()
        lcdd.wait(PATIENCE)
        self.assertEqual(display.returncode, 0, err)
        rows = out.decode().splitlines()
        self.assertEqual(rows[0:4], ["Wendle and LCDproc  ", " " * 20, "    row three       ",
                                     " " * 20])


if __name__ == "__main__":
    unittest.main()
