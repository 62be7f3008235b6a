#include "tools/send_modes.h"

#include "serial/posix/port_list.h"
#include "serial/posix/serial_line.h"
#include "tools/command_line.h"
#include "tools/names.h"
#include "tools/send_pacing.h"
#include "translator/translator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr const char* kName = kSendName;

// Where --list looks for /sys and /dev; tests point it at a tree of their own.
constexpr char kSystemRootVariable[] = "WENDLE_SYSTEM_ROOT";

// A line of --lines longer than this is cut here; the rest of it, up to its
// line end, is dropped (and said so): memory stays bounded whatever comes.
constexpr std::size_t kLongestLine = 4096;

int Report(const LineStatus& status) {
    return ReportFailure(kName, status);
}

// A line every few seconds while a long message or recording goes out
// ("120 of 4000 bytes written"), so that a slow rate does not look like a
// hang; nothing with -q.
WriteProgress ProgressLines(const SendOptions& options, std::size_t size, const char* what) {
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

std::chrono::milliseconds WriteTimeout(const SendOptions& options) {
    return std::chrono::milliseconds(std::llround(options.timeout_seconds * 1000));
}

Pacing PacingOf(const SendOptions& options) {
    return {{static_cast<std::uint32_t>(options.baud)},
            options.pace,
            options.oscillator_khz,
            std::chrono::milliseconds(options.char_delay_ms),
            std::chrono::milliseconds(options.line_delay_ms),
            WriteTimeout(options)};
}

// The message as it goes on the line; nothing when --strict refuses it.
std::optional<std::string> Prepare(std::string message, const SendOptions& options,
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
LineStatus OpenPort(const SendOptions& options, SerialLine& line) {
    if (LineStatus status = ReleasePortsOnSignals(); !status.ok()) {
        return status;
    }
    const LeaveLine leave = options.keep_settings ? LeaveLine::kAsSet : LeaveLine::kAsFound;
    return OpenSerialLine(options.port, options.baud, line, leave);
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

} // namespace

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

int SendMessage(const SendOptions& options) {
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

int SendLines(const SendOptions& options) {
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

int SendRecording(SendOptions options) {
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
