// wendle-send --pace against the least possible time, and against the
// --char-delay that is just as safe. A message with five clears goes at 9600
// baud onto a pseudo-terminal whose master is read here, each read stamped
// with its time; the reads go through the module model without a buffer (as
// wendle-display --buffer 0 takes them), which says what such a module
// loses and when the last byte has arrived.
//
//   pace_bench [RUNS]        (default 20 of each)
//
// A loss here is a read stamped late, not a byte sent early: a byte's read
// delayed by more than the pacing's margin (a tenth of each busy time; the
// kernel hands a pseudo-terminal's bytes to its reader from a worker
// thread) makes the bytes after it look early. A loaded machine can show
// such losses; compare the runs that lost nothing.
//
// The least possible time: every byte's frame back to back, and after each
// clear the part of its 1.52 ms that the next byte's frame does not hide.
// The safe --char-delay: each byte goes alone, after the last has left the
// port, so the byte after a clear arrives a frame and the delay after it
// ends; to keep --pace's margin the delay must cover 1.52 ms and its tenth
// less one frame (0.630 ms), rounded up to the millisecond the option takes.
#include "display/geometry.h"
#include "display/module.h"
#include "serial/posix/pseudo_terminal.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kFrameNs = 10e9 / 9600; // 8N1 at 9600 baud
constexpr double kClearNs = 1.52e6;      // the datasheet's clear at 270 kHz
constexpr int kClears = 5;
constexpr char kPiece[] = "<CLS>Hello, world"; // a clear and 12 characters

struct Run {
    double send_ms = -1; // the first byte read to the last one's arrival
    std::uint64_t lost = 0;
    std::size_t bytes = 0;
    std::string first_lost;
};

// Runs wendle-send with `args` onto `pty`, reading its master until the
// program has ended and the line is quiet.
Run SendAndRead(const PseudoTerminal& pty, std::vector<std::string> args) {
    args.insert(args.begin(), {WENDLE_SEND_TOOL, "-p", pty.slave_path});
    std::vector<char*> pointers;
    for (std::string& arg : args) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, pointers[0], nullptr, nullptr, pointers.data(), environ) != 0) {
        return {};
    }
    Module module = MakeModule(DefaultGeometry(), Profile::kCommand, {kNominalOscillatorKhz, 0});
    Run run;
    Clock::time_point first{};
    double end_ns = 0;
    int status = 0;
    bool ended = false;
    for (;;) {
        std::string read;
        ReadFromLine(pty.master.get(), read, std::chrono::milliseconds(ended ? 50 : 5));
        const Clock::time_point now = Clock::now();
        if (read.empty() && ended) {
            break;
        }
        if (!read.empty()) {
            first = run.bytes == 0 ? now : first;
            const double at = std::chrono::duration<double, std::nano>(now - first).count();
            for (std::size_t i = 0; i < read.size(); ++i) {
                end_ns = std::max(end_ns, at) + kFrameNs;
            }
            FeedModuleAt(module, static_cast<std::uint64_t>(at), read);
            run.bytes += read.size();
        }
        ended = ended || waitpid(pid, &status, WNOHANG) == pid;
    }
    FinishModule(module);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        run.send_ms = end_ns / 1e6;
        run.lost = module.lost.total;
        run.first_lost = run.lost > 0 ? DescribeLost(module, module.lost.first[0]) : "";
    }
    return run;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    PseudoTerminal pty;
    if (const LineStatus status = OpenPseudoTerminal(pty); !status.ok() || runs < 1) {
        std::fprintf(stderr, "pace_bench: %s\n", status.ok() ? "RUNS < 1" : status.message.c_str());
        return 1;
    }
    std::string message;
    for (int i = 0; i < kClears; ++i) {
        message += kPiece;
    }
    const std::size_t bytes = kClears * (sizeof kPiece - 5); // "<CLS>" is one byte
    const double least_ms = (bytes * kFrameNs + kClears * (kClearNs - kFrameNs)) / 1e6;
    const int safe_delay_ms = static_cast<int>((kClearNs - kFrameNs + 999'999) / 1e6);
    const std::string delay = std::to_string(safe_delay_ms);
    const struct {
        std::string name;
        std::vector<std::string> args;
    } modes[] = {
        {"--pace", {"--pace", message}},
        {"--char-delay " + delay, {"--char-delay", delay, message}},
    };
    std::vector<double> times[2];
    std::uint64_t lost[2] = {};
    int clean[2] = {};
    std::string a_loss[2];
    for (int i = 0; i < runs; ++i) {
        for (int m = 0; m < 2; ++m) {
            const Run run = SendAndRead(pty, modes[m].args);
            if (run.send_ms < 0 || run.bytes != bytes) {
                std::fprintf(stderr, "pace_bench: %s run %d failed (%zu bytes)\n",
                             modes[m].name.c_str(), i, run.bytes);
                return 1;
            }
            times[m].push_back(run.send_ms);
            lost[m] += run.lost;
            clean[m] += run.lost == 0 ? 1 : 0;
            a_loss[m] = run.lost > 0 ? run.first_lost : a_loss[m];
        }
        std::fprintf(stderr, "pace_bench: %d of %d\n", i + 1, runs);
    }
    std::printf("%d runs of each: %zu bytes with %d clears at 9600 8N1 on a pseudo-terminal\n",
                runs, bytes, kClears);
    std::printf("least possible: %.3f ms (wire %.3f ms + %d x %.3f ms of clear the wire does "
                "not hide)\n",
                least_ms, bytes * kFrameNs / 1e6, kClears, (kClearNs - kFrameNs) / 1e6);
    for (int m = 0; m < 2; ++m) {
        const double worst = *std::max_element(times[m].begin(), times[m].end());
        std::printf("%-16s median %.3f ms (%.3fx least), worst %.3f ms (%.3fx)\n"
                    "                 runs where a module without a buffer lost nothing: %d of %d "
                    "(%llu bytes lost in all)%s%s\n",
                    modes[m].name.c_str(), Median(times[m]), Median(times[m]) / least_ms, worst,
                    worst / least_ms, clean[m], runs, static_cast<unsigned long long>(lost[m]),
                    a_loss[m].empty() ? "" : "; e.g. ", a_loss[m].c_str());
    }
    std::printf("--pace is %.2fx as fast as the safe --char-delay %d (medians)\n",
                Median(times[1]) / Median(times[0]), safe_delay_ms);
    return 0;
}
