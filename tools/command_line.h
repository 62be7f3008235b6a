// The command-line manners every Wendle tool shares: --help that explains
// each option and ends with examples, --version, and usage errors that say
// what was wrong before the usage line and exit with status 2.
#pragma once

#include "serial/line_status.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

inline constexpr int kUsageError = 2;

// A tool's parser: its name, what it does, its usage line (without the
// leading "usage: ") and the examples --help ends with. --version prints
// the tool's name and Wendle's version.
struct CommandLine {
    CLI::App app;
    std::string usage;

    CommandLine(const std::string& name, const std::string& description, std::string usage_line,
                const std::string& examples);

    // Parses the arguments. Returns the status to exit with when the program
    // should end now (0 after --help or --version, kUsageError after an error,
    // both already printed), or nothing when it should go on. An argument
    // left over is an unknown option when it starts with "-" and comes
    // before "--", else a second value for the last positional argument.
    std::optional<int> Parse(int argc, char** argv);

    // A usage error found after parsing (two options that exclude each other,
    // say): prints "<name>: <what>" and the usage line; returns kUsageError.
    int Fail(const std::string& what) const;
};

// Checks an option that takes a whole number from `least` to `most`, before
// the option library converts it, so that a wrong value is told in the
// tool's words: "--baud: give " + `wanted` + ", not fast".
CLI::Validator WholeNumberValidator(const std::string& wanted, long long least, long long most);

// Checks an option that takes a number of seconds above 0 and up to eleven
// days (beyond which no time-out is meant, and the clock would overflow);
// its message gives `example` as a good value.
CLI::Validator SecondsValidator(const std::string& example);

// The width of the terminal on standard output, or 80 when it is none.
std::size_t TerminalColumns();

enum class StandardStream { kInput, kOutput };

// Whether `stream` is a terminal (someone typing, a screen), not a pipe or a
// file. A stream that cannot be asked (closed) is a failure.
LineStatus IsTerminal(StandardStream stream, bool& terminal);

// `text` with every line longer than `width` broken at spaces; the lines
// added are indented as far as the text after a gap of two spaces (an
// option's explanation, an example's comment), else as the line itself.
std::string WrapText(std::string_view text, std::size_t width);

// Tells a failure on standard error, "<tool>: <message>", with the next step
// for a port that is not there or is no port; returns its exit status.
int ReportFailure(const char* tool, const LineStatus& status);

// Runs a tool's `run`, turning an exception that escapes it (out of memory,
// say) into "<name>: <what>" and status 1.
int RunGuarded(const char* name, int (*run)(int, char**), int argc, char** argv);

// Reads all of standard input (binary-safe).
LineStatus ReadStandardInput(std::string& data);

// Writes all of `data` to standard output and flushes it.
LineStatus WriteStandardOutput(std::string_view data);
