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

constexpr int kWidth = 64;  // rows of 192 bytes: no row fill in either layout
constexpr int kHeight = 48;
constexpr std::size_t kRow = kWidth * 3;
constexpr std::size_t kFrame = kRow * kHeight;

Bytes flip_rows(const Bytes& frame) {
  Bytes out(frame.size());
  const std::size_t rows = frame.size() / kRow;
  for (std::size_t r = 0; r < rows; ++r) {
    std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>(r * kRow), kRow,
                out.begin() + static_cast<std::ptrdiff_t>((rows - 1 - r) * kRow));
  }
  return out;
}

std::string frame_name(const testsupport::TempDir& dir, int i) {
  char name[32];
  std::snprintf(name, sizeof name, "f%05d.bin", i);
  return (dir / name).string();
}

class WrittenMovie : public testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 random(42);
    AviWriter writer;
    ASSERT_EQ(writer.init(path_.c_str(), kWidth, kHeight, 25, 1, 0), 1);
    for (int k = 0; k < 7; ++k) {
      Bytes frame(kFrame + 3);
      for (auto& b : frame) b = static_cast<std::uint8_t>(random());
      ASSERT_EQ(writer.write_frame(frame.data(), kFrame, 0x10), 1);
      frame.resize(kFrame);
      frames_.push_back(frame);
    }
    ASSERT_EQ(writer.flush(), 1);
  }

  testsupport::TempDir dir_;
  std::string path_ = (dir_ / "movie.avi").string();
  std::vector<Bytes> frames_;
};

TEST_F(WrittenMovie, AvidemuxHandsOutEveryFrameUnchanged) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  testsupport::TempDir out;
  const auto r = testsupport::run({"gst-launch-1.0", "-q", "filesrc", "location=" + path_, "!", "avidemux", "!",
                                   "multifilesink", "location=" + (out / "f%05d.bin").string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  for (int i = 0; i < 7; ++i) {
    // avidemux turns bottom-up bitmaps top row first.
    EXPECT_EQ(testsupport::read_file(frame_name(out, i)), flip_rows(frames_[i])) << "frame " << i;
  }
  EXPECT_FALSE(std::filesystem::exists(frame_name(out, 7)));
}

TEST_F(WrittenMovie, DiscovererReportsSizeRateAndDuration) {
  if (!testsupport::need_program("gst-discoverer-1.0")) GTEST_SKIP();
  const auto r = testsupport::run({"gst-discoverer-1.0", path_});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Width: 64"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Height: 48"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Frame rate: 25/1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Duration: 0:00:00.280000000"), std::string::npos) << r.out;
}

TEST_F(WrittenMovie, MediainfoCountsTheFrames) {
  if (!testsupport::need_program("mediainfo")) GTEST_SKIP();
  const auto r = testsupport::run({"mediainfo", "--Inform=Video;%FrameCount% %Width% %Height%", path_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "7 64 48\n");
}

// Every buffer that avidemux hands out for `path`, in order.
std::vector<Bytes> demux(const std::string& path) {
  testsupport::TempDir out;
  const auto r = testsupport::run({"gst-launch-1.0", "-q", "filesrc", "location=" + path, "!", "avidemux", "!",
                                   "multifilesink", "location=" + (out / "f%05d.bin").string()});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  std::vector<Bytes> frames;
  for (int i = 0; std::filesystem::exists(frame_name(out, i)); ++i) frames.push_back(testsupport::read_file(frame_name(out, i)));
  return frames;
}

// A payload as avidemux hands it out: the length comes from the index, and
// "idx1" gives it padded to 4, so up to 3 zero bytes may follow.
bool same_payload(const Bytes& demuxed, const Bytes& written) {
  if (demuxed.size() < written.size() || demuxed.size() > ((written.size() + 3) & ~std::size_t{3})) return false;
  return std::equal(written.begin(), written.end(), demuxed.begin()) &&
         std::all_of(demuxed.begin() + static_cast<std::ptrdiff_t>(written.size()), demuxed.end(),
                     [](std::uint8_t b) { return b == 0; });
}

// Files past a small part limit: dozens of parts, hundreds of frames.
class MovieInParts : public testing::Test {
 protected:
  void write(int compressed, int count, std::uint64_t limit) {
    std::mt19937 random(7);
    AviWriter writer(limit);
    ASSERT_EQ(writer.init(path_.c_str(), kWidth, kHeight, 25, 1, compressed), 1);
    for (int k = 0; k < count; ++k) {
      // Compressed payloads of any length but 0 (avidemux drops empty frames).
      const std::size_t size = compressed ? 1 + random() % 3000 : kFrame;
      Bytes frame(size + 3);
      for (auto& b : frame) b = static_cast<std::uint8_t>(random());
      ASSERT_EQ(writer.write_frame(frame.data(), static_cast<int>(size), k % 4 == 0 ? 0x10 : 0), 1);
      frame.resize(size);
      frames_.push_back(frame);
    }
    ASSERT_EQ(writer.flush(), 1);
    parts_ = writer.part_count();
  }

  testsupport::TempDir dir_;
  std::string path_ = (dir_ / "parts.avi").string();
  std::vector<Bytes> frames_;
  std::size_t parts_ = 0;
};

TEST_F(MovieInParts, AvidemuxHandsOutEveryUncompressedFrame) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  write(0, 300, 65536);
  EXPECT_GT(parts_, 40u);
  const std::vector<Bytes> out = demux(path_);
  ASSERT_EQ(out.size(), frames_.size());
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], flip_rows(frames_[i])) << "frame " << i;
}

TEST_F(MovieInParts, AvidemuxHandsOutEveryCompressedPayload) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  write(1, 400, 16384);
  EXPECT_GT(parts_, 40u);
  const std::vector<Bytes> out = demux(path_);
  ASSERT_EQ(out.size(), frames_.size());
  for (std::size_t i = 0; i < out.size(); ++i) ASSERT_TRUE(same_payload(out[i], frames_[i])) << "frame " << i;
}

TEST_F(MovieInParts, MediainfoAndDiscovererCountEveryFrame) {
  if (!testsupport::need_program("mediainfo") || !testsupport::need_program("gst-discoverer-1.0")) GTEST_SKIP();
  write(0, 300, 65536);
  auto r = testsupport::run({"mediainfo", "--Inform=Video;%FrameCount% %Width% %Height%", path_});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "300 64 48\n");
  r = testsupport::run({"gst-discoverer-1.0", path_});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Duration: 0:00:12.000000000"), std::string::npos) << r.out;
}

// What a reader without OpenDML sees: the first RIFF alone, its super index
// ignored, is a file of its own, whose "avih", "idx1" and frames agree.
TEST_F(MovieInParts, FirstRiffAloneForReadersWithoutOpenDml) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  write(0, 300, 65536);
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
  ASSERT_TRUE(reader.open(std::filesystem::path(first))) << reader.error();
  EXPECT_TRUE(reader.index_used());
  EXPECT_EQ(reader.frames().size(), in_first);
  const std::vector<Bytes> out = demux(first);
  ASSERT_EQ(out.size(), in_first);
  for (std::size_t i = 0; i < out.size(); ++i) EXPECT_EQ(out[i], flip_rows(frames_[i])) << "frame " << i;
}

TEST(AvimuxFile, ReaderFindsEveryFrameAsWritten) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  testsupport::TempDir dir;
  const std::string avi = (dir / "avimux.avi").string();
  const std::string raw = (dir / "raw.bin").string();
  // The same buffers go to avimux and, untouched, to a raw file.
  const auto r = testsupport::run(
      {"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=5", "pattern=ball", "!",
       "video/x-raw,format=BGR,width=64,height=48,framerate=30/1", "!", "tee", "name=t", "t.", "!", "queue", "!",
       "avimux", "!", "filesink", "location=" + avi, "t.", "!", "queue", "!", "filesink", "location=" + raw});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  const Bytes source = testsupport::read_file(raw);
  ASSERT_EQ(source.size(), 5 * kFrame);

  avi::AviReader reader;
  ASSERT_TRUE(reader.open(std::filesystem::path(avi))) << reader.error();
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
    ASSERT_TRUE(reader.read_frame(i, frame)) << reader.error();
    // avimux stores the bitmaps bottom-up.
    const Bytes expected(source.begin() + static_cast<std::ptrdiff_t>(i * kFrame),
                         source.begin() + static_cast<std::ptrdiff_t>((i + 1) * kFrame));
    EXPECT_EQ(frame, flip_rows(expected)) << "frame " << i;
  }
}

// JPEG frames have odd lengths now and then: avimux fills them to 2 bytes.
TEST(AvimuxFile, ReaderFindsCompressedFramesOfAnyLength) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  testsupport::TempDir dir;
  const std::string avi = (dir / "mjpeg.avi").string();
  const auto r = testsupport::run(
      {"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=12", "pattern=snow", "!",
       "video/x-raw,width=32,height=16,framerate=10/1", "!", "jpegenc", "!", "tee", "name=t", "t.", "!", "queue", "!",
       "avimux", "!", "filesink", "location=" + avi, "t.", "!", "queue", "!", "multifilesink",
       "location=" + (dir / "f%05d.bin").string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;

  avi::AviReader reader;
  ASSERT_TRUE(reader.open(std::filesystem::path(avi))) << reader.error();
  EXPECT_EQ(reader.video().compression, avi::fourcc("MJPG"));
  ASSERT_EQ(reader.frames().size(), 12u);
  Bytes frame(reader.largest_frame());
  for (std::size_t i = 0; i < 12; ++i) {
    const Bytes expected = testsupport::read_file(frame_name(dir, static_cast<int>(i)));
    ASSERT_TRUE(reader.read_frame(i, frame)) << reader.error();
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + reader.frames()[i].size), expected) << "frame " << i;
  }
}

}  // namespace
