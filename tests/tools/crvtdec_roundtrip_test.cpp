// crvtdec run on files that quelmux, GStreamer and AviWriter write: every
// frame comes back as it went in, whatever the size, chunking, data format,
// stream layout and output.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "crvtdec_test_util.h"

namespace {

using namespace crvtdec_test;

class CrvtdecRoundTrip : public testing::Test {
 protected:
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // The picture of frame `i` as crvtdec's images hold it: top row first, R G B.
  static Bytes rgb(const movgen::FrameSource& src, std::uint32_t i) {
    Bytes out(src.frame_size());
    src.render(i, out);
    return out;
  }

  static std::string numbered(const char* stem, std::size_t i, const char* extension) {
    std::string name = stem;
    name += std::to_string(i);
    name += extension;
    return name;
  }

  testsupport::TempDir dir_;
};

struct MovieCase {
  int width, height;
  std::uint32_t frames;
  movgen::DataFormat format;
  std::vector<movgen::ChunkRun> chunking;
  movgen::Content content;
  int row_align = 1;
  bool header_last = false;  // and 64-bit chunk offsets
};

// quelmux, then crvtdec: --compare finds every frame identical, the
// uncompressed AVI that crvtdec writes is the very file of "quelmux -u", and
// --compare takes that one too; a movie with no frames included.
TEST_F(CrvtdecRoundTrip, QuelmuxOutputComesBackIdentical) {
  using movgen::Content;
  using movgen::DataFormat;
  const MovieCase cases[] = {
      {1, 1, 3, DataFormat::raw, {{1, 1}}, Content::noise},
      {1, 1, 2, DataFormat::wrle, {{1, 2}}, Content::shape},
      {37, 1, 4, DataFormat::raw, {{1, 3}, {2, 1}}, Content::gradient_h},
      {1, 29, 4, DataFormat::wrle, {{1, 1}}, Content::noise},
      {2, 3, 9, DataFormat::raw, {{1, 2}, {3, 1}}, Content::solid},
      {7, 5, 6, DataFormat::raw, {{1, 4}}, Content::grey},
      {33, 17, 8, DataFormat::wrle, {{1, 5}, {2, 2}, {4, 1}}, Content::shape},
      {64, 48, 5, DataFormat::raw, {{1, 1}}, Content::screen},
      {161, 99, 3, DataFormat::raw, {{1, 2}}, Content::noise},
      {320, 240, 4, DataFormat::wrle, {{1, 1}}, Content::gradient_v},
      {8, 8, 0, DataFormat::raw, {{1, 1}}, Content::shape},
      {13, 7, 5, DataFormat::raw, {{1, 2}}, Content::noise, 2, true},
      {13, 7, 5, DataFormat::wrle, {{1, 3}}, Content::noise, 4},
  };
  for (const MovieCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " " << movgen::content_name(c.content)
                                    << (c.format == DataFormat::raw ? " raw" : " WRLE"));
    movgen::MovieOptions o{.width = c.width,
                           .height = c.height,
                           .frames = c.frames,
                           .format = c.format,
                           .chunking = c.chunking,
                           .time_scale = 2997,
                           .sample_duration = 100,
                           .moov_last = c.header_last,
                           .row_align = c.row_align,
                           .co64 = c.header_last};
    write_movie(path("in.mov"), o, source(c.width, c.height, c.content));
    ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
    ASSERT_EQ(quelmux({"-u", path("in.mov"), path("u.avi")}).exit_code, 0);

    const std::string identical = std::to_string(c.frames) + " frames identical\n";
    RunResult r = crvtdec({"--compare", path("a.avi"), path("in.mov")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, identical);
    EXPECT_EQ(r.err, "");

    r = crvtdec({path("a.avi"), path("c.avi")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, std::to_string(c.frames) + " frames written to " + path("c.avi") + "\n");
    EXPECT_EQ(testsupport::read_file(path("c.avi")), testsupport::read_file(path("u.avi")));

    r = crvtdec({"--compare", path("u.avi"), path("in.mov")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, identical);
  }
}

// Images are the source pictures: top row first, R G B, in PPM and PNG.
TEST_F(CrvtdecRoundTrip, FramesAsImages) {
  movgen::MovieOptions o{.width = 23, .height = 11, .frames = 4};
  const movgen::FrameSource src = source(o.width, o.height, movgen::Content::noise);
  write_movie(path("in.mov"), o, src);
  ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);

  RunResult r = crvtdec({"--frames", path("a.avi"), path("f%03d.ppm")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "4 frames written as " + path("f%03d.ppm") + "\n");
  r = crvtdec({"--frames", "--png", path("a.avi"), path("g-%d.png")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (std::uint32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    char name[32];
    std::snprintf(name, sizeof name, "f%03u.ppm", i);
    const Image ppm = read_ppm(dir_ / name);
    EXPECT_EQ(ppm.width, 23);
    EXPECT_EQ(ppm.height, 11);
    EXPECT_EQ(ppm.pixels, rgb(src, i));
    const Image png = read_png(dir_ / numbered("g-", i, ".png"));
    EXPECT_EQ(png.width, 23);
    EXPECT_EQ(png.height, 11);
    EXPECT_EQ(png.channels, 3);
    EXPECT_EQ(png.pixels, rgb(src, i));
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "f004.ppm"));
}

// Movies of GStreamer's muxer (rows filled to 4 bytes, the header in front
// or last), converted by quelmux both ways: GStreamer's own decoding of every
// output, and crvtdec's images, show the pictures that GStreamer decodes from
// the movie, at widths whose rows need filling too.
TEST_F(CrvtdecRoundTrip, PicturesAsGstreamerDecodesThem) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  const struct {
    int width, height;
    const char* faststart;
  } cases[] = {{96, 64, "true"}, {321, 241, "false"}, {322, 17, "true"}, {323, 16, "false"}, {1366, 16, "false"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    const RunResult made = testsupport::run(
        {"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=3", "pattern=smpte", "!",
         "video/x-raw,format=RGB,framerate=25/1,width=" + std::to_string(c.width) +
             ",height=" + std::to_string(c.height),
         "!", "qtmux", std::string("faststart=") + c.faststart, "!", "filesink", "location=" + path("qt.mov")});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const std::vector<Bytes> pictures = testsupport::decode_rgb(path("qt.mov"), "qtdemux", c.width);
    ASSERT_EQ(pictures.size(), 3u);
    ASSERT_EQ(quelmux({"-u", path("qt.mov"), path("u.avi")}).exit_code, 0);
    ASSERT_EQ(quelmux({path("qt.mov"), path("a.avi")}).exit_code, 0);
    EXPECT_EQ(testsupport::decode_rgb(path("u.avi"), "avidemux", c.width), pictures);
    EXPECT_EQ(crvtdec({"--compare", path("a.avi"), path("qt.mov")}).out, "3 frames identical\n");
    ASSERT_EQ(crvtdec({path("a.avi"), path("c.avi")}).exit_code, 0);
    EXPECT_EQ(testsupport::read_file(path("c.avi")), testsupport::read_file(path("u.avi")));
    ASSERT_EQ(crvtdec({"--frames", path("a.avi"), path("f%d.ppm")}).exit_code, 0);
    ASSERT_EQ(crvtdec({"--frames", "--png", path("u.avi"), path("f%d.png")}).exit_code, 0);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(read_ppm(dir_ / numbered("f", i, ".ppm")).pixels, pictures[i]) << i;
      EXPECT_EQ(read_png(dir_ / numbered("f", i, ".png")).pixels, pictures[i]) << i;
    }
  }
}

// Files crvtdec did not get from quelmux: an uncompressed stream with rows
// filled to 4 bytes and its top row first, a top-down Corvath stream, and
// both split into OpenDML parts. All give the bitmaps of "quelmux -u".
TEST_F(CrvtdecRoundTrip, OtherStreamLayouts) {
  constexpr int w = 37, h = 9;  // rows of 111 bytes, filled to 112
  constexpr std::uint32_t frames = 4;
  movgen::MovieOptions o{.width = w, .height = h, .frames = frames, .time_scale = 30, .sample_duration = 1};
  const movgen::FrameSource src = source(w, h, movgen::Content::noise);
  write_movie(path("in.mov"), o, src);
  ASSERT_EQ(quelmux({"-u", path("in.mov"), path("u.avi")}).exit_code, 0);
  const Bytes reference = testsupport::read_file(path("u.avi"));

  std::vector<Bytes> top_down_filled, top_down_packed;
  for (std::uint32_t i = 0; i < frames; ++i) {
    const Bytes bgr = bgr_frame(src, i);  // bottom-up, packed
    Bytes filled, packed;
    for (int y = h - 1; y >= 0; --y) {
      const auto row = bgr.begin() + y * 3 * w;
      filled.insert(filled.end(), row, row + 3 * w);
      filled.insert(filled.end(), 1, 0);
      packed.insert(packed.end(), row, row + 3 * w);
    }
    top_down_filled.push_back(filled);
    top_down_packed.push_back(packed);
  }
  struct Layout {
    const char* name;
    AviSpec spec;
    std::vector<Bytes> frames;
  };
  const Layout layouts[] = {
      {"filled rows, top down", {w, -h, false, 30, 1}, top_down_filled},
      {"Corvath, top down", {w, -h, true, 30, 1}, encode(w, h, 24, top_down_packed)},
      {"filled rows in parts", {w, -h, false, 30, 1, 12288}, top_down_filled},
      {"Corvath in parts", {w, -h, true, 30, 1, 12288}, encode(w, h, 24, top_down_packed)},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    write_avi(path("x.avi"), l.spec, l.frames);
    avi::AviReader reader;
    ASSERT_TRUE(reader.open(path("x.avi")));
    EXPECT_EQ(reader.parts() > 1, l.spec.part_limit < (1ull << 30));
    RunResult r = crvtdec({"--compare", path("x.avi"), path("in.mov")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "4 frames identical\n");
    r = crvtdec({path("x.avi"), path("c.avi")});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(testsupport::read_file(path("c.avi")), reference);
    ASSERT_EQ(crvtdec({"--frames", path("x.avi"), path("f%d.ppm")}).exit_code, 0);
    EXPECT_EQ(read_ppm(dir_ / "f3.ppm").pixels, rgb(src, 3));
  }
}

// 32-bit Corvath frames keep their fourth byte as alpha in PNG images and
// lose it in PPM ones; the 24-bit outputs refuse them.
TEST_F(CrvtdecRoundTrip, ThirtyTwoBitFrames) {
  constexpr int w = 9, h = 4;
  std::vector<Bytes> pictures;  // bottom-up B, G, R, A
  for (std::uint32_t i = 0; i < 3; ++i) {
    Bytes p(4 * w * h);
    for (std::size_t k = 0; k < p.size(); ++k) p[k] = static_cast<std::uint8_t>(k * 31 + i * 5 + (k >> 3));
    pictures.push_back(p);
  }
  pictures.push_back(Bytes(4 * w * h, 0));  // one colour: a FRAME_FLAT32 frame
  for (std::size_t k = 3; k < pictures.back().size(); k += 4) pictures.back()[k] = 77;
  write_avi(path("x.avi"), {w, h, true, 30, 1}, encode(w, h, 32, pictures));
  Bytes file = testsupport::read_file(path("x.avi"));
  put_u16(file, kBiBitCount, 32);
  testsupport::write_file(path("x.avi"), file);

  ASSERT_EQ(crvtdec({"--frames", "--png", path("x.avi"), path("f%d.png")}).exit_code, 0);
  ASSERT_EQ(crvtdec({"--frames", path("x.avi"), path("f%d.ppm")}).exit_code, 0);
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    SCOPED_TRACE(i);
    Bytes rgba, rgb3;
    for (int y = h - 1; y >= 0; --y) {
      for (int x = 0; x < w; ++x) {
        const std::uint8_t* p = pictures[i].data() + 4 * (y * w + x);
        rgba.insert(rgba.end(), {p[2], p[1], p[0], p[3]});
        rgb3.insert(rgb3.end(), {p[2], p[1], p[0]});
      }
    }
    const Image png = read_png(dir_ / numbered("f", i, ".png"));
    EXPECT_EQ(png.channels, 4);
    EXPECT_EQ(png.pixels, rgba);
    EXPECT_EQ(read_ppm(dir_ / numbered("f", i, ".ppm")).pixels, rgb3);
  }

  RunResult r = crvtdec({path("x.avi"), path("c.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(path("x.avi") + ": 32-bit Corvath frames do not fit"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(path("c.avi")));
  r = crvtdec({"--compare", path("x.avi"), path("x.avi")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("32-bit Corvath stream cannot be compared"), std::string::npos) << r.err;
}

// Every thread count gives what one thread gives, in every mode: the same
// files, lines and exit status, for a conversion, a file of null frames
// (first, in a row and last: a null frame shows the picture before it, or
// 128 in every byte before any), one with a frame in the middle that does
// not decode, and a movie that differs from frame 17 on.
TEST_F(CrvtdecRoundTrip, EveryThreadCountGivesWhatOneThreadGives) {
  constexpr int w = 40, h = 24;
  const movgen::FrameSource src = source(w, h, movgen::Content::noise);
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
      for (std::size_t i = 0; i < 20; ++i) std::filesystem::remove(dir_ / numbered("f", i, ".ppm"));
      std::vector<std::string> args{"-j", threads};
      for (const std::string& a : run) args.push_back(a.starts_with("-") ? a : path(a));
      const RunResult r = crvtdec(args);
      std::vector<Bytes> files;
      for (int i = 0; i < 20; ++i) {
        for (const char* extension : {".ppm", ".png"}) {
          const std::filesystem::path f = dir_ / numbered("f", static_cast<std::size_t>(i), extension);
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
        EXPECT_EQ(read_ppm(dir_ / numbered("f", i, ".ppm")).pixels, shown[i] == 8 ? grey : rgb(src, shown[i])) << i;
      }
    }
    EXPECT_EQ(first.out.starts_with("Frame 17 differs"), run.back() == "other.mov") << first.out;
    EXPECT_EQ(first.err.find("frame 6 does not decode") != std::string::npos, run[run.size() - 2] == "bad.avi")
        << first.err;
  }
}

// On a terminal the progress line stands on standard error and is gone
// before the result and before a failure's message.
TEST_F(CrvtdecRoundTrip, ProgressLineOnATerminal) {
  if (!testsupport::need_program("script")) GTEST_SKIP();
  movgen::MovieOptions o{.width = 8, .height = 8, .frames = 3};
  write_movie(path("in.mov"), o, source(8, 8, movgen::Content::noise));
  ASSERT_EQ(quelmux({path("in.mov"), path("a.avi")}).exit_code, 0);
  // script runs the command on a terminal of its own and copies what it shows.
  auto on_terminal = [](const std::string& command) {
    return testsupport::run({"script", "-q", "-e", "-c", std::string(CRVTDEC_EXE) + " " + command, "/dev/null"});
  };
  RunResult r = on_terminal("--compare " + path("a.avi") + " " + path("in.mov"));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "\rFrame 3 of 3 (100%)\r\033[K3 frames identical\r\n");

  Bytes avi = testsupport::read_file(path("a.avi"));
  avi[kFirstChunk + 8] = 0xFF;  // frame 0's type byte
  testsupport::write_file(dir_ / "x.avi", avi);
  r = on_terminal("--compare " + path("x.avi") + " " + path("in.mov"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "\r\033[Kcrvtdec: " + path("x.avi") + ": frame 0 does not decode: unknown frame type\r\n");
}

}  // namespace
