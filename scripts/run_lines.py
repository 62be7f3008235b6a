"""The virtual serial lines of scripts/run: COM ports linked to
pseudo-terminals and read in a thread. Each arrival becomes one line: the
port, the line settings the writer set, the bytes in hex and decoded."""

import os
import select
import termios
import threading

from winelab import run

SPEEDS = {getattr(termios, f"B{rate}"): rate for rate in (
    50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600,
    115200, 230400, 460800, 921600) if hasattr(termios, f"B{rate}")}
DATA_BITS = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}
# Mark and space parity: Linux has the flag, Python's termios leaves it out.
CMSPAR = getattr(termios, "CMSPAR", 0o10000000000)

# What comes with pauses shorter than this is one arrival (a long message
# comes in several reads); a writer that never pauses is cut every 4 KiB.
QUIET = 0.05
LONGEST = 4096


def line_settings(attrs):
    """'9600 8N1' from a line's termios attributes, with the flow control
    after it when there is one."""
    iflag, _, cflag, _, _, ospeed, _ = attrs
    if not cflag & termios.PARENB:
        parity = "N"
    elif cflag & CMSPAR:
        parity = "M" if cflag & termios.PARODD else "S"
    else:
        parity = "O" if cflag & termios.PARODD else "E"
    stop_bits = 2 if cflag & termios.CSTOPB else 1
    text = f"{SPEEDS.get(ospeed, '?')} {DATA_BITS[cflag & termios.CSIZE]}{parity}{stop_bits}"
    if cflag & termios.CRTSCTS:
        text += " RTS/CTS"
    if iflag & (termios.IXON | termios.IXOFF):
        text += " XON/XOFF"
    return text


def decoded(data, translate):
    """The bytes as a message, display commands by name (wendle-translate).
    In a session of its own: a Ctrl+C meant for the run must not cut it."""
    result = run([translate, "--decode", "--names"], input=data, text=False)
    if result.returncode != 0:
        return f"(not decoded: {result.stderr.decode(errors='replace').strip()})"
    return result.stdout.decode("ascii", "replace")


def arrival_line(port, attrs, data, translate):
    return (f"COM{port} {line_settings(attrs)} <- {data.hex(' ').upper()}"
            f"  {decoded(data, translate)}")


class PortWatch:
    """Reads the masters of {port: PtyLine} in a thread and hands each
    arrival, as a line, to `report`."""

    def __init__(self, lines, report, translate):
        self.lines = lines
        self.report = report
        self.translate = translate
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._loop, daemon=True)
        self.thread.start()

    def _flush(self, port, data):
        try:
            self.report(arrival_line(port, self.lines[port].termios(), data, self.translate))
        except OSError:
            pass  # the terminal went away; the run is ending

    def _loop(self):
        ports = {line.master: port for port, line in self.lines.items()}
        pending = {}
        while ports and not self.stopping.is_set():
            ready, _, _ = select.select(list(ports), [], [], QUIET if pending else 0.2)
            for fd in ready:
                try:
                    pending[ports[fd]] = pending.get(ports[fd], b"") + os.read(fd, LONGEST)
                except OSError:
                    del ports[fd]
            for port in [p for p, data in pending.items() if not ready or len(data) >= LONGEST]:
                self._flush(port, pending.pop(port))
        for port, data in pending.items():
            self._flush(port, data)

    def stop(self):
        """Stops reading; what has come is reported first."""
        self.stopping.set()
        self.thread.join()
