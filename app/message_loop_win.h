#pragma once

// Runs until the open-window count is 0: one message per turn at most, and
// a 1 ms sleep on every turn, another when the queue was empty.
void RunMessageLoop();
