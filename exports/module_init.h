// The self-initialiser of the module. Every export calls it before anything
// else: when another process loads Wendlev14.EXE as a library, the loader
// neither relocates nor binds it nor runs its C runtime start-up, and until
// this has run no global, string literal or import may be touched.
#pragma once

// False when the module could not be made ready (a system library missing in
// the host process): the caller must then touch nothing, not even an import.
bool EnsureModuleReady() noexcept;
