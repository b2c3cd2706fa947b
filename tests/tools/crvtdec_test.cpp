// crvtdec run on files that quelmux, GStreamer and AviWriter write: every
// frame comes back as it went in, whatever the size, chunking, data format,
// stream layout and output; what it reports; and every way it fails (exit
// status 1, a message on standard error naming the file, never a crash).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
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

// The picture of frame `i` as crvtdec's images hold it: top row first, R G B.
Bytes rgb(const movgen::FrameSource& src, std::uint32_t i) {
  Bytes out(src.frame_size());
  src.render(i, out);
  return out;
}

class Crvtdec : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string file(const Bytes& bytes, const std::string& name = "x.avi") const {
    testsupport::write_file(dir_ / name, bytes);
    return path(name);
  }
  // A movie of three noise frames of 16 x 8 and its conversions.
  void convert_small() {
    layout_ = write_movie(path("in.mov"), {.width = 16, .height = 8, .frames = 3}, source(16, 8, Content::noise));
    ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
    ASSERT_EQ(quelmux({"-u", path("in.mov"), path("u.avi")}).exit_code, 0);
  }
  static void expect_failure(const RunResult& r, const std::string& message) {
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find(message), std::string::npos) << "expected: " << message << "\nstderr: " << r.err;
    EXPECT_EQ(r.out, "");
  }

  testsupport::TempDir dir_;
  movgen::MovieLayout layout_;
};

// quelmux, then crvtdec: --compare finds every frame identical, the
// uncompressed AVI that crvtdec writes is the very file of "quelmux -u", and
// the images are the source pictures, in PPM and PNG.
TEST_F(Crvtdec, QuelmuxOutputComesBackIdentical) {
  const struct {
    MovieOptions o;
    Content content;
  } cases[] = {
      {{.width = 1, .height = 1, .frames = 3}, Content::noise},
      {{.width = 37, .height = 1, .frames = 4, .chunking = {{1, 3}, {2, 1}}}, Content::gradient_h},
      {{.width = 1, .height = 29, .frames = 4, .format = DataFormat::wrle}, Content::noise},
      {{.width = 2, .height = 3, .frames = 9, .chunking = {{1, 2}, {3, 1}}}, Content::solid},
      {{.width = 33, .height = 17, .frames = 8, .format = DataFormat::wrle, .chunking = {{1, 5}}}, Content::shape},
      {{.width = 161, .height = 99, .frames = 3, .chunking = {{1, 2}}}, Content::noise},
      {{.width = 320, .height = 240, .frames = 4, .format = DataFormat::wrle}, Content::gradient_v},
      {{.width = 8, .height = 8, .frames = 0}, Content::shape},
      {{.width = 13, .height = 7, .frames = 5, .moov_last = true, .row_align = 2, .co64 = true}, Content::noise},
      {{.width = 13, .height = 7, .frames = 5, .format = DataFormat::wrle, .row_align = 4}, Content::grey},
  };
  for (auto [o, content] : cases) {
    SCOPED_TRACE(testing::Message() << o.width << " x " << o.height << " " << movgen::content_name(content));
    o.time_scale = 2997;
    o.sample_duration = 100;
    write_movie(path("in.mov"), o, source(o.width, o.height, content));
    ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
    ASSERT_EQ(quelmux({"-u", path("in.mov"), path("u.avi")}).exit_code, 0);
    const std::string identical = std::to_string(o.frames) + " frames identical\n";
    for (const char* avi : {"a.avi", "u.avi"}) {
      const RunResult r = crvtdec({"--compare", path(avi), path("in.mov")});
      EXPECT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.out + r.err, identical);
    }
    RunResult r = crvtdec({path("a.avi"), path("c.avi")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(o.frames) + " frames written to " + path("c.avi") + "\n");
    EXPECT_EQ(testsupport::read_file(path("c.avi")), testsupport::read_file(path("u.avi")));
    r = crvtdec({"--frames", path("a.avi"), path("f%03d.ppm")});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(o.frames) + " frames written as " + path("f%03d.ppm") + "\n");
    ASSERT_EQ(crvtdec({"--frames", "--png", path("a.avi"), path("g-%d.png")}).exit_code, 0);
    for (std::uint32_t i = 0; i < o.frames; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "f%03u.ppm", i);
      const Bytes picture = rgb(source(o.width, o.height, content), i);
      EXPECT_EQ(read_ppm(dir_ / name).pixels, picture) << i;
      const Image png = read_png(dir_ / ("g-" + std::to_string(i) + ".png"));
      EXPECT_EQ(png.pixels, picture) << i;
      EXPECT_EQ(png.channels, 3);
    }
  }
}

// Movies of GStreamer's muxer (rows filled to 4 bytes, the header in front
// or last), converted by quelmux both ways: GStreamer's own decoding of the
// output, and crvtdec's images, show the pictures that GStreamer decodes from
// the movie, at widths whose rows need filling too.
TEST_F(Crvtdec, PicturesAsGstreamerDecodesThem) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  const std::pair<int, int> sizes[] = {{96, 64}, {321, 241}, {322, 17}, {323, 16}, {1366, 16}};
  for (const auto& [w, h] : sizes) {
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
    EXPECT_EQ(testsupport::read_file(path("c.avi")), testsupport::read_file(path("u.avi")));
    ASSERT_EQ(crvtdec({"--frames", path("a.avi"), path("f%d.ppm")}).exit_code, 0);
    for (std::size_t i = 0; i < 3; ++i)
      EXPECT_EQ(read_ppm(path("f") + std::to_string(i) + ".ppm").pixels, pictures[i]) << i;
  }
}

// Files crvtdec did not get from quelmux: an uncompressed stream with rows
// filled to 4 bytes and its top row first, a top-down Corvath stream, and
// both split into OpenDML parts. All give the bitmaps of "quelmux -u".
TEST_F(Crvtdec, OtherStreamLayouts) {
  constexpr int w = 37, h = 9;  // rows of 111 bytes, filled to 112
  const MovieOptions o{.width = w, .height = h, .frames = 4, .time_scale = 30, .sample_duration = 1};
  write_movie(path("in.mov"), o, source(w, h, Content::noise));
  ASSERT_EQ(quelmux({"-u", path("in.mov"), path("u.avi")}).exit_code, 0);
  std::vector<Bytes> filled, packed;  // top down, B G R
  for (std::uint32_t i = 0; i < 4; ++i) {
    const Bytes bgr = testsupport::flip_rows(bgr_frame(source(w, h, Content::noise), i), 3 * w);
    packed.push_back(bgr);
    filled.emplace_back();
    for (int y = 0; y < h; ++y) {
      filled.back().insert(filled.back().end(), bgr.begin() + y * 3 * w, bgr.begin() + (y + 1) * 3 * w);
      filled.back().push_back(0);
    }
  }
  for (const std::uint64_t part_limit : {1ull << 30, 12288ull}) {
    for (const bool compressed : {false, true}) {
      SCOPED_TRACE(testing::Message() << part_limit << (compressed ? " Corvath" : " bitmaps"));
      write_avi(path("x.avi"), {w, -h, compressed, 30, 1, part_limit}, compressed ? encode(w, h, 24, packed) : filled);
      avi::AviReader reader;
      ASSERT_TRUE(reader.open(path("x.avi")));
      EXPECT_EQ(reader.parts() > 1, part_limit < (1ull << 30));
      EXPECT_EQ(crvtdec({"--compare", path("x.avi"), path("in.mov")}).out, "4 frames identical\n");
      EXPECT_EQ(crvtdec({path("x.avi"), path("c.avi")}).exit_code, 0);
      EXPECT_EQ(testsupport::read_file(path("c.avi")), testsupport::read_file(path("u.avi")));
      ASSERT_EQ(crvtdec({"--frames", path("x.avi"), path("f%d.ppm")}).exit_code, 0);
      EXPECT_EQ(read_ppm(path("f3.ppm")).pixels, rgb(source(w, h, Content::noise), 3));
    }
  }
}

// 32-bit Corvath frames keep their fourth byte as alpha in PNG images and
// lose it in PPM ones; the 24-bit outputs refuse them.
TEST_F(Crvtdec, ThirtyTwoBitFrames) {
  constexpr int w = 9, h = 4;
  std::vector<Bytes> pictures;  // bottom-up B, G, R, A
  for (std::uint32_t i = 0; i < 3; ++i) {
    Bytes p(4 * w * h);
    for (std::size_t k = 0; k < p.size(); ++k) p[k] = static_cast<std::uint8_t>(k * 31 + i * 5 + (k >> 3));
    pictures.push_back(p);
  }
  pictures.push_back(Bytes(4 * w * h, 0));  // one colour: a flat 32-bit frame
  for (std::size_t k = 3; k < pictures.back().size(); k += 4) pictures.back()[k] = 77;
  write_avi(path("x.avi"), {w, h, true, 30, 1}, encode(w, h, 32, pictures));
  Bytes file = testsupport::read_file(path("x.avi"));
  put_u16(file, kBiBitCount, 32);
  testsupport::write_file(path("x.avi"), file);
  ASSERT_EQ(crvtdec({"--frames", "--png", path("x.avi"), path("f%d.png")}).exit_code, 0);
  ASSERT_EQ(crvtdec({"--frames", path("x.avi"), path("f%d.ppm")}).exit_code, 0);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    Bytes rgba, rgb3;
    for (int y = h - 1; y >= 0; --y) {
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* p = pictures[i].data() + 4 * (y * w + x);
        rgba.insert(rgba.end(), {p[2], p[1], p[0], p[3]});
        rgb3.insert(rgb3.end(), {p[2], p[1], p[0]});
      }
    }
    const Image png = read_png(path("f") + std::to_string(i) + ".png");
    EXPECT_EQ(png.pixels, rgba) << i;
    EXPECT_EQ(png.channels, 4);
    EXPECT_EQ(read_ppm(path("f") + std::to_string(i) + ".ppm").pixels, rgb3) << i;
  }
  expect_failure(crvtdec({path("x.avi"), path("c.avi")}), path("x.avi") + ": 32-bit Corvath frames do not fit");
  EXPECT_FALSE(std::filesystem::exists(path("c.avi")));
  expect_failure(crvtdec({"--compare", path("x.avi"), path("x.avi")}), "32-bit Corvath stream cannot be compared");
}

// Every kind of frame once (info reads the type bytes and decodes nothing),
// and a one-colour conversion split into parts.
TEST_F(Crvtdec, Info) {
  const Bytes full = encode(
      4, 2, 24, {Bytes{1, 50, 3, 4, 99, 6, 7, 8, 9, 10, 11, 200, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}})[0];
  ASSERT_EQ(full[0], FRAME_FULL24);
  write_avi(path("x.avi"), {4, 2, true, 30000, 1001},
            {{}, {5, 9}, {6, 1, 2, 3}, full, {8, 13, 0, 0, 0, 14, 0, 0, 0, 15, 0, 0, 0}, {9, 1, 2, 3, 4}, {7}});
  const std::size_t stored = 25 + full.size();
  char figures[128];
  std::snprintf(figures, sizeof figures, "Stored size: %zu bytes, %.1f a frame\nCompression ratio: %.2f\n", stored,
                static_cast<double>(stored) / 7, 7.0 * 24 / static_cast<double>(stored));
  RunResult r = crvtdec({"--info", path("x.avi")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "File: " + path("x.avi") +
                       "\nVideo: Corvath (\"CRVT\"), 24 bits a pixel\nSize: 4 x 2\n"
                       "Frame rate: 29.97 frames a second (30000 / 1001)\nFrames: 7\n"
                       "  null:          1\n  full 24-bit:   1\n  grey:          1\n  flat 24-bit:   1\n"
                       "  full 32-bit:   1\n  flat 32-bit:   1\n  uncompressed:  0\n  unknown type:  1\n" +
                       figures);

  write_avi(path("u.avi"), {16, 16, false, 25, 1, 9216}, std::vector<Bytes>(20, Bytes(768, 1)));
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(path("u.avi")));
  ASSERT_GT(reader.parts(), 1u);
  r = crvtdec({"--info", path("u.avi")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Video: uncompressed (\"DIB \"), 24 bits a pixel\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  uncompressed:  20\n"), std::string::npos) << r.out;
  EXPECT_TRUE(r.out.ends_with("Stored size: 15360 bytes, 768.0 a frame\nCompression ratio: 1.00\nRIFF parts: " +
                              std::to_string(reader.parts()) + "\n"))
      << r.out;
}

// The movie differs from what was converted in two pixels of frame 1: the
// one reported is the upper one, though the AVI's bitmap holds the lower one
// first. Frame counts and sizes must agree too.
TEST_F(Crvtdec, CompareReportsTheFirstDifference) {
  constexpr int w = 16, h = 8;
  for (const DataFormat format : {DataFormat::raw, DataFormat::wrle}) {
    const bool raw = format == DataFormat::raw;
    const movgen::MovieLayout layout = write_movie(
        path("in.mov"), {.width = w, .height = h, .frames = 3, .format = format}, source(w, h, Content::noise));
    ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
    Bytes movie = testsupport::read_file(path("in.mov"));
    // Byte `channel` (0 red) of the pixel at row y from the top, column x, of frame 1.
    auto at = [&](int y, int x, int channel) {
      return static_cast<std::size_t>(layout.frame_offsets[1] + ((raw ? y : h - 1 - y) * w + x) * 3 +
                                      (raw ? channel : 2 - channel));
    };
    const unsigned red = movie[at(5, 9, 0)], green = movie[at(5, 9, 1)], blue = movie[at(5, 9, 2)];
    movie[at(5, 9, 1)] ^= 0x10;
    movie[at(6, 2, 0)] ^= 0x01;
    const RunResult r = crvtdec({"--compare", path("a.avi"), file(movie, "in.mov")});
    EXPECT_EQ(r.exit_code, 1);
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "Frame 1 differs at row 5, column 9: R G B %u %u %u in %s, %u %u %u in %s\n", red, green, blue,
                  path("a.avi").c_str(), red, green ^ 0x10u, blue, path("in.mov").c_str());
    EXPECT_EQ(r.out + r.err, expected);
  }
  write_movie(path("five.mov"), {.width = 16, .height = 8, .frames = 5}, source(16, 8, Content::noise));
  write_movie(path("taller.mov"), {.width = 16, .height = 9, .frames = 3}, source(16, 9, Content::noise));
  ASSERT_EQ(quelmux({path("five.mov"), path("five.avi")}).exit_code, 0);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{path("a.avi"), path("five.mov")},
       "Frame counts differ: " + path("a.avi") + " has 3 frames, " + path("five.mov") +
           " has 5 (the first 3 are identical)\n"},
      {{path("five.avi"), path("in.mov")},
       "Frame counts differ: " + path("five.avi") + " has 5 frames, " + path("in.mov") +
           " has 3 (the first 3 are identical)\n"},
      {{path("a.avi"), path("taller.mov")},
       "Frame sizes differ: " + path("a.avi") + " is 16 x 8, " + path("taller.mov") + " is 16 x 9\n"},
  };
  write_movie(path("in.mov"), {.width = 16, .height = 8, .frames = 3}, source(16, 8, Content::noise));
  for (const auto& [files, message] : cases) {
    const RunResult r = crvtdec({"--compare", files[0], files[1]});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, message);
  }
}

TEST_F(Crvtdec, CommandLinesInputsAndOutputsRefused) {
  convert_small();
  const std::string missing = path("missing.avi"), nowhere = path("no/such/dir");
  const Bytes avi = testsupport::read_file(path("a.avi")), bitmaps = testsupport::read_file(path("u.avi"));
  Bytes mjpg = avi, bits16 = avi, bits32 = bitmaps, huge = avi, taller = bitmaps;
  std::copy_n("MJPG", 4, mjpg.begin() + kBiCompression);
  put_u16(bits16, kBiBitCount, 16);
  put_u16(bits32, kBiBitCount, 32);
  put_u32(huge, 0xB0, 50000);
  put_u32(huge, kBiHeight, 50000);
  put_u32(taller, kBiHeight, 9);
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "crvtdec: missing file name; see crvtdec --help"},
      {{path("a.avi")}, "missing file name"},
      {{"--info", path("a.avi"), path("b.avi")}, "too many file names"},
      {{path("a.avi"), path("b.avi"), path("c.avi")}, "too many arguments at \"" + path("c.avi")},
      {{"--bogus", path("a.avi"), path("b.avi")}, "unknown option \"--bogus\""},
      {{"--png", path("a.avi"), path("b.avi")}, "--png goes with --frames"},
      {{"--frames", "--compare", path("a.avi"), path("in.mov")}, "only one mode at a time"},
      {{"-j0", path("a.avi"), path("b.avi")}, "bad thread count \"0\": -j takes a number"},
      {{path("a.avi"), path("b.avi"), "-j"}, "bad thread count \"\""},
      {{"--info", "--", "-x.avi"}, "cannot open -x.avi: No such file or directory"},
      {{missing, path("b.avi")}, "cannot open " + missing + ": No such file or directory"},
      {{"--frames", missing, path("f%d.ppm")}, "cannot open " + missing},
      {{"--compare", missing, path("in.mov")}, "cannot open " + missing},
      {{"--info", path("in.mov")}, path("in.mov") + ": not an AVI file"},
      {{"--info", file({}, "empty.avi")}, path("empty.avi") + ": not an AVI file"},
      {{"--info", file(mjpg, "mjpg.avi")}, path("mjpg.avi") + ": unsupported video format \"MJPG\""},
      {{"--info", file(bits16, "16.avi")}, "Corvath stream of 16 bits a pixel"},
      {{"--info", file(bits32, "32.avi")}, "uncompressed stream of 32 bits a pixel"},
      {{file(huge, "huge.avi"), path("b.avi")}, path("huge.avi") + ": frames of 50000 x 50000 pixels are too large"},
      {{"--compare", file(taller, "taller.avi"), path("in.mov")},
       path("taller.avi") + ": frame 0 holds 384 bytes, a 24-bit bitmap of 16 x 9 pixels takes 432"},
      {{path("a.avi"), nowhere + "/b.avi"}, "Unable to open output file " + nowhere + "/b.avi"},
      {{"--frames", path("a.avi"), nowhere + "/f%d.ppm"}, "cannot write " + nowhere + "/f0.ppm: No such file"},
      {{"--frames", "--png", path("a.avi"), nowhere + "/f%d.png"}, "cannot write " + nowhere + "/f0.png: No such"},
      {{path("a.avi"), path("a.avi")}, path("a.avi") + ": the output file would overwrite the input"},
      {{"--frames", path("a0.avi"), path("a%d.avi")},
       path("a0.avi") + ": the image of frame 0 would overwrite the input"},
      {{"--frames", path("a.avi"), path("f%s.ppm")}, "bad file name pattern \"" + path("f%s.ppm") + "\""},
      {{"--frames", path("a.avi"), path("f.ppm")}, "no conversion for the frame number"},
      {{path("a.avi"), "/dev/full"}, "/dev/full"},
      {{"--compare", path("a.avi"), path("missing.mov")}, "cannot open " + path("missing.mov") + ": No such file"},
      // The movie reader's own reason comes first, on standard error too.
      {{"--compare", path("a.avi"), path("u.avi")},
       "Unable to find tag \"mvhd\"\ncrvtdec: " + path("u.avi") + ": not a movie that quelmux converts\n"},
  };
  std::filesystem::copy_file(path("a.avi"), path("a0.avi"));
  for (const auto& [args, message] : cases) expect_failure(crvtdec(args), message);
  EXPECT_EQ(testsupport::read_file(path("a0.avi")), avi);
  // No encoder makes a frame of 1 x 1 pixels that long.
  write_avi(path("x.avi"), {1, 1, true, 30, 1}, {Bytes(5000, FRAME_FULL24)});
  expect_failure(crvtdec({"--info", path("x.avi")}),
                 path("x.avi") + ": frame 0 holds 5000 bytes, more than any Corvath frame of 1 x 1 pixels");
  std::filesystem::create_symlink("/dev/full", dir_ / "f1.ppm");
  expect_failure(crvtdec({"--frames", path("a.avi"), path("f%d.ppm")}),
                 "cannot write " + path("f1.ppm") + ": No space left on device");

  RunResult r = crvtdec({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.starts_with("Usage: crvtdec [-j N] <in.avi> <out.avi>\n")) << r.out;
  EXPECT_EQ(crvtdec({"--version"}).out, "crvtdec " QUELMUX_VERSION "\n");

  Bytes movie = testsupport::read_file(path("in.mov"));
  const std::string format = "raw ";
  std::copy_n("jpeg", 4, std::search(movie.begin(), movie.end(), format.begin(), format.end()));
  r = crvtdec({"--compare", path("a.avi"), file(movie, "x.mov")});
  expect_failure(r, "Unsupported data format");
  EXPECT_NE(r.err.find(path("x.mov") + ": not a movie that quelmux converts"), std::string::npos);
  movie = testsupport::read_file(path("in.mov"));
  movie.resize(static_cast<std::size_t>(layout_.frame_offsets[2]) + 10);
  expect_failure(crvtdec({"--compare", path("a.avi"), file(movie, "short.mov")}),
                 path("short.mov") + ": frame 2 could not be read: the file ends inside it");
}

// Damaged frames: the frame's number and the decoder's reason. Writing an
// AVI stops at the frame and leaves a valid file of the frames before it.
TEST_F(Crvtdec, FramesThatDoNotDecode) {
  convert_small();
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(path("a.avi")));
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i < 3; ++i) {
    frames.emplace_back(reader.frames()[i].size);
    ASSERT_TRUE(reader.read_frame(i, frames.back()));
  }
  const Bytes good = frames[1];
  ASSERT_EQ(good[0], FRAME_FULL24);
  const auto with = [&](std::size_t at, std::uint8_t value, std::size_t size = SIZE_MAX) {
    Bytes f = good;
    f.at(at) = value;
    f.resize(std::min(size, f.size()));
    return f;
  };
  Bytes past = good, swapped = good, level = good;
  put_u32(past, 1, static_cast<std::uint32_t>(good.size()) + 1);  // plane 1 past the frame
  put_u32(swapped, 5, get_u32(good, 1) - 1);                      // plane 2 before plane 1
  level[kFull24Header] = 9;                                       // no such run-length level
  const std::string offsets = "plane offsets outside the frame or out of order";
  const std::pair<Bytes, std::string> cases[] = {
      {with(0, 0), "unknown frame type"},
      {with(0, 3), "unknown frame type"},
      {with(0, 7), "unknown frame type"},
      {with(0, 255), "unknown frame type"},
      {{FRAME_FULL32, 1, 2, 3, 4}, "32-bit frame in a 24-bit stream"},
      {{FRAME_FLAT32, 1, 2, 3, 4}, "32-bit frame in a 24-bit stream"},
      {with(0, FRAME_FULL24, 8), "frame shorter than its header"},
      {{FRAME_GREY}, "frame shorter than its header"},
      {{FRAME_FLAT24, 1, 2}, "frame shorter"},
      {past, offsets},
      {swapped, offsets},
      {level, "damaged plane"},
  };
  for (const auto& [frame, why] : cases) {
    frames[1] = frame;
    write_avi(path("x.avi"), {16, 8, true, 600, 20}, frames);
    const std::string fails = path("x.avi") + ": frame 1 does not decode: " + why;
    expect_failure(crvtdec({"--compare", path("x.avi"), path("in.mov")}), fails);
    expect_failure(crvtdec({"--frames", path("x.avi"), path("f%d.ppm")}), fails);
    EXPECT_TRUE(std::filesystem::exists(path("f0.ppm")));
    EXPECT_FALSE(std::filesystem::exists(path("f1.ppm")));
    expect_failure(crvtdec({path("x.avi"), path("c.avi")}), fails);
    ASSERT_EQ(reader.open(path("c.avi")).message, "");
    EXPECT_EQ(reader.frames().size(), 1u);
  }
}

// The file cut short at every chunk boundary, and every size field of its
// chunks one too large or too small. Files cut before their frames fail as
// truncated, the others are salvaged: the whole frames are compared, and the
// exit status is 1 all the same. With a size off by one the frames are found
// as they are or the file is refused: a comparison never passes on wrong
// frames.
TEST_F(Crvtdec, TruncatedFilesAndSizesOffByOne) {
  convert_small();
  const Bytes avi = testsupport::read_file(path("a.avi"));
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(path("a.avi")));
  const std::vector<avi::Frame> frames(reader.frames().begin(), reader.frames().end());
  const std::size_t idx1 = static_cast<std::size_t>(frames.back().offset + (frames.back().size + 3) / 4 * 4);
  ASSERT_EQ(std::string(&avi[idx1], &avi[idx1] + 4), "idx1");
  const std::size_t junk = idx1 + 8 + 16 * 3;
  std::vector<std::size_t> cuts = {0, 12, 0x58, 0x1200, 0x2000, kFirstChunk, idx1, junk, avi.size() - 1};
  std::vector<std::size_t> sizes = {4, 0x10, 0x1C, 0x5C, 0x68, 0xA8, 0xD8, 0x1204, 0x2004, idx1 + 4, junk + 4};
  for (const avi::Frame& f : frames) {
    cuts.push_back(static_cast<std::size_t>(f.offset) - 8);
    sizes.push_back(static_cast<std::size_t>(f.offset) - 4);
  }
  for (const std::size_t cut : cuts) {
    SCOPED_TRACE(cut);
    const RunResult r = crvtdec({"--compare", file(Bytes(avi.begin(), avi.begin() + cut)), path("in.mov")});
    std::size_t whole = 0;
    while (whole < 3 && frames[whole].offset + frames[whole].size <= cut) ++whole;
    EXPECT_EQ(r.exit_code, 1);
    if (cut < kFirstChunk) {
      expect_failure(r, path("x.avi") + ": ");
      EXPECT_TRUE(r.err.find("truncated") != std::string::npos || r.err.find("not an AVI file") != std::string::npos)
          << r.err;
      continue;
    }
    EXPECT_NE(r.err.find(path("x.avi") + " was not completed"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": " + std::to_string(whole) + " whole frames found"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, whole == 3
                         ? "3 frames identical\n"
                         : "Frame counts differ: " + path("x.avi") + " has " + std::to_string(whole) + " frames, " +
                               path("in.mov") + " has 3 (the first " + std::to_string(whole) + " are identical)\n");
  }
  // An index cut inside its last entry is not used: the frames are found by
  // scanning, the last one included.
  Bytes b = avi;
  put_u32(b, idx1 + 4, 16 * 3 - 1);
  EXPECT_EQ(crvtdec({"--compare", file(b), path("in.mov")}).out, "3 frames identical\n");
  for (const std::size_t field : sizes) {
    for (const int delta : {-1, 1}) {
      SCOPED_TRACE(testing::Message() << "size at " << field << (delta > 0 ? " + 1" : " - 1"));
      b = avi;
      put_u32(b, field, get_u32(b, field) + static_cast<std::uint32_t>(delta));
      const RunResult r = crvtdec({"--compare", file(b), path("in.mov")});
      EXPECT_TRUE((r.exit_code == 0 && r.out == "3 frames identical\n") ||
                  (r.exit_code == 1 &&
                   (r.out.starts_with("Frame ") || r.err.starts_with("crvtdec: " + path("x.avi")) ||
                    (r.out == "3 frames identical\n" && r.err.find(" was not completed") != std::string::npos))))
          << r.out << r.err;
    }
  }
}

// Every thread count gives what one thread gives, in every mode: the same
// files, lines and exit status, for a conversion, a file of null frames
// (first, in a row and last: a null frame shows the picture before it, or
// 128 in every byte before any), one with a frame in the middle that does
// not decode, and a movie that differs from frame 17 on.
TEST_F(Crvtdec, EveryThreadCountGivesWhatOneThreadGives) {
  constexpr int w = 40, h = 24;
  // Appended, not concatenated: g++ 12 warns falsely of "f" + a string.
  const auto image = [&](std::size_t i, const char* extension) {
    std::string name = "f";
    name += std::to_string(i);
    name += extension;
    return path(name);
  };
  const movgen::FrameSource src = source(w, h, Content::noise);
  const movgen::MovieLayout layout = write_movie(path("in.mov"), {.width = w, .height = h, .frames = 30}, src);
  ASSERT_EQ(quelmux({path("in.mov"), path("q.avi")}).exit_code, 0);
  Bytes movie = testsupport::read_file(path("in.mov"));
  movie[layout.frame_offsets[17] + 100] ^= 1;
  testsupport::write_file(path("other.mov"), movie);
  std::vector<Bytes> pictures;
  for (std::uint32_t i = 0; i < 12; ++i) pictures.push_back(bgr_frame(src, i));
  std::vector<Bytes> frames = encode(w, h, 24, pictures);
  frames.resize(8);
  for (const std::size_t at : {0, 3, 3, 11, 12})
    frames.insert(frames.begin() + static_cast<std::ptrdiff_t>(at), Bytes{});
  write_avi(path("null.avi"), {w, h}, frames);
  frames = encode(w, h, 24, pictures);
  frames[6][0] = 99;  // no such frame type
  write_avi(path("bad.avi"), {w, h}, frames);

  const std::vector<std::vector<std::string>> runs = {{"--compare", "q.avi", "in.mov"},
                                                      {"--compare", "q.avi", "other.mov"},
                                                      {"--frames", "null.avi", "f%d.ppm"},
                                                      {"--frames", "--png", "q.avi", "f%d.png"},
                                                      {"null.avi", "out.avi"},
                                                      {"q.avi", "out.avi"},
                                                      {"--frames", "bad.avi", "f%d.ppm"},
                                                      {"--compare", "bad.avi", "in.mov"},
                                                      {"bad.avi", "out.avi"}};
  for (const auto& run : runs) {
    RunResult first;
    std::vector<Bytes> first_files;
    for (const char* threads : {"1", "2", "3", "8"}) {
      SCOPED_TRACE(testing::Message() << run[run.size() - 2] << " " << run.back() << " -j " << threads);
      for (std::size_t i = 0; i < 20; ++i) std::filesystem::remove(image(i, ".ppm"));
      std::vector<std::string> args{"-j", threads};
      for (const std::string& a : run) args.push_back(a.starts_with("-") ? a : path(a));
      const RunResult r = crvtdec(args);
      std::vector<Bytes> files;
      for (std::size_t i = 0; i < 20; ++i) {
        for (const char* extension : {".ppm", ".png"}) {
          const std::string f = image(i, extension);
          files.push_back(std::filesystem::exists(f) ? testsupport::read_file(f) : Bytes{});
        }
      }
      files.push_back(std::filesystem::exists(path("out.avi")) ? testsupport::read_file(path("out.avi")) : Bytes{});
      if (first_files.empty()) {
        first = r;
        first_files = files;
        continue;
      }
      EXPECT_EQ(r.exit_code, first.exit_code);
      EXPECT_EQ(r.out, first.out);
      EXPECT_EQ(r.err, first.err);
      EXPECT_TRUE(files == first_files);
    }
    if (run[1] == "null.avi" && run[0] == "--frames") {
      const std::uint32_t shown[] = {8, 0, 1, 1, 1, 2, 3, 4, 5, 6, 7, 7, 7};  // 8: none yet
      for (std::size_t i = 0; i < std::size(shown); ++i) {
        const Bytes grey(3 * w * h, 128);
        EXPECT_EQ(read_ppm(image(i, ".ppm")).pixels, shown[i] == 8 ? grey : rgb(src, shown[i])) << i;
      }
    }
    EXPECT_EQ(first.out.starts_with("Frame 17 differs"), run.back() == "other.mov") << first.out;
    EXPECT_EQ(first.err.find("frame 6 does not decode") != std::string::npos, run[run.size() - 2] == "bad.avi")
        << first.err;
  }
}

}  // namespace
