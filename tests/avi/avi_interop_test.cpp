// Other readers and writers of AVI files: GStreamer and mediainfo read what
// AviWriter writes, in one RIFF or in OpenDML parts, and AviReader reads what
// GStreamer's avimux writes.
#include "avi/avi_reader.h"
#include "avi/avi_writer.h"

#include "avi_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

namespace {

using avitest::Bytes;
using testsupport::demux;
using testsupport::need_program;

constexpr int kWidth = 64;  // rows of 192 bytes: no row fill in either layout
constexpr int kHeight = 48;
constexpr std::size_t kRow = kWidth * 3;
constexpr std::size_t kFrame = kRow * kHeight;

// avidemux turns bottom-up bitmaps top row first.
Bytes flip(const Bytes& frame) { return testsupport::flip_rows(frame, kRow); }

std::string mediainfo_video(const std::string& path) {
  const auto r = testsupport::run({"mediainfo", "--Inform=Video;%FrameCount% %Width% %Height%", path});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  return r.out;
}

std::string discover(const std::string& path) {
  const auto r = testsupport::run({"gst-discoverer-1.0", path});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  return r.out;
}

// Writes `count` random frames, past `limit` in parts: bitmaps, or compressed
// payloads of any length but 0 (avidemux drops empty frames).
class WrittenMovie : public testing::Test {
 protected:
  void write(int compressed, int count, std::uint64_t limit = AviWriter::kDefaultPartLimit) {
    std::mt19937 random(7);
    AviWriter writer(limit);
    ASSERT_TRUE(writer.init(path_.c_str(), kWidth, kHeight, 25, 1, compressed));
    for (int k = 0; k < count; ++k) {
      const std::size_t size = compressed ? 1 + random() % 3000 : kFrame;
      Bytes frame(size + 3);
      for (auto& b : frame) b = static_cast<std::uint8_t>(random());
      ASSERT_TRUE(writer.write_frame(frame.data(), static_cast<int>(size), k % 4 == 0 ? 0x10 : 0));
      frame.resize(size);
      frames_.push_back(frame);
    }
    ASSERT_TRUE(writer.flush());
    avi::AviReader reader;
    ASSERT_EQ(reader.open(path_).message, "");
    parts_ = reader.parts();
  }

  testsupport::TempDir dir_;
  std::string path_ = (dir_ / "movie.avi").string();
  std::vector<Bytes> frames_;
  std::size_t parts_ = 0;
};

TEST_F(WrittenMovie, OneRiffReadByGstreamerAndMediainfo) {
  write(0, 7);
  if (need_program("gst-launch-1.0")) {
    const std::vector<Bytes> out = demux(path_, "avidemux");
    ASSERT_EQ(out.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) EXPECT_EQ(out[i], flip(frames_[i])) << "frame " << i;
  }
  if (need_program("gst-discoverer-1.0")) {
    const std::string out = discover(path_);
    for (const char* line : {"Width: 64", "Height: 48", "Frame rate: 25/1", "Duration: 0:00:00.280000000"})
      EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
  }
  if (need_program("mediainfo")) {
    EXPECT_EQ(mediainfo_video(path_), "7 64 48\n");
  }
}

// Dozens of parts, hundreds of frames.
TEST_F(WrittenMovie, UncompressedPartsReadByGstreamerAndMediainfo) {
  write(0, 300, 65536);
  EXPECT_GT(parts_, 40u);
  if (need_program("gst-launch-1.0")) {
    const std::vector<Bytes> out = demux(path_, "avidemux");
    ASSERT_EQ(out.size(), frames_.size());
    for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], flip(frames_[i])) << "frame " << i;
  }
  if (need_program("mediainfo")) {
    EXPECT_EQ(mediainfo_video(path_), "300 64 48\n");
  }
  if (need_program("gst-discoverer-1.0")) {
    EXPECT_NE(discover(path_).find("Duration: 0:00:12.000000000"), std::string::npos);
  }

  // What a reader without OpenDML sees: the first RIFF alone, its super
  // index ignored, is a file of its own, whose "avih", "idx1" and frames agree.
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  Bytes file = testsupport::read_file(path_);
  const std::size_t first_end = 8 + avitest::u32(file, 4);
  file.resize(first_end);
  avitest::set_tag(file, 0xD4, "JUNK");
  const std::string first = (dir_ / "first.avi").string();
  testsupport::write_file(first, file);
  const std::uint32_t in_first = avitest::u32(file, 0x0030);
  ASSERT_GT(in_first, 1u);
  const std::size_t idx1 = 0x2008 + avitest::u32(file, 0x2004);
  EXPECT_EQ(avitest::tag(file, idx1), "idx1");
  EXPECT_EQ(idx1 + 8 + avitest::u32(file, idx1 + 4), first_end);
  avi::AviReader reader;  // takes "idx1" only where every entry matches its chunk
  ASSERT_EQ(reader.open(std::filesystem::path(first)).message, "");
  EXPECT_TRUE(reader.index_used());
  EXPECT_EQ(reader.frames().size(), in_first);
  const std::vector<Bytes> out = demux(first, "avidemux");
  ASSERT_EQ(out.size(), in_first);
  for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], flip(frames_[i])) << "frame " << i;
}

// The length avidemux gives a payload comes from the index, and "idx1" gives
// it padded to 4, so up to 3 zero bytes may follow.
TEST_F(WrittenMovie, CompressedPartsReadByGstreamer) {
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  write(1, 400, 16384);
  EXPECT_GT(parts_, 40u);
  const std::vector<Bytes> out = demux(path_, "avidemux");
  ASSERT_EQ(out.size(), frames_.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    const Bytes& d = out[i];
    const Bytes& w = frames_[i];
    ASSERT_TRUE(d.size() >= w.size() && d.size() <= ((w.size() + 3) & ~std::size_t{3}) &&
                std::equal(w.begin(), w.end(), d.begin()) &&
                std::all_of(d.begin() + static_cast<std::ptrdiff_t>(w.size()), d.end(), [](auto b) { return b == 0; }))
        << "frame " << i;
  }
}

// avimux gets the same buffers as a raw file (or, for JPEG frames, numbered
// files): the reader finds them all, bitmaps bottom-up, odd lengths filled.
TEST(AvimuxFile, ReaderFindsEveryFrameAsWritten) {
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  testsupport::TempDir dir;
  const std::string avi = (dir / "avimux.avi").string();
  const std::string mjpeg = (dir / "mjpeg.avi").string();
  const std::string raw = (dir / "raw.bin").string();
  auto r = testsupport::run({"gst-launch-1.0",
                             "-q",
                             "videotestsrc",
                             "num-buffers=5",
                             "pattern=ball",
                             "!",
                             "video/x-raw,format=BGR,width=64,height=48,framerate=30/1",
                             "!",
                             "tee",
                             "name=t",
                             "t.",
                             "!",
                             "queue",
                             "!",
                             "avimux",
                             "!",
                             "filesink",
                             "location=" + avi,
                             "t.",
                             "!",
                             "queue",
                             "!",
                             "filesink",
                             "location=" + raw});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  r = testsupport::run({"gst-launch-1.0",
                        "-q",
                        "videotestsrc",
                        "num-buffers=12",
                        "pattern=snow",
                        "!",
                        "video/x-raw,width=32,height=16,framerate=10/1",
                        "!",
                        "jpegenc",
                        "!",
                        "tee",
                        "name=t",
                        "t.",
                        "!",
                        "queue",
                        "!",
                        "avimux",
                        "!",
                        "filesink",
                        "location=" + mjpeg,
                        "t.",
                        "!",
                        "queue",
                        "!",
                        "multifilesink",
                        "location=" + (dir / "f%d.jpg").string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  const Bytes source = testsupport::read_file(raw);
  ASSERT_EQ(source.size(), 5 * kFrame);

  avi::AviReader reader;
  ASSERT_EQ(reader.open(std::filesystem::path(avi)).message, "");
  const avi::VideoStream& v = reader.video();
  EXPECT_EQ(v.width, 64);
  EXPECT_EQ(v.height, 48);
  EXPECT_EQ(v.bit_count, 24);
  EXPECT_EQ(v.compression, (avi::FourCC{0, 0, 0, 0}));
  EXPECT_EQ(v.rate, 30u);
  EXPECT_EQ(v.scale, 1u);
  EXPECT_TRUE(reader.index_used());
  ASSERT_EQ(reader.frames().size(), 5u);
  Bytes frame(reader.largest_frame());
  for (std::size_t i = 0; i < 5; ++i) {
    ASSERT_EQ(reader.frames()[i].size, kFrame);
    ASSERT_EQ(reader.read_frame(i, frame).message, "");
    const Bytes expected(source.begin() + static_cast<std::ptrdiff_t>(i * kFrame),
                         source.begin() + static_cast<std::ptrdiff_t>((i + 1) * kFrame));
    EXPECT_EQ(frame, flip(expected)) << "frame " << i;
  }

  ASSERT_EQ(reader.open(std::filesystem::path(mjpeg)).message, "");
  EXPECT_EQ(reader.video().compression, avi::fourcc("MJPG"));
  ASSERT_EQ(reader.frames().size(), 12u);
  frame.resize(reader.largest_frame());
  for (std::size_t i = 0; i < 12; ++i) {
    ASSERT_EQ(reader.read_frame(i, frame).message, "");
    char name[16];
    std::snprintf(name, sizeof name, "f%zu.jpg", i);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + reader.frames()[i].size), testsupport::read_file(dir / name))
        << "frame " << i;
  }
}

}  // namespace
