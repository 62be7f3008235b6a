// wendle-send [-p PORT] [-b BAUD] [--raw] [--timeout SECONDS] [-q] [--] [MESSAGE]
// wendle-send --list
//
// Sends one message to a serial port, translated as Wendle translates it, on
// the line Wendle uses: raw, 8N1, no flow control, DTR and RTS off, the port
// held exclusively. Every byte is written and drained before the port is
// closed, or the exit status says it was not; the port's own settings are put
// back when it is closed, also when a signal ends the program.
#include "serial/port_list.h"
#include "serial/serial_line.h"
#include "tools/command_line.h"
#include "translator/translator.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr char kName[] = "wendle-send";

// Where --list looks for /sys and /dev; tests point it at a tree of their own.
constexpr char kSystemRootVariable[] = "WENDLE_SYSTEM_ROOT";

constexpr char kExamples[] =
    "  wendle-send -p /dev/ttyUSB0 '<CLS>Hello'               sends 0C 48 65 6C 6C 6F at 9600\n"
    "  wendle-send -p /dev/ttyACM0 -b 19200 '<KTA_LINE2>world'\n"
    "  wendle-send -p /dev/serial/by-id/usb-FTDI_...-port0 < message.txt\n"
    "  printf 'no <tokens> here' | wendle-send -p /dev/ttyUSB0 --raw\n"
    "  wendle-send --list                                     the serial ports of this machine\n"
    "Exit status: 0 sent; 1 other failure; 2 bad usage; 3 no such port; 4 permission\n"
    "denied; 5 port busy; 6 not a serial port; 7 rate not supported; 8 write timed out.\n";

struct Options {
    std::string port;
    int baud = 9600;
    bool raw = false;
    double timeout_seconds = 0;
    bool quiet = false;
    bool keep_settings = false;
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

// What to add to an error so that the user knows the next step.
std::string Advice(LineError error) {
    switch (error) {
    case LineError::kNoSuchPort:
        return "; wendle-send --list shows the ports of this machine";
    case LineError::kNotASerialPort:
        return "; give a port such as /dev/ttyUSB0 (wendle-send --list shows them)";
    default:
        return "";
    }
}

int Report(const LineStatus& status) {
    std::fprintf(stderr, "%s: %s%s\n", kName, status.message.c_str(), Advice(status.error).c_str());
    return static_cast<int>(status.error);
}

// A line every few seconds while a long message goes out, so that a slow
// rate does not look like a hang.
WriteProgress ProgressLines(std::size_t size) {
    using Clock = std::chrono::steady_clock;
    return [size, next = Clock::now() + std::chrono::seconds(3)](std::size_t written) mutable {
        if (Clock::now() >= next && written < size) {
            std::fprintf(stderr, "%s: %zu of %zu bytes written\n", kName, written, size);
            next = Clock::now() + std::chrono::seconds(3);
        }
    };
}

int Send(const Options& options) {
    // Before standard input is read: a wrong rate needs no message.
    if (LineStatus status = CheckLineRate(options.baud); !status.ok()) {
        return Report(status);
    }
    std::string message = options.message;
    if (options.from_standard_input && !ReadAll(stdin, message)) {
        std::perror("wendle-send: reading standard input");
        return static_cast<int>(LineError::kOther);
    }
    if (!options.raw) {
        message.resize(TranslateText(message.data(), message.size()));
    }
    UniqueFd line;
    LetGoOfLinesOnSignals();
    const LeaveLine leave = options.keep_settings ? LeaveLine::kAsSet : LeaveLine::kAsFound;
    if (LineStatus status = OpenSerialLine(options.port, options.baud, line, leave); !status.ok()) {
        return Report(status);
    }
    const std::chrono::milliseconds timeout =
        options.timeout_seconds > 0
            ? std::chrono::milliseconds(std::llround(options.timeout_seconds * 1000))
            : DefaultWriteTimeout(message.size(), options.baud);
    LineStatus status = WriteToLine(
        line, message, timeout, options.quiet ? WriteProgress() : ProgressLines(message.size()));
    CloseSerialLine(line);
    if (!status.ok()) {
        status.message = options.port + ": " + status.message;
        return Report(status);
    }
    return 0;
}

int Run(int argc, char** argv) {
    CommandLine command_line(
        kName,
        "Sends a Wendle message to a serial display: tokens such as <CLS> or <254,192> become "
        "their bytes. The line is raw, 8 data bits, no parity, one stop bit, no flow control, "
        "DTR and RTS off; the port is locked while in use, and every byte is written and "
        "drained before it is closed.",
        "wendle-send -p PORT [-b BAUD] [--raw] [--timeout SECONDS] [-q] [--] [MESSAGE] | --list",
        kExamples);
    CLI::App& app = command_line.app;
    Options options;
    CLI::Option* port =
        app.add_option("-p,--port", options.port,
                       "The port's device path, e.g. /dev/ttyUSB0 or /dev/serial/by-id/...")
            ->type_name("PORT");
    app.add_option("-b,--baud", options.baud,
                   "The rate: " + LineRatesText() + " (default 9600), e.g. -b 19200")
        ->type_name("BAUD");
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
    CLI::Option* list = app.add_flag(
        "--list", options.list,
        "List the serial ports of this machine, with their /dev/serial/by-id names and what "
        "USB adapters tell about themselves, and exit");
    CLI::Option* message =
        app.add_option("MESSAGE", options.message,
                       "The message; without it, all of standard input is sent as one message. "
                       "Put -- before a MESSAGE that starts with -")
            ->type_name("");
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
    options.from_standard_input = message->count() == 0;
    return Send(options);
}

} // namespace

int main(int argc, char** argv) {
    return RunGuarded(kName, Run, argc, argv);
}
