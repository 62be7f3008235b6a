#include "display/recording.h"

#include <charconv>

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::size_t kBytesPerLine = 16;

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    for (std::size_t at = line.find_first_not_of(kBlanks); at != line.npos;
         at = line.find_first_not_of(kBlanks, at)) {
        const std::size_t end = std::min(line.find_first_of(kBlanks, at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
        return (c | 0x20) - 'a' + 10;
    }
    return -1;
}

std::string Quoted(std::string_view word) {
    std::string text(1, '"');
    text += word;
    return text + '"';
}

// One event from the words of a line; what is wrong with it otherwise.
std::string ParseEvent(const std::vector<std::string_view>& words, RecordingEvent& event) {
    const std::string_view time = words[0];
    const auto [end, error] =
        std::from_chars(time.data(), time.data() + time.size(), event.microseconds);
    if (error != std::errc{} || end != time.data() + time.size() ||
        event.microseconds > kMaxRecordingMicroseconds) {
        return Quoted(time) +
               " is not a time: give the microseconds since the first arrival, "
               "up to " +
               std::to_string(kMaxRecordingMicroseconds);
    }
    if (words.size() == 1) {
        return "a time and nothing after it: give bytes in hex or \"line\" and the settings";
    }
    event.is_line = words[1] == "line";
    if (event.is_line) {
        if (words.size() != 4) {
            return "line settings are a rate and a frame, such as \"line 9600 8N1\"";
        }
        const std::optional<LineFrame> line = ParseLineFrame(words[2], words[3]);
        if (!line) {
            return Quoted(std::string(words[2]) + " " + std::string(words[3])) +
                   " are not line settings: give a rate, then data bits, parity and stop "
                   "bits, such as \"9600 8N1\"";
        }
        event.line = *line;
        return CheckLineFrame(*line);
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string_view word = words[i];
        if (word.size() != 2 || HexDigit(word[0]) < 0 || HexDigit(word[1]) < 0) {
            return Quoted(word) + " is not a byte: give two hex digits, such as 0C";
        }
        event.bytes += static_cast<char>(HexDigit(word[0]) * 16 + HexDigit(word[1]));
    }
    return {};
}

} // namespace

std::string ParseRecording(std::string_view text, std::vector<RecordingEvent>& events) {
    std::vector<RecordingEvent> parsed;
    bool line_set = false;
    std::size_t number = 0;
    for (std::size_t at = 0; at < text.size() || number == 0; ++number) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::string where = "line " + std::to_string(number + 1) + ": ";
        if (number == 0) {
            if (line != kRecordingHeader) {
                return where + "not a recording: the first line must be " +
                       Quoted(kRecordingHeader);
            }
            continue;
        }
        const std::vector<std::string_view> words = Words(line);
        if (words.empty() || words[0].starts_with('#')) {
            continue;
        }
        RecordingEvent event{};
        if (std::string error = ParseEvent(words, event); !error.empty()) {
            return where + error;
        }
        const std::uint64_t last = parsed.empty() ? 0 : parsed.back().microseconds;
        if (event.microseconds < last) {
            return where + "time goes backwards: " + std::to_string(event.microseconds) +
                   " after " + std::to_string(last);
        }
        if (!event.is_line && !line_set) {
            return where + "bytes before the line's settings: put a line such as "
                           "\"0 line 9600 8N1\" first";
        }
        line_set |= event.is_line;
        if (!event.is_line && !parsed.empty() && !parsed.back().is_line &&
            parsed.back().microseconds == event.microseconds) {
            parsed.back().bytes += event.bytes;
        } else {
            parsed.push_back(std::move(event));
        }
    }
    events = std::move(parsed);
    return {};
}

std::string RecordingLines(const RecordingEvent& event) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const std::string time = std::to_string(event.microseconds);
    if (event.is_line) {
        return time + " line " + LineFrameText(event.line) + "\n";
    }
    std::string text;
    for (std::size_t i = 0; i < event.bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(event.bytes[i]);
        if (i % kBytesPerLine == 0) {
            text += i == 0 ? "" : "\n";
            text += time;
        }
        text += {' ', kDigits[byte >> 4], kDigits[byte & 0xF]};
    }
    return text.empty() ? text : text + "\n";
}

std::string RecordArrival(Recorder& recorder, std::uint64_t clock_ns, const LineFrame& line,
                          std::string_view bytes) {
    std::string text;
    if (!recorder.started) {
        recorder = {true, clock_ns, 0, line};
        text = std::string(kRecordingHeader) + "\n";
        text += RecordingLines({0, true, line, {}});
    }
    const std::uint64_t since = std::max(clock_ns, recorder.first_ns) - recorder.first_ns;
    recorder.last_us = std::max(recorder.last_us, since / 1000);
    if (line != recorder.line) {
        recorder.line = line;
        text += RecordingLines({recorder.last_us, true, line, {}});
    }
    return text + RecordingLines({recorder.last_us, false, {}, std::string(bytes)});
}

void FeedRecording(Module& module, std::span<const RecordingEvent> events) noexcept {
    for (const RecordingEvent& event : events) {
        if (event.is_line) {
            SetModuleLine(module, event.line);
        } else {
            FeedModuleAt(module, event.microseconds * 1000, event.bytes);
        }
    }
}
