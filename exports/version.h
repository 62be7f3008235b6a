// The maker's web address, shown in the window's caption and at the end of
// the version text of the exported interface.
#pragma once

inline constexpr char kMakerAddress[] = "https://wendle.example.org";
