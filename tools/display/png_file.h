// Writing the module's picture as a PNG file, through libpng.
#pragma once

#include "display/picture.h"

#include <string>

// Writes `picture` to `path` as an 8-bit RGB PNG; the empty string, or what
// went wrong.
std::string WritePng(const Picture& picture, const std::string& path);
