#include "tools/display/recording_source.h"

#include <filesystem>
#include <fstream>
#include <sstream>

std::string ReadRecordingSource(const std::string& path, std::vector<RecordingEvent>& events,
                                bool& is_recording) {
    std::error_code error;
    if (path == "-" || !std::filesystem::is_regular_file(path, error)) {
        return {};
    }
    std::ifstream file(path, std::ios::binary);
    std::string first;
    std::getline(file, first);
    if (!first.empty() && first.back() == '\r') {
        first.pop_back();
    }
    if (first != kRecordingHeader) {
        return {};
    }
    std::ostringstream text;
    text << first << "\n" << file.rdbuf();
    is_recording = true;
    return ParseRecording(text.str(), events);
}
