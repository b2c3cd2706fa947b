// crvtdec run on files that quelmux, GStreamer and AviWriter write: every
// frame comes back as it went in, whatever the size, chunking, data format,
// stream layout and output; what it reports; every way it fails (exit
// status 1, a message on standard error naming the file, never a crash).
// Nothing lost: runs of both programs stopped by a signal, killed outright
// or cut short by a full disk leave a file of every frame written.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "codec/frame_format.h"
#include "crvtdec_test_util.h"

namespace {

using namespace crvtdec_test;
using movgen::Content;
using movgen::DataFormat;
using movgen::MovieOptions;
using testsupport::read_file;
namespace fs = std::filesystem;

// The picture of frame `i` as crvtdec's images hold it: top row first, R G B.
Bytes rgb(const movgen::FrameSource& src, std::uint32_t i) { return movgen::stored_frame(src, DataFormat::raw, i); }

// A PPM image file as crvtdec writes it.
Bytes ppm(int width, int height, Bytes pixels) {
  const std::string head = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  pixels.insert(pixels.begin(), head.begin(), head.end());
  return pixels;
}

// The pixels of a PNG image, R, G, B (, A where it has alpha), top row first.
Bytes read_png(const std::string& path, bool alpha) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    ADD_FAILURE() << path << ": " << png.message;
    return {};
  }
  EXPECT_EQ((png.format & PNG_FORMAT_FLAG_ALPHA) != 0, alpha) << path;
  png.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  Bytes pixels(PNG_IMAGE_SIZE(png));
  EXPECT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) << path << png.message;
  return pixels;
}

class Crvtdec : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string file(const Bytes& bytes, const std::string& name = "x.avi") const {
    testsupport::write_file(dir_ / name, bytes);
    return path(name);
  }
  // Image `i` of --frames "f%d<extension>" (appended: g++ 12 warns falsely of "f" + a string).
  std::string image(std::size_t i, const char* ext) const {
    return path(std::string("f").append(std::to_string(i)).append(ext));
  }
  movgen::MovieLayout movie(const std::string& name, const MovieOptions& o, Content content = Content::noise) {
    return write_movie(path(name), o, source(o.width, o.height, content));
  }
  static void expect_failure(const RunResult& r, const std::string& message) {
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << "expected: " << message << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "");
  }

  testsupport::TempDir dir_;
};

// Movies of GStreamer's muxer (rows filled to 4 bytes, the header in front
// or last), converted by quelmux both ways: GStreamer's own decoding of the
// output, and crvtdec's images, show the pictures that GStreamer decodes from
// the movie, at widths whose rows need filling too.
TEST_F(Crvtdec, PicturesAsGstreamerDecodesThem) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  for (const auto& [w, h] : {std::pair{96, 64}, {321, 241}, {322, 17}, {1366, 16}}) {
    SCOPED_TRACE(testing::Message() << w << " x " << h);
    const RunResult made = testsupport::run(
        {"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=3", "pattern=smpte", "!",
         "video/x-raw,format=RGB,framerate=25/1,width=" + std::to_string(w) + ",height=" + std::to_string(h), "!",
         "qtmux", std::string("faststart=") + (h % 2 == 0 ? "true" : "false"), "!", "filesink",
         "location=" + path("qt.mov")});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const std::vector<Bytes> pictures = testsupport::decode_rgb(path("qt.mov"), "qtdemux", w);
    ASSERT_EQ(pictures.size(), 3u);
    ASSERT_EQ(quelmux({"-u", path("qt.mov"), path("u.avi")}).exit_code, 0);
    ASSERT_EQ(quelmux({path("qt.mov"), path("a.avi")}).exit_code, 0);
    EXPECT_EQ(testsupport::decode_rgb(path("u.avi"), "avidemux", w), pictures);
    EXPECT_EQ(crvtdec({"--compare", path("a.avi"), path("qt.mov")}).out, "3 frames identical\n");
    ASSERT_EQ(crvtdec({path("a.avi"), path("c.avi")}).exit_code, 0);
    EXPECT_EQ(read_file(path("c.avi")), read_file(path("u.avi")));
    ASSERT_EQ(crvtdec({"--frames", path("a.avi"), path("f%d.ppm")}).exit_code, 0);
    ASSERT_EQ(crvtdec({"--frames", "--png", path("a.avi"), path("f%d.png")}).exit_code, 0);
    for (std::uint32_t i = 0; i < 3; ++i) {
      EXPECT_EQ(read_file(image(i, ".ppm")), ppm(w, h, pictures[i])) << i;
      EXPECT_EQ(read_png(image(i, ".png"), false), pictures[i]) << i;
    }
  }
}

// Files crvtdec did not get from quelmux: an uncompressed stream with rows
// filled to 4 bytes and its top row first, and a top-down Corvath stream,
// both in OpenDML parts. Both give the bitmaps of "quelmux -u".
TEST_F(Crvtdec, OtherStreamLayouts) {
  constexpr int w = 37, h = 9;  // rows of 111 bytes, filled to 112
  const movgen::FrameSource src = source(w, h, Content::noise);
  movie("in.mov", {.width = w, .height = h, .frames = 4, .time_scale = 30, .sample_duration = 1});
  ASSERT_EQ(quelmux({"-u", path("in.mov"), path("u.avi")}).exit_code, 0);
  std::vector<Bytes> filled, packed;  // top down, B G R
  for (std::uint32_t i = 0; i < 4; ++i) {
    packed.push_back(testsupport::flip_rows(bgr_frame(src, i), 3 * w));
    filled.push_back(testsupport::flip_rows(testsupport::avi_frame(src, i, 112), 112));
  }
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "Corvath" : "bitmaps");
    write_avi(path("x.avi"), {w, -h, compressed, 30, 1, 12288}, compressed ? encode(w, h, 24, packed) : filled);
    avi::AviReader reader;
    ASSERT_TRUE(reader.open(path("x.avi")));
    EXPECT_GT(reader.parts(), 1u);
    EXPECT_EQ(crvtdec({"--compare", path("x.avi"), path("in.mov")}).out, "4 frames identical\n");
    EXPECT_EQ(crvtdec({path("x.avi"), path("c.avi")}).exit_code, 0);
    EXPECT_EQ(read_file(path("c.avi")), read_file(path("u.avi")));
    EXPECT_EQ(crvtdec({"--frames", path("x.avi"), path("f%%%+03d.ppm")}).out,
              "4 frames written as " + path("f%%%+03d.ppm") + "\n");
    EXPECT_EQ(read_file(path("f%+03.ppm")), ppm(w, h, rgb(src, 3)));
  }
}

// 32-bit Corvath frames keep their fourth byte as alpha in PNG images and
// lose it in PPM ones; the 24-bit outputs refuse them.
TEST_F(Crvtdec, ThirtyTwoBitFrames) {
  constexpr int w = 9, h = 4;
  // Bottom-up B, G, R, A: noise, and one colour (a flat 32-bit frame).
  std::vector<Bytes> pictures{rgb(source(12, 4, Content::noise), 0), rgb(source(12, 4, Content::noise), 1),
                              Bytes(4 * w * h, 0)};
  for (std::size_t k = 3; k < pictures[2].size(); k += 4) pictures[2][k] = 77;
  write_avi(path("x.avi"), {w, h}, encode(w, h, 32, pictures));
  file(put(read_file(path("x.avi")), kBiBitCount, 32, 2));
  ASSERT_EQ(crvtdec({"--frames", "--png", path("x.avi"), path("f%d.png")}).exit_code, 0);
  ASSERT_EQ(crvtdec({"--frames", path("x.avi"), path("f%d.ppm")}).exit_code, 0);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const Bytes top = testsupport::flip_rows(pictures[i], 4 * w);  // B, G, R, A
    Bytes rgba(top.size()), rgb3;
    for (std::size_t k = 0; k < top.size(); ++k) rgba[k] = top[k % 4 == 3 ? k : k - k % 4 + 2 - k % 4];
    std::copy_if(rgba.begin(), rgba.end(), std::back_inserter(rgb3), [&, k = 0](auto) mutable { return k++ % 4 != 3; });
    EXPECT_EQ(read_png(image(i, ".png"), true), rgba) << i;
    EXPECT_EQ(read_file(image(i, ".ppm")), ppm(w, h, rgb3)) << i;
  }
  expect_failure(crvtdec({path("x.avi"), path("c.avi")}), path("x.avi") + ": 32-bit Corvath frames do not fit");
  EXPECT_FALSE(fs::exists(path("c.avi")));
  expect_failure(crvtdec({"--compare", path("x.avi"), path("x.avi")}), "32-bit Corvath stream cannot be compared");
}

// Every kind of frame once (info reads the type bytes and decodes nothing).
TEST_F(Crvtdec, Info) {
  const std::vector<Bytes> kinds = {{},
                                    {5, 9},
                                    {6, 1, 2, 3},
                                    {4, 9, 0, 0, 0, 9, 0, 0, 0},
                                    {8, 13, 0, 0, 0, 14, 0, 0, 0, 15, 0, 0, 0},
                                    {9, 1, 2, 3, 4},
                                    {7}};
  write_avi(path("x.avi"), {4, 2, true, 30000, 1001}, kinds);
  const RunResult r = crvtdec({"--info", path("x.avi")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "File: " + path("x.avi") +
                       "\nVideo: Corvath (\"CRVT\"), 24 bits a pixel\nSize: 4 x 2\n"
                       "Frame rate: 29.97 frames a second (30000 / 1001)\nFrames: 7\n"
                       "  null:          1\n  full 24-bit:   1\n  grey:          1\n  flat 24-bit:   1\n"
                       "  full 32-bit:   1\n  flat 32-bit:   1\n  uncompressed:  0\n  unknown type:  1\n"
                       "Stored size: 34 bytes, 4.9 a frame\nCompression ratio: 4.94\n");
}

// The movie differs from what was converted in two pixels of frame 1: the
// one reported is the upper one, though the AVI's bitmap holds the lower one
// first. Frame sizes must agree too (counts: see NothingLost).
TEST_F(Crvtdec, CompareReportsTheFirstDifference) {
  constexpr int w = 16, h = 8;
  for (const DataFormat format : {DataFormat::raw, DataFormat::wrle}) {
    const bool raw = format == DataFormat::raw;
    const movgen::MovieLayout layout = movie("in.mov", {.width = w, .height = h, .frames = 3, .format = format});
    ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
    Bytes bytes = read_file(path("in.mov"));
    // Byte `channel` (0 red) of the pixel at row y from the top, column x, of frame 1.
    auto at = [&](int y, int x, int channel) {
      return static_cast<std::size_t>(layout.frame_offsets[1] + ((raw ? y : h - 1 - y) * w + x) * 3 +
                                      (raw ? channel : 2 - channel));
    };
    const unsigned red = bytes[at(5, 9, 0)], green = bytes[at(5, 9, 1)], blue = bytes[at(5, 9, 2)];
    bytes[at(5, 9, 1)] ^= 0x10;
    bytes[at(6, 2, 0)] ^= 0x01;
    const RunResult r = crvtdec({"--compare", path("a.avi"), file(bytes, "in.mov")});
    EXPECT_EQ(r.exit_code, 1);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "Frame 1 differs at row 5, column 9: R G B %u %u %u in %s, %u %u %u in %s\n", red, green, blue,
                  path("a.avi").c_str(), red, green ^ 0x10u, blue, path("in.mov").c_str());
    EXPECT_EQ(r.out + r.err, expected);
  }
  movie("taller.mov", {.width = 16, .height = 9, .frames = 3});
  const RunResult r = crvtdec({"--compare", path("a.avi"), path("taller.mov")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Frame sizes differ: " + path("a.avi") + " is 16 x 8, " + path("taller.mov") + " is 16 x 9\n");
}

// One row for each way of refusing a command line, an input or an output.
TEST_F(Crvtdec, CommandLinesInputsAndOutputsRefused) {
  const movgen::MovieLayout layout = movie("in.mov", {.width = 16, .height = 8, .frames = 3});
  ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
  ASSERT_EQ(quelmux({"-u", path("in.mov"), path("u.avi")}).exit_code, 0);
  const std::string nowhere = path("no/such/dir");
  const Bytes avi = read_file(path("a.avi")), bitmaps = read_file(path("u.avi"));
  Bytes cut = read_file(path("in.mov"));
  cut.resize(static_cast<std::size_t>(layout.frame_offsets[2]) + 10);
  write_avi(path("long.avi"), {1, 1}, {Bytes(5000, FRAME_FULL24)});  // no 1 x 1 frame is that long
  fs::copy_file(path("a.avi"), path("a0.avi"));
  fs::create_symlink("/dev/full", dir_ / "f1.ppm");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "crvtdec: missing file name; see crvtdec --help"},
      {{"--info", path("a.avi"), path("b.avi")}, "too many file names"},
      {{path("a.avi"), path("b.avi"), path("c.avi")}, "too many arguments at \"" + path("c.avi")},
      {{"--bogus", path("a.avi"), path("b.avi")}, "unknown option \"--bogus\""},
      {{"--png", path("a.avi"), path("b.avi")}, "--png goes with --frames"},
      {{"--frames", "--compare", path("a.avi"), path("in.mov")}, "only one mode at a time"},
      {{"-j0", path("a.avi"), path("b.avi")}, "bad thread count \"0\": -j takes a number"},
      {{"--info", "--", "-x.avi"}, "cannot open -x.avi: No such file or directory"},
      {{"--info", path("in.mov")}, path("in.mov") + ": not an AVI file"},
      {{"--info", file(put(avi, kBiCompression, 0x47504A4D), "mjpg.avi")},
       path("mjpg.avi") + ": unsupported video format \"MJPG\""},
      {{"--info", file(put(avi, kBiBitCount, 16, 2), "16.avi")}, "Corvath stream of 16 bits a pixel"},
      {{"--info", file(put(bitmaps, kBiBitCount, 32, 2), "32.avi")}, "uncompressed stream of 32 bits a pixel"},
      {{file(put(put(avi, 0xB0, 50000), kBiHeight, 50000), "huge.avi"), path("b.avi")},
       path("huge.avi") + ": frames of 50000 x 50000 pixels are too large"},
      {{"--info", path("long.avi")},
       path("long.avi") + ": frame 0 holds 5000 bytes, more than any Corvath frame of 1 x 1 pixels"},
      {{"--compare", file(put(bitmaps, kBiHeight, 9), "taller.avi"), path("in.mov")},
       path("taller.avi") + ": frame 0 holds 384 bytes, a 24-bit bitmap of 16 x 9 pixels takes 432"},
      {{path("a.avi"), nowhere + "/b.avi"}, "Unable to open output file " + nowhere + "/b.avi"},
      {{"--frames", path("a.avi"), nowhere + "/f%d.ppm"}, "cannot write " + nowhere + "/f0.ppm: No such file"},
      {{"--frames", path("a.avi"), path("f%d.ppm")}, "cannot write " + path("f1.ppm") + ": No space left on device"},
      {{path("a.avi"), "/dev/full"}, "/dev/full"},
      {{path("a.avi"), path("a.avi")}, path("a.avi") + ": the output file would overwrite the input"},
      {{"--frames", path("a0.avi"), path("a%d.avi")},
       path("a0.avi") + ": the image of frame 0 would overwrite the input"},
      {{"--frames", path("a.avi"), path("f%s.ppm")}, "bad file name pattern \"" + path("f%s.ppm") + "\""},
      {{"--frames", path("a.avi"), path("f.ppm")}, "no conversion for the frame number"},
      {{"--frames", path("a.avi"), path("f%d%%%d")}, "more than one conversion"},
      {{"--frames", path("a.avi"), path("f%100d")}, "field width above 99"},
      {{"--compare", path("a.avi"), path("missing.mov")}, "cannot open " + path("missing.mov") + ": No such file"},
      // The movie reader's own reason comes first, on standard error too.
      {{"--compare", path("a.avi"), path("u.avi")},
       "Unable to find tag \"mvhd\"\ncrvtdec: " + path("u.avi") + ": not a movie that quelmux converts\n"},
      {{"--compare", path("a.avi"), file(cut, "short.mov")},
       path("short.mov") + ": frame 2 could not be read: the file ends inside it"},
  };
  for (const auto& [args, message] : cases) expect_failure(crvtdec(args), message);
  EXPECT_EQ(read_file(path("a0.avi")), avi);
  const RunResult help = crvtdec({"--help"});
  EXPECT_TRUE(help.exit_code == 0 && help.out.starts_with("Usage: crvtdec [-j N] <in.avi> <out.avi>\n")) << help.out;
  EXPECT_EQ(crvtdec({"--version"}).out, "crvtdec " QUELMUX_VERSION "\n");
}

// Every thread count gives what one thread gives, in every mode: the same
// files, lines and exit status, for a conversion, a file of null frames
// (first, in a row and last: a null frame shows the picture before it, or
// 128 in every byte before any), one with a frame in the middle that does
// not decode (the decoder's reasons are its own tests'), and a movie that
// differs from frame 17 on.
TEST_F(Crvtdec, EveryThreadCountGivesWhatOneThreadGives) {
  constexpr int w = 40, h = 24;
  const movgen::FrameSource src = source(w, h, Content::noise);
  const movgen::MovieLayout layout = movie("in.mov", {.width = w, .height = h, .frames = 30});
  ASSERT_EQ(quelmux({path("in.mov"), path("q.avi")}).exit_code, 0);
  Bytes bytes = read_file(path("in.mov"));
  bytes[layout.frame_offsets[17] + 100] ^= 1;
  file(bytes, "other.mov");
  std::vector<Bytes> pictures;
  for (std::uint32_t i = 0; i < 12; ++i) pictures.push_back(bgr_frame(src, i));
  std::vector<Bytes> frames = encode(w, h, 24, pictures);
  frames.resize(8);
  for (const std::size_t at : {0, 3, 3, 11, 12})
    frames.insert(frames.begin() + static_cast<std::ptrdiff_t>(at), Bytes{});
  write_avi(path("null.avi"), {w, h}, frames);
  frames = encode(w, h, 24, pictures);
  ASSERT_EQ(frames[6][0], FRAME_FULL24);
  frames[6][0] = 99;  // no such frame type
  write_avi(path("bad.avi"), {w, h}, frames);
  // Every file a run may write, in order; an empty one where there is none.
  const auto written = [&] {
    std::vector<Bytes> files;
    for (std::size_t i = 0; i < 20; ++i) {
      for (const char* extension : {".ppm", ".png"}) {
        const std::string f = image(i, extension);
        files.push_back(fs::exists(f) ? read_file(f) : Bytes{});
        fs::remove(f);
      }
    }
    files.push_back(fs::exists(path("out.avi")) ? read_file(path("out.avi")) : Bytes{});
    return files;
  };
  const std::vector<std::string> runs[] = {
      {"--compare", "q.avi", "other.mov"},       {"--frames", "null.avi", "f%d.ppm"},
      {"--frames", "--png", "q.avi", "f%d.png"}, {"null.avi", "out.avi"},
      {"--frames", "bad.avi", "f%d.ppm"},        {"bad.avi", "out.avi"}};
  for (const auto& run : runs) {
    RunResult first;
    std::vector<Bytes> first_files;
    for (const char* threads : {"1", "2", "3", "8"}) {
      SCOPED_TRACE(testing::Message() << run[run.size() - 2] << " " << run.back() << " -j " << threads);
      std::vector<std::string> args{"-j", threads};
      for (const std::string& a : run) args.push_back(a.starts_with("-") ? a : path(a));
      const RunResult r = crvtdec(args);
      const std::vector<Bytes> files = written();
      if (threads[0] == '1') first = r, first_files = files;
      EXPECT_TRUE(r.exit_code == first.exit_code && r.out == first.out && r.err == first.err) << r.out << r.err;
      EXPECT_TRUE(files == first_files);
    }
    if (run[1] == "null.avi" && run[0] == "--frames") {
      const std::uint32_t shown[] = {8, 0, 1, 1, 1, 2, 3, 4, 5, 6, 7, 7, 7};  // 8: none yet
      for (std::size_t i = 0; i < std::size(shown); ++i)
        EXPECT_EQ(first_files[2 * i], ppm(w, h, shown[i] == 8 ? Bytes(3 * w * h, 128) : rgb(src, shown[i]))) << i;
    }
    EXPECT_EQ(first.out.starts_with("Frame 17 differs"), run.back() == "other.mov") << first.out;
    // A frame that does not decode ends the run after the frames before it,
    // written as images or as a complete file.
    if (run[run.size() - 2] != "bad.avi") continue;
    EXPECT_NE(first.err.find(path("bad.avi") + ": frame 6 does not decode: unknown frame type"), std::string::npos);
    EXPECT_TRUE(run[0] != "--frames" || (!first_files[10].empty() && first_files[12].empty()));
    avi::AviReader reader;
    ASSERT_TRUE(run[0] == "--frames" || reader.open(first_files.back()));
    EXPECT_EQ(reader.frames().size(), run[0] == "--frames" ? 0u : 6u);
  }
}

// The runs below convert a movie of 200 frames of 160 x 120.
class NothingLost : public Crvtdec {
 protected:
  static constexpr int kWidth = 160;
  void SetUp() override { movie("in.mov", {.width = kWidth, .height = 120, .frames = 200}, Content::shape); }
  // (Read while the program is stopped.)
  static std::uintmax_t size_of(const std::string& file) { return fs::exists(file) ? fs::file_size(file) : 0; }
  // The number printed behind `text` in `output`, -1 when there is none.
  static int number_after(const std::string& output, const std::string& text) {
    const std::size_t at = output.find(text);
    return at == std::string::npos ? -1 : std::atoi(output.c_str() + at + text.size());
  }
  // `file` holds exactly the first `frames` frames of the movie: for our
  // reader, for crvtdec --compare and, frame for frame, for GStreamer (whose
  // bitmaps come top row first).
  void expect_first_frames(const std::string& file, int frames, bool bitmaps) const {
    avi::AviReader reader;
    ASSERT_EQ(reader.open(file).message, "");
    EXPECT_EQ(reader.unfinished(), "");
    const RunResult r = crvtdec({"--compare", file, path("in.mov")});
    EXPECT_EQ(r.out, "Frame counts differ: " + file + " has " + std::to_string(frames) + " frames, " + path("in.mov") +
                         " has 200 (the first " + std::to_string(frames) + " are identical)\n");
    // GStreamer refuses a file of no frames.
    if (frames == 0 || !testsupport::need_program("gst-launch-1.0")) return;
    const std::vector<Bytes> demuxed = testsupport::demux(file, "avidemux");
    ASSERT_EQ(demuxed.size(), static_cast<std::size_t>(frames));
    for (std::uint32_t i = 0; bitmaps && i < demuxed.size(); ++i)
      EXPECT_TRUE(demuxed[i] == testsupport::flip_rows(bgr_frame(src_, i), 3 * kWidth)) << i;
  }

  const movgen::FrameSource src_ = source(kWidth, 120, Content::shape);
};

// A signal as the first frames go out, in mid-run, and again and again while
// the file is completed: the run stops after the frame in progress, says so,
// completes the file and ends with 128 + the first signal's number.
TEST_F(NothingLost, SignalsStopAfterTheFrameInProgress) {
  ASSERT_EQ(quelmux({path("in.mov"), path("coded.avi")}).exit_code, 0);
  const std::string out = path("out.avi");
  const struct {
    std::vector<std::string> argv;
    int signal;
    std::uintmax_t after;  // output bytes before the signal; 0: at "Writing"
    bool again;            // further signals until the end
  } cases[] = {
      {{QUELMUX_EXE, path("in.mov"), out}, SIGTERM, 0, false},
      {{QUELMUX_EXE, "-j3", "-u", path("in.mov"), out}, SIGINT, 200000, false},
      {{QUELMUX_EXE, path("in.mov"), out}, SIGHUP, 20000, true},  // SIGHUP comes first of those pending
      {{CRVTDEC_EXE, "-j3", path("coded.avi"), out}, SIGINT, 200000, false},
      {{CRVTDEC_EXE, path("coded.avi"), out}, SIGHUP, 200000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.argv[1] << " " << c.signal << (c.again ? " again" : ""));
    fs::remove(out);
    testsupport::Started run(c.argv);
    ASSERT_TRUE(run.run_until(
        [&] { return c.after == 0 ? run.out().find("Writing") != std::string::npos : size_of(out) > c.after; }));
    run.signal(c.signal);
    if (c.again)
      run.run_until([&] {
        run.signal(SIGTERM);
        run.signal(SIGINT);
        return false;
      });
    const RunResult r = run.finish();
    EXPECT_EQ(r.exit_code, 128 + c.signal) << r.out << r.err;
    const char* name = c.signal == SIGTERM ? "SIGTERM" : c.signal == SIGINT ? "SIGINT" : "SIGHUP";
    const int written = c.argv[0] == QUELMUX_EXE
                            ? number_after(r.out, std::string("Interrupted by ") + name + ": ")
                            : number_after(r.err, std::string("crvtdec: interrupted by ") + name + ": ");
    ASSERT_GE(written, 0) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(" of 200 frames written"), std::string::npos);
    EXPECT_LT(written, 200);
    expect_first_frames(out, written, c.argv[1] != path("in.mov"));
  }
}

// A run killed outright leaves its header as first written and maybe a cut
// chunk: crvtdec says so, reads every whole frame in every mode, and writes
// them as a complete file, with exit status 1 for the incomplete input.
TEST_F(NothingLost, KilledRunIsSalvaged) {
  testsupport::Started run({QUELMUX_EXE, path("in.mov"), path("killed.avi")});
  ASSERT_TRUE(run.run_until([&] { return size_of(path("killed.avi")) > 50000; }));
  run.signal(SIGKILL);
  ASSERT_EQ(run.finish().exit_code, -SIGKILL);
  avi::AviReader reader;
  ASSERT_EQ(reader.open(path("killed.avi")).message, "");
  const int whole = static_cast<int>(reader.frames().size());
  ASSERT_GT(whole, 0);
  RunResult r = crvtdec({"--info", path("killed.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "crvtdec: " + path("killed.avi") +
                       " was not completed (its RIFF size is 0): " + std::to_string(whole) + " whole frames found\n");
  EXPECT_NE(r.out.find("Frames: " + std::to_string(whole) + " (the stream header says 0)\n"), std::string::npos);
  EXPECT_EQ(crvtdec({"--frames", path("killed.avi"), path("f%d.ppm")}).exit_code, 1);
  EXPECT_TRUE(fs::exists(image(whole - 1, ".ppm")));
  EXPECT_FALSE(fs::exists(image(whole, ".ppm")));
  r = crvtdec({path("killed.avi"), path("saved.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, std::to_string(whole) + " frames written to " + path("saved.avi") + "\n");
  expect_first_frames(path("saved.avi"), whole, true);
}

// A full disk stops the run at a frame; the file keeps every frame before it,
// indexes included. A partial image of --frames is removed.
TEST_F(NothingLost, FullDisk) {
  testsupport::SmallFileSystem small(1 << 20);
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string full = small.path("full.avi");
  RunResult r = quelmux({"-j3", "-u", path("in.mov"), full});
  EXPECT_EQ(r.exit_code, 1);
  const int kept =
      number_after(r.out, "Unable to write to output file " + full + "\nOutput file " + full + " holds the ");
  EXPECT_GT(kept, 10) << r.out;  // 1 MiB of 57.6 KB frames
  expect_first_frames(full, kept, true);
  r = crvtdec({"-j3", "--frames", full, small.path("f%d.ppm")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot write " + small.path("f0.ppm") + ": No space left on device"), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(small.path("f0.ppm")));
}

// quelmux *.mov in a folder of movies names a movie as the output: it is left
// as it was, by both programs, while other files are overwritten as before.
// A file of a few kilobytes claiming 26754 x 26754 pixels and holding no
// frame costs what the file holds in every mode of crvtdec.
TEST_F(NothingLost, MoviesAreNeverWrittenOverAndClaimsCostNothing) {
  for (const char* name : {"b.mov", "b0.mov"}) fs::copy_file(path("in.mov"), path(name));
  const Bytes movie = read_file(path("b.mov"));
  RunResult r = quelmux({path("in.mov"), path("b.mov"), path("c.mov")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(
      r.out.ends_with("Output file " + path("b.mov") + " is a QuickTime movie: quelmux does not write over it\n"));
  EXPECT_EQ(quelmux({"-u", path("in.mov"), path("b.mov")}).exit_code, 1);
  write_avi(path("a.avi"), {kWidth, 120, false}, {bgr_frame(src_, 0)});
  r = crvtdec({path("a.avi"), path("b.mov")});
  EXPECT_EQ(r.err, "crvtdec: " + path("b.mov") + " is a QuickTime movie: crvtdec does not write over it\n");
  r = crvtdec({"--frames", path("a.avi"), path("b%d.mov")});
  EXPECT_EQ(r.err, "crvtdec: " + path("b0.mov") + ": the image of frame 0 would overwrite a QuickTime movie\n");
  for (const char* name : {"b.mov", "b0.mov"}) EXPECT_EQ(read_file(path(name)), movie) << name;
  for (const std::string& other : {std::string("/dev/null"), path("a.avi") + ".avi", path("a.avi") + ".avi"})
    EXPECT_EQ(crvtdec({path("a.avi"), other}).exit_code, 0) << other;

  for (const bool compressed : {true, false}) {
    write_avi(path("huge.avi"), {26754, 26754, compressed}, {});
    for (const std::vector<std::string>& args : {std::vector<std::string>{path("huge.avi"), path("o.avi")},
                                                 {"--frames", path("huge.avi"), path("f%d.ppm")},
                                                 {"--info", path("huge.avi")},
                                                 {"--compare", path("huge.avi"), path("in.mov")}}) {
      r = crvtdec(args);
      EXPECT_EQ(r.exit_code, args[0] == "--compare" ? 1 : 0) << r.err;
      EXPECT_LT(r.max_rss_kb, 64 << 10) << args[0];
    }
  }
}

}  // namespace
