// The stored header template of the AVI files that AviWriter writes, and the
// credit text it carries.
#pragma once

#include <array>
#include <cstddef>

// The 8204-byte header area with every field that is filled in later set to 0,
// zero run-length coded at level 1 (zero::RLE). Expands with
// zero::deRLE(compact_empty.data(), out, 8204, 1), which consumes all of it.
inline constexpr std::size_t kCompactEmptySize = 191;
extern const std::array<unsigned char, kCompactEmptySize> compact_empty;

namespace avi {

// Plain ASCII, no '%': it lands verbatim, with its terminating zero, in the
// credit chunk of the header.
inline constexpr char kCreditText[] =
    "Created by Quelmux, the QuickTime to AVI converter of the quelmux project\n"
    "https://quelmux.example.org/";

}  // namespace avi
