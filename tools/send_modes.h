// What wendle-send does once its options are read: send one message, each
// line of standard input, or a recording, or list the ports. Each returns
// the exit status, its failure told on standard error.
#pragma once

#include "display/busy.h"

#include <string>

inline constexpr char kSendName[] = "wendle-send";

struct SendOptions {
    std::string port;
    int baud = 9600;
    bool raw = false;
    double timeout_seconds = 0;
    bool quiet = false;
    bool keep_settings = false;
    bool strict = false;
    bool lines = false;
    int char_delay_ms = 0;
    int line_delay_ms = 0;
    bool pace = false;
    unsigned oscillator_khz = kNominalOscillatorKhz;
    std::string replay;
    bool list = false;
    std::string message;
    bool from_standard_input = false;
};

int ListPorts();
int SendMessage(const SendOptions& options);
// --lines: the port opened once, then each line sent as soon as it is read.
int SendLines(const SendOptions& options);
// --replay: the recording read and checked whole before the port is opened,
// so that a bad one sends nothing.
int SendRecording(SendOptions options);
