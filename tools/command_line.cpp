#include "tools/command_line.h"

#include <exception>

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
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion& version) {
        std::printf("%s\n", version.what());
        return 0;
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

int RunGuarded(const char* name, int (*run)(int, char**), int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
        return 1;
    }
}

bool ReadAll(std::FILE* in, std::string& data) {
    char chunk[1 << 16];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        data.append(chunk, got);
    }
    return std::ferror(in) == 0;
}

bool WriteAll(std::string_view data) {
    return std::fwrite(data.data(), 1, data.size(), stdout) == data.size() &&
           std::fflush(stdout) == 0;
}
