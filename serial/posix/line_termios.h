// Wendle's line as termios settings, and termios settings as a LineSettings.
// Kept apart so that tests check the readings a pseudo-terminal cannot show:
// the kernel keeps some of its settings (data bits, parity) at fixed values.
#pragma once

#include "serial/line_description.h"

struct termios;

// Raw both ways, `baud` (one of kLineRates), 8N1, no flow control of either
// kind, modem status lines ignored.
void SetWendleLine(termios& settings, int baud);

// Whether `settings` run at `baud`, and whether they are the rest of
// Wendle's line.
bool HasRate(const termios& settings, int baud);
bool HasWendleFraming(const termios& settings);

// The settings a termios record stands for.
LineSettings LineSettingsOf(const termios& line);
