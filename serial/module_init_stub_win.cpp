// Stand-in until the self-initialiser lands: correct for the EXE started as
// a program, where the loader has already done the work.
#include "serial/module_init.h"

void EnsureModuleReady() noexcept {}
