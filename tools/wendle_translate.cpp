// wendle-translate [--hex] [--strict] [--decode [--names]] [--] [TEXT]
// wendle-translate --list-names
//
// Translates TEXT, or all of standard input when no TEXT is given, and writes
// the resulting bytes to standard output exactly as they are (--hex: as hex
// pairs). --decode goes the other way: bytes in, a message out that
// translates back to exactly those bytes. Exit status: 0 done, 1 input or
// output failed, 2 bad usage, 9 an unknown name with --strict.
#include "tools/command_line.h"
#include "tools/names.h"
#include "translator/decode.h"
#include "translator/translator.h"

#include <cstdio>
#include <string>

namespace {

constexpr char kName[] = "wendle-translate";

constexpr char kExamples[] =
    "  wendle-translate --hex '<CLS>Hi<13>'          prints 0C 48 69 0D\n"
    "  wendle-translate '<CLS>Hello' > message.bin     the bytes, for a file or a port\n"
    "  printf '\\014Hi\\376\\300' | wendle-translate --decode          prints <12>Hi<254,192>\n"
    "  printf '\\014Hi\\376\\300' | wendle-translate --decode --names  prints <CLS>Hi<KTA_LINE2>\n"
    "  wendle-translate --hex -- '-<65>'               a TEXT that starts with -\n"
    "  wendle-translate --list-names | grep LINE       the names for the lines\n"
    "Exit status: 0 done, 1 reading or writing failed, 2 bad usage, 9 an unknown\n"
    "name with --strict.\n";

struct Options {
    bool hex = false;
    bool decode = false;
    bool names = false;
    bool strict = false;
    bool list_names = false;
    std::string text;
};

int Run(int argc, char** argv) {
    CommandLine command_line(
        kName,
        "Translates a Wendle message into the bytes it stands for, or "
        "(--decode) bytes into a message.",
        "wendle-translate [--hex] [--strict] [--decode [--names]] [--] [TEXT] | "
        "--list-names",
        kExamples);
    CLI::App& app = command_line.app;
    Options options;
    app.add_flag("--hex", options.hex,
                 "Write the bytes as upper-case hex pairs separated by spaces and a newline, "
                 "e.g. --hex '<254,1>' prints FE 01");
    CLI::Option* decode = app.add_flag(
        "--decode", options.decode,
        "Read bytes and write a message that translates back to exactly them: printable "
        "ASCII as it is, other bytes as decimal tokens, e.g. <254,192>; nothing is added "
        "after it, not even a newline");
    app.add_flag("--names", options.names,
                 "With --decode: write display commands by name, e.g. <KTA_LINE2> for FE C0 "
                 "and <CLS> for 0C")
        ->needs(decode);
    app.add_flag("--strict", options.strict,
                 "An unknown name (a misspelt <KTA_LIN2>) is an error, status 9, and nothing is "
                 "written; without it, it is a warning on standard error and gives no bytes");
    CLI::Option* list_names = app.add_flag(
        "--list-names", options.list_names,
        "Print every name with its bytes, one a line (e.g. KTA_LINE2 FE C0), and exit");
    CLI::Option* text = app.add_option(
        "TEXT", options.text,
        "The message (with --decode: the bytes); without it, all of standard input is read. "
        "Put -- before a TEXT that starts with -");
    if (const std::optional<int> status = command_line.Parse(argc, argv)) {
        return *status;
    }
    if (options.hex && options.decode) {
        return command_line.Fail("--hex and --decode exclude each other (to decode a hex dump, "
                                 "turn it into bytes first: xxd -r -p)");
    }

    if (list_names->count() != 0) {
        if (options.hex || options.decode || options.strict || text->count() != 0) {
            return command_line.Fail("--list-names goes alone");
        }
        const LineStatus written = WriteStandardOutput(NameList());
        return written.ok() ? 0 : ReportFailure(kName, written);
    }

    std::string input;
    if (text->count() != 0) {
        input = options.text;
    } else if (LineStatus status = ReadStandardInput(input); !status.ok()) {
        return ReportFailure(kName, status);
    }
    std::string output;
    if (options.decode) {
        output = DecodeBytes(input, options.names);
    } else {
        if (WarnUnknownNames(kName, input, options.strict) != 0 && options.strict) {
            return kUnknownNameStatus;
        }
        input.resize(TranslateText(input.data(), input.size()));
        output = options.hex ? HexPairs(input) + '\n' : std::move(input);
    }
    const LineStatus written = WriteStandardOutput(output);
    return written.ok() ? 0 : ReportFailure(kName, written);
}

} // namespace

int main(int argc, char** argv) {
    return RunGuarded(kName, Run, argc, argv);
}
