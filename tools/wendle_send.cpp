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
#include "serial/posix/port_list.h"
#include "serial/posix/serial_line.h"
#include "tools/command_line.h"
#include "tools/names.h"
#include "tools/send_pacing.h"
#include "translator/translator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr char kName[] = "wendle-send";

// Where --list looks for /sys and /dev; tests point it at a tree of their own.
constexpr char kSystemRootVariable[] = "WENDLE_SYSTEM_ROOT";

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

// A line of --lines longer than this is cut here; the rest of it, up to its
// line end, is dropped (and said so): memory stays bounded whatever comes.
constexpr std::size_t kLongestLine = 4096;

struct Options {
    std::string port;
    int baud = 9600;
    bool raw = false;
    double timeout_seconds = 0;
    bool quiet = false;
    bool keep_settings = false;
    bool strict = false;
    bool lines = false;
    int char_delay_ms = 0;
    int line_delay_ms = 0;
    bool pace = false;
    unsigned oscillator_khz = kNominalOscillatorKhz;
    std::string replay;
    bool list = false;
    std::string message;
    bool from_standard_input = false;
};

int ListPorts() {
    const char* root = std::getenv(kSystemRootVariable);
    const std::vector<SerialPortInfo> ports = ListSerialPorts(root != nullptr ? root : "/");
    if (ports.empty()) {
        std::puts("No serial ports found. A USB adapter shows up as /dev/ttyUSB* or "
                  "/dev/ttyACM* once plugged in.");
        return 0;
    }
    for (const SerialPortInfo& port : ports) {
        std::string line = port.device;
        std::string about = port.manufacturer;
        if (!port.product.empty()) {
            about += (about.empty() ? "" : " ") + port.product;
        }
        if (!port.serial_number.empty()) {
            about += " (serial " + port.serial_number + ")";
        }
        if (!port.driver.empty()) {
            about += (about.empty() ? "driver " : ", driver ") + port.driver;
        }
        std::printf("%s  %s\n", line.c_str(), about.c_str());
        for (const std::string& name : port.by_id) {
            std::printf("    %s\n", name.c_str());
        }
    }
    return 0;
}

int Report(const LineStatus& status) {
    return ReportFailure(kName, status);
}

// A line every few seconds while a long message or recording goes out
// ("120 of 4000 bytes written"), so that a slow rate does not look like a
// hang; nothing with -q.
WriteProgress ProgressLines(const Options& options, std::size_t size, const char* what) {
    using Clock = std::chrono::steady_clock;
    if (options.quiet) {
        return {};
    }
    return [size, what, next = Clock::now() + std::chrono::seconds(3)](std::size_t done) mutable {
        if (Clock::now() >= next && done < size) {
            std::fprintf(stderr, "%s: %zu of %zu %s\n", kName, done, size, what);
            next = Clock::now() + std::chrono::seconds(3);
        }
    };
}

std::chrono::milliseconds WriteTimeout(const Options& options) {
    return std::chrono::milliseconds(std::llround(options.timeout_seconds * 1000));
}

Pacing PacingOf(const Options& options) {
    return {{static_cast<std::uint32_t>(options.baud)},
            options.pace,
            options.oscillator_khz,
            std::chrono::milliseconds(options.char_delay_ms),
            std::chrono::milliseconds(options.line_delay_ms),
            WriteTimeout(options)};
}

// The message as it goes on the line; nothing when --strict refuses it.
std::optional<std::string> Prepare(std::string message, const Options& options,
                                   const std::string& where = {}) {
    if (options.raw) {
        return message;
    }
    if (WarnUnknownNames(kName, message, options.strict, where) != 0 && options.strict) {
        return std::nullopt;
    }
    message.resize(TranslateText(message.data(), message.size()));
    return message;
}

// Opens the port for a send; from then on a signal that ends the program
// still leaves the port as the options say.
LineStatus OpenPort(const Options& options, SerialLine& line) {
    if (LineStatus status = LetGoOfLinesOnSignals(); !status.ok()) {
        return status;
    }
    const LeaveLine leave = options.keep_settings ? LeaveLine::kAsSet : LeaveLine::kAsFound;
    return OpenSerialLine(options.port, options.baud, line, leave);
}

int Send(const Options& options) {
    // Before standard input is read: a wrong rate needs no message.
    if (LineStatus status = CheckLineRate(options.baud); !status.ok()) {
        return Report(status);
    }
    std::string text = options.message;
    if (options.from_standard_input) {
        bool typed = false;
        if (LineStatus status = IsTerminal(StandardStream::kInput, typed); !status.ok()) {
            return Report(status);
        }
        if (typed) {
            std::fprintf(stderr,
                         "%s: reading the message from the terminal until Ctrl+D (give "
                         "MESSAGE, or --lines to send each line as it is typed)\n",
                         kName);
        }
        if (LineStatus status = ReadStandardInput(text); !status.ok()) {
            return Report(status);
        }
    }
    const std::optional<std::string> message = Prepare(std::move(text), options);
    if (!message) {
        return kUnknownNameStatus;
    }
    SerialLine line;
    if (LineStatus status = OpenPort(options, line); !status.ok()) {
        return Report(status);
    }
    LineStatus status = WritePaced(line, *message, PacingOf(options),
                                   ProgressLines(options, message->size(), "bytes written"));
    if (LineStatus closed = line.Close(); status.ok()) {
        status = std::move(closed);
    }
    if (!status.ok()) {
        status.message = options.port + ": " + status.message;
        return Report(status);
    }
    return 0;
}

// The next line of standard input without its line end (LF or CR LF), at
// most kLongestLine bytes of it; `cut` when more was dropped, `ended` at the
// end of the input with nothing read.
LineStatus ReadLine(std::string& line, bool& cut, bool& ended) {
    line.clear();
    cut = false;
    int c;
    while ((c = std::getc(stdin)) != EOF && c != '\n') {
        if (line.size() < kLongestLine) {
            line += static_cast<char>(c);
        } else {
            cut = true;
        }
    }
    if (c == EOF && std::ferror(stdin) != 0) {
        const int error = errno;
        return SystemFailure(LineError::kOther, "cannot read standard input", error);
    }
    if (c == '\n' && !line.empty() && line.back() == '\r' && !cut) {
        line.pop_back();
    }
    ended = c == EOF && line.empty() && !cut;
    return {};
}

// --lines: the port opened once, then each line sent as soon as it is read.
int SendLines(const Options& options) {
    if (LineStatus status = CheckLineRate(options.baud); !status.ok()) {
        return Report(status);
    }
    SerialLine line;
    if (LineStatus status = OpenPort(options, line); !status.ok()) {
        return Report(status);
    }
    std::string text;
    bool cut = false;
    LineStatus status;
    for (unsigned long number = 1;; ++number) {
        bool ended = false;
        if (status = ReadLine(text, cut, ended); !status.ok() || ended) {
            break;
        }
        const std::string where = "line " + std::to_string(number) + ": ";
        if (cut) {
            std::fprintf(stderr, "%s: %slonger than %zu bytes: the rest of it is dropped\n", kName,
                         where.c_str(), kLongestLine);
        }
        const std::optional<std::string> message = Prepare(text, options, where);
        if (!message) {
            return kUnknownNameStatus;
        }
        if (status = WritePaced(line, *message, PacingOf(options)); !status.ok()) {
            status.message = options.port + ": " + where + status.message;
            break;
        }
    }
    if (LineStatus closed = line.Close(); status.ok() && !closed.ok()) {
        status = closed;
        status.message = options.port + ": " + status.message;
    }
    return status.ok() ? 0 : Report(status);
}

// The whole of the file at `path`.
LineStatus ReadWholeFile(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        const int error = errno;
        return SystemFailure(LineError::kOther, "cannot open " + path, error);
    }
    char chunk[1 << 16];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, got);
    }
    const int error = errno;
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return failed ? SystemFailure(LineError::kOther, "cannot read " + path, error) : LineStatus{};
}

// --replay: the recording read and checked whole before the port is opened,
// so that a bad one sends nothing.
int SendRecording(Options options) {
    std::string text;
    if (LineStatus status = ReadWholeFile(options.replay, text); !status.ok()) {
        return Report(status);
    }
    std::vector<RecordingEvent> events;
    if (const std::string wrong = ParseRecording(text, events); !wrong.empty()) {
        return Report({LineError::kOther, options.replay + ": " + wrong});
    }
    if (LineStatus status = CheckReplay(events); !status.ok()) {
        status.message = options.replay + ": " + status.message;
        return Report(status);
    }
    options.baud = ReplayOpenRate(events, options.baud);
    SerialLine line;
    if (LineStatus status = OpenPort(options, line); !status.ok()) {
        return Report(status);
    }
    const auto reads = static_cast<std::size_t>(std::count_if(
        events.begin(), events.end(), [](const RecordingEvent& event) { return !event.is_line; }));
    LineStatus status = Replay(line, options.port, options.baud, events, WriteTimeout(options),
                               ProgressLines(options, reads, "reads sent"));
    if (LineStatus closed = line.Close(); status.ok() && !closed.ok()) {
        status = closed;
        status.message = options.port + ": " + status.message;
    }
    return status.ok() ? 0 : Report(status);
}

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
    Options options;
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
    const std::string milliseconds = "a number of milliseconds from 0 to 10000, such as 50";
    CLI::Option* char_delay =
        app.add_option("--char-delay", options.char_delay_ms,
                       "Send one byte at a time and pause MS milliseconds after each has left the "
                       "line, for slow modules, e.g. --char-delay 5")
            ->type_name("MS")
            ->check(WholeNumberValidator(milliseconds, 0, 10000));
    CLI::Option* line_delay =
        app.add_option("--line-delay", options.line_delay_ms,
                       "With --lines: pause MS milliseconds after each line has left the line, "
                       "e.g. --line-delay 100 after a clear")
            ->type_name("MS")
            ->check(WholeNumberValidator(milliseconds, 0, 10000));
    CLI::Option* pace = app.add_flag(
        "--pace", options.pace,
        "For a module without a buffer: after each byte that keeps its controller busy for "
        "longer than the next byte takes on the wire (a clear, a return home), wait until that "
        "byte has left and the controller is done; the rest goes at the line's full rate. With "
        "--char-delay, the longer of the two waits after each byte");
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
    return Send(options);
}

} // namespace

int main(int argc, char** argv) {
    return RunGuarded(kName, Run, argc, argv);
}
