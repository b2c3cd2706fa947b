// Other readers and writers of AVI files: GStreamer and mediainfo read what
// AviWriter writes, in one RIFF or in OpenDML parts, and AviReader reads what
// GStreamer's avimux writes.
#include "avi_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <tuple>

namespace {

using namespace avitest;
using testsupport::need_program;

constexpr int kWidth = 64;  // rows of 192 bytes: no row fill in either layout
constexpr std::size_t kRow = kWidth * 3, kFrame = kRow * 48;

// avidemux turns bottom-up bitmaps top row first.
Bytes flip(const Bytes& frame) { return testsupport::flip_rows(frame, kRow); }

// `count` random frames at 25 a second, in parts past `limit`: bitmaps, or
// compressed payloads of any length but 0 (avidemux drops empty frames).
std::vector<Bytes> write_random(const std::string& path, int compressed, int count, std::uint64_t limit) {
  std::mt19937 random(7);
  std::vector<Bytes> frames;
  for (int k = 0; k < count; ++k) {
    frames.emplace_back(compressed ? 1 + random() % 3000 : kFrame);
    for (auto& b : frames.back()) b = static_cast<std::uint8_t>(random());
  }
  std::vector<int> flags;
  for (int k = 0; k < count; ++k) flags.push_back(k % 4 == 0 ? 0x10 : 0);
  write_avi(path, frames, {kWidth, 48, 25, 1, compressed}, flags, limit);
  avi::AviReader reader;
  EXPECT_TRUE(reader.open(std::filesystem::path(path)));
  EXPECT_EQ(reader.parts() > 30, limit < AviWriter::kDefaultPartLimit) << reader.parts();
  return frames;
}

// One RIFF, and dozens of parts; and what a reader without OpenDML sees of
// the latter: the first RIFF alone, its super index ignored, is a file of its
// own, whose "avih", "idx1" and frames agree.
TEST(AviInterop, UncompressedFilesReadByGstreamerAndMediainfo) {
  testsupport::TempDir dir;
  const std::string path = (dir / "movie.avi").string(), first = (dir / "first.avi").string();
  std::vector<Bytes> frames;
  for (const auto& [count, limit, duration] : {std::tuple{7, AviWriter::kDefaultPartLimit, "0:00:00.280000000"},
                                               std::tuple{300, std::uint64_t{65536}, "0:00:12.000000000"}}) {
    frames = write_random(path, 0, count, limit);
    if (need_program("gst-launch-1.0")) {
      const std::vector<Bytes> out = testsupport::demux(path, "avidemux");
      ASSERT_EQ(out.size(), frames.size());
      for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], flip(frames[i])) << "frame " << i;
    }
    if (need_program("gst-discoverer-1.0")) {
      const std::string out = testsupport::run({"gst-discoverer-1.0", path}).out;
      for (const std::string& line : {std::string("Width: 64"), std::string("Height: 48"),
                                      std::string("Frame rate: 25/1"), "Duration: " + std::string(duration)})
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    if (need_program("mediainfo")) {
      EXPECT_EQ(testsupport::run({"mediainfo", "--Inform=Video;%FrameCount% %Width% %Height%", path}).out,
                std::to_string(count) + " 64 48\n");
    }
  }
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  Bytes file = testsupport::read_file(path);
  file.resize(8 + u32(file, 4));
  set_tag(file, 0xD4, "JUNK");
  testsupport::write_file(first, file);
  const std::size_t idx1 = 0x2008 + u32(file, 0x2004);
  EXPECT_EQ(tag(file, idx1), "idx1");
  EXPECT_EQ(idx1 + 8 + u32(file, idx1 + 4), file.size());
  avi::AviReader reader;  // takes "idx1" only where every entry matches its chunk
  ASSERT_EQ(reader.open(std::filesystem::path(first)).message, "");
  EXPECT_TRUE(reader.index_used());
  ASSERT_GT(u32(file, 0x30), 1u);
  EXPECT_EQ(reader.frames().size(), u32(file, 0x30));
  const std::vector<Bytes> out = testsupport::demux(first, "avidemux");
  ASSERT_EQ(out.size(), u32(file, 0x30));
  for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], flip(frames[i])) << "frame " << i;
}

// The length avidemux gives a payload comes from the index, and "idx1" gives
// it padded to 4, so up to 3 zero bytes may follow.
TEST(AviInterop, CompressedPartsReadByGstreamer) {
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  testsupport::TempDir dir;
  const std::string path = (dir / "movie.avi").string();
  const std::vector<Bytes> frames = write_random(path, 1, 400, 16384);
  const std::vector<Bytes> out = testsupport::demux(path, "avidemux");
  ASSERT_EQ(out.size(), frames.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    const Bytes& d = out[i];
    const Bytes& w = frames[i];
    ASSERT_TRUE(d.size() >= w.size() && d.size() <= ((w.size() + 3) & ~std::size_t{3}) &&
                std::equal(w.begin(), w.end(), d.begin()) &&
                std::all_of(d.begin() + static_cast<std::ptrdiff_t>(w.size()), d.end(), [](auto b) { return b == 0; }))
        << "frame " << i;
  }
}

// avimux gets the same buffers as a raw file (or, for JPEG frames, numbered
// files): the reader finds them all, bitmaps bottom-up, odd lengths filled.
TEST(AviInterop, ReaderFindsEveryFrameAvimuxWrote) {
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  testsupport::TempDir dir;
  const std::string d = dir.path().string() + "/";
  for (const std::string& pipeline :
       {"num-buffers=5 pattern=ball ! video/x-raw,format=BGR,width=64,height=48,framerate=30/1 ! tee name=t t. ! queue "
        "! avimux ! filesink location=" +
            d + "raw.avi t. ! queue ! filesink location=" + d + "raw.bin",
        "num-buffers=12 pattern=snow ! video/x-raw,width=32,height=16,framerate=10/1 ! jpegenc ! tee name=t t. ! "
        "queue ! avimux ! filesink location=" +
            d + "mjpeg.avi t. ! queue ! multifilesink location=" + d + "f%d.jpg"}) {
    const auto r = testsupport::run({"sh", "-c", "gst-launch-1.0 -q videotestsrc " + pipeline});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  }
  const Bytes source = testsupport::read_file(d + "raw.bin");
  ASSERT_EQ(source.size(), 5 * kFrame);
  avi::AviReader reader;
  ASSERT_EQ(reader.open(std::filesystem::path(d + "raw.avi")).message, "");
  const avi::VideoStream& v = reader.video();
  EXPECT_EQ(std::tuple(v.width, v.height, v.bit_count, v.rate, v.scale),
            std::tuple(64, 48, std::uint16_t{24}, 30u, 1u));
  EXPECT_EQ(v.compression, (avi::FourCC{0, 0, 0, 0}));
  EXPECT_TRUE(reader.index_used());
  const std::vector<Bytes> frames = read_all(reader);
  ASSERT_EQ(frames.size(), 5u);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(frames[i], flip(Bytes(source.begin() + static_cast<std::ptrdiff_t>(i * kFrame),
                                    source.begin() + static_cast<std::ptrdiff_t>((i + 1) * kFrame))))
        << "frame " << i;
  }
  ASSERT_EQ(reader.open(std::filesystem::path(d + "mjpeg.avi")).message, "");
  EXPECT_EQ(reader.video().compression, avi::fourcc("MJPG"));
  const std::vector<Bytes> jpegs = read_all(reader);
  ASSERT_EQ(jpegs.size(), 12u);
  for (std::size_t i = 0; i < 12; ++i)
    EXPECT_EQ(jpegs[i], testsupport::read_file(d + "f" + std::to_string(i) + ".jpg"));
}

}  // namespace
