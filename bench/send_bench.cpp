// One wendle-send of 64 bytes on a pseudo-terminal (start, open, configure,
// write, drain, close, exit) beside the floor: a C program making the same
// system calls. The two run alternately in one process, so that both see
// the same machine; the figure is the ratio of the medians. wendle-send
// --version runs beside them to show what starting a C++ program costs.
//
//   send_bench [RUNS]        (default 2000 of each)
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

// Microseconds from the start of the program to its exit, or -1 on failure.
double TimeRun(std::vector<std::string> argv) {
    std::vector<char*> pointers;
    for (std::string& arg : argv) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    const Clock::time_point start = Clock::now();
    pid_t pid;
    int status = 0;
    const int spawned = posix_spawn(&pid, pointers[0], &quiet, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Spread {
    double p10, median, p90;
};

Spread SpreadOf(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return {times[times.size() / 10], times[times.size() / 2], times[times.size() * 9 / 10]};
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 2000;
    PseudoTerminal pty;
    if (const LineStatus status = OpenPseudoTerminal(pty); !status.ok() || runs < 10) {
        std::fprintf(stderr, "send_bench: %s\n",
                     status.ok() ? "RUNS < 10" : status.message.c_str());
        return 1;
    }
    // 64 bytes on the line: <CLS> and 63 characters.
    const std::string text(63, 'W');
    const std::string bytes = "\x0C" + text;
    std::vector<double> tool_times, start_times, floor_times;
    std::string arrived;
    for (int i = 0; i < runs; ++i) {
        const double tool = TimeRun({WENDLE_SEND_TOOL, "-p", pty.slave_path, "<CLS>" + text});
        const double floor = TimeRun({SEND_FLOOR_TOOL, pty.slave_path, bytes});
        const double start = TimeRun({WENDLE_SEND_TOOL, "--version"});
        arrived.clear();
        while (arrived.size() < 2 * bytes.size() &&
               ReadFromLine(pty.master.get(), arrived, std::chrono::milliseconds(1000)).ok() &&
               !arrived.empty()) {
        }
        if (tool < 0 || floor < 0 || start < 0 || arrived != bytes + bytes) {
            std::fprintf(stderr, "send_bench: run %d failed\n", i);
            return 1;
        }
        tool_times.push_back(tool);
        floor_times.push_back(floor);
        start_times.push_back(start);
        if ((i + 1) % (runs / 10) == 0) {
            std::fprintf(stderr, "send_bench: %d of %d\n", i + 1, runs);
        }
    }
    const Spread tool = SpreadOf(tool_times);
    const Spread floor = SpreadOf(floor_times);
    const Spread start = SpreadOf(start_times);
    std::printf("%d runs of each, 64 bytes at 9600 on %s; microseconds p10 / median / p90\n", runs,
                pty.slave_path.c_str());
    std::printf("wendle-send   %8.0f %8.0f %8.0f\n", tool.p10, tool.median, tool.p90);
    std::printf("C floor       %8.0f %8.0f %8.0f\n", floor.p10, floor.median, floor.p90);
    std::printf("wendle-send --version (start and exit alone) %8.0f %8.0f %8.0f\n", start.p10,
                start.median, start.p90);
    std::printf("ratio of medians %.2f\n", tool.median / floor.median);
    return 0;
}
