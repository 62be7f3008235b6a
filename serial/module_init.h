// The self-initialiser of the module. Every export calls it before anything
// else: when another process loads Wendlev14.EXE as a library, the loader
// neither relocates nor binds it nor runs its C runtime start-up, and until
// this has run no global, string literal or import may be touched.
#pragma once

void EnsureModuleReady() noexcept;
