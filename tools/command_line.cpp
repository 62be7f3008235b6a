#include "tools/command_line.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <stdexcept>

namespace {

constexpr char kWendleVersion[] = "1.4";

// The name of the positional argument ("TEXT", "MESSAGE"), for the error
// that a second one was given.
std::string PositionalName(const CLI::App& app) {
    for (const CLI::Option* option : app.get_options()) {
        if (option->get_positional()) {
            return option->get_name();
        }
    }
    return "argument";
}

} // namespace

CommandLine::CommandLine(const std::string& name, const std::string& description,
                         std::string usage_line, const std::string& examples)
    : app(description, name), usage(std::move(usage_line)) {
    app.set_version_flag("--version", name + " (Wendle " + kWendleVersion + ")",
                         "Print the version and exit");
    app.set_help_flag("-h,--help", "Explain every option and exit");
    app.footer("Examples:\n" + examples);
    // Left-over arguments are reported by Parse, in words of its own.
    app.allow_extras();
}

std::optional<int> CommandLine::Parse(int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        const std::size_t width = TerminalColumns();
        app.get_formatter()->column_width(std::min<std::size_t>(30, width / 3));
        std::fputs(WrapText(app.help(), width).c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return 0;
    } catch (const CLI::ArgumentMismatch& error) {
        // "-p: 1 required PORT missing" in the library's words.
        const std::string what = error.what();
        return Fail(what.substr(0, what.find(':')) + " needs a value (see --help)");
    } catch (const CLI::ConversionError& error) {
        // "Could not convert: --baud = fast": options that take numbers have
        // validators that speak first; this is for any other.
        const std::string what = error.what();
        const std::size_t name = what.find("--");
        return Fail(name == std::string::npos
                        ? what
                        : what.substr(name, what.find(' ', name) - name) + ": cannot take " +
                              what.substr(what.find("= ") + 2) + " (see --help)");
    } catch (const CLI::ParseError& error) {
        return Fail(error.what());
    }
    // CLI11 keeps the left-overs in order, with the "--" that ended the
    // options among them.
    bool options_ended = false;
    for (const std::string& extra : app.remaining()) {
        if (extra == "--" && !options_ended) {
            options_ended = true;
        } else if (!options_ended && extra.size() > 1 && extra[0] == '-') {
            return Fail("unknown option " + extra + " (put -- before a " + PositionalName(app) +
                        " that starts with -)");
        } else {
            return Fail("a second " + PositionalName(app) + ": " + extra + " (quote a " +
                        PositionalName(app) + " that holds spaces)");
        }
    }
    return std::nullopt;
}

int CommandLine::Fail(const std::string& what) const {
    std::fprintf(stderr, "%s: %s\nusage: %s (see --help)\n", app.get_name().c_str(), what.c_str(),
                 usage.c_str());
    return kUsageError;
}

CLI::Validator WholeNumberValidator(const std::string& wanted, long long least, long long most) {
    return CLI::Validator(
        [=](std::string& text) {
            long long value = 0;
            std::size_t used = 0;
            try {
                value = std::stoll(text, &used);
            } catch (const std::logic_error&) {
                used = 0;
            }
            return used != 0 && used == text.size() && value >= least && value <= most
                       ? std::string()
                       : "give " + wanted + ", not " + text;
        },
        "");
}

CLI::Validator SecondsValidator(const std::string& example) {
    constexpr double kLongest = 1e6;
    return CLI::Validator(
        [example](std::string& text) {
            double seconds = 0;
            return CLI::detail::lexical_cast(text, seconds) && seconds > 0 && seconds <= kLongest
                       ? std::string()
                       : "give a number of seconds above 0 and up to 1000000, such as " + example +
                             ", not " + text;
        },
        "");
}

std::string WrapText(std::string_view text, std::size_t width) {
    std::string wrapped;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const std::size_t own = line.find_first_not_of(' ');
        std::size_t indent = own == std::string_view::npos ? 0 : std::min(own, width * 3 / 4);
        if (const std::size_t gap = line.find("  ", indent);
            gap != std::string_view::npos && line.find_first_not_of(' ', gap) < width * 3 / 4) {
            indent = line.find_first_not_of(' ', gap);
        }
        // Cut at the last space that fits; a word longer than the line (a
        // path) stays whole.
        for (std::size_t room = width; line.size() > room; room = width - indent) {
            std::size_t cut = line.rfind(' ', room);
            if (cut == std::string_view::npos || cut == 0 || line.find_first_not_of(' ') > cut) {
                cut = line.find(' ', room);
                if (cut == std::string_view::npos) {
                    break;
                }
            }
            wrapped.append(line.substr(0, cut)).append("\n").append(indent, ' ');
            line.remove_prefix(std::min(line.find_first_not_of(' ', cut), line.size()));
        }
        wrapped.append(line);
        if (end != std::string_view::npos) {
            wrapped += '\n';
        }
    }
    return wrapped;
}

int ReportFailure(const char* tool, const LineStatus& status) {
    const char* advice = status.error == LineError::kNoSuchPort
                             ? "; wendle-send --list shows the ports of this machine"
                         : status.error == LineError::kNotASerialPort
                             ? "; give a port such as /dev/ttyUSB0 (wendle-send --list shows them)"
                             : "";
    std::fprintf(stderr, "%s: %s%s\n", tool, status.message.c_str(), advice);
    return static_cast<int>(status.error);
}

int RunGuarded(const char* name, int (*run)(int, char**), int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}

LineStatus ReadStandardInput(std::string& data) {
    char chunk[1 << 16];
    std::size_t got;
    // fread gives less than asked only at the end or on an error. Reading on
    // after that would ask a terminal for a second Ctrl+D.
    do {
        got = std::fread(chunk, 1, sizeof chunk, stdin);
        if (got < sizeof chunk && std::ferror(stdin) != 0) {
            const int error = errno;
            return SystemFailure(LineError::kOther, "cannot read standard input", error);
        }
        data.append(chunk, got);
    } while (got == sizeof chunk);
    return {};
}

LineStatus WriteStandardOutput(std::string_view data) {
    if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() ||
        std::fflush(stdout) != 0) {
        const int error = errno;
        return SystemFailure(LineError::kOther, "cannot write standard output", error);
    }
    return {};
}
