// The ports open now, each with the settings it had before it was opened, so
// that closing it, or a signal that ends the program, can put them back.
#pragma once

#include "serial/line_status.h"

struct termios;

// Notes the port open on `fd`, found with `found`, which releasing it puts
// back when `put_back`. False when the table is full.
bool NoteOpenPort(int fd, const termios& found, bool put_back);

// Takes the port on `fd` out of exclusive mode and, if it was noted with
// put_back, puts back the settings found; then it is no longer noted. Does
// nothing for a descriptor not noted.
LineStatus ReleasePort(int fd);
