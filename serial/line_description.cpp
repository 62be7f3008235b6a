#include "serial/line_description.h"

std::string DescribeLineSettings(const LineSettings& settings) {
    std::string text = settings.baud != 0 ? std::to_string(settings.baud) : "unknown rate";
    text += ' ';
    text += static_cast<char>('0' + settings.data_bits);
    text += settings.parity;
    text += static_cast<char>('0' + settings.stop_bits);
    if (settings.rts_cts) {
        text += ", RTS/CTS";
    }
    if (settings.xon_xoff_output || settings.xon_xoff_input) {
        text += ", XON/XOFF";
    }
    if (!settings.rts_cts && !settings.xon_xoff_output && !settings.xon_xoff_input) {
        text += ", no flow control";
    }
    if (!settings.output_processing && !settings.canonical_input) {
        text += ", raw";
    } else {
        text +=
            settings.output_processing ? ", output processed (a line feed may leave as CR LF)" : "";
        text += settings.canonical_input ? ", line input" : "";
    }
    return text;
}
