// wendle-display [--size 20x4] [--profile NAME] [--osc KHZ] [--buffer N]
//                [--dots] [--dump] [--png FILE] [--idle-exit SECONDS] [--plain]
//                [--record FILE] (--pty [--link PATH] | [-b BAUD] SOURCE [--real-time])
//
// A serial character-LCD module on the screen: reads what a writer sends (a
// serial port, a pseudo-terminal it makes, a file of captured bytes or
// standard input), feeds it to the module model and shows the screen live on
// a terminal, one line per arrival elsewhere, and the screen as text or as a
// picture at the end. Each byte reaches the model's module when its last
// stop bit would: what a module of the chosen kind loses, and what one
// without a buffer would, are said in every output. Exit status: 0 done, 1 reading or writing
// failed, 2 bad usage, and wendle-send's for the failures they share (3 no such source, 7 a rate
// outside the six, ...).
#include "display/geometry.h"
#include "display/module.h"
#include "display/recording.h"
#include "display/screen.h"
#include "tools/command_line.h"
#include "tools/display/display_loop.h"
#include "tools/display/png_file.h"
#include "tools/display/recording_source.h"

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr char kName[] = "wendle-display";

constexpr char kExamples[] =
    "  wendle-display --pty                      makes a port to write to and shows it live\n"
    "  wendle-display --pty --link ~/.wine/dosdevices/com1   the same, as COM1 under Wine\n"
    "  wendle-display -b 19200 /dev/ttyUSB0      what arrives on a real port\n"
    "  wendle-translate '<CLS>Hello<KTA_LINE2>world' | wendle-display --dump -\n"
    "  wendle-display --size 20x4 --png screen.png capture.bin\n"
    "  wendle-display --pty --dump --idle-exit 2 > screen.txt   for scripts\n"
    "  wendle-display --pty --buffer 0 --record capture.rec   a module without a buffer\n"
    "  wendle-display --buffer 0 --dump capture.rec   that session again, with its times\n"
    "On a terminal the screen is drawn live, fitted to the terminal (q or Ctrl+C\n"
    "ends, Ctrl+Z stops; NO_COLOR and TERM=dumb are honoured); when standard output\n"
    "is a pipe or a file, or with --plain, each arrival is one line: the bytes in\n"
    "hex, two spaces, the bytes decoded, then the bytes not modelled; with --dump\n"
    "or --png only the results are written, at the end.\n"
    "Every output says what the module lost, and what one without a buffer would.\n"
    "Exit status: 0 done, 1 reading or writing failed, 2 bad usage or a malformed\n"
    "recording (nothing shown), and as\n"
    "wendle-send: 3 no such SOURCE, 4 permission denied, 5 port busy, 6 not a\n"
    "serial port (a directory), 7 rate not supported.\n";

struct Options {
    std::string size = "16x2";
    std::string profile = "command";
    std::string source;
    bool pty = false;
    std::string link;
    int baud = 9600;
    bool dots = false;
    bool dump = false;
    std::string png;
    bool plain = false;
    double idle_exit = 0;
    unsigned osc = kNominalOscillatorKhz;
    unsigned buffer = kDefaultBuffer;
    std::string record;
    bool real_time = false;
};

std::string SizeNames() {
    std::string names;
    for (const Geometry& geometry : Geometries) {
        names += (names.empty() ? "" : ", ") + std::string(geometry.name);
    }
    return names;
}

int Failed(const LineStatus& status) {
    return ReportFailure(kName, status);
}

// The end: the port put back and the link gone, then the results.
int Finish(const Options& options, DisplaySource& source, const std::string& pty_path,
           const Module& module, const LineStatus& loop) {
    int status = loop.ok() ? 0 : Failed(loop);
    // A line that failed (hung up, say) is not told again for failing to close.
    if (LineStatus closed = source.line.Close(); !closed.ok() && loop.ok()) {
        closed.message = source.name + ": " + closed.message;
        status = Failed(closed);
    }
    if (!options.link.empty()) {
        if (LineStatus removed = RemoveLink(options.link, pty_path); !removed.ok()) {
            status = Failed(removed);
        }
    }
    if (options.dump) {
        ReportsListed listed;
        if (LineStatus written = WriteOut(DumpText(module) + ReportLines(module, listed, true));
            !written.ok()) {
            status = Failed(written);
        }
    }
    if (!options.png.empty()) {
        // The screen of the module chosen: what it lost is not on it.
        if (const std::string error = WritePng(DrawPicture(module), options.png); !error.empty()) {
            status = Failed({LineError::kOther, error});
        }
    }
    return status;
}

// Standard output: a terminal to draw on live, else lines or the results.
LineStatus LiveMode(const Options& options, bool& live) {
    bool terminal = false;
    LineStatus status = IsTerminal(StandardStream::kOutput, terminal);
    live = !options.plain && terminal && !DumbTerminal();
    return status;
}

// A recording SOURCE, or a malformed one refused with its line: status 1,
// as wendle-send --replay refuses it (a bad file, not bad usage).
std::optional<int> ReadRecording(const std::string& path, std::vector<RecordingEvent>& events,
                                 bool& is_recording) {
    if (const std::string wrong = ReadRecordingSource(path, events, is_recording); !wrong.empty()) {
        return Failed({LineError::kOther, path + ": " + wrong});
    }
    return std::nullopt;
}

int Show(const Options& options, const Geometry& geometry, Profile profile,
         const std::vector<RecordingEvent>& replay, bool replaying) {
    if (LineStatus status = IgnoreBrokenPipe(); !status.ok()) {
        return Failed(status);
    }
    LoopOptions loop_options;
    if (LineStatus status = LiveMode(options, loop_options.live); !status.ok()) {
        return Failed(status);
    }
    PseudoTerminal pty;
    DisplaySource source;
    if (options.pty) {
        if (LineStatus status = OpenPseudoTerminal(pty); !status.ok()) {
            return Failed(status);
        }
        if (LineStatus status = UsePseudoTerminal(pty, source); !status.ok()) {
            return Failed(status);
        }
    } else if (replaying) {
        source.name = options.source;
    } else if (LineStatus status = OpenSource(options.source, options.baud, source); !status.ok()) {
        return Failed(status);
    }
    UniqueFd record;
    if (!options.record.empty()) {
        if (LineStatus status = MakeRecordFile(options.record, record); !status.ok()) {
            return Failed(status);
        }
        loop_options.record = &record;
        loop_options.record_path = options.record;
    }
    if (!options.link.empty()) {
        if (LineStatus status = MakeLink(options.link, pty.slave_path); !status.ok()) {
            return Failed(status);
        }
        source.name += " (linked as " + options.link + ")";
    }
    // First thing, before any drawing: the path a writer opens.
    if (options.pty) {
        if (LineStatus status = WriteOut(pty.slave_path + "\n"); !status.ok()) {
            RemoveLink(options.link, pty.slave_path); // the write's failure is what is told
            return Failed(status);
        }
    }
    loop_options.lines = !loop_options.live && !options.dump && options.png.empty();
    loop_options.dots = options.dots;
    loop_options.colour = !NoColourWanted();
    // Standard input may be what is shown; then it is no keyboard.
    loop_options.keys = options.pty || options.source != "-";
    loop_options.idle_exit = options.idle_exit;
    loop_options.replay = replay;
    loop_options.replaying = replaying;
    loop_options.real_time = options.real_time;
    Module module = MakeModule(geometry, profile, {options.osc, options.buffer});
    // A port, a file or standard input: -b, 8N1 (CheckLineRate passed).
    SetModuleLine(module, {static_cast<std::uint32_t>(options.baud), 8, 'N', 1});
    const LineStatus loop = RunDisplayLoop(source, module, loop_options);
    return Finish(options, source, pty.slave_path, module, loop);
}

int Run(int argc, char** argv) {
    CommandLine command_line(
        kName,
        "Shows what a serial character-LCD module (HD44780 type, serial command layer) makes "
        "of the bytes it is sent: the screen with the cursor and backlight, the last bytes in "
        "hex and decoded, the line settings and what was not modelled.",
        "wendle-display [--size SIZE] [--profile NAME] [--osc KHZ] [--buffer N] [--dots] "
        "[--dump] [--png FILE] [--idle-exit SECONDS] [--plain] [--record FILE] (--pty [--link "
        "PATH] | [-b BAUD] SOURCE [--real-time])",
        kExamples);
    CLI::App& app = command_line.app;
    Options options;
    app.add_option("--size", options.size,
                   "The screen, columns x rows: " + SizeNames() +
                       " (default 16x2), e.g. "
                       "--size 20x4")
        ->type_name("SIZE");
    app.add_option("--profile", options.profile,
                   "What bytes 0-31 are: command (the module's commands, such as 12 clear; "
                   "the default) or prefix-only (characters, so custom characters 0-7 show), "
                   "e.g. --profile prefix-only")
        ->type_name("NAME");
    // Whole numbers; their ranges are checked with what they mean, after parsing.
    const auto whole = [&app](const char* name, auto& value, const std::string& help,
                              const char* type, const std::string& wanted) {
        app.add_option(name, value, help)
            ->type_name(type)
            ->check(WholeNumberValidator(wanted, 0, INT_MAX));
    };
    whole("--osc", options.osc,
          "The controller's oscillator in kHz, which scales every busy time: 270 (the default, "
          "the datasheet's) or, e.g., --osc 190 for a slow part",
          "KHZ", "a frequency in kHz such as 270");
    whole("--buffer", options.buffer,
          "Bytes the module holds while its controller is busy (default 80); --buffer 0: none, "
          "each byte handed on as it arrives and lost if the controller is busy",
          "N", "a number of bytes such as 80");
    app.add_option("--record", options.record,
                   "Write every arrival with its time to FILE as a recording (made before "
                   "anything is read, written as bytes come), e.g. --record capture.rec")
        ->type_name("FILE");
    app.add_flag("--real-time", options.real_time,
                 "When SOURCE is a recording: replay it at its recorded pace (for the live "
                 "view) instead of as fast as it is computed");
    app.add_flag("--pty", options.pty,
                 "Make a pseudo-terminal, print the path of its end to write to (e.g. "
                 "/dev/pts/5) on a line of its own, and show what is written there; ends on "
                 "Ctrl+C, SIGTERM or --idle-exit");
    app.add_option("--link", options.link,
                   "With --pty: make a symbolic link at PATH to that end, removed at exit; an "
                   "existing link there is replaced, e.g. --link ~/.wine/dosdevices/com1")
        ->type_name("PATH");
    whole("-b,--baud", options.baud,
          "When SOURCE is a serial port: its rate (default 9600), e.g. -b 19200; the port is set "
          "raw, 8N1, no flow control, and locked. A file or standard input is timed at it",
          "BAUD", "a rate such as 19200");
    app.add_flag("--dots", options.dots,
                 "Draw each cell as its 5x8 dots in half-block characters instead of text, when "
                 "the terminal is big enough (97x18 for 16x2)");
    app.add_flag("--dump", options.dump,
                 "At the end, print the screen as text: each row in full (UTF-8), then "
                 "\"cursor ROW COLUMN\" or \"cursor -\", then the bytes not modelled with their "
                 "offsets");
    app.add_option("--png", options.png,
                   "At the end, write the screen as a PNG picture of the module, e.g. --png "
                   "screen.png")
        ->type_name("FILE");
    app.add_option("--idle-exit", options.idle_exit,
                   "End this many seconds after the last byte, once something has arrived, "
                   "e.g. --idle-exit 2 (fractions allowed)")
        ->type_name("SECONDS")
        ->check(SecondsValidator("2"));
    app.add_flag("--plain", options.plain,
                 "No live drawing even on a terminal: one line per arrival (hex, then decoded)");
    CLI::Option* source =
        app.add_option("SOURCE", options.source,
                       "What to read: a serial port or pseudo-terminal (/dev/ttyUSB0), a file of "
                       "captured bytes, a recording (--record) to replay with its times, or - "
                       "for standard input; files end at their end")
            ->type_name("");
    if (const std::optional<int> status = command_line.Parse(argc, argv)) {
        return *status;
    }
    const Geometry* geometry = FindGeometry(options.size);
    if (geometry == nullptr) {
        return command_line.Fail("no screen of size " + options.size + ": use " + SizeNames());
    }
    const std::optional<Profile> profile = FindProfile(options.profile);
    if (!profile) {
        return command_line.Fail("no profile " + options.profile + ": use " +
                                 std::string(ProfileName(Profile::kCommand)) + " or " +
                                 std::string(ProfileName(Profile::kPrefixOnly)));
    }
    if (options.pty && source->count() != 0) {
        return command_line.Fail("--pty and a SOURCE exclude each other: --pty makes the port "
                                 "it reads");
    }
    if (!options.pty && source->count() == 0) {
        return command_line.Fail("nothing to read: give a SOURCE (a port, a file, - for "
                                 "standard input) or --pty");
    }
    if (!options.link.empty() && !options.pty) {
        return command_line.Fail("--link goes with --pty");
    }
    if (const std::string wrong = CheckModuleTiming({options.osc, kDefaultBuffer});
        !wrong.empty()) {
        return command_line.Fail("--osc " + std::to_string(options.osc) + ": " + wrong);
    }
    if (const std::string wrong = CheckModuleTiming({options.osc, options.buffer});
        !wrong.empty()) {
        return command_line.Fail("--buffer " + std::to_string(options.buffer) + ": " + wrong);
    }
    if (LineStatus status = CheckLineRate(options.baud); !status.ok()) {
        return Failed(status);
    }
    std::vector<RecordingEvent> replay;
    bool replaying = false;
    if (const std::optional<int> refused = ReadRecording(options.source, replay, replaying)) {
        return *refused;
    }
    if (options.real_time && !replaying) {
        return command_line.Fail("--real-time goes with a recording SOURCE (made with --record)");
    }
    return Show(options, *geometry, *profile, replay, replaying);
}

} // namespace

int main(int argc, char** argv) {
    // Before anything else: a signal that comes while the program starts is
    // taken once it can end it the orderly way.
    if (LineStatus status = HoldEndingSignals(); !status.ok()) {
        return Failed(status);
    }
    return RunGuarded(kName, Run, argc, argv);
}
