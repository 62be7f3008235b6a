// The model's clocks, as module.cpp calls them; users call FeedModuleAt.
#pragma once

#include "display/module.h"

// The settings, busy times and a power-on line (9600 8N1) for a new module
// of its profile.
void StartModuleTime(Module& module, const ModuleTiming& timing);

// A read at `read_ns` starts a burst after a pause, or goes on with the one
// on the wire.
void StartRead(Module& module, std::uint64_t read_ns) noexcept;

// Times byte module.offset, whose Work by the module's command waiting is
// `work`, for the module and for the one without a buffer: whether the
// module acts on it. A lost byte is reported (and, with no buffer, ends the
// command that was waiting for it).
bool TimeByte(Module& module, unsigned char byte, Work work) noexcept;
