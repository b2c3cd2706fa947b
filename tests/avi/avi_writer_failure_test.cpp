// Write failures: every failed write is reported once, naming the file, and
// no call reports success for a file that is not complete on disk.
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

TEST(AviWriterFailure, FramesOnAFullFileSystem) {
  SmallFileSystem fs(64 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_TRUE(fs.leave_free(16384));
  const std::string name = fs.path("frames.avi");
  AviWriter writer;
  ASSERT_EQ(writer.init(name.c_str(), 2, 2, 25, 1, 0), 1);
  Bytes frame(6003, 1);
  testing::internal::CaptureStdout();
  int failed_at = -1;
  for (int i = 0; i < 4 && failed_at < 0; ++i) {
    if (writer.write_frame(frame.data(), 6000, 0x10) == 0) failed_at = i;
  }
  EXPECT_EQ(writer.write_frame(frame.data(), 6000, 0x10), 0);
  EXPECT_EQ(writer.flush(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), write_message(name));
  EXPECT_EQ(failed_at, 1);  // the header and one frame fit in 16 KiB, two frames do not
}

TEST(AviWriterFailure, IndexOnAFullFileSystem) {
  SmallFileSystem fs(64 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_TRUE(fs.leave_free(28672));
  const std::string name = fs.path("index.avi");
  AviWriter writer;
  ASSERT_EQ(writer.init(name.c_str(), 2, 2, 25, 1, 0), 1);
  // 1000 frame chunks of 12 bytes end at 20204; their index takes 16008 more.
  Bytes frame(7, 3);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(writer.write_frame(frame.data(), 4, 0x10), 1) << i;
  testing::internal::CaptureStdout();
  EXPECT_EQ(writer.flush(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), write_message(name));
}

TEST(AviWriterFailure, ClosingChunkOnAFullFileSystem) {
  SmallFileSystem fs(64 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_TRUE(fs.leave_free(16384));
  const std::string name = fs.path("closing.avi");
  AviWriter writer;
  ASSERT_EQ(writer.init(name.c_str(), 2, 2, 25, 1, 0), 1);
  // A frame of 8144 bytes ends the index at 16380: the closing chunk's id
  // still fits the 16 KiB, its size field and fill do not.
  Bytes frame(8147, 9);
  ASSERT_EQ(writer.write_frame(frame.data(), 8144, 0x10), 1);
  testing::internal::CaptureStdout();
  EXPECT_EQ(writer.flush(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), write_message(name));
  EXPECT_LE(fs::file_size(name), 16384u);
}

TEST(AviWriterFailure, ExactFitOnAFullFileSystemSucceeds) {
  SmallFileSystem fs(64 * 1024);
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  ASSERT_TRUE(fs.leave_free(16384));
  const std::string name = fs.path("exact.avi");
  AviWriter writer;
  ASSERT_EQ(writer.init(name.c_str(), 2, 2, 25, 1, 0), 1);
  // 8140 bytes end the file at exactly 16384.
  Bytes frame(8143, 9);
  ASSERT_EQ(writer.write_frame(frame.data(), 8140, 0x10), 1);
  EXPECT_EQ(writer.flush(), 1);
  EXPECT_EQ(fs::file_size(name), 16384u);
}

}  // namespace
