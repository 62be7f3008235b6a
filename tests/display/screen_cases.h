// Messages in Wendle's token language run through the translator and the
// module model, against what the glass must show.
#pragma once

#include "display/module.h"
#include "display/screen.h"
#include "tests/translator/test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A message and the screen it must leave: each row without its trailing
// spaces (rows the glass lacks stay empty), and the cursor as in the dump
// ("2 6", or "-").
struct ScreenCase {
    std::string_view message;
    std::array<std::string_view, 4> rows;
    std::string_view cursor;
};

inline Module RunMessage(std::string_view geometry, std::string_view message,
                         Profile profile = Profile::kCommand) {
    const Geometry* g = FindGeometry(geometry);
    EXPECT_NE(g, nullptr) << geometry;
    Module module = MakeModule(g ? *g : DefaultGeometry(), profile);
    FeedModule(module, Translate(message));
    return module;
}

inline std::string TrimRight(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

inline void ExpectScreens(std::string_view geometry, std::span<const ScreenCase> cases,
                          Profile profile = Profile::kCommand) {
    for (const ScreenCase& c : cases) {
        const Module module = RunMessage(geometry, c.message, profile);
        for (unsigned row = 0; row < c.rows.size(); ++row) {
            const std::string text = row < module.geometry->rows ? RowText(module, row) : "";
            EXPECT_EQ(TrimRight(text), c.rows[row])
                << geometry << " " << ProfileName(profile) << ", row " << row + 1
                << ", message: " << c.message;
        }
        const std::string dump = DumpText(module);
        const std::string cursor_line = dump.substr(dump.rfind("cursor "));
        EXPECT_EQ(cursor_line, "cursor " + std::string(c.cursor) + "\n")
            << geometry << " " << ProfileName(profile) << ", message: " << c.message;
    }
}
