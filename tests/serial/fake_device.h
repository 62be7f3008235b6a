// A serial driver in memory, installed behind the device-call table, for
// what Wine's real driver cannot show: every call with its arguments and the
// state of the process around it, single calls that fail, and a line state
// whose every member can be watched. The tests drive it from one thread.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct DeviceCalls;

// The `occurrence`-th call named `call` (counted from 1) does nothing, leaves
// `error` as the last error and returns `result` (for CreateFileW: a handle
// when `result` is TRUE).
struct Fault {
    const char* call;
    int occurrence;
    DWORD error;
    BOOL result;
};

// A line state in which every member differs from what opening applies.
DCB ForeignLineState();

// "fOutxCtsFlow=0 ByteSize=8": the members in which `after` differs from
// `before`, in the order of the DCB.
std::string LineStateChanges(const DCB& before, const DCB& after);

struct FakeDriver {
    DCB state = ForeignLineState();
    // Whether SetCommState and SetupComm change what later calls report.
    bool keepsState = true;
    DWORD inputQueue = 2048, outputQueue = 4096;
    DWORD fileType = FILE_TYPE_CHAR;
    std::vector<Fault> faults = {};
};

// Installed for its lifetime; ports it opened that the test leaves in the
// table are closed when it goes.
struct FakeDevice {
    explicit FakeDevice(FakeDriver driver = {});
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    FakeDriver driver;
    // Each call and its arguments: "SetupComm 1024 4096", "WriteFile A\r",
    // "SetCommState fOutxCtsFlow=0" (the members it changes);
    // " (unguarded)" ends a call made otherwise than under the device-call
    // lock alone, with the error boxes off and the last error cleared.
    std::vector<std::string> calls;
    std::vector<HANDLE> handles;         // the handle each call was given
    std::vector<HANDLE> opened;          // the handles given out, in order
    std::map<std::string, int> counts{}; // calls by name

  private:
    const DeviceCalls* previous_;
};
