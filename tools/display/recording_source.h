// A SOURCE that is a recording (docs/timing.md), told from captured bytes
// by its first line, the header.
#pragma once

#include "display/recording.h"

#include <string>
#include <vector>

// Whether `path` is a regular file that begins with the recording header,
// and if so its events; what is wrong with its first bad line ("line 3:
// time goes backwards: 12 after 40"), or empty. Standard input ("-") and
// devices are never read here: a port would block.
std::string ReadRecordingSource(const std::string& path, std::vector<RecordingEvent>& events,
                                bool& is_recording);
