// Files past the part limit: the OpenDML form, byte for byte on a small
// case, the limit's edges, the 256-part ceiling, and the planner that the
// run uses before it writes against what the writer does.
#include "avi/avi_layout.h"
#include "avi/avi_reader.h"
#include "avi/avi_writer.h"

#include "avi_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using avitest::Bytes;
using avitest::tag;
using avitest::u16;
using avitest::u32;
namespace fs = std::filesystem;
namespace layout = avi::layout;

using avitest::pattern;
std::vector<Bytes> frames_of(const std::vector<std::size_t>& lengths) {
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i < lengths.size(); ++i) frames.push_back(pattern(lengths[i], static_cast<std::uint8_t>(i)));
  return frames;
}

std::uint64_t u64(const Bytes& b, std::size_t at) {
  return std::uint64_t{u32(b, at)} | std::uint64_t{u32(b, at + 4)} << 32;
}

// The first offset at which two files differ, or -1.
long first_difference(const Bytes& a, const Bytes& b) {
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i);
  }
  return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

// A part as its "ix00" describes it, after checking that the part's RIFF
// and "movi" sizes enclose exactly what the writer lays out: frame chunks,
// "ix00" last in "movi", then "idx1" (first part) or the closing "JUNK"
// (last part).
struct PartView {
  std::size_t start = 0;
  std::size_t index = 0;  // of its "ix00"
  std::vector<std::size_t> chunks;
  std::vector<std::uint32_t> sizes;  // "ix00" dwSize words
};

std::vector<PartView> walk_parts(const Bytes& f) {
  std::vector<PartView> parts;
  std::size_t at = 0;
  while (at < f.size()) {
    PartView p;
    p.start = at;
    const bool first = parts.empty();
    EXPECT_EQ(tag(f, at), "RIFF");
    EXPECT_EQ(tag(f, at + 8), first ? "AVI " : "AVIX");
    const std::size_t riff_end = at + 8 + u32(f, at + 4);
    const std::size_t movi = first ? 0x2000 : at + 12;
    EXPECT_EQ(tag(f, movi), "LIST");
    EXPECT_EQ(tag(f, movi + 8), "movi");
    const std::size_t movi_end = movi + 8 + u32(f, movi + 4);
    std::size_t c = movi + 12;
    while (c < movi_end && tag(f, c) == "00dc") {
      p.chunks.push_back(c);
      c += layout::chunk_span(u32(f, c + 4));
    }
    p.index = c;
    EXPECT_EQ(tag(f, c), "ix00") << "part at " << at;
    EXPECT_EQ(c + 8 + u32(f, c + 4), movi_end);
    EXPECT_EQ(u16(f, c + 8), 2);  // wLongsPerEntry
    EXPECT_EQ(f.at(c + 10), 0);   // bIndexSubType
    EXPECT_EQ(f.at(c + 11), 1);   // AVI_INDEX_OF_CHUNKS
    const std::uint32_t n = u32(f, c + 12);
    EXPECT_EQ(n, p.chunks.size());
    EXPECT_EQ(u32(f, c + 4), 24 + 8 * n);
    EXPECT_EQ(tag(f, c + 16), "00dc");
    EXPECT_EQ(u64(f, c + 20), at);  // qwBaseOffset: the part's start
    EXPECT_EQ(u32(f, c + 28), 0u);
    for (std::uint32_t i = 0; i < n && i < p.chunks.size(); ++i) {
      EXPECT_EQ(u32(f, c + 32 + 8 * i), p.chunks[i] + 8 - at);
      const std::uint32_t size = u32(f, c + 36 + 8 * i);
      EXPECT_EQ(size & 0x7FFFFFFF, u32(f, p.chunks[i] + 4));  // exact, unpadded
      p.sizes.push_back(size);
    }
    std::size_t after = movi_end;
    if (first) {
      EXPECT_EQ(tag(f, after), "idx1");
      EXPECT_EQ(u32(f, after + 4), 16 * n);
      after += 8 + 16 * n;
    }
    if (riff_end == f.size()) {
      EXPECT_EQ(tag(f, after), "JUNK");
      after += 8 + u32(f, after + 4);
    }
    EXPECT_EQ(after, riff_end) << "part at " << at;
    EXPECT_LE(riff_end, f.size());
    parts.push_back(p);
    if (riff_end <= at) break;
    at = riff_end;
  }
  EXPECT_EQ(f.size() % 1024, 0u);
  return parts;
}

// Limit 10240, three frames of 1000 bytes: the first fits in the first part
// (which then ends exactly at 10240 as a plain file), the second does not.
TEST(AviOpenDmlLayout, ThreeFramesInTwoParts) {
  testsupport::TempDir dir;
  const std::vector<Bytes> frames = frames_of({1000, 1000, 1000});
  const Bytes f = avitest::write_avi(dir / "two.avi", frames, {}, {0x10, 0x10, 0x00}, 10240);

  Bytes expected = avitest::expected_header({}, 33333, {1, 1052, 1004, 9268});
  avitest::set_u32(expected, 0x008C, 3);  // dwLength: every frame
  avitest::set_u32(expected, 0x1108, 3);  // dmlh dwTotalFrames
  Bytes indx;
  avitest::append_u32(indx, 4);  // wLongsPerEntry 4, bIndexSubType 0, AVI_INDEX_OF_INDEXES
  avitest::append_u32(indx, 2);
  avitest::append_tag(indx, "00dc");
  indx.resize(24, 0);
  for (const auto& [offset, size, frames_in] : {std::array<std::uint32_t, 3>{9212, 40, 1}, {11316, 48, 2}}) {
    avitest::append_u32(indx, offset);
    avitest::append_u32(indx, 0);
    avitest::append_u32(indx, size);
    avitest::append_u32(indx, frames_in);
  }
  indx.resize(4120, 0);
  const Bytes indx_chunk = avitest::chunk("indx", indx);
  std::copy(indx_chunk.begin(), indx_chunk.end(), expected.begin() + 0xD4);

  auto ix00 = [](std::uint32_t base, const std::vector<std::array<std::uint32_t, 2>>& entries) {
    Bytes b;
    avitest::append_u32(b, 0x01000002);  // wLongsPerEntry 2, bIndexSubType 0, AVI_INDEX_OF_CHUNKS
    avitest::append_u32(b, static_cast<std::uint32_t>(entries.size()));
    avitest::append_tag(b, "00dc");
    avitest::append_u32(b, base);
    avitest::append_u32(b, 0);
    avitest::append_u32(b, 0);
    for (const auto& e : entries) {
      avitest::append_u32(b, e[0]);
      avitest::append_u32(b, e[1]);
    }
    return avitest::chunk("ix00", b);
  };
  Bytes idx1;
  avitest::append_tag(idx1, "00dc");
  avitest::append_u32(idx1, 0x10);
  avitest::append_u32(idx1, 4);
  avitest::append_u32(idx1, 1000);
  Bytes avix;
  avitest::append(avix, avitest::chunk("00dc", frames[1], 4));
  avitest::append(avix, avitest::chunk("00dc", frames[2], 4));
  avitest::append(avix, ix00(9276, {{32, 1000}, {1040, 1000 | 0x80000000u}}));  // not a key frame
  Bytes last = avitest::list("movi", avix);
  avitest::append(last, avitest::chunk("JUNK", Bytes(916, 0)));

  avitest::append(expected, avitest::chunk("00dc", frames[0], 4));
  avitest::append(expected, ix00(0, {{8212, 1000}}));
  avitest::append(expected, avitest::chunk("idx1", idx1));
  ASSERT_EQ(expected.size(), 9276u);
  avitest::append(expected, avitest::list("AVIX", last, "RIFF"));
  ASSERT_EQ(expected.size(), 12288u);
  EXPECT_EQ(first_difference(f, expected), -1);
  EXPECT_EQ(walk_parts(f).size(), 2u);
}

// Within the limit, counted with the closing chunk, a file is the plain
// layout whatever the limit; one byte more opens a second part.
TEST(AviOpenDmlLimit, FileEndingExactlyAtTheLimitStaysPlain) {
  testsupport::TempDir dir;
  struct Case {
    std::uint64_t limit;
    std::vector<std::size_t> lengths;
  };
  const Case cases[] = {
      {16384, {1000, 7116}},         // 8204 + 1008 + 7124 + 24 + 12 + 12: "JUNK" of size 0
      {16384, {8140}},               // the longest frame there is for this limit
      {10240, {5, 0, 1000}},         // the layout's own example, 10240 bytes long
      {9216, {}},                    // the empty file at the smallest limit
      {16384 + 1000, {1000, 7116}},  // a limit that is not a multiple of 1024
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.limit << " / " << c.lengths.size() << " frames");
    const std::vector<Bytes> frames = frames_of(c.lengths);
    const Bytes plain = avitest::write_avi(dir / "plain.avi", frames);
    const Bytes limited = avitest::write_avi(dir / "limited.avi", frames, {}, {}, c.limit);
    EXPECT_EQ(first_difference(limited, plain), -1);
    EXPECT_LE(plain.size(), c.limit);
    EXPECT_EQ(tag(plain, 0xD4), "JUNK");
    EXPECT_EQ(u32(plain, 0x1108), 1u);
  }
  // One byte more: the last frame goes on in an "AVIX" part.
  const Bytes f = avitest::write_avi(dir / "past.avi", frames_of({1000, 7117}), {}, {}, 16384);
  const auto parts = walk_parts(f);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0].chunks.size(), 1u);
  EXPECT_EQ(parts[1].chunks.size(), 1u);
  EXPECT_EQ(u32(f, 0x0030), 1u);
  EXPECT_EQ(u32(f, 0x008C), 2u);
  EXPECT_EQ(u32(f, 0x1108), 2u);
  EXPECT_LE(f.size() - parts[1].start, 16384u);
}

// The first part of one 940-byte frame ends at 9216; the second, as the last
// part, ends with its closing "JUNK" at 25600: exactly 16384 bytes. Any frame
// more needs a third part.
TEST(AviOpenDmlLimit, LastPartEndingExactlyAtTheLimit) {
  testsupport::TempDir dir;
  Bytes f = avitest::write_avi(dir / "a.avi", frames_of({940, 8140, 8140}), {}, {}, 16384);
  auto parts = walk_parts(f);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1].start, 9216u);
  EXPECT_EQ(f.size(), 25600u);
  f = avitest::write_avi(dir / "b.avi", frames_of({940, 8140, 8140, 0}), {}, {}, 16384);
  parts = walk_parts(f);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[2].chunks.size(), 1u);
}

// A frame longer than any part can hold is refused; a frame longer than the
// room left goes to a new part; frames of length 0 go on after a break.
TEST(AviOpenDmlLimit, LongFramesAndEmptyFrames) {
  testsupport::TempDir dir;
  const std::string name = (dir / "f.avi").string();
  AviWriter writer(16384);
  EXPECT_EQ(AviWriter::max_frame_length(16384), 8140u);
  ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, 1));
  Bytes buffer(9000, 0x33);
  EXPECT_FALSE(writer.fits(8141));
  EXPECT_EQ(writer.write_frame(buffer.data(), 8141, 0x10).message,
            "Frame of 8141 bytes is too large for output file " + name);
  const std::vector<std::size_t> lengths = {1000, 7116, 0, 0, 8140, 8140, 0};
  for (const std::size_t n : lengths) {
    EXPECT_TRUE(writer.fits(n));
    ASSERT_TRUE(writer.write_frame(buffer.data(), static_cast<int>(n), 0x10));
  }
  EXPECT_EQ(writer.write_frame(buffer.data(), 8141, 0x10).code, AviStatus::Code::refused);  // in any part
  ASSERT_TRUE(writer.flush());

  const Bytes f = testsupport::read_file(name);
  const auto parts = walk_parts(f);
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0].chunks.size(), 2u);  // up to the limit exactly
  EXPECT_EQ(parts[1].sizes, (std::vector<std::uint32_t>{0, 0, 8140}));
  EXPECT_EQ(parts[1].chunks, (std::vector<std::size_t>{parts[1].start + 24, parts[1].start + 32, parts[1].start + 40}));
  EXPECT_EQ(parts[2].sizes, (std::vector<std::uint32_t>{8140, 0}));  // a frame longer than the room left
  avi::AviReader reader;
  ASSERT_EQ(reader.open(std::span<const std::uint8_t>(f)).message, "");
  ASSERT_EQ(reader.frames().size(), lengths.size());
  for (std::size_t i = 0; i < lengths.size(); ++i) EXPECT_EQ(reader.frames()[i].size, lengths[i]);
}

// With the smallest limit, 256 parts fill up after a few thousand frames:
// the frame that would need a 257th is refused, and the file is complete.
TEST(AviOpenDmlLimit, TwoHundredFiftySixPartsAtMost) {
  testsupport::TempDir dir;
  const std::string name = (dir / "full.avi").string();
  constexpr std::uint64_t kLimit = layout::kMinPartLimit;
  constexpr int kLength = 100;
  AviWriter writer(kLimit);
  ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, 1));
  Bytes buffer(kLength + 3);
  int written = 0;
  AviStatus result;
  for (;; ++written) {
    buffer[0] = static_cast<std::uint8_t>(written);
    buffer[1] = static_cast<std::uint8_t>(written >> 8);
    const bool fits = writer.fits(kLength);
    result = writer.write_frame(buffer.data(), kLength, written % 3 == 0 ? 0x10 : 0);
    ASSERT_EQ(result.ok(), fits);
    if (!result) break;
  }
  EXPECT_EQ(result.message, "Output file " + name + " is full: an AVI file holds at most 256 parts of 9216 bytes");
  EXPECT_TRUE(AviWriter::can_hold(static_cast<std::uint64_t>(written), kLength, kLimit));
  EXPECT_FALSE(AviWriter::can_hold(static_cast<std::uint64_t>(written) + 1, kLength, kLimit));
  ASSERT_TRUE(writer.flush());

  const Bytes f = testsupport::read_file(name);
  EXPECT_EQ(f.size(), avitest::final_file_length(static_cast<std::uint64_t>(written), kLength, kLimit));
  const auto parts = walk_parts(f);
  ASSERT_EQ(parts.size(), 256u);
  EXPECT_EQ(u32(f, 0xDC + 4), 256u);  // nEntriesInUse
  std::size_t counted = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::size_t entry = 0xF4 + 16 * i;
    EXPECT_EQ(u64(f, entry), parts[i].index);
    EXPECT_EQ(u32(f, entry + 8), 32 + 8 * parts[i].chunks.size());
    EXPECT_EQ(u32(f, entry + 12), parts[i].chunks.size());
    const std::size_t end = i + 1 < parts.size() ? parts[i + 1].start : f.size();
    if (i > 0) {
      EXPECT_LE(end - parts[i].start, kLimit);
    }
    counted += parts[i].chunks.size();
  }
  EXPECT_EQ(counted, static_cast<std::size_t>(written));
  EXPECT_EQ(u32(f, 0x0030), parts[0].chunks.size());
  EXPECT_EQ(u32(f, 0x008C), static_cast<std::uint32_t>(written));
  EXPECT_EQ(u32(f, 0x1108), static_cast<std::uint32_t>(written));

  avi::AviReader reader;
  ASSERT_EQ(reader.open(std::span<const std::uint8_t>(f)).message, "");
  EXPECT_TRUE(reader.super_index_used());
  EXPECT_EQ(reader.parts(), 256u);
  ASSERT_EQ(reader.frames().size(), static_cast<std::size_t>(written));
  Bytes frame(kLength);
  for (int i = 0; i < written; ++i) {
    ASSERT_TRUE(reader.read_frame(static_cast<std::size_t>(i), frame));
    ASSERT_EQ(frame[0] | frame[1] << 8, i & 0xFFFF);
    ASSERT_EQ(reader.frames()[static_cast<std::size_t>(i)].flags, i % 3 == 0 ? 0x10u : 0u);
  }
}

// The planner that the run asks before it writes agrees with the writer on
// the length of every file and on where the parts break.
TEST(AviOpenDmlPlan, AgreesWithTheWriter) {
  testsupport::TempDir dir;
  for (const std::uint64_t limit : {9216u, 10240u, 16384u + 700u, 65536u}) {
    for (const std::size_t length : {0u, 1u, 7u, 100u, 1000u, 4097u}) {
      if (length > AviWriter::max_frame_length(limit)) continue;
      for (const std::size_t count : {0u, 1u, 2u, 9u, 40u, 170u}) {
        SCOPED_TRACE(testing::Message() << "limit " << limit << ", " << count << " frames of " << length);
        const std::vector<Bytes> frames(count, pattern(length, 9));
        const Bytes f = avitest::write_avi(dir / "p.avi", frames, {}, {}, limit);
        EXPECT_EQ(f.size(), avitest::final_file_length(count, length, limit));
        const layout::PartPlan plan = layout::plan_parts(count, length, limit, INT_MAX);
        if (plan.parts > 1) {
          const auto parts = walk_parts(f);
          EXPECT_EQ(parts.size(), plan.parts);
          EXPECT_EQ(parts.at(0).chunks.size(), plan.first_part_frames);
        } else {
          EXPECT_EQ(tag(f, 0xD4), "JUNK");
          EXPECT_EQ(plan.first_part_frames, count);
        }
      }
    }
  }
}

TEST(AviOpenDmlPlan, LimitsOfTheProgram) {
  // The program's limit: 1 GiB, and 172 frames of 1080p in the first part.
  constexpr std::uint64_t k1080p = 1920 * 1080 * 3;
  EXPECT_EQ(AviWriter().part_limit(), std::uint64_t{1} << 30);
  EXPECT_EQ(avitest::final_file_length(172, k1080p), 1069990912u);
  EXPECT_EQ(layout::plan_parts(173, k1080p, AviWriter::kDefaultPartLimit, INT_MAX).parts, 2u);
  // 700 frames, past 4 GiB, take 5 parts.
  const layout::PartPlan big = layout::plan_parts(700, k1080p, AviWriter::kDefaultPartLimit, INT_MAX);
  EXPECT_EQ(big.parts, 5u);
  EXPECT_GT(big.file_length, std::uint64_t{700} * (k1080p + 8));
  EXPECT_LT(big.file_length, std::uint64_t{700} * (k1080p + 8) + 5 * 1024 + 8204 + 700 * 24);
  EXPECT_TRUE(AviWriter::can_hold(700, k1080p));
  // 256 parts of 172 or so frames, then no more.
  EXPECT_TRUE(AviWriter::can_hold(256 * 172, k1080p));
  EXPECT_FALSE(AviWriter::can_hold(256 * 173, k1080p));
  EXPECT_EQ(avitest::final_file_length(256 * 173, k1080p), UINT64_MAX);
  // Frame lengths: the longest for the limit; nothing past INT_MAX frames.
  EXPECT_EQ(AviWriter::max_frame_length(), (std::uint64_t{1} << 30) - 8244);
  EXPECT_TRUE(AviWriter::can_hold(1, (std::uint64_t{1} << 30) - 8244));
  EXPECT_FALSE(AviWriter::can_hold(1, (std::uint64_t{1} << 30) - 8243));
  EXPECT_FALSE(AviWriter::can_hold(std::uint64_t{INT_MAX} + 1, 0));
  // The limit is kept within its bounds.
  EXPECT_EQ(AviWriter(1).part_limit(), layout::kMinPartLimit);
  EXPECT_EQ(AviWriter(std::uint64_t{1} << 40).part_limit(), layout::kMaxPartLimit);
  EXPECT_EQ(AviWriter::max_frame_length(1), 972u);
}

}  // namespace
