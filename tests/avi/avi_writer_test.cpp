// AviWriter byte for byte: the plain layout, the OpenDML form past the part
// limit (its edges, the 256-part ceiling, the planner the run asks first), and
// write failures, each reported once and leaving a complete file.
#include "avi/avi_layout.h"

#include "avi_test_util.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <numeric>
#include <string>
#include <tuple>

namespace {

using namespace avitest;
namespace fs = std::filesystem;
namespace layout = avi::layout;

std::vector<Bytes> frames_of(const std::vector<std::size_t>& lengths) {
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i < lengths.size(); ++i) frames.push_back(pattern(lengths[i], static_cast<std::uint8_t>(i)));
  return frames;
}

// The frames in each part of a file in parts, from its super index, after
// checking that the parts chain up, every "AVIX" part stays within `limit`,
// the header counts agree and our reader takes every frame through the indexes.
std::vector<std::uint32_t> part_frames(const Bytes& f, std::uint64_t limit) {
  std::vector<std::size_t> starts;
  for (std::size_t at = 0; at < f.size(); at += 8 + u32(f, at + 4)) {
    EXPECT_EQ(tag(f, at + 8), at == 0 ? "AVI " : "AVIX");
    EXPECT_TRUE(at == 0 || 8 + u32(f, at + 4) <= limit) << at;
    starts.push_back(at);
  }
  EXPECT_EQ(f.size() % 1024, 0u);
  EXPECT_EQ(tag(f, 0xD4), "indx");
  EXPECT_EQ(u32(f, 0xE0), starts.size());
  std::vector<std::uint32_t> frames;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::size_t ix00 = u32(f, 0xF4 + 16 * i);  // in its part, sized for its frames
    EXPECT_TRUE(ix00 > starts[i] && ix00 < (i + 1 < starts.size() ? starts[i + 1] : f.size())) << i;
    EXPECT_EQ(tag(f, ix00), "ix00");
    frames.push_back(u32(f, 0xF4 + 16 * i + 12));
    EXPECT_EQ(u32(f, 0xF4 + 16 * i + 8), 32 + 8 * frames.back());
  }
  const std::uint32_t total = std::accumulate(frames.begin(), frames.end(), 0u);
  EXPECT_EQ(u32(f, 0x30), frames.at(0));
  EXPECT_EQ(u32(f, 0x8C), total);
  EXPECT_EQ(u32(f, 0x1108), total);
  avi::AviReader reader;
  EXPECT_EQ(reader.open(std::span<const std::uint8_t>(f)).message, "");
  EXPECT_TRUE(reader.super_index_used() && reader.index_used());
  EXPECT_EQ(reader.parts(), starts.size());
  EXPECT_EQ(reader.frames().size(), total);
  return frames;
}

// Whole files against the layout: header, "00dc" chunks filled to 4 bytes,
// "idx1" (lengths filled too), closing "JUNK" up to the file length given.
TEST(AviWriterLayout, WholeFiles) {
  struct Case {
    Stream stream;
    std::uint32_t period;
    std::vector<std::size_t> lengths;
    std::vector<int> flags;
    std::uint32_t movi, suggested, file_size;
  };
  const Case cases[] = {
      {{}, 33333, {}, {}, 4, 0, 9216},
      {{}, 33333, {12}, {}, 24, 16, 9216},
      {{}, 33333, {5, 0, 1000}, {0x10, 0x02, 0x10}, 1036, 1004, 10240},  // flags kept, also of an empty frame
      {{}, 33333, {100, 7, 100}, {}, 236, 104, 9216},
      {{}, 33333, std::vector<std::size_t>(512, 4), {}, 6148, 8, 23552},  // the index grows past 512 entries
      {{}, 33333, std::vector<std::size_t>(513, 4), {}, 6160, 8, 23552},
      {{}, 33333, {972}, {}, 984, 976, 9216},                    // closing "JUNK" of size 0
      {{}, 33333, {976}, {}, 988, 980, 10240},                   // and of 1020
      {{640, 480, 25, 1, 7}, 40000, {40, 3}, {}, 64, 44, 9216},  // any non-zero `compressed` is Corvath
  };
  testsupport::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lengths.size() << " frames, movi " << c.movi);
    testsupport::write_file(dir / "f.avi", Bytes(50000, 0x5A));  // an existing file is truncated
    const std::vector<Bytes> frames = frames_of(c.lengths);
    const Bytes f = write_avi(dir / "f.avi", frames, c.stream, c.flags);
    const auto count = static_cast<std::uint32_t>(frames.size());
    Bytes want = expected_header(c.stream, c.period, count, c.movi, c.suggested, c.file_size - 8), idx1;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const auto flags = static_cast<std::uint32_t>(i < c.flags.size() ? c.flags[i] : 0x10);
      idx1 += fcc("00dc") + words({flags, static_cast<std::uint32_t>(want.size() - 0x2008),
                                   static_cast<std::uint32_t>((frames[i].size() + 3) & ~std::size_t{3})});
      want += chunk("00dc", frames[i], 4);
    }
    want += chunk("idx1", idx1);
    want += chunk("JUNK", Bytes(c.file_size - want.size() - 8, 0));
    ASSERT_EQ(f.size(), c.file_size);
    EXPECT_TRUE(f == want);
  }
}

TEST(AviWriterLayout, FramePeriodFromRateAndScale) {
  testsupport::TempDir dir;
  const std::tuple<int, int, std::uint32_t> cases[] = {{600, 20, 33333}, {25, 1, 40000}, {2997, 100, 33366},
                                                       {0, 20, 0},       {600, 0, 0},    {1, 4000, 4000000000u},
                                                       {1, 5000, 0},     {-1, 1, 0}};
  for (const auto& [rate, scale, period] : cases) {
    const Bytes f = write_avi(dir / "p.avi", {}, {2, 2, rate, scale, 0});
    EXPECT_EQ(u32(f, 0x20), period) << rate << "/" << scale;
    EXPECT_EQ(u32(f, 0x80), static_cast<std::uint32_t>(scale));
    EXPECT_EQ(u32(f, 0x84), static_cast<std::uint32_t>(rate));
  }
}

// Limit 10240, three frames of 1000 bytes: the first fits in the first part,
// the others go on in an "AVIX" part. Every byte, as the layout gives it.
TEST(AviWriterOpenDml, ThreeFramesInTwoParts) {
  testsupport::TempDir dir;
  const std::vector<Bytes> frames = frames_of({1000, 1000, 1000});
  const Bytes f = write_avi(dir / "two.avi", frames, {}, {0x10, 0x10, 0x00}, 10240);

  Bytes want = expected_header({}, 33333, 1, 1052, 1004, 9268);
  set_u32(want, 0x8C, 3);    // dwLength: every frame
  set_u32(want, 0x1108, 3);  // dmlh dwTotalFrames
  // "indx": 4 longs an entry, AVI_INDEX_OF_INDEXES, two parts.
  Bytes indx = words({4, 2}) + fcc("00dc") + Bytes(12, 0) + words({9212, 0, 40, 1, 11316, 0, 48, 2});
  indx.resize(4120, 0);
  const Bytes indx_chunk = chunk("indx", indx);
  std::copy(indx_chunk.begin(), indx_chunk.end(), want.begin() + 0xD4);
  // "ix00": 2 longs an entry, AVI_INDEX_OF_CHUNKS, base offset, then offset and size (bit 31: not a key frame).
  auto ix00 = [](std::uint32_t base, const Bytes& entries) {
    return chunk("ix00", words({0x01000002, static_cast<std::uint32_t>(entries.size() / 8)}) + fcc("00dc") +
                             words({base, 0, 0}) + entries);
  };
  want +=
      chunk("00dc", frames[0], 4) + ix00(0, words({8212, 1000})) + chunk("idx1", fcc("00dc") + words({0x10, 4, 1000}));
  ASSERT_EQ(want.size(), 9276u);
  want += list("AVIX",
               list("movi", chunk("00dc", frames[1], 4) + chunk("00dc", frames[2], 4) +
                                ix00(9276, words({32, 1000, 1040, 1000 | 0x80000000u}))) +
                   chunk("JUNK", Bytes(916, 0)),
               "RIFF");
  EXPECT_TRUE(f == want);
  EXPECT_EQ(part_frames(f, 10240), (std::vector<std::uint32_t>{1, 2}));
}

// Within the limit, counted with the closing chunk, a file is the plain
// layout whatever the limit; one byte more opens a second part. A last part
// may end exactly at the limit.
TEST(AviWriterOpenDml, EdgesOfTheLimit) {
  testsupport::TempDir dir;
  const std::pair<std::uint64_t, std::vector<std::size_t>> plain[] = {
      {16384, {1000, 7116}},  // "JUNK" of size 0 ends at the limit
      {16384, {8140}},        // the longest frame for this limit
      {10240, {5, 0, 1000}},  // a file of 10240 bytes
      {9216, {}},             // the empty file at the smallest limit
      {16384 + 1000, {1000, 7116}},
  };
  for (const auto& [limit, lengths] : plain) {
    const Bytes f = write_avi(dir / "limited.avi", frames_of(lengths), {}, {}, limit);
    EXPECT_TRUE(f == write_avi(dir / "plain.avi", frames_of(lengths))) << limit;
  }
  const std::tuple<std::vector<std::size_t>, std::vector<std::uint32_t>, std::size_t> parts[] = {
      {{1000, 7117}, {1, 1}, 0},
      {{940, 8140, 8140}, {1, 2}, 25600},  // the second part ends with exactly 16384 bytes
      {{940, 8140, 8140, 0}, {1, 2, 1}, 0},
  };
  for (const auto& [lengths, counts, size] : parts) {
    const Bytes f = write_avi(dir / "parts.avi", frames_of(lengths), {}, {}, 16384);
    EXPECT_EQ(part_frames(f, 16384), counts);
    EXPECT_TRUE(size == 0 || f.size() == size) << f.size();
  }
}

// A frame longer than any part can hold is refused; a frame longer than the
// room left goes to a new part; frames of length 0 go on after a break.
TEST(AviWriterOpenDml, LongFramesAndEmptyFrames) {
  testsupport::TempDir dir;
  const std::string name = (dir / "f.avi").string();
  AviWriter writer(16384);
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
  EXPECT_EQ(writer.write_frame(buffer.data(), 8141, 0x10).code, AviStatus::Code::refused);
  ASSERT_TRUE(writer.flush());
  const Bytes f = testsupport::read_file(name);
  EXPECT_EQ(part_frames(f, 16384), (std::vector<std::uint32_t>{2, 3, 2}));
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(std::span<const std::uint8_t>(f)));
  for (std::size_t i = 0; i < lengths.size(); ++i) EXPECT_EQ(reader.frames()[i].size, lengths[i]);
}

// With the smallest limit, 256 parts fill up after a few thousand frames:
// the frame that would need a 257th is refused, and the file is complete.
TEST(AviWriterOpenDml, TwoHundredFiftySixPartsAtMost) {
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
  EXPECT_EQ(f.size(), layout::plan_parts(static_cast<std::uint64_t>(written), kLength, kLimit, INT_MAX).file_length);
  EXPECT_EQ(part_frames(f, kLimit).size(), 256u);
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(std::span<const std::uint8_t>(f)));
  ASSERT_EQ(reader.frames().size(), static_cast<std::size_t>(written));
  Bytes frame(kLength);
  for (int i = 0; i < written; ++i) {
    ASSERT_TRUE(reader.read_frame(static_cast<std::size_t>(i), frame));
    ASSERT_EQ(frame[0] | frame[1] << 8, i & 0xFFFF);
    ASSERT_EQ(reader.frames()[static_cast<std::size_t>(i)].flags, i % 3 == 0 ? 0x10u : 0u);
  }
}

// The planner that the run asks before it writes agrees with the writer on
// the length of every file and on where the parts break; and its answers for
// the program's own limit of 1 GiB.
TEST(AviWriterOpenDml, PlanAgreesWithTheWriter) {
  testsupport::TempDir dir;
  for (const std::uint64_t limit : {9216u, 10240u, 16384u + 700u, 65536u}) {
    for (const std::size_t length : {0u, 1u, 7u, 100u, 1000u, 4097u}) {
      if (length > AviWriter::max_frame_length(limit)) continue;
      for (const std::size_t count : {0u, 1u, 2u, 9u, 40u, 170u}) {
        SCOPED_TRACE(testing::Message() << "limit " << limit << ", " << count << " frames of " << length);
        const Bytes f = write_avi(dir / "p.avi", std::vector<Bytes>(count, pattern(length, 9)), {}, {}, limit);
        const layout::PartPlan plan = layout::plan_parts(count, length, limit, INT_MAX);
        EXPECT_EQ(f.size(), plan.file_length);
        if (plan.parts > 1) {
          const auto parts = part_frames(f, limit);
          EXPECT_EQ(parts.size(), plan.parts);
          EXPECT_EQ(parts.at(0), plan.first_part_frames);
        } else {
          EXPECT_EQ(tag(f, 0xD4), "JUNK");
          EXPECT_EQ(plan.first_part_frames, count);
        }
      }
    }
  }
  // 172 frames of 1080p fill the first part; 700 take 5 parts; 256 parts of
  // 172 frames and no more.
  constexpr std::uint64_t k1080p = 1920 * 1080 * 3;
  auto plan = [](std::uint64_t frames, std::uint64_t length) {
    return layout::plan_parts(frames, length, AviWriter::kDefaultPartLimit, INT_MAX);
  };
  EXPECT_EQ(plan(172, k1080p).file_length, 1069990912u);
  EXPECT_EQ(plan(173, k1080p).parts, 2u);
  EXPECT_EQ(plan(700, k1080p).parts, 5u);
  EXPECT_GT(plan(700, k1080p).file_length, std::uint64_t{700} * (k1080p + 8));
  EXPECT_LT(plan(700, k1080p).file_length, std::uint64_t{700} * (k1080p + 8) + 5 * 1024 + 8204 + 700 * 24);
  EXPECT_TRUE(AviWriter::can_hold(256 * 172, k1080p));
  EXPECT_FALSE(AviWriter::can_hold(256 * 173, k1080p));
  EXPECT_EQ(plan(256 * 173, k1080p).parts, 0u);
  EXPECT_EQ(AviWriter::max_frame_length(), (std::uint64_t{1} << 30) - 8244);
  EXPECT_TRUE(AviWriter::can_hold(1, (std::uint64_t{1} << 30) - 8244));
  EXPECT_FALSE(AviWriter::can_hold(1, (std::uint64_t{1} << 30) - 8243));
  EXPECT_FALSE(AviWriter::can_hold(std::uint64_t{INT_MAX} + 1, 0));
  EXPECT_EQ(AviWriter(1).part_limit(), layout::kMinPartLimit);
  EXPECT_EQ(AviWriter(std::uint64_t{1} << 40).part_limit(), layout::kMaxPartLimit);
  EXPECT_EQ(AviWriter::max_frame_length(1), 972u);
}

std::string write_message(const std::string& name) { return "Unable to write to output file " + name; }

// A file that cannot be created, a negative length, a device that takes
// nothing, and flush() finding the file gone or turned into a directory
// (it reopens the file by name to complete its header).
TEST(AviWriterFailure, RefusalsAndFailuresAreReported) {
  testsupport::TempDir dir;
  const std::string missing = (dir / "missing" / "x.avi").string(), name = (dir / "n.avi").string();
  AviWriter writer;
  EXPECT_EQ(writer.init(missing.c_str(), 2, 2, 25, 1, 0).message, "Unable to open output file " + missing);
  ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, 0));
  Bytes frame(15, 0);
  EXPECT_EQ(writer.write_frame(frame.data(), -1, 0x10).message, "Invalid frame length -1 for output file " + name);
  EXPECT_TRUE(writer.write_frame(frame.data(), 5, 0x10));
  EXPECT_TRUE(writer.flush());
  EXPECT_EQ(u32(testsupport::read_file(name), 0x30), 1u);

  AviWriter full;
  EXPECT_EQ(full.init("/dev/full", 2, 2, 25, 1, 0).message, write_message("/dev/full"));
  EXPECT_EQ(full.write_frame(frame.data(), 12, 0x10).code, AviStatus::Code::closed);
  EXPECT_EQ(full.flush().code, AviStatus::Code::closed);

  for (const bool as_directory : {false, true}) {
    AviWriter gone;
    ASSERT_TRUE(gone.init(name.c_str(), 2, 2, 25, 1, 0));
    ASSERT_TRUE(gone.write_frame(frame.data(), 12, 0x10));
    fs::remove(name);
    if (as_directory) fs::create_directory(name);
    EXPECT_EQ(gone.flush().message, write_message(name));
  }
}

// A file system with a few KiB left: the header area takes 8204 bytes, and
// a frame fails when the file, completed after it, would not fit; so does a
// frame past a part break, or in a later part. The file left behind holds
// every frame written before, for our reader and GStreamer's, with every
// index. Where no disk space is reserved, a write fails at a frame, at the
// index, at the closing chunk or at a later part's "ix00"; the indexes that
// do not fit are left out, and readers scan (GStreamer finds the frames of
// the first part then, and of the others only through their indexes).
TEST(AviWriterFailure, FullFileSystem) {
  struct Case {
    const char* what;
    bool reserve;
    std::uint64_t free;
    std::uint64_t limit;
    std::vector<int> lengths;
    int frame_failing;  // the first write_frame to fail, -1 for none
    bool flushed;
    bool indexed;
    bool gstreamer_reads_all;
  };
  constexpr std::uint64_t kPlain = AviWriter::kDefaultPartLimit;
  const Case cases[] = {
      {"frames", true, 16384, kPlain, std::vector<int>(4, 6000), 1, false, true, true},
      {"exact fit", true, 16384, kPlain, {8140}, -1, true, true, true},  // the file ends at 16384
      // The first part holds two frames of 4000 bytes and ends at 16368; a
      // third one in a second part would take it to 20500.
      {"part break", true, 20480, 16384, {4000, 4000, 4100}, 2, false, true, true},
      {"later part", true, 24576, 16384, std::vector<int>(5, 4000), 4, false, true, true},
      {"exact fit in parts", true, 20480, 16384, {4000, 4000, 4000}, -1, true, true, true},
      {"frames unreserved", false, 16384, kPlain, std::vector<int>(4, 6000), 1, false, true, true},
      // 12000 bytes of chunks fit, 16008 of index do not.
      {"index unreserved", false, 28672, kPlain, std::vector<int>(1000, 4), -1, false, false, true},
      {"closing unreserved", false, 16384, kPlain, {8144}, -1, false, true, true},
      {"part break unreserved", false, 16384, 16384, {4000, 4060, 4000}, 2, false, true, true},
      // The last chunk ends at 20460, its "ix00" at 20500.
      {"last ix00 unreserved", false, 20480, 16384, {4000, 4000, 4120}, -1, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testsupport::SmallFileSystem fs(64 * 1024);
    if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_TRUE(fs.leave_free(c.free));
    const std::string name = fs.path("full.avi");
    AviWriter writer(c.limit, c.reserve);
    ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, c.limit == kPlain ? 0 : 1));
    int failing = -1;
    AviStatus status;
    for (std::size_t i = 0; i < c.lengths.size() && failing < 0; ++i) {
      Bytes frame(static_cast<std::size_t>(c.lengths[i]) + 3, static_cast<std::uint8_t>(i));
      status = writer.write_frame(frame.data(), c.lengths[i], 0x10);
      if (!status) failing = static_cast<int>(i);
    }
    const AviStatus flushed = writer.flush();  // after a failed frame: closed, nothing more to say
    EXPECT_EQ(failing, c.frame_failing);
    EXPECT_EQ(flushed.ok(), c.flushed);
    const std::size_t kept = failing < 0 ? c.lengths.size() : static_cast<std::size_t>(failing);
    EXPECT_EQ(status.message + flushed.message, c.flushed
                                                    ? ""
                                                    : write_message(name) + "\nOutput file " + name + " holds the " +
                                                          std::to_string(kept) + " frames written before the failure");
    EXPECT_TRUE(!c.flushed || fs::file_size(name) == c.free);
    avi::AviReader reader;
    ASSERT_EQ(reader.open(name).message, "");
    EXPECT_EQ(reader.unfinished(), "");
    EXPECT_EQ(reader.index_used(), c.indexed);
    std::vector<Bytes> want;
    for (std::size_t i = 0; i < kept; ++i)
      want.emplace_back(static_cast<std::size_t>(c.lengths[i]), static_cast<std::uint8_t>(i));
    EXPECT_TRUE(read_all(reader) == want);
    if (c.gstreamer_reads_all && testsupport::need_program("gst-launch-1.0")) {
      const std::vector<Bytes> demuxed = testsupport::demux(name, "avidemux");
      ASSERT_EQ(demuxed.size(), kept);
      for (std::size_t i = 0; i < kept; ++i)
        EXPECT_TRUE(std::equal(want[i].begin(), want[i].end(), demuxed[i].begin())) << "GStreamer's frame " << i;
    }
  }
}

}  // namespace
