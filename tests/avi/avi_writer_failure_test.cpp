// Write failures: every failed write is reported once, naming the file, and
// no call reports success for a file that is not complete on disk.
#include "avi/avi_reader.h"
#include "avi/avi_writer.h"

#include "avi_test_util.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using avitest::Bytes;
namespace fs = std::filesystem;

// A tmpfs of a few pages mounted on a scratch directory, for disk-full tests;
// mounting needs privileges that a test machine may not grant.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(std::size_t bytes) {
    const auto r = testsupport::run({"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(bytes), "tmpfs",
                                     dir_.path().string()});
    mounted_ = r.exit_code == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) testsupport::run({"umount", dir_.path().string()});
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  bool mounted() const { return mounted_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  std::uint64_t available() const {
    struct statvfs s {};
    if (statvfs(dir_.path().c_str(), &s) != 0) return 0;
    return std::uint64_t{s.f_bavail} * s.f_frsize;
  }

  // Takes all space but `free` bytes (a whole number of pages).
  bool leave_free(std::uint64_t free) {
    const std::uint64_t avail = available();
    if (avail < free) return false;
    std::ofstream filler(dir_ / "filler", std::ios::binary);
    const std::string block(static_cast<std::size_t>(avail - free), '\0');
    filler.write(block.data(), static_cast<std::streamsize>(block.size()));
    filler.close();
    return filler.good() && available() == free;
  }

 private:
  testsupport::TempDir dir_;
  bool mounted_ = false;
};

std::string write_message(const std::string& name) { return "Unable to write to output file " + name + "\n"; }

TEST(AviWriterFailure, FullDeviceFailsInInit) {
  AviWriter writer;
  testing::internal::CaptureStdout();
  EXPECT_EQ(writer.init("/dev/full", 2, 2, 25, 1, 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), write_message("/dev/full"));
  Bytes frame(15, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(writer.write_frame(frame.data(), 12, 0x10), 0);
  EXPECT_EQ(writer.flush(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// flush() reopens the file by name to complete its header: a file that is
// gone, or whose name now belongs to a directory, cannot be completed (this
// holds for root too, unlike a read-only mode).
TEST(AviWriterFailure, ReopenInFlushFails) {
  for (const bool as_directory : {false, true}) {
    testsupport::TempDir dir;
    const std::string name = (dir / "gone.avi").string();
    AviWriter writer;
    ASSERT_EQ(writer.init(name.c_str(), 2, 2, 25, 1, 0), 1);
    Bytes frame(15, 7);
    ASSERT_EQ(writer.write_frame(frame.data(), 12, 0x10), 1);
    fs::remove(name);
    if (as_directory) fs::create_directory(name);
    testing::internal::CaptureStdout();
    EXPECT_EQ(writer.flush(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), write_message(name));
  }
}

// A file system with a few KiB left: the header area takes 8204 bytes, and
// what follows fails at the frames, at the index or at the closing chunk,
// or fits exactly; past the part limit, at a part break, in a later part, at
// the last part's "ix00" and at its closing chunk.
TEST(AviWriterFailure, FullFileSystem) {
  struct Case {
    const char* what;
    std::uint64_t free;
    std::uint64_t limit;
    std::vector<int> lengths;
    int frame_failing;  // the first write_frame to fail, -1 for none
    bool flushed;
  };
  constexpr std::uint64_t kPlain = AviWriter::kDefaultPartLimit;
  // With a limit of 16384 the first part holds two frames of about 4000
  // bytes; its "ix00" and "idx1" follow them.
  const Case cases[] = {
      {"frames", 16384, kPlain, std::vector<int>(4, 6000), 1, false},   // one chunk of 6008 fits, two do not
      // 12000 bytes of chunks fit, 16008 of index do not.
      {"index", 28672, kPlain, std::vector<int>(1000, 4), -1, false},
      {"closing", 16384, kPlain, {8144}, -1, false},  // the index ends at 16380, the closing chunk at 17408
      {"exact fit", 16384, kPlain, {8140}, -1, true},  // the file ends at 16384
      // "idx1" ends at 16368, the second part's header at 16392.
      {"part break", 16384, 16384, {4000, 4060, 4000}, 2, false},
      // The second part opens at 16308; its chunks end at 20340, 24348, 28356.
      {"later part", 24576, 16384, std::vector<int>(5, 4000), 4, false},
      // The last chunk ends at 20460, its "ix00" at 20500.
      {"last ix00", 20480, 16384, {4000, 4000, 4120}, -1, false},
      // "ix00" ends at 20480, the closing "JUNK" after it.
      {"closing chunk", 20480, 16384, {4000, 4000, 4100}, -1, false},
      {"exact fit in parts", 20480, 16384, {4000, 4000, 4000}, -1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SmallFileSystem fs(64 * 1024);
    if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    ASSERT_TRUE(fs.leave_free(c.free));
    const std::string name = fs.path("full.avi");
    AviWriter writer(c.limit);
    ASSERT_EQ(writer.init(name.c_str(), 2, 2, 25, 1, c.limit == kPlain ? 0 : 1), 1);
    testing::internal::CaptureStdout();
    int failing = -1;
    for (std::size_t i = 0; i < c.lengths.size() && failing < 0; ++i) {
      Bytes frame(static_cast<std::size_t>(c.lengths[i]) + 3, static_cast<std::uint8_t>(i));
      if (writer.write_frame(frame.data(), c.lengths[i], 0x10) == 0) failing = static_cast<int>(i);
    }
    EXPECT_EQ(failing, c.frame_failing);
    EXPECT_EQ(writer.flush(), c.flushed ? 1 : 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.flushed ? "" : write_message(name));
    if (c.flushed) {
      EXPECT_EQ(fs::file_size(name), c.free);
      avi::AviReader reader;
      ASSERT_TRUE(reader.open(name)) << reader.error();
      EXPECT_EQ(reader.parts(), c.limit == kPlain ? 1u : 2u);
      EXPECT_EQ(reader.frames().size(), c.lengths.size());
    }
  }
}

}  // namespace
