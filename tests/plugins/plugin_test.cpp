// The GStreamer plug-in run for real, from this build tree: GStreamer's type
// finding, decodebin, seeks and videoconvert read what quelmux and libcorvath
// write, and what corvathavisink writes is what crvtdec and quelmux agree on.
#include <corvath.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "crvtdec_test_util.h"
#include "test_support.h"

#ifdef QUELMUX_ASAN_RUNTIME
// GStreamer and GLib keep their registry, types and caches to the end.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libgstreamer-1.0.so\n";
}
#endif

namespace {

using crvtdec_test::Bytes;
using testsupport::need_program;
using testsupport::RunResult;

// Before GStreamer starts, here or in a program run: the plug-in of this build
// tree, and a registry of its own.
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
    gst_init(nullptr, nullptr);
  }
};
[[maybe_unused]] testing::Environment* const environment = testing::AddGlobalTestEnvironment(new GstEnvironment);

RunResult shell(const std::string& command) { return testsupport::run({"bash", "-c", command}); }

// A video stream to read back: its file, and every picture as the AVI stores
// it (bottom-up rows of `pixel`-byte pixels).
struct Movie {
  std::string path;
  int width = 0, height = 0, pixel = 3;
  std::vector<Bytes> pictures;
};

// A picture from appsink (as BGRA, top row first) against the stored one.
testing::AssertionResult same_picture(const Movie& m, const Bytes& shown, const Bytes& stored) {
  const std::size_t pixels = std::size_t(m.width) * std::size_t(m.height);
  if (shown.size() != pixels * 4) return testing::AssertionFailure() << "picture of " << shown.size() << " bytes";
  for (std::size_t p = 0; p < pixels; ++p) {
    const std::size_t q = ((m.height - 1 - p / m.width) * m.width + p % m.width) * m.pixel;
    if (!std::equal(&stored[q], &stored[q] + m.pixel, &shown[p * 4]))
      return testing::AssertionFailure() << "pixel " << p;
  }
  return testing::AssertionSuccess();
}

// A pipeline in this process that ends in appsink, which takes BGR or BGRA;
// `messages` gathers the text of every error and warning.
class Pipeline {
 public:
  explicit Pipeline(const std::string& launch)
      : pipeline_(gst_parse_launch(
            (launch + " ! videoconvert ! appsink name=out sync=false caps=video/x-raw,format={BGR,BGRA}").c_str(),
            nullptr)),
        sink_(GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline_), "out"))) {}
  ~Pipeline() {
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(sink_);
    gst_object_unref(pipeline_);
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Plays to the end or the first error: every picture shown.
  std::vector<Bytes> play() {
    std::vector<Bytes> pictures;
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    const gint64 deadline = g_get_monotonic_time() + 60 * G_USEC_PER_SEC;
    while (g_get_monotonic_time() < deadline && !failed_) {
      if (GstSample* sample = gst_app_sink_try_pull_sample(sink_, 20 * GST_MSECOND)) {
        pictures.push_back(bytes(sample));
      } else if (gst_app_sink_is_eos(sink_)) {
        break;
      }
      drain_bus();
    }
    drain_bus();
    EXPECT_TRUE(gst_app_sink_is_eos(sink_) || failed_) << "neither an end nor an error";
    return pictures;
  }

  // Pauses, seeks (flushing, accurate) and gives the first picture after the seek.
  Bytes seek(GstClockTime t) {
    gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    gst_element_get_state(pipeline_, nullptr, nullptr, 30 * GST_SECOND);
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    if (!gst_element_seek_simple(pipeline_, GST_FORMAT_TIME, flags, gint64(t))) return {};
    gst_element_get_state(pipeline_, nullptr, nullptr, 30 * GST_SECOND);
    GstSample* sample = gst_app_sink_try_pull_preroll(sink_, 30 * GST_SECOND);
    return sample == nullptr ? Bytes{} : bytes(sample);
  }

  std::string messages;
  bool failed_ = false;

 private:
  // The picture as BGRA, rows packed, whether the decoder gave BGR or BGRA
  // (videoconvert then passes it through: it repeats the first of pictures a
  // pixel or two wide when it converts them).
  static Bytes bytes(GstSample* sample) {
    Bytes out;
    GstVideoInfo info;
    GstVideoFrame frame;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
      const int pixel = GST_VIDEO_FRAME_COMP_PSTRIDE(&frame, 0);
      for (int y = 0; y < GST_VIDEO_FRAME_HEIGHT(&frame); ++y) {
        const auto* row = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                          std::ptrdiff_t(y) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        for (int x = 0; x < GST_VIDEO_FRAME_WIDTH(&frame); ++x, row += pixel) {
          out.insert(out.end(), row, row + 3);
          out.push_back(pixel == 4 ? row[3] : 0xFF);
        }
      }
      gst_video_frame_unmap(&frame);
    }
    gst_sample_unref(sample);
    return out;
  }

  void drain_bus() {
    GstBus* bus = gst_element_get_bus(pipeline_);
    while (GstMessage* m = gst_bus_pop_filtered(bus, GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_WARNING))) {
      GError* e = nullptr;
      gchar* debug = nullptr;
      failed_ = failed_ || GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR;
      if (GST_MESSAGE_TYPE(m) == GST_MESSAGE_ERROR)
        gst_message_parse_error(m, &e, &debug);
      else
        gst_message_parse_warning(m, &e, &debug);
      messages += std::string(e->message) + "\n" + (debug != nullptr ? debug : "") + "\n";
      g_free(debug);
      g_error_free(e);
      gst_message_unref(m);
    }
    gst_object_unref(bus);
  }

  GstElement* pipeline_;
  GstAppSink* sink_;
};

std::string decodebin(const std::string& path) { return "filesrc location=" + path + " ! decodebin"; }

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

  // `pictures` coded by libcorvath (bit_depth 24 or 32, `flags`) into an AVI
  // file of parts of at most `part_limit` bytes, at 10 frames a second.
  Movie encode(int width, int height, int bit_depth, unsigned flags, const std::vector<Bytes>& pictures,
               std::uint64_t part_limit = 1ull << 30) {
    Movie m{path("coded.avi"), width, height, bit_depth / 8, pictures};
    crvt_encoder* encoder = nullptr;
    EXPECT_EQ(crvt_encoder_create(width, height, bit_depth, flags, &encoder), CRVT_OK);
    std::vector<Bytes> frames;
    Bytes packet(crvt_encode_bound(width, height, bit_depth));
    for (const Bytes& picture : pictures) {
      std::size_t size = 0;
      EXPECT_EQ(crvt_encode(encoder, picture.data(), picture.size(), packet.data(), packet.size(), &size), CRVT_OK);
      frames.emplace_back(packet.begin(), packet.begin() + std::ptrdiff_t(size));
    }
    crvt_encoder_destroy(encoder);
    crvtdec_test::write_avi(m.path, {.width = width, .height = height, .rate = 10, .part_limit = part_limit}, frames);
    Bytes file = testsupport::read_file(m.path);  // AviWriter writes 24 bits a pixel
    crvtdec_test::put_u16(file, crvtdec_test::kBiBitCount, static_cast<std::uint16_t>(bit_depth));
    testsupport::write_file(m.path, file);
    return m;
  }

  void expect_decoded(const Movie& m) {
    Pipeline p(decodebin(m.path));
    const std::vector<Bytes> shown = p.play();
    EXPECT_FALSE(p.failed_) << p.messages;
    ASSERT_EQ(shown.size(), m.pictures.size());
    for (std::size_t i = 0; i < shown.size(); ++i) EXPECT_TRUE(same_picture(m, shown[i], m.pictures[i])) << i;
  }

  testsupport::TempDir dir_;
};

Bytes noise(std::size_t size, unsigned seed) {
  Bytes b(size);
  for (auto& v : b) v = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
  return b;
}

// gst-inspect-1.0 lists the plug-in; type finding tells Corvath files from
// other AVI files, which go on as before; gst-discoverer-1.0 describes them.
TEST_F(PluginTest, GstreamerToolsFindAndDescribeCorvathFiles) {
  if (!need_program("gst-inspect-1.0") || !need_program("gst-typefind-1.0") || !need_program("gst-discoverer-1.0")) {
    GTEST_SKIP();
  }
  const RunResult inspect = testsupport::run({"gst-inspect-1.0", "corvath"});
  for (const char* name : {"corvathdemux", "corvathdec", "corvathavisink", "video/x-corvath-avi"})
    EXPECT_NE(inspect.out.find(name), std::string::npos) << name << inspect.err;
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

// Conversions of many sizes, OpenDML parts of a few frames each, and 32-bit
// pixels, which come out with their fourth byte.
TEST_F(PluginTest, DecodebinShowsEveryFrame) {
  for (const auto& [width, height, content, frames] : {std::tuple{97, 61, movgen::Content::shape, 10u},
                                                       {1, 1, movgen::Content::noise, 4u},
                                                       {2, 3, movgen::Content::grey, 3u},
                                                       {3840, 2160, movgen::Content::gradient_h, 2u}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    expect_decoded(convert(crvtdec_test::source(width, height, content), frames));
  }
  std::vector<Bytes> pictures;
  for (unsigned i = 0; i < 40; ++i) pictures.push_back(noise(31 * 9 * 3, i));
  const Movie parts = encode(31, 9, 24, 0, pictures, 16384);
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(parts.path));
  EXPECT_GT(reader.parts(), 3u);
  expect_decoded(parts);
  expect_decoded(encode(5, 7, 32, 0, {noise(5 * 7 * 4, 1), noise(5 * 7 * 4, 2), Bytes(5 * 7 * 4, 9)}));
}

// Null frames: the first repeats the decoder's initial picture (128 in every
// byte), the others the picture before them. Seeks onto them land on the
// picture they repeat, whatever was shown before.
TEST_F(PluginTest, NullFramesPlayAndSeek) {
  const Bytes grey(16 * 6 * 3, 128), a = noise(grey.size(), 1), b = noise(grey.size(), 2);
  const Movie m = encode(16, 6, 24, CRVT_SKIP_UNCHANGED, {grey, grey, a, a, b, a, a});
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(m.path));
  EXPECT_EQ(std::count_if(reader.frames().begin(), reader.frames().end(), [](auto& f) { return f.size == 0; }), 4);
  expect_decoded(m);
  Pipeline p(decodebin(m.path));
  ASSERT_FALSE(p.seek(0).empty());
  for (const auto& [ms, frame] : {std::pair{350, 3}, {420, 4}, {0, 0}, {699, 6}, {200, 2}, {100, 1}})
    EXPECT_TRUE(same_picture(m, p.seek(ms * GST_MSECOND), m.pictures[std::size_t(frame)]))
        << ms << " ms " << p.messages;
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
    r = shell(std::string(limit) + " exec gst-launch-1.0 " + source + " ! corvathavisink location=" + location);
    EXPECT_TRUE(r.exit_code == 1 || r.exit_code == 255) << location << ": " << r.exit_code;
    EXPECT_NE((r.out + r.err).find(message), std::string::npos) << r.out << r.err;
  }
}

// Hand-broken files: a clear error, a warning for a file cut short (its whole
// frames play), a decoding error for a damaged frame (a warning, as decoders
// report one), never a crash or a hang.
TEST_F(PluginTest, BrokenFilesGiveErrors) {
  const Movie m = encode(16, 8, 24, 0, {noise(16 * 8 * 3, 1), noise(16 * 8 * 3, 2), noise(16 * 8 * 3, 3)});
  const Bytes good = testsupport::read_file(m.path);
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(m.path));
  const std::size_t frame1 = reader.frames()[1].offset, frame2 = reader.frames()[2].offset;
  // A byte changed to a value, or the file cut to a length.
  for (const auto& [message, at, value, cut] :
       {std::tuple{"was not completed: only its 2 whole frames are read", std::size_t{0}, 0, frame2 + 10},
        {"only 24 and 32 bits can be decoded", crvtdec_test::kBiBitCount, 16, std::size_t{0}},
        {"invalid frame rate", std::size_t{0x84}, 0, std::size_t{0}},
        {"Corvath frame 1 does not decode", frame1, 0x77, std::size_t{0}}}) {
    Bytes broken = good;
    if (cut != 0)
      broken.resize(cut);
    else
      broken[at] = static_cast<std::uint8_t>(value);
    testsupport::write_file(path("broken.avi"), broken);
    Pipeline p(decodebin(path("broken.avi")));
    p.play();
    EXPECT_NE(p.messages.find(message), std::string::npos) << p.messages;
  }
  // Cuts, and bytes changed all over the file, read by the demuxer and the
  // decoder straight (decodebin may lose the error of an element that fails
  // while it brings it up, and then waits).
  for (std::size_t at = 0; at < good.size(); at += at < 0x100 ? 5 : 61) {
    for (const bool cut : {false, true}) {
      if (cut && at % 7 != 0) continue;
      SCOPED_TRACE((cut ? "cut at " : "changed at ") + std::to_string(at));
      Bytes broken = good;
      if (cut)
        broken.resize(at);
      else
        broken[at] ^= 0xA5;
      testsupport::write_file(path("broken.avi"), broken);
      Pipeline p("filesrc location=" + path("broken.avi") + " ! corvathdemux ! corvathdec");
      EXPECT_LE(p.play().size(), 3u);
    }
  }
}

}  // namespace
