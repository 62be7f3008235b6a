// wendle-send [-p PORT] [-b BAUD] [--raw] [--strict] [--timeout SECONDS] [-q]
//             [--keep-settings] [--pace [--osc KHZ]] [--char-delay MS]
//             [--lines [--line-delay MS]] [--] [MESSAGE]
// wendle-send -p PORT --replay FILE
// wendle-send --list
//
// Sends one message (or, --lines, each line of standard input as it comes)
// to a serial port, translated as Wendle translates it, on
// the line Wendle uses: raw, 8N1, no flow control, DTR and RTS off, the port
// held exclusively. Every byte is written and drained before the port is
// closed, or the exit status says it was not; the port's own settings are put
// back when it is closed, also when a signal ends the program.
#include "serial/posix/serial_line.h"
#include "tools/command_line.h"
#include "tools/send_modes.h"

#include <climits>
#include <optional>
#include <string>

namespace {

constexpr const char* kName = kSendName;

constexpr char kExamples[] =
    "  wendle-send -p /dev/ttyUSB0 '<CLS>Hello'               sends 0C 48 65 6C 6C 6F\n"
    "  wendle-send -p /dev/ttyACM0 -b 19200 '<KTA_LINE2>world'\n"
    "  wendle-send -p /dev/serial/by-id/usb-FTDI_...-port0 < message.txt\n"
    "  printf 'no <tokens> here' | wendle-send -p /dev/ttyUSB0 --raw\n"
    "  tail -f status.log | wendle-send --lines -p /dev/ttyUSB0   line by line\n"
    "  wendle-send -p /dev/ttyUSB0 --pace '<CLS>Hello'        for a module without a buffer\n"
    "  wendle-send -p /dev/ttyUSB0 --replay session.rec       a recording, at its times\n"
    "  wendle-send --list                                     the serial ports of this machine\n"
    "Exit status: 0 sent; 1 other failure; 2 bad usage; 3 no such port; 4\n"
    "permission denied; 5 port busy; 6 not a serial port; 7 rate not supported;\n"
    "8 write timed out; 9 an unknown name with --strict.\n";

// "wendle-send /dev/ttyS0 hello": a device where the message goes, and no
// -p. The port's path, to suggest -p with it.
std::optional<std::string> DeviceWithoutPort(int argc, char** argv) {
    std::optional<std::string> device;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") {
            break;
        }
        if (arg.starts_with("-p") || arg.starts_with("--port") || arg == "--list" || arg == "-h" ||
            arg == "--help" || arg == "--version") {
            return std::nullopt;
        }
        if (!device && arg.starts_with("/dev/")) {
            device = std::string(arg);
        }
    }
    return device;
}

int Run(int argc, char** argv) {
    CommandLine command_line(
        kName,
        "Sends a Wendle message to a serial display: tokens such as <CLS> or <254,192> become "
        "their bytes. The line is raw, 8 data bits, no parity, one stop bit, no flow control, "
        "DTR and RTS off; the port is locked while in use, and every byte is written and "
        "drained before it is closed, and the settings it had are put back.",
        "wendle-send -p PORT [-b BAUD] [--raw] [--strict] [--timeout SECONDS] [-q] "
        "[--keep-settings] [--pace [--osc KHZ]] [--char-delay MS] [--lines [--line-delay MS]] "
        "[--] [MESSAGE] | -p PORT --replay FILE | --list",
        kExamples);
    CLI::App& app = command_line.app;
    SendOptions options;
    CLI::Option* port =
        app.add_option("-p,--port", options.port,
                       "The port's device path, e.g. /dev/ttyUSB0 or /dev/serial/by-id/...")
            ->type_name("PORT");
    CLI::Option* baud =
        app.add_option("-b,--baud", options.baud,
                       "The rate: " + LineRatesText() + " (default 9600), e.g. -b 19200")
            ->type_name("BAUD")
            ->check(WholeNumberValidator("a rate such as 19200", 0, INT_MAX));
    CLI::Option* raw =
        app.add_flag("--raw", options.raw,
                     "Send MESSAGE as it is, without translating tokens, e.g. --raw 'a<b>'");
    app.add_option("--timeout", options.timeout_seconds,
                   "Give up when the port has not taken every byte after SECONDS (default: "
                   "twice the time the message takes on the wire, plus 2 s), e.g. --timeout 0.5")
        ->type_name("SECONDS")
        ->check(SecondsValidator("0.5"));
    app.add_flag("-q,--quiet", options.quiet, "No progress lines during long sends");
    app.add_flag("--keep-settings", options.keep_settings,
                 "Leave the port on Wendle's line when done (default: put back the settings "
                 "it had before)");
    CLI::Option* strict =
        app.add_flag("--strict", options.strict,
                     "An unknown name (a misspelt <KTA_LIN2>) is an error, status 9, and nothing "
                     "is sent; without it, it is a warning on standard error and sends nothing");
    CLI::Option* lines = app.add_flag(
        "--lines", options.lines,
        "Each line of standard input is a message, sent as soon as it is read, without its "
        "line end; the port stays open until the input ends, e.g. tail -f status.log | "
        "wendle-send --lines -p /dev/ttyUSB0. A line longer than 4096 bytes is cut there");
    // The two pauses take the same whole milliseconds.
    const auto delay_option = [&app](const char* name, int& milliseconds, const char* help) {
        return app.add_option(name, milliseconds, help)
            ->type_name("MS")
            ->check(WholeNumberValidator("a number of milliseconds from 0 to 10000, such as 50", 0,
                                         10000));
    };
    CLI::Option* char_delay = delay_option(
        "--char-delay", options.char_delay_ms,
        "Send one byte at a time and pause MS milliseconds after each has left the line, for "
        "slow modules, e.g. --char-delay 5");
    CLI::Option* line_delay =
        delay_option("--line-delay", options.line_delay_ms,
                     "With --lines: pause MS milliseconds after each line has left the line, e.g. "
                     "--line-delay 100 after a clear");
    CLI::Option* pace = app.add_flag(
        "--pace", options.pace,
        "For a module without a buffer: after each byte that keeps its controller busy for "
        "longer than the next byte takes on the wire (a clear, a return home), wait until that "
        "byte has left and the controller is done, with a tenth to spare; the rest goes at the "
        "line's full rate. With --char-delay, the longer of the two waits after each byte");
    CLI::Option* osc =
        app.add_option("--osc", options.oscillator_khz,
                       "With --pace: the controller's oscillator in kHz, which its busy times "
                       "scale with (default 270, the datasheet's), e.g. --osc 190 for a slow part")
            ->type_name("KHZ")
            ->check(WholeNumberValidator("a number of kHz from 1 to 10000, such as 190",
                                         kMinOscillatorKhz, kMaxOscillatorKhz));
    CLI::Option* replay =
        app.add_option("--replay", options.replay,
                       "Send the bytes of a recording (wendle-display --record) at their recorded "
                       "times from the start, the port's rate following the recorded line's; a "
                       "malformed recording, or a line other than 8N1 at one of the rates, is "
                       "refused, status 1 (7 for a rate), and nothing is sent, e.g. --replay "
                       "session.rec")
            ->type_name("FILE");
    CLI::Option* list = app.add_flag(
        "--list", options.list,
        "List the serial ports of this machine, with their /dev/serial/by-id names and what "
        "USB adapters tell about themselves, and exit");
    CLI::Option* message =
        app.add_option("MESSAGE", options.message,
                       "The message; without it, all of standard input is sent as one message. "
                       "Put -- before a MESSAGE that starts with -")
            ->type_name("");
    if (const std::optional<std::string> device = DeviceWithoutPort(argc, argv)) {
        return command_line.Fail("no port given: did you mean -p " + *device + "?");
    }
    if (const std::optional<int> status = command_line.Parse(argc, argv)) {
        return *status;
    }
    if (list->count() != 0) {
        if (port->count() != 0 || message->count() != 0) {
            return command_line.Fail("--list takes no port and no message");
        }
        return ListPorts();
    }
    if (port->count() == 0) {
        return command_line.Fail("no port given: name one with -p PORT (wendle-send --list "
                                 "shows the ports of this machine)");
    }
    if (replay->count() != 0) {
        for (const CLI::Option* other :
             {message, baud, lines, line_delay, raw, strict, char_delay, pace}) {
            if (other->count() != 0) {
                return command_line.Fail("--replay sends the recording as it is: give no " +
                                         other->get_name());
            }
        }
    }
    if (osc->count() != 0 && pace->count() == 0) {
        return command_line.Fail("--osc goes with --pace");
    }
    if (replay->count() != 0) {
        return SendRecording(options);
    }
    if (lines->count() != 0) {
        return message->count() != 0
                   ? command_line.Fail("--lines reads standard input: give no MESSAGE")
                   : SendLines(options);
    }
    if (line_delay->count() != 0) {
        return command_line.Fail("--line-delay goes with --lines");
    }
    options.from_standard_input = message->count() == 0;
    return SendMessage(options);
}

} // namespace

int main(int argc, char** argv) {
    return RunGuarded(kName, Run, argc, argv);
}
