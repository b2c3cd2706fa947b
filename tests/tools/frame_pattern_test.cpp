// File name patterns of --frames: what is taken is formatted as snprintf
// formats an int, and everything else is refused before any printf sees it.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "crvtdec/frame_pattern.h"

namespace {

using crvtdec::FramePattern;

std::string printf_name(const char* pattern, int n) {
  char out[256];
  std::snprintf(out, sizeof out, pattern, n);
  return out;
}

TEST(FramePattern, NamesAreWhatSnprintfGives) {
  const char* const patterns[] = {
      "frame%05d.ppm", "%d",   "a%%b%d%%c", "%-6d|", "%+d",  "% d",     "%+ 04d",   "% 05i",         "%0-5i", "%u",
      "%+u",           "% 7u", "%99d",      "x%3dy", "%00d", "%--+08d", "%%%d%%%%", "dir/f%02d.png",
  };
  for (const char* p : patterns) {
    FramePattern pattern;
    std::string why;
    ASSERT_TRUE(pattern.parse(p, why)) << p << ": " << why;
    for (const int n : {0, 1, 7, 42, 99999, 123456, INT_MAX}) {
      EXPECT_EQ(pattern.name(static_cast<std::uint64_t>(n)), printf_name(p, n)) << p << " " << n;
    }
  }
  // Numbers past int keep their digits.
  FramePattern pattern;
  std::string why;
  ASSERT_TRUE(pattern.parse("f%03d", why));
  EXPECT_EQ(pattern.name(4294967296ull), "f4294967296");
}

TEST(FramePattern, AnythingButOneIntegerConversionIsRefused) {
  const char* const refused[] = {"",      "frame.ppm", "%%d", "%s",   "%x",   "%ld",   "%lld", "%hd", "%.3d",
                                 "%5.2d", "%*d",       "%n",  "%d%d", "%d%s", "%100d", "%#d",  "%'d", "%",
                                 "abc%",  "%5",        "%-",  "%1$d", "%d%",  "%Lf",   "%c",   "%p",  "%I64d"};
  for (const char* p : refused) {
    FramePattern pattern;
    std::string why;
    EXPECT_FALSE(pattern.parse(p, why)) << p;
    EXPECT_FALSE(why.empty()) << p;
  }
}

}  // namespace
