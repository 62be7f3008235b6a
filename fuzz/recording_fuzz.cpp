// Any text as a recording: never a crash, nothing kept from one refused;
// one accepted, written again and read again, gives the same events, and
// runs through the model.
#include "display/recording.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<RecordingEvent> events, again;
    if (!ParseRecording(text, events).empty()) {
        if (!events.empty()) {
            std::abort();
        }
        return 0;
    }
    std::string written = std::string(kRecordingHeader) + "\n";
    for (const RecordingEvent& event : events) {
        written += RecordingLines(event);
    }
    if (!ParseRecording(written, again).empty() || again != events) {
        std::abort();
    }
    Module module =
        MakeModule(DefaultGeometry(), Profile::kCommand, {190, static_cast<unsigned>(size % 3)});
    FeedRecording(module, events);
    return 0;
}
