#include "avi/avi_writer.h"
#include "avi/avi_layout.h"
#include "avi/avi_template.h"

#include "avi_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>

namespace {

using avitest::Bytes;
using avitest::expected_header;
using avitest::Stream;
using avitest::tag;
using avitest::u16;
using avitest::u32;
using avitest::write_avi;
namespace fs = std::filesystem;

using avitest::pattern;
void expect_entry(const Bytes& f, std::size_t at, std::uint32_t flags, std::uint32_t offset, std::uint32_t length) {
  EXPECT_EQ(tag(f, at), "00dc");
  EXPECT_EQ(u32(f, at + 4), flags);
  EXPECT_EQ(u32(f, at + 8), offset);
  EXPECT_EQ(u32(f, at + 12), length);
}

// The closing "JUNK" at `at`: its size and the zero bytes up to the end.
void expect_closing(const Bytes& f, std::size_t at, std::uint32_t size) {
  EXPECT_EQ(tag(f, at), "JUNK");
  EXPECT_EQ(u32(f, at + 4), size);
  ASSERT_EQ(f.size(), at + 8 + size);
  for (std::size_t i = at + 8; i < f.size(); ++i) ASSERT_EQ(f[i], 0) << i;
}

// Over an existing file, which is truncated.
TEST(AviWriterLayout, EmptyFile) {
  testsupport::TempDir dir;
  testsupport::write_file(dir / "e.avi", Bytes(50000, 0x5A));
  const Bytes f = write_avi(dir / "e.avi", {});
  ASSERT_EQ(f.size(), 9216u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 8204), expected_header({}, 33333, {0, 4, 0, 9208}));
  EXPECT_EQ(tag(f, 8204), "idx1");
  EXPECT_EQ(u32(f, 8208), 0u);
  expect_closing(f, 8212, 996);
}

TEST(AviWriterLayout, OneTwoByTwoFrame) {
  testsupport::TempDir dir;
  const Bytes frame = pattern(12, 1);
  const Bytes f = write_avi(dir / "one.avi", {frame});
  ASSERT_EQ(f.size(), 9216u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 8204), expected_header({}, 33333, {1, 24, 16, 9208}));
  EXPECT_EQ(tag(f, 0x200C), "00dc");
  EXPECT_EQ(u32(f, 0x2010), 12u);
  EXPECT_EQ(Bytes(f.begin() + 0x2014, f.begin() + 0x2020), frame);
  EXPECT_EQ(tag(f, 0x2020), "idx1");
  EXPECT_EQ(u32(f, 0x2024), 16u);
  expect_entry(f, 0x2028, 0x10, 4, 12);
  expect_closing(f, 0x2038, 960);
}

TEST(AviWriterLayout, FramesOfFiveZeroAndThousandBytes) {
  testsupport::TempDir dir;
  const Bytes a = pattern(5, 3), c = pattern(1000, 9);
  const Bytes f = write_avi(dir / "f.avi", {a, {}, c}, {}, {0x10, 0x02, 0x10});
  ASSERT_EQ(f.size(), 10240u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 8204), expected_header({}, 33333, {3, 1036, 1004, 10232}));
  EXPECT_EQ(tag(f, 8204), "00dc");
  EXPECT_EQ(u32(f, 8208), 5u);
  EXPECT_EQ(Bytes(f.begin() + 8212, f.begin() + 8217), a);
  EXPECT_EQ(Bytes(f.begin() + 8217, f.begin() + 8220), Bytes(3, 0));
  EXPECT_EQ(tag(f, 8220), "00dc");
  EXPECT_EQ(u32(f, 8224), 0u);
  EXPECT_EQ(tag(f, 8228), "00dc");
  EXPECT_EQ(u32(f, 8232), 1000u);
  EXPECT_EQ(Bytes(f.begin() + 8236, f.begin() + 9236), c);
  EXPECT_EQ(tag(f, 9236), "idx1");
  EXPECT_EQ(u32(f, 9240), 48u);
  expect_entry(f, 9244, 0x10, 4, 8);
  expect_entry(f, 9260, 0x02, 20, 0);  // a zero-length frame keeps the flags it was given
  expect_entry(f, 9276, 0x10, 28, 1000);
  expect_closing(f, 9292, 940);
}

TEST(AviWriterLayout, ShortFrameBetweenTwoLongOnes) {
  testsupport::TempDir dir;
  const Bytes f = write_avi(dir / "s.avi", {pattern(100, 1), pattern(7, 2), pattern(100, 3)});
  EXPECT_EQ(u32(f, 0x0090), 104u);
  const std::size_t second = 0x200C + 108;
  EXPECT_EQ(u32(f, second + 4), 7u);
  EXPECT_EQ(Bytes(f.begin() + second + 8, f.begin() + second + 15), pattern(7, 2));
  EXPECT_EQ(f[second + 15], 0);
  const std::size_t idx1 = 0x200C + 108 + 16 + 108;
  EXPECT_EQ(tag(f, idx1), "idx1");
  expect_entry(f, idx1 + 8, 0x10, 4, 100);
  expect_entry(f, idx1 + 24, 0x10, 112, 8);
  expect_entry(f, idx1 + 40, 0x10, 128, 100);
}

TEST(AviWriterLayout, IndexGrowsPastFiveHundredTwelveEntries) {
  testsupport::TempDir dir;
  for (const std::size_t count : {512u, 513u}) {
    std::vector<Bytes> frames(count, Bytes{1, 2, 3, 4});
    const Bytes f = write_avi(dir / "many.avi", frames);
    const std::size_t idx1 = 0x200C + 12 * count;
    ASSERT_EQ(tag(f, idx1), "idx1");
    EXPECT_EQ(u32(f, idx1 + 4), 16 * count);
    expect_entry(f, idx1 + 8 + 16 * (count - 1), 0x10, static_cast<std::uint32_t>(4 + 12 * (count - 1)), 4);
    EXPECT_EQ(tag(f, idx1 + 8 + 16 * count), "JUNK");  // no spare entries written
    EXPECT_EQ(u32(f, 0x0030), count);
    EXPECT_EQ(f.size() % 1024, 0u);
  }
}

TEST(AviWriterLayout, ClosingJunkOfSizeZeroAndOfSize1020) {
  testsupport::TempDir dir;
  // One frame of L bytes puts the closing "JUNK" id's end at 8240 + L.
  Bytes f = write_avi(dir / "j0.avi", {pattern(972, 5)});
  expect_closing(f, 8240 + 972 - 4, 0);
  EXPECT_EQ(f.size(), 9216u);
  f = write_avi(dir / "j1020.avi", {pattern(976, 5)});
  expect_closing(f, 8240 + 976 - 4, 1020);
  EXPECT_EQ(f.size(), 10240u);
  EXPECT_EQ(u32(f, 4), 10232u);
}

TEST(AviWriterHeader, FramePeriodFromRateAndScale) {
  testsupport::TempDir dir;
  struct Case {
    int rate, scale;
    std::uint32_t period;
  };
  const Case cases[] = {{600, 20, 33333}, {25, 1, 40000},         {2997, 100, 33366}, {0, 20, 0},
                        {600, 0, 0},      {1, 4000, 4000000000u}, {1, 5000, 0},       {-1, 1, 0}};
  for (const Case& c : cases) {
    Stream s;
    s.rate = c.rate;
    s.scale = c.scale;
    const Bytes f = write_avi(dir / "p.avi", {}, s);
    EXPECT_EQ(u32(f, 0x0020), c.period) << c.rate << "/" << c.scale;
    EXPECT_EQ(u32(f, 0x0080), static_cast<std::uint32_t>(c.scale));
    EXPECT_EQ(u32(f, 0x0084), static_cast<std::uint32_t>(c.rate));
  }
}

// Any non-zero `compressed` selects the Corvath codes.
TEST(AviWriterHeader, FixedFieldsIgnoreTheFrameSize) {
  testsupport::TempDir dir;
  Stream s;
  s.width = 640;
  s.height = 480;
  s.rate = 25;
  s.scale = 1;
  s.compressed = 7;
  const Bytes f = write_avi(dir / "vga.avi", {pattern(40, 1), pattern(3, 2)}, s);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 8204), expected_header(s, 40000, {2, 4 + 48 + 12, 44, 9208}));
  EXPECT_EQ(u16(f, 0x00A0), 352);
  EXPECT_EQ(u16(f, 0x00A2), 240);
  EXPECT_EQ(u32(f, 0x1108), 1u);
  EXPECT_EQ(u32(f, 0x00C0), 921600u);
}

TEST(AviWriterFiles, RefusalsAreReported) {
  testsupport::TempDir dir;
  const std::string missing = (dir / "missing" / "x.avi").string();
  AviWriter writer;
  EXPECT_EQ(writer.init(missing.c_str(), 2, 2, 25, 1, 0).message, "Unable to open output file " + missing);

  // A negative length is refused and the file stays valid.
  const std::string name = (dir / "n.avi").string();
  ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, 0));
  Bytes frame(8, 0);
  EXPECT_EQ(writer.write_frame(frame.data(), -1, 0x10).message, "Invalid frame length -1 for output file " + name);
  EXPECT_TRUE(writer.write_frame(frame.data(), 5, 0x10));
  EXPECT_TRUE(writer.flush());
  EXPECT_EQ(u32(testsupport::read_file(name), 0x0030), 1u);
}

}  // namespace
