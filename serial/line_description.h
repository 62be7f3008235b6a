// A line's settings as a writer left them, and their description for a
// person, on every platform.
#pragma once

#include <string>

struct LineSettings {
    int baud = 0;                   // 0: a rate the system has no number for
    int data_bits = 8;              // 5 to 8
    char parity = 'N';              // 'N' none, 'E' even, 'O' odd, 'M' mark, 'S' space
    int stop_bits = 1;              // 1 or 2
    bool rts_cts = false;           // hardware flow control
    bool xon_xoff_output = false;   // output stops at XOFF (IXON)
    bool xon_xoff_input = false;    // XOFF is sent when input fills (IXOFF)
    bool output_processing = false; // OPOST: the system changes bytes on the way out
    bool canonical_input = false;   // ICANON: input is read line by line
};

// "9600 8N1, no flow control, raw" and the like.
std::string DescribeLineSettings(const LineSettings& settings);
