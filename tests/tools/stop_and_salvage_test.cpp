// Nothing lost: runs stopped by a signal, killed outright or cut short by a
// full disk leave a file of every frame written, read back by crvtdec and by
// GStreamer; a movie is never written over; a header's claims cost nothing.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "crvtdec_test_util.h"
#include "mov/movie_signature.h"

namespace {

using namespace crvtdec_test;
namespace fs = std::filesystem;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr std::uint32_t kStored = 8;     // pictures stored in the movie
constexpr std::uint32_t kFrames = 4000;  // frames its chunks make of them

class NothingLost : public testing::Test {
 protected:
  // A long movie from a small file: its chunks cycle over 8 stored frames.
  void SetUp() override {
    movgen::MovieOptions o{.width = kWidth, .height = kHeight, .frames = kStored, .moov_last = true};
    const movgen::MovieLayout stored = write_movie(dir_ / "in.mov", o, src_);
    o.frames = kFrames;
    movgen::MovieLayout cycle;
    std::string error;
    ASSERT_TRUE(movgen::plan_movie(o, cycle, error)) << error;
    for (std::uint32_t i = 0; i < kFrames; ++i) cycle.chunk_offsets[i] = stored.chunk_offsets[i % kStored];
    Bytes bytes = testsupport::read_file(dir_ / "in.mov");
    bytes.resize(stored.moov_offset);
    const Bytes moov = movgen::build_moov(o, cycle);
    bytes.insert(bytes.end(), moov.begin(), moov.end());
    testsupport::write_file(dir_ / "in.mov", bytes);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::uintmax_t size_of(const std::string& name) const {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(dir_ / name, ec);
    return ec ? 0 : size;
  }

  // `file` holds exactly the first `frames` frames of the movie: for our
  // reader, for crvtdec --compare and, frame for frame, for GStreamer (whose
  // bitmaps come top row first).
  void expect_first_frames(const std::string& file, std::size_t frames, bool bitmaps) const {
    avi::AviReader reader;
    ASSERT_TRUE(reader.open(file)) << reader.error();
    EXPECT_EQ(reader.unfinished(), "");
    EXPECT_EQ(reader.frames().size(), frames);
    const RunResult r = crvtdec({"--compare", file, path("in.mov")});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "Frame counts differ: " + file + " has " + std::to_string(frames) + " frames, " + path("in.mov") +
                         " has " + std::to_string(kFrames) + " (the first " + std::to_string(frames) +
                         " are identical)\n");
    if (!testsupport::need_program("gst-launch-1.0")) return;
    const std::vector<Bytes> demuxed = testsupport::demux(file, "avidemux");
    ASSERT_EQ(demuxed.size(), frames);
    for (std::size_t i = 0; bitmaps && i < frames; ++i) {
      EXPECT_TRUE(demuxed[i] == testsupport::flip_rows(bgr_frame(src_, static_cast<std::uint32_t>(i % kStored)), 3 * kWidth))
          << "GStreamer's frame " << i;
    }
  }

  testsupport::TempDir dir_;
  const movgen::FrameSource src_ = source(kWidth, kHeight, movgen::Content::shape);
};

// A signal as the first frames go out, in mid-run, and again and again while
// the file is completed: the run stops after the frame in progress, says so,
// completes the file and ends with 128 + the first signal's number.
TEST_F(NothingLost, SignalsStopAfterTheFrameInProgress) {
  // crvtdec's input: the movie's pictures as Corvath frames, cycled alike.
  std::vector<Bytes> pictures;
  for (std::uint32_t i = 0; i < kStored; ++i) pictures.push_back(bgr_frame(src_, i));
  const std::vector<Bytes> coded = encode(kWidth, kHeight, 24, pictures);
  std::vector<Bytes> frames;
  for (std::uint32_t i = 0; i < kFrames; ++i) frames.push_back(coded[i % kStored]);
  write_avi(dir_ / "coded.avi", {kWidth, kHeight, true, 600, 20}, frames);

  struct Case {
    const char* what;
    std::vector<std::string> argv;
    int signal;
    std::uintmax_t after;  // output bytes before the signal
    bool again;            // further signals until the end
    bool bitmaps;
  };
  const std::string out = path("out.avi");
  const Case cases[] = {
      {"first frame", {QUELMUX_EXE, path("in.mov"), out}, SIGTERM, 0, false, false},
      {"mid-run -u", {QUELMUX_EXE, "-u", path("in.mov"), out}, SIGINT, 1 << 20, false, true},
      {"completion", {QUELMUX_EXE, path("in.mov"), out}, SIGHUP, 1 << 16, true, false},
      {"crvtdec mid-run", {CRVTDEC_EXE, path("coded.avi"), out}, SIGINT, 1 << 20, false, true},
      {"crvtdec completion", {CRVTDEC_EXE, path("coded.avi"), out}, SIGHUP, 1 << 20, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(out);
    testsupport::Started run(c.argv);
    const bool quelmux = c.argv[0] == QUELMUX_EXE;
    ASSERT_TRUE(run.wait_until([&] {
      return quelmux && c.after == 0 ? run.out().find("Writing") != std::string::npos : size_of("out.avi") > 8204 + c.after;
    }));
    run.signal(c.signal);
    // SIGHUP first: of signals pending together, the lowest number comes first.
    if (c.again) run.wait_until([&] { run.signal(SIGTERM); run.signal(SIGINT); return false; });
    const RunResult r = run.finish();
    EXPECT_EQ(r.exit_code, 128 + c.signal) << r.out << r.err;
    int written = -1;
    int total = 0;
    if (quelmux) {
      const std::size_t at = r.out.rfind("Interrupted by ");
      ASSERT_NE(at, std::string::npos) << r.out;
      char name[16] = {};
      ASSERT_EQ(std::sscanf(r.out.c_str() + at, "Interrupted by %15[A-Z]: %d of %d frames written", name, &written, &total), 3);
      EXPECT_EQ(name, std::string(c.signal == SIGTERM ? "SIGTERM" : c.signal == SIGINT ? "SIGINT" : "SIGHUP"));
      EXPECT_TRUE(r.out.ends_with(" frames written\nFinished writing file " + out + "\n")) << r.out;
    } else {
      ASSERT_EQ(std::sscanf(r.err.c_str(), "crvtdec: interrupted by SIG%*[A-Z]: %d of %d frames written to", &written, &total), 2)
          << r.err;
    }
    EXPECT_EQ(total, static_cast<int>(kFrames));
    EXPECT_LT(written, total);
    expect_first_frames(out, static_cast<std::size_t>(written), c.bitmaps);
  }
}

// A run killed outright leaves its header as first written and maybe a cut
// chunk: crvtdec says so, reads every whole frame, and writes them again as
// a complete file, with exit status 1 for the incomplete input.
TEST_F(NothingLost, KilledRunIsSalvaged) {
  {
    testsupport::Started run({QUELMUX_EXE, path("in.mov"), path("killed.avi")});
    ASSERT_TRUE(run.wait_until([&] { return size_of("killed.avi") > 200000; }));
    run.signal(SIGKILL);
    ASSERT_EQ(run.finish().exit_code, -SIGKILL);
  }
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(path("killed.avi"))) << reader.error();
  const std::size_t whole = reader.frames().size();
  ASSERT_GT(whole, 0u);
  const std::string note = path("killed.avi") + " was not completed (its RIFF size is 0): " + std::to_string(whole) +
                           " whole frames found\n";
  RunResult r = crvtdec({"--info", path("killed.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "crvtdec: " + note);
  EXPECT_NE(r.out.find("Frames: " + std::to_string(whole) + " (the stream header says 0)\n"), std::string::npos) << r.out;
  r = crvtdec({"--frames", path("killed.avi"), path("f%d.ppm")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(fs::exists(dir_ / ("f" + std::to_string(whole - 1) + ".ppm")));
  EXPECT_FALSE(fs::exists(dir_ / ("f" + std::to_string(whole) + ".ppm")));
  r = crvtdec({path("killed.avi"), path("saved.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, std::to_string(whole) + " frames written to " + path("saved.avi") + "\n");
  expect_first_frames(path("saved.avi"), whole, true);
}

// A full disk stops both programs at a frame; the file keeps every frame
// before it, indexes included. A partial image of --frames is removed.
TEST_F(NothingLost, FullDisk) {
  testsupport::SmallFileSystem small(4 << 20);
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string full = small.path("full.avi");
  RunResult r = quelmux({"-u", path("in.mov"), full});
  EXPECT_EQ(r.exit_code, 1);
  const std::string failed = "Unable to write to output file " + full + "\nOutput file " + full + " holds the ";
  const std::size_t at = r.out.find(failed);
  ASSERT_NE(at, std::string::npos) << r.out;
  const int kept = std::atoi(r.out.c_str() + at + failed.size());
  EXPECT_GT(kept, 10);  // 4 MiB of 230 KB frames
  expect_first_frames(full, static_cast<std::size_t>(kept), true);

  // Too little room left for even one frame.
  r = crvtdec({full, small.path("again.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("Unable to write to output file " + small.path("again.avi")), std::string::npos) << r.err;
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(small.path("again.avi"))) << reader.error();
  EXPECT_EQ(reader.frames().size(), 0u);
  fs::remove(small.path("again.avi"));
  r = crvtdec({"--frames", full, small.path("f%d.ppm")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot write " + small.path("f0.ppm") + ": No space left on device"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(small.path("f0.ppm")));
}

// quelmux *.mov in a folder of movies names a movie as the output: it is left
// as it was, by both programs, while other files are overwritten as before.
TEST_F(NothingLost, MoviesAreNeverWrittenOver) {
  fs::copy_file(dir_ / "in.mov", dir_ / "b.mov");
  fs::copy_file(dir_ / "in.mov", dir_ / "b0.mov");
  const Bytes movie = testsupport::read_file(dir_ / "b.mov");
  for (const std::string option : {"", "-u"}) {
    std::vector<std::string> args = {path("in.mov"), path("b.mov"), path("c.mov")};
    if (!option.empty()) args = {option, path("in.mov"), path("b.mov")};
    const RunResult r = quelmux(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.out.ends_with("Output file " + path("b.mov") + " is a QuickTime movie: quelmux does not write over it\n"))
        << r.out;
  }
  write_avi(dir_ / "a.avi", {kWidth, kHeight, false, 600, 20}, {bgr_frame(src_, 0)});
  RunResult r = crvtdec({path("a.avi"), path("b.mov")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "crvtdec: " + path("b.mov") + " is a QuickTime movie: crvtdec does not write over it\n");
  r = crvtdec({"--frames", path("a.avi"), path("b%d.mov")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "crvtdec: " + path("b0.mov") + ": the image of frame 0 would overwrite a QuickTime movie\n");
  EXPECT_EQ(testsupport::read_file(dir_ / "b.mov"), movie);
  EXPECT_EQ(testsupport::read_file(dir_ / "b0.mov"), movie);
  EXPECT_EQ(crvtdec({path("a.avi"), "/dev/null"}).exit_code, 0);
  EXPECT_EQ(crvtdec({path("a.avi"), path("in.mov") + ".avi"}).exit_code, 0);
  EXPECT_EQ(crvtdec({path("a.avi"), path("in.mov") + ".avi"}).exit_code, 0);  // an AVI is overwritten

  // The first bytes that make a movie.
  const struct {
    Bytes start;
    bool movie;
  } starts[] = {
      {{0, 0, 0, 20, 'f', 't', 'y', 'p', 'q', 't', ' ', ' '}, true},
      {{0, 0, 0, 8, 'w', 'i', 'd', 'e'}, true},
      {{0, 0, 0, 0, 'm', 'd', 'a', 't'}, true},
      {{0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 1, 0, 0, 0, 0}, true},
      {{0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 8}, false},
      {{0, 0, 0, 4, 'm', 'o', 'o', 'v'}, false},
      {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', ' '}, false},
      {{0, 0, 0, 8, 'f', 't', 'y'}, false},
  };
  for (const auto& s : starts) EXPECT_EQ(looks_like_movie(s.start), s.movie) << s.start.size();
}

// A Corvath or bitmap file of a few kilobytes claiming 26754 x 26754 pixels
// and holding no frame costs what the file holds in every mode.
TEST_F(NothingLost, ClaimsCostNothingWithoutFrames) {
  for (const bool compressed : {true, false}) {
    write_avi(dir_ / "huge.avi", {26754, 26754, compressed, 30, 1}, {});
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{path("huge.avi"), path("o.avi")},
          {"--frames", path("huge.avi"), path("f%d.ppm")},
          {"--info", path("huge.avi")},
          {"--compare", path("huge.avi"), path("in.mov")}}) {
      SCOPED_TRACE(args[0]);
      std::vector<std::string> argv{CRVTDEC_EXE};
      argv.insert(argv.end(), args.begin(), args.end());
      testsupport::Started run(argv);
      const RunResult r = run.finish();
      EXPECT_EQ(r.exit_code, args[0] == "--compare" ? 1 : 0) << r.err;
      EXPECT_LT(run.max_rss_kb, 64 << 10);
    }
  }
}

}  // namespace
