// Helpers shared by the test programs: running real programs, scratch
// directories, whole-file I/O and external tools that may be missing.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "mov/synthetic_frames.h"

namespace testsupport {

struct RunResult {
  int exit_code = -1;   // the program's exit status; 128 + signal if it was killed
  std::string out;      // everything it wrote to standard output
  std::string err;      // everything it wrote to standard error
  long max_rss_kb = 0;  // its peak resident memory; 0 when no higher than the test's own
};

// Runs argv[0] (a path, or a name looked up in PATH) with the given arguments,
// feeding `input` to its standard input, and waits for it.
RunResult run(const std::vector<std::string>& argv, const std::string& input = {});

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A tmpfs of a few pages mounted on a scratch directory, for disk-full tests;
// mounting needs privileges that a test machine may not grant.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(std::size_t bytes);
  ~SmallFileSystem();
  bool mounted() const { return mounted_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  // Takes all space but `free` bytes (a whole number of pages).
  bool leave_free(std::uint64_t free);

 private:
  TempDir dir_;
  bool mounted_ = false;
};

// A program run in the background, its standard output and error going to
// files, for tests that signal it at a chosen point: it runs in slices of a
// millisecond, stopped (SIGSTOP) between them, so that it cannot run past
// that point however the machine is loaded.
class Started {
 public:
  explicit Started(const std::vector<std::string>& argv);
  ~Started();  // kills and reaps it if it still runs
  // Lets it run, up to a minute, until `done()` holds (it is stopped then)
  // or it has ended; returns whether `done()` holds.
  bool run_until(const std::function<bool()>& done);
  void signal(int number) const;
  std::string out() const;  // what it has written on standard output so far
  // Lets it run to its end. exit_code is its exit status, or minus the
  // number of the signal that ended it.
  RunResult finish();

 private:
  TempDir dir_;
  int pid_ = -1;  // -1 once reaped
  int status_ = 0;
};

std::vector<std::uint8_t> read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// For tests that need an external tool (GStreamer, mediainfo): true when it is
// an executable in PATH. When it is missing the test is skipped, unless the environment sets
// QUELMUX_REQUIRE_TOOLS=1 (as the CI script does), which makes it a failure.
// Use as: if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
bool need_program(const std::string& name);

// Every picture, `width` pixels wide, that GStreamer decodes from `file`
// through `demuxer` and videoconvert: top row first, R, G, B, rows packed
// (GStreamer's fill to 4 bytes is left out). Width 0: the demuxed buffers.
std::vector<std::vector<std::uint8_t>> decode_rgb(const std::string& file, const std::string& demuxer, int width);

// Every buffer that GStreamer's `demuxer` ("avidemux", "qtdemux") hands out
// for `file`, in order; the run must succeed.
inline std::vector<std::vector<std::uint8_t>> demux(const std::string& file, const std::string& demuxer) {
  return decode_rgb(file, demuxer, 0);
}

// A packed picture of rows of `row` bytes, its last row first.
std::vector<std::uint8_t> flip_rows(const std::vector<std::uint8_t>& picture, std::size_t row);

// Frame `index` of `source` as a 24-bit AVI frame: bottom-up rows of B, G, R
// of `row_bytes` (0: packed), with zero fill.
std::vector<std::uint8_t> avi_frame(const movgen::FrameSource& source, std::uint32_t index, std::size_t row_bytes = 0);

}  // namespace testsupport
