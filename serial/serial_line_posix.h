// What serial_line_posix.cpp offers beyond serial_line.h to code that knows
// termios, such as tests: the kernel keeps some settings of a pseudo-terminal
// (data bits, parity) at fixed values, so their reading is checked here.
#pragma once

#include "serial/serial_line.h"

struct termios;

// The settings a termios record stands for.
LineSettings LineSettingsOf(const termios& line);
