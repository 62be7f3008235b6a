// The ports open now, each with the settings it had before it was opened, so
// that closing it, or a signal that ends the program, can put them back.
#pragma once

#include "serial/line_status.h"

struct termios;

// Holds the port open on `fd`, found with `found`, which letting go of it
// puts back when `put_back`. False when the table is full.
bool HoldLine(int fd, const termios& found, bool put_back);

// Takes the port on `fd` out of exclusive mode and, if it was held with
// put_back, puts back the settings found; then it is no longer held. Does
// nothing for a descriptor not held.
LineStatus LetGoOfLine(int fd);
