// The screen sizes of character modules: how many rows and columns, and where
// each row starts in the controller's display memory.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr std::size_t kMaxRows = 4;

struct Geometry {
    std::string_view name; // "20x4": columns x rows
    unsigned char columns;
    unsigned char rows;
    // The display-memory address of each row's first cell, top row first.
    unsigned char row_start[kMaxRows];
    // Whether the module's firmware sets the controller to two-line mode at
    // power-on (every screen with a row at 0x40 needs it).
    bool two_line;
};

inline constexpr std::size_t kGeometryCount = 8;

// The sizes in the order they are listed to users.
extern const Geometry Geometries[kGeometryCount];

// 16x2, what a module is taken to be when nothing else is said.
const Geometry& DefaultGeometry() noexcept;

// The geometry named `name` ("20x4"; the x may be upper case), or nullptr.
const Geometry* FindGeometry(std::string_view name) noexcept;
