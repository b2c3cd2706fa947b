#include "crvtdec/frame_pattern.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {

// File name patterns of --frames: what is taken is formatted as snprintf
// formats an int, and everything else is refused before any printf sees it.
TEST(FramePattern, NamesAreWhatSnprintfGivesAndTheRestIsRefused) {
  for (const char* p : {"frame%05d.ppm", "%d", "a%%b%d%%c", "%-6d|", "%+d", "% d", "%+ 04d", "% 05i", "%0-5i", "%u",
                        "%+u", "% 7u", "%99d", "x%3dy", "%00d", "%--+08d", "%%%d%%%%", "dir/f%02d.png"}) {
    crvtdec::FramePattern pattern;
    std::string why;
    ASSERT_TRUE(pattern.parse(p, why)) << p << ": " << why;
    for (const int n : {0, 1, 7, 42, 99999, 123456, INT_MAX}) {
      char name[256];
      std::snprintf(name, sizeof name, p, n);
      EXPECT_EQ(pattern.name(static_cast<std::uint64_t>(n)), name) << p << " " << n;
    }
    EXPECT_TRUE(std::string(p) != "%d" || pattern.name(4294967296ull) == "4294967296");  // past int
  }
  for (const char* p :
       {"",      "frame.ppm", "%%d", "%s", "%x",   "%ld", "%lld", "%hd",  "%.3d", "%5.2d", "%*d", "%n", "%d%d", "%d%s",
        "%100d", "%#d",       "%'d", "%",  "abc%", "%5",  "%-",   "%1$d", "%d%",  "%Lf",   "%c",  "%p", "%I64d"}) {
    crvtdec::FramePattern pattern;
    std::string why;
    EXPECT_FALSE(pattern.parse(p, why)) << p;
    EXPECT_FALSE(why.empty()) << p;
  }
}

}  // namespace
