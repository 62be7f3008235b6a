// Runs a built program the way a user or a script does: arguments, standard
// input from a buffer, standard output and error caught, the exit status.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ToolRun {
    int exit_code = -1; // -1 when it did not exit by itself
    std::string out;
    std::string err;
};

// A program started in the background, for tests that work its other side
// while it runs. Standard input, output and error go through files, so that
// no pipe can fill up, or input and output are `terminal` when it is named;
// `environment` entries ("NAME=value") are added to this process's.
class RunningTool {
  public:
    RunningTool(const std::string& program, const std::vector<std::string>& args,
                std::string_view input = {}, const std::vector<std::string>& environment = {},
                const std::string& terminal = {});
    RunningTool(const RunningTool&) = delete;
    RunningTool& operator=(const RunningTool&) = delete;
    ~RunningTool();

    bool Ended(); // does not wait
    void Signal(int number);
    bool Blocks(int number) const; // whether it holds back the signal now
    // Time on a processor or waiting for one so far: a program that spins
    // gains all the time that passes, however loaded the machine.
    double RunnableSeconds() const;
    std::string OutputSoFar() const;
    ToolRun Finish(); // waits for the end; called once

  private:
    std::string stem_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
};

// A file of this process in the test's temporary folder, holding `bytes`;
// its path. Whatever is at that path then is removed when the program ends.
std::string TempFile(std::string_view name, std::string_view bytes = {});

// How many times `part` is in `text`, overlapping ones counted.
inline std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; ++at, ++count) {
    }
    return count;
}

// The whole of a file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

inline ToolRun RunTool(const std::string& program, const std::vector<std::string>& args,
                       std::string_view input = {},
                       const std::vector<std::string>& environment = {}) {
    return RunningTool(program, args, input, environment).Finish();
}

// Waits until `done` holds, as long as a loaded machine may need; whether it
// holds.
inline bool WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 3000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}
