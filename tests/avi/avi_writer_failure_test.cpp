// Write failures: every failed write is reported once, naming the file, and
// no call reports success for a file that is not complete on disk.
#include "avi/avi_reader.h"
#include "avi/avi_writer.h"

#include "avi_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using avitest::Bytes;
using testsupport::SmallFileSystem;
namespace fs = std::filesystem;

std::string write_message(const std::string& name) { return "Unable to write to output file " + name; }

TEST(AviWriterFailure, FullDeviceFailsInInit) {
  AviWriter writer;
  EXPECT_EQ(writer.init("/dev/full", 2, 2, 25, 1, 0).message, write_message("/dev/full"));
  Bytes frame(15, 0);
  EXPECT_EQ(writer.write_frame(frame.data(), 12, 0x10).code, AviStatus::Code::closed);
  EXPECT_EQ(writer.flush().code, AviStatus::Code::closed);
}

// flush() reopens the file by name to complete its header: a file that is
// gone, or whose name now belongs to a directory, cannot be completed (this
// holds for root too, unlike a read-only mode).
TEST(AviWriterFailure, ReopenInFlushFails) {
  for (const bool as_directory : {false, true}) {
    testsupport::TempDir dir;
    const std::string name = (dir / "gone.avi").string();
    AviWriter writer;
    ASSERT_TRUE(writer.init(name.c_str(), 2, 2, 25, 1, 0));
    Bytes frame(15, 7);
    ASSERT_TRUE(writer.write_frame(frame.data(), 12, 0x10));
    fs::remove(name);
    if (as_directory) fs::create_directory(name);
    EXPECT_EQ(writer.flush().message, write_message(name));
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
    SmallFileSystem fs(64 * 1024);
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
    if (c.flushed) {
      EXPECT_EQ(fs::file_size(name), c.free);
    }
    avi::AviReader reader;
    ASSERT_EQ(reader.open(name).message, "");
    EXPECT_EQ(reader.unfinished(), "");
    EXPECT_EQ(reader.index_used(), c.indexed);
    ASSERT_EQ(reader.frames().size(), kept);
    std::vector<Bytes> demuxed;
    if (c.gstreamer_reads_all && testsupport::need_program("gst-launch-1.0")) {
      demuxed = testsupport::demux(name, "avidemux");
      EXPECT_EQ(demuxed.size(), kept);
    }
    for (std::size_t i = 0; i < kept; ++i) {
      const Bytes expected(static_cast<std::size_t>(c.lengths[i]), static_cast<std::uint8_t>(i));
      Bytes frame(reader.frames()[i].size);
      ASSERT_TRUE(reader.read_frame(i, frame));
      EXPECT_EQ(frame, expected) << i;
      if (i < demuxed.size()) {
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), demuxed[i].begin())) << "GStreamer's frame " << i;
      }
    }
  }
}

}  // namespace
