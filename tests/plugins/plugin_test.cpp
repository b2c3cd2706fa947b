// The GStreamer plug-in run for real, from this build tree, in GStreamer's own
// programs: type finding, decodebin and videoconvert read what quelmux writes,
// and what corvathavisink writes is what crvtdec and quelmux agree on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "crvtdec_test_util.h"
#include "test_support.h"

namespace {

using crvtdec_test::Bytes;
using testsupport::need_program;
using testsupport::RunResult;

// Before GStreamer starts in a program run: the plug-in of this build tree,
// and a registry of its own.
class GstEnvironment : public testing::Environment {
  void SetUp() override {
    setenv("GST_PLUGIN_PATH", QUELMUX_GST_PLUGIN_DIR, 1);
    setenv("GST_REGISTRY", QUELMUX_GST_REGISTRY, 1);
#ifdef QUELMUX_ASAN_RUNTIME
    // gst-launch-1.0 and GStreamer's plug-in scanner are not instrumented:
    // the runtime must be loaded first, and their leaks at exit are not ours.
    setenv("LD_PRELOAD", QUELMUX_ASAN_RUNTIME, 1);
    setenv("ASAN_OPTIONS", "detect_leaks=0:abort_on_error=1", 1);
#endif
  }
};
[[maybe_unused]] testing::Environment* const environment = testing::AddGlobalTestEnvironment(new GstEnvironment);

// A minute at most: an element that fails while decodebin brings it up can
// leave the pipeline waiting.
RunResult shell(const std::string& command) { return testsupport::run({"bash", "-c", "timeout 60 " + command}); }

// A video stream to read back: its file, and every picture as the AVI stores
// it (bottom-up rows of `pixel`-byte pixels).
struct Movie {
  std::string path;
  int width = 0, height = 0, pixel = 3;
  std::vector<Bytes> pictures;
};

Bytes noise(std::size_t size, unsigned seed) {
  Bytes b(size);
  for (auto& v : b) v = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  return b;
}

class PluginTest : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // A movie of `source`'s frames converted by quelmux.
  Movie convert(const movgen::FrameSource& source, std::uint32_t frames) {
    Movie m{path("movie.avi"), source.width(), source.height(), 3, {}};
    crvtdec_test::write_movie(
        path("movie.mov"),
        {.width = m.width, .height = m.height, .frames = frames, .time_scale = 30, .sample_duration = 1}, source);
    EXPECT_EQ(crvtdec_test::quelmux({path("movie.mov"), m.path}).exit_code, 0);
    for (std::uint32_t i = 0; i < frames; ++i) m.pictures.push_back(crvtdec_test::bgr_frame(source, i));
    return m;
  }

  // `pictures` coded (bit_depth 24 or 32; an empty picture is a null frame,
  // repeating the one before) into an AVI file of parts of at most
  // `part_limit` bytes, at 10 frames a second.
  Movie encode(int width, int height, int bit_depth, std::vector<Bytes> pictures,
               std::uint64_t part_limit = 1ull << 30) {
    std::vector<bool> null(pictures.size());
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      if (!(null[i] = pictures[i].empty())) continue;
      pictures[i] =
          i == 0 ? Bytes(std::size_t(width) * std::size_t(height) * std::size_t(bit_depth / 8), 128) : pictures[i - 1];
    }
    std::vector<Bytes> frames = crvtdec_test::encode(width, height, bit_depth, pictures);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (null[i]) frames[i].clear();
    }
    Movie m{path("coded.avi"), width, height, bit_depth / 8, pictures};
    crvtdec_test::write_avi(m.path, {.width = width, .height = height, .rate = 10, .part_limit = part_limit}, frames);
    Bytes file = testsupport::read_file(m.path);  // AviWriter writes 24 bits a pixel
    crvtdec_test::put_u16(file, crvtdec_test::kBiBitCount, static_cast<std::uint16_t>(bit_depth));
    testsupport::write_file(m.path, file);
    return m;
  }

  // Every picture that `launch` shows through videoconvert, in the decoder's
  // own BGR or BGRA (videoconvert then passes them through: it repeats the
  // first of pictures a pixel or two wide when it converts them), rows packed
  // top row first; the run's messages in `run`.
  std::vector<Bytes> play(const std::string& launch, const Movie& m, RunResult* run = nullptr) {
    testsupport::TempDir out;
    const RunResult r = shell("gst-launch-1.0 " + launch + " ! videoconvert ! 'video/x-raw,format={BGR,BGRA}' ! " +
                              "multifilesink location=" + (out / "%05d").string());
    if (run != nullptr) *run = r;
    const std::size_t row = std::size_t(m.width) * std::size_t(m.pixel), stride = (row + 3) & ~std::size_t{3};
    std::vector<Bytes> shown;
    for (char name[16]; std::snprintf(name, sizeof name, "%05zu", shown.size()), std::filesystem::exists(out / name);) {
      const Bytes b = testsupport::read_file(out / name);
      shown.emplace_back();
      for (std::size_t at = 0; at + row <= b.size(); at += stride)
        shown.back().insert(shown.back().end(), &b[at], &b[at] + row);
    }
    return shown;
  }

  void expect_decoded(const Movie& m) {
    RunResult r;
    const std::vector<Bytes> shown = play("filesrc location=" + m.path + " ! decodebin", m, &r);
    EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
    ASSERT_EQ(shown.size(), m.pictures.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
      EXPECT_TRUE(shown[i] == testsupport::flip_rows(m.pictures[i], std::size_t(m.width) * std::size_t(m.pixel)))
          << "picture " << i;
    }
  }

  testsupport::TempDir dir_;
};

// Type finding tells Corvath files from other AVI files, which go on as
// before; gst-discoverer-1.0 describes them.
TEST_F(PluginTest, GstreamerToolsFindAndDescribeCorvathFiles) {
  if (!need_program("gst-typefind-1.0") || !need_program("gst-discoverer-1.0")) GTEST_SKIP();
  const Movie m = convert(crvtdec_test::source(97, 61, movgen::Content::shape), 12);
  ASSERT_EQ(crvtdec_test::quelmux({"-u", path("movie.mov"), path("plain.avi")}).exit_code, 0);
  for (const auto& [file, caps] : {std::pair{m.path, "video/x-corvath-avi"}, {path("plain.avi"), "video/x-msvideo"}}) {
    const RunResult r = testsupport::run({"gst-typefind-1.0", file});
    EXPECT_NE(r.out.find(file + " - " + caps), std::string::npos) << r.out << r.err;
  }
  const RunResult r = testsupport::run({"gst-discoverer-1.0", m.path});
  for (const char* line : {"Width: 97", "Height: 61", "Frame rate: 30/1", "Duration: 0:00:00.400000000"})
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out << r.err;
}

// Conversions of many sizes; OpenDML parts of a few frames each; 32-bit
// pixels, which come out with their fourth byte; null frames, the first
// repeating the decoder's initial picture (128 in every byte), the others the
// picture before them.
TEST_F(PluginTest, DecodebinShowsEveryFrame) {
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  for (const auto& [width, height, content, frames] : {std::tuple{97, 61, movgen::Content::shape, 10u},
                                                       {1, 1, movgen::Content::noise, 4u},
                                                       {2, 3, movgen::Content::grey, 3u},
                                                       {3840, 2160, movgen::Content::gradient_h, 2u}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    expect_decoded(convert(crvtdec_test::source(width, height, content), frames));
  }
  std::vector<Bytes> pictures;
  for (unsigned i = 0; i < 40; ++i) pictures.push_back(noise(31 * 9 * 3, i));
  const Movie parts = encode(31, 9, 24, pictures, 16384);
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(parts.path));
  EXPECT_GT(reader.parts(), 3u);
  expect_decoded(parts);
  expect_decoded(encode(5, 7, 32, {noise(5 * 7 * 4, 1), noise(5 * 7 * 4, 2), Bytes(5 * 7 * 4, 9)}));
  const Bytes a = noise(16 * 6 * 3, 1), b = noise(16 * 6 * 3, 2);
  expect_decoded(encode(16, 6, 24, {{}, {}, a, {}, b, a, {}}));
}

// corvathavisink on videotestsrc's pictures, as videoconvert gives them
// (BGRx, top row first), decoded by crvtdec; and on a movie read by qtdemux
// (rows of 192 bytes, which it reads right), byte for byte quelmux's file.
TEST_F(PluginTest, SinkWritesWhatCrvtdecDecodesAndQuelmuxWrites) {
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  for (const auto& [pattern, skip_unchanged, width, height, nulls] :
       {std::tuple{"ball", "false", 33, 17, "null:          0"}, {"pinwheel", "true", 64, 48, "null:          5"}}) {
    SCOPED_TRACE(pattern);
    const RunResult r = shell(
        std::string("gst-launch-1.0 -q videotestsrc num-buffers=6 pattern=") + pattern +
        " ! video/x-raw,format=BGR,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
        " ! tee name=t t. ! queue ! corvathavisink location=" + path("sink.avi") + " skip-unchanged=" + skip_unchanged +
        " t. ! queue ! videoconvert ! video/x-raw,format=BGRx ! filesink location=" + path("raw.bin"));
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    EXPECT_NE(crvtdec_test::crvtdec({"--info", path("sink.avi")}).out.find(nulls), std::string::npos);
    ASSERT_EQ(crvtdec_test::crvtdec({"--frames", path("sink.avi"), path("%d.ppm")}).exit_code, 0);
    const Bytes raw = testsupport::read_file(path("raw.bin"));
    const std::size_t pixels = std::size_t(width) * std::size_t(height);
    ASSERT_EQ(raw.size(), 6 * pixels * 4);
    for (std::size_t i = 0; i < 6; ++i) {
      const Bytes image = crvtdec_test::read_ppm(path(std::to_string(i) + ".ppm")).pixels;
      ASSERT_EQ(image.size(), pixels * 3);
      for (std::size_t p = 0; p < pixels * 3; ++p)
        ASSERT_EQ(image[p], raw[(i * pixels + p / 3) * 4 + 2 - p % 3]) << "frame " << i << ", pixel " << p / 3;
    }
  }
  const Movie m = convert(crvtdec_test::source(64, 48, movgen::Content::shape), 9);
  const RunResult r =
      shell("gst-launch-1.0 -q filesrc location=" + path("movie.mov") +
            " ! qtdemux ! videoconvert ! video/x-raw,format=BGR ! corvathavisink location=" + path("sink.avi"));
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_TRUE(testsupport::read_file(path("sink.avi")) == testsupport::read_file(m.path));
}

TEST_F(PluginTest, SinkCompletesStoppedRunsAndReportsFailures) {
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  const std::string source = "videotestsrc num-buffers=20 pattern=snow ! video/x-raw,format=BGR,width=64,height=48";
  // An error upstream stops the pipeline at the fifth frame: the file is
  // completed with the four before it.
  RunResult r =
      shell("gst-launch-1.0 " + source + " ! identity error-after=5 ! corvathavisink location=" + path("stopped.avi"));
  EXPECT_EQ(r.exit_code, 1);
  r = crvtdec_test::crvtdec({"--info", path("stopped.avi")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Frames: 4\n"), std::string::npos) << r.out;

  // A file that cannot be created (gst-launch-1.0 exits with 255 when the
  // pipeline cannot start), a write that fails at once, and one that fails
  // half-way (a file size limit of 32 KiB).
  for (const auto& [location, limit, message] :
       {std::tuple{path("none/a.avi"), "", std::string("Could not open file")},
        {std::string("/dev/full"), "", std::string("Unable to write to output file /dev/full")},
        {path("limited.avi"), "trap '' XFSZ; ulimit -f 64;",
         "Unable to write to output file " + path("limited.avi")}}) {
    r = testsupport::run(
        {"bash", "-c",
         std::string(limit) + " exec gst-launch-1.0 " + source + " ! corvathavisink location=" + location});
    EXPECT_TRUE(r.exit_code == 1 || r.exit_code == 255) << location << ": " << r.exit_code;
    EXPECT_NE((r.out + r.err).find(message), std::string::npos) << r.out << r.err;
  }
}

// Hand-broken files, read by the demuxer and the decoder straight: a clear
// error, a warning for a file cut short (its whole frames play), a decoding
// error for a damaged frame (a warning, as decoders report one), never a
// crash or a hang. (Damage anywhere is the demuxer's fuzz target's.)
TEST_F(PluginTest, BrokenFilesGiveErrors) {
  if (!need_program("gst-launch-1.0")) GTEST_SKIP();
  const Movie m = encode(16, 8, 24, {noise(16 * 8 * 3, 1), noise(16 * 8 * 3, 2), noise(16 * 8 * 3, 3)});
  const Bytes good = testsupport::read_file(m.path);
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(m.path));
  const std::size_t frame1 = reader.frames()[1].offset, frame2 = reader.frames()[2].offset;
  // A byte changed to a value, or the file cut to a length; the most
  // pictures shown (the whole frames of a cut file).
  for (const auto& [message, at, value, cut, shown] :
       {std::tuple{"was not completed: only its 2 whole frames are read", std::size_t{0}, 0, frame2 + 10, 2u},
        {"only 24 and 32 bits can be decoded", crvtdec_test::kBiBitCount, 16, std::size_t{0}, 0u},
        {"invalid frame rate", std::size_t{0x84}, 0, std::size_t{0}, 0u},
        {"Corvath frame 1 does not decode", frame1, 0x77, std::size_t{0}, 3u}}) {
    Bytes broken = good;
    if (cut != 0)
      broken.resize(cut);
    else
      broken[at] = static_cast<std::uint8_t>(value);
    testsupport::write_file(path("broken.avi"), broken);
    RunResult r;
    const std::size_t n = play("filesrc location=" + path("broken.avi") + " ! corvathdemux ! corvathdec", m, &r).size();
    EXPECT_TRUE(cut != 0 ? n == shown : n <= shown) << n;
    EXPECT_NE((r.out + r.err).find(message), std::string::npos) << r.out << r.err;
  }
}

}  // namespace
