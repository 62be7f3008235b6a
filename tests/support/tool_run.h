// Runs a built program the way a user or a script does: arguments, standard
// input from a buffer, standard output and error caught, the exit status.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ToolRun {
    int exit_code = -1; // -1 when it did not exit by itself
    std::string out;
    std::string err;
};

// The whole of a file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// A file of this process in the test's temporary folder, holding `bytes`;
// its path. Whatever is at that path then is removed when the program ends,
// also after a failed assertion has left its test before its own clean-up.
inline std::string TempFile(std::string_view name, std::string_view bytes = {}) {
    static struct MadeFiles {
        std::set<std::string> paths;
        ~MadeFiles() {
            for (const std::string& path : paths) {
                std::remove(path.c_str());
            }
        }
    } made;
    const std::string path = testing::TempDir() + std::to_string(getpid()) + std::string(name);
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    made.paths.insert(path);
    return path;
}

// A program started in the background, for tests that work its other side
// while it runs. Standard input, output and error go through files, so that
// no pipe can fill up, or input and output are `terminal` when it is named;
// `environment` entries ("NAME=value") are added to this process's.
class RunningTool {
  public:
    RunningTool(const std::string& program, const std::vector<std::string>& args,
                std::string_view input = {}, const std::vector<std::string>& environment = {},
                const std::string& terminal = {}) {
        static int runs = 0;
        stem_ = TempFile("wendle_tool_" + std::to_string(runs++), input);
        const std::string in = terminal.empty() ? stem_ : terminal;
        const std::string out = terminal.empty() ? stem_ + ".out" : terminal;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDWR | O_NOCTTY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (stem_ + ".err").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // env sets the environment's entries and then becomes the program.
        std::vector<std::string> strings{"/usr/bin/env"};
        strings.insert(strings.end(), environment.begin(), environment.end());
        strings.push_back(program);
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& string : strings) {
            argv.push_back(string.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            ADD_FAILURE() << "cannot start " << program;
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    RunningTool(const RunningTool&) = delete;
    RunningTool& operator=(const RunningTool&) = delete;
    ~RunningTool() {
        Signal(SIGKILL);
        Finish();
        for (const char* suffix : {"", ".out", ".err"}) {
            std::remove((stem_ + suffix).c_str());
        }
    }

    bool Ended() { // does not wait
        reaped_ = reaped_ || pid_ <= 0 || waitpid(pid_, &status_, WNOHANG) == pid_;
        return reaped_;
    }
    void Signal(int number) {
        if (!Ended()) {
            kill(pid_, number);
        }
    }
    // Whether it holds back the signal now.
    bool Blocks(int number) const {
        const std::string status = ReadFile("/proc/" + std::to_string(pid_) + "/status");
        const std::size_t blocked = status.find("SigBlk:");
        return blocked != std::string::npos &&
               (std::stoull(status.substr(blocked + 7), nullptr, 16) >> (number - 1) & 1) != 0;
    }
    // Time on a processor or waiting for one so far (/proc/PID/schedstat's
    // first two fields, in ns): a program that spins gains all the time that
    // passes, however loaded the machine.
    double RunnableSeconds() const {
        std::istringstream fields(ReadFile("/proc/" + std::to_string(pid_) + "/schedstat"));
        double running = 0, waiting = 0;
        fields >> running >> waiting;
        return (running + waiting) / 1e9;
    }
    std::string OutputSoFar() const { return ReadFile(stem_ + ".out"); }
    // Waits for the end.
    ToolRun Finish() {
        if (pid_ > 0 && !reaped_) {
            waitpid(pid_, &status_, 0);
            reaped_ = true;
        }
        return {pid_ > 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1,
                ReadFile(stem_ + ".out"), ReadFile(stem_ + ".err")};
    }

  private:
    std::string stem_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
};

// How many times `part` is in `text`, overlapping ones counted.
inline std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at, ++count) {
    }
    return count;
}

inline ToolRun RunTool(const std::string& program, const std::vector<std::string>& args,
                       std::string_view input = {}) {
    return RunningTool(program, args, input).Finish();
}

// Waits until `done` holds, as long as a loaded machine may need; whether it
// holds.
inline bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}
