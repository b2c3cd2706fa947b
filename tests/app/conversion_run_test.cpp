// Whole conversions by the real program, checked against frames computed by
// the sample-movie library and read back with the AVI reader.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "codec/frame_decoder.h"
#include "mov/atom_builder.h"
#include "mov/movie_writer.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testsupport::run;
using testsupport::RunResult;

RunResult quelmux(const std::vector<std::string>& args) {
  std::vector<std::string> argv{QUELMUX_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv);
}

std::uint32_t u32(const Bytes& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

class ConversionRun : public testing::Test {
 protected:
  std::string movie(const movgen::MovieOptions& o, movgen::Content content = movgen::Content::shape) {
    const std::string path = (dir_ / "in.mov").string();
    std::string error;
    EXPECT_TRUE(movgen::write_movie(path, o, source(o, content), error)) << error;
    return path;
  }
  static movgen::FrameSource source(const movgen::MovieOptions& o, movgen::Content content) {
    return movgen::FrameSource(o.width, o.height, {content, 7});
  }
  std::string out() const { return (dir_ / "out.avi").string(); }

  // The output holds exactly `frames` frames of the movie, as bitmaps.
  void expect_bitmaps(const movgen::MovieOptions& o, movgen::Content content, std::uint32_t frames) {
    avi::AviReader reader;
    ASSERT_TRUE(reader.open(out())) << reader.error();
    EXPECT_EQ(reader.video().width, o.width);
    EXPECT_EQ(reader.video().height, o.height);
    EXPECT_EQ(reader.video().rate, o.time_scale);
    EXPECT_EQ(reader.video().scale, o.sample_duration);
    EXPECT_EQ(reader.video().handler, avi::fourcc("DIB "));
    ASSERT_EQ(reader.frames().size(), frames);
    const movgen::FrameSource src = source(o, content);
    for (std::uint32_t i = 0; i < frames; ++i) {
      Bytes frame(reader.frames()[i].size);
      ASSERT_TRUE(reader.read_frame(i, frame));
      EXPECT_EQ(frame, movgen::avi_frame(src, i)) << "frame " << i;
      EXPECT_EQ(reader.frames()[i].flags, 0x10u);
    }
  }

  testsupport::TempDir dir_;
};

TEST_F(ConversionRun, UncompressedFramesAreBottomUpBgrBitmaps) {
  struct Case {
    int width, height;
    std::uint32_t frames;
    movgen::DataFormat format;
    std::vector<movgen::ChunkRun> chunking;
  };
  const Case cases[] = {
      {2, 2, 3, movgen::DataFormat::raw, {{1, 1}}},
      {3, 5, 9, movgen::DataFormat::raw, {{1, 2}, {3, 1}}},
      {17, 3, 10, movgen::DataFormat::wrle, {{1, 4}}},
      {320, 240, 12, movgen::DataFormat::raw, {{1, 5}, {2, 2}, {4, 1}}},
      {1, 1, 1, movgen::DataFormat::wrle, {{1, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    movgen::MovieOptions o;
    o.width = c.width;
    o.height = c.height;
    o.frames = c.frames;
    o.format = c.format;
    o.chunking = c.chunking;
    o.time_scale = 2997;
    o.sample_duration = 100;
    const RunResult r = quelmux({"-u", movie(o), out()});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.out.ends_with(std::to_string(c.frames) + " frames indexed\nWriting " + out() +
                                ", this may take a while...\nFinished writing file " + out() + "\n"))
        << r.out;
    expect_bitmaps(o, movgen::Content::shape, c.frames);
  }
}

TEST_F(ConversionRun, BitmapMovieFramesAreWrittenAsTheyStand) {
  movgen::MovieOptions o;
  o.width = 13;
  o.height = 7;
  o.frames = 4;
  o.format = movgen::DataFormat::wrle;
  ASSERT_EQ(quelmux({"-u", movie(o, movgen::Content::noise), out()}).exit_code, 0);
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(out()));
  const movgen::FrameSource src = source(o, movgen::Content::noise);
  for (std::uint32_t i = 0; i < 4; ++i) {
    Bytes frame(reader.frames()[i].size);
    ASSERT_TRUE(reader.read_frame(i, frame));
    EXPECT_EQ(frame, movgen::stored_frame(src, movgen::DataFormat::wrle, i));
  }
}

TEST_F(ConversionRun, MovieWithoutFramesGivesAnEmptyFile) {
  movgen::MovieOptions o;
  o.frames = 0;
  const RunResult r = quelmux({"-u", movie(o), out()});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.ends_with("0 frames indexed\nWriting " + out() + ", this may take a while...\n"
                              "Finished writing file " + out() + "\n"));
  const Bytes avi = testsupport::read_file(out());
  ASSERT_EQ(avi.size(), 9216u);
  EXPECT_EQ(u32(avi, 0x2004), 4u);
}

TEST_F(ConversionRun, TruncatedMovieKeepsTheFramesBeforeTheMissingOne) {
  movgen::MovieOptions o;
  o.width = 8;
  o.height = 8;
  o.frames = 6;
  o.moov_last = false;
  const std::string in = movie(o);
  // Cut the file inside frame 4.
  const auto size = std::filesystem::file_size(in);
  std::filesystem::resize_file(in, size - 8 * 8 * 3 - 10);
  const RunResult r = quelmux({"-u", in, out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("Frame 4 could not be read\nFinished writing file " + out() + "\n")) << r.out;
  expect_bitmaps(o, movgen::Content::shape, 4);
}

TEST_F(ConversionRun, OutputFailuresExitWithOne) {
  movgen::MovieOptions o;
  o.width = 16;
  o.height = 16;
  o.frames = 3;
  const std::string in = movie(o);
  const std::string bad = (dir_ / "no" / "such" / "dir.avi").string();
  RunResult r = quelmux({"-u", in, bad});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("3 frames indexed\nUnable to open output file " + bad + "\n")) << r.out;

  // The movie itself, under its own name or another, is never overwritten.
  std::filesystem::create_hard_link(in, dir_ / "link.mov");
  for (const std::string& same : {in, (dir_ / "link.mov").string()}) {
    r = quelmux({in, same});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.out.ends_with("3 frames indexed\nOutput file " + same + " is the input movie\n")) << r.out;
  }
  EXPECT_EQ(testsupport::read_file(in).size(), std::filesystem::file_size(dir_ / "link.mov"));
  EXPECT_GT(std::filesystem::file_size(in), 16u * 16u * 3u * 3u);

  r = quelmux({"-u", in, "/dev/full"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Unable to write to output file /dev/full"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Finished"), std::string::npos) << r.out;
}

// Frames that no AVI file can hold are refused before the output is created.
// The movie only claims them: its one chunk holds 131073 frames of 3 MB, far
// past its end.
TEST_F(ConversionRun, UncompressedOutputPastTheLargestFileIsRefusedUpFront) {
  movgen::MovieOptions o;
  o.width = 1024;
  o.height = 1024;
  o.frames = 1;
  o.chunking = {{1, 1}};
  std::string in = movie(o, movgen::Content::solid);
  Bytes bytes = testsupport::read_file(in);
  const auto stsc = std::search(bytes.begin(), bytes.end(), "stsc", "stsc" + 4) - bytes.begin();
  bytes[static_cast<std::size_t>(stsc) + 17] = 0x02;  // samples per chunk 1 -> 0x020001
  testsupport::write_file(in, bytes);
  const RunResult r = quelmux({"-u", in, out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("131073 frames indexed\nOutput file " + out() +
                              " cannot hold 131073 frames of 3145728 bytes: an AVI file holds at most 256 "
                              "parts of 1073741824 bytes\n"))
      << r.out;
  EXPECT_FALSE(std::filesystem::exists(out()));
}

// Every chunk of a compressed file decodes to the movie's frame as a bitmap.
TEST_F(ConversionRun, CompressedFramesDecodeToTheBitmaps) {
  struct Case {
    int width, height;
    std::uint32_t frames;
    movgen::DataFormat format;
    movgen::Content content;
  };
  const Case cases[] = {
      {1, 1, 2, movgen::DataFormat::raw, movgen::Content::noise},
      {7, 1, 3, movgen::DataFormat::wrle, movgen::Content::gradient_h},
      {2, 4, 3, movgen::DataFormat::raw, movgen::Content::shape},
      {33, 17, 5, movgen::DataFormat::raw, movgen::Content::noise},
      {160, 120, 6, movgen::DataFormat::wrle, movgen::Content::screen},
      {321, 240, 4, movgen::DataFormat::raw, movgen::Content::shape},
      {64, 48, 3, movgen::DataFormat::raw, movgen::Content::solid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
    movgen::MovieOptions o;
    o.width = c.width;
    o.height = c.height;
    o.frames = c.frames;
    o.format = c.format;
    o.chunking = {{1, 2}};
    const RunResult r = quelmux({movie(o, c.content), out()});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.out.ends_with("Finished writing file " + out() + "\n"));

    avi::AviReader reader;
    ASSERT_TRUE(reader.open(out())) << reader.error();
    EXPECT_EQ(reader.video().handler, avi::fourcc("crvt"));
    EXPECT_EQ(reader.video().compression, avi::fourcc("CRVT"));
    ASSERT_EQ(reader.frames().size(), c.frames);
    FrameDecoder decoder;
    ASSERT_EQ(decoder.Begin(c.width, c.height, 24), DecodeStatus::Ok);
    const movgen::FrameSource src = source(o, c.content);
    for (std::uint32_t i = 0; i < c.frames; ++i) {
      Bytes chunk(reader.frames()[i].size);
      ASSERT_TRUE(reader.read_frame(i, chunk));
      EXPECT_EQ(reader.frames()[i].flags, 0x10u);
      ASSERT_EQ(decoder.Decode(chunk), DecodeStatus::Ok) << "frame " << i;
      const auto frame = decoder.frame();
      EXPECT_EQ(Bytes(frame.begin(), frame.end()), movgen::avi_frame(src, i)) << "frame " << i;
    }
  }
}

TEST_F(ConversionRun, OneColourFramesBecomeTwoByteChunks) {
  movgen::MovieOptions o;
  o.width = 10;
  o.height = 6;
  o.frames = 3;
  const std::string in = (dir_ / "grey.mov").string();
  std::string error;
  movgen::ContentOptions grey{movgen::Content::solid};
  grey.colour = {77, 77, 77};
  ASSERT_TRUE(movgen::write_movie(in, o, movgen::FrameSource(10, 6, grey), error)) << error;
  ASSERT_EQ(quelmux({in, out()}).exit_code, 0);
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(out()));
  ASSERT_EQ(reader.frames().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    Bytes chunk(reader.frames()[i].size);
    ASSERT_TRUE(reader.read_frame(i, chunk));
    EXPECT_EQ(chunk, (Bytes{5, 77}));
    EXPECT_EQ(reader.frames()[i].flags, 0x10u);
  }
}

// GStreamer reads the compressed file's structure: every chunk, with the
// length the index gives it (rounded up to 4 bytes).
TEST_F(ConversionRun, GstreamerReadsCompressedOutput) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  movgen::MovieOptions o;
  o.width = 48;
  o.height = 32;
  o.frames = 9;
  ASSERT_EQ(quelmux({movie(o, movgen::Content::shape), out()}).exit_code, 0);
  const auto pattern = dir_ / "c%02d.crvt";
  const RunResult r = run({"gst-launch-1.0", "-q", "filesrc", "location=" + out(), "!", "avidemux", "!",
                           "multifilesink", "location=" + pattern.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(out()));
  FrameDecoder decoder;
  ASSERT_EQ(decoder.Begin(48, 32, 24), DecodeStatus::Ok);
  for (std::size_t i = 0; i < 9; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "c%02zu.crvt", i);
    const Bytes handed_out = testsupport::read_file(dir_ / name);
    Bytes chunk(reader.frames()[i].size);
    ASSERT_TRUE(reader.read_frame(i, chunk));
    EXPECT_EQ(handed_out.size(), (chunk.size() + 3) / 4 * 4) << i;
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), handed_out.begin())) << i;
    EXPECT_EQ(decoder.Decode(handed_out), DecodeStatus::Ok) << i;
  }
}

// GStreamer's demuxer hands out every frame of -u files top row first; the
// movie itself comes from GStreamer's own muxer.
TEST_F(ConversionRun, GstreamerReadsUncompressedOutput) {
  if (!testsupport::need_program("gst-launch-1.0") || !testsupport::need_program("gst-discoverer-1.0")) {
    GTEST_SKIP();
  }
  const std::string in = (dir_ / "qt.mov").string();
  RunResult r = run({"gst-launch-1.0", "-q", "videotestsrc", "num-buffers=8", "pattern=smpte", "!",
                     "video/x-raw,format=RGB,width=64,height=48,framerate=25/1", "!", "qtmux", "faststart=true",
                     "!", "filesink", "location=" + in});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto movie_frames = dir_ / "m%02d.rgb";
  r = run({"gst-launch-1.0", "-q", "filesrc", "location=" + in, "!", "qtdemux", "!", "multifilesink",
           "location=" + movie_frames.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = quelmux({"-u", in, out()});
  ASSERT_EQ(r.exit_code, 0) << r.out;

  const auto avi_frames = dir_ / "a%02d.bgr";
  r = run({"gst-launch-1.0", "-q", "filesrc", "location=" + out(), "!", "avidemux", "!", "multifilesink",
           "location=" + avi_frames.string()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  for (int i = 0; i < 8; ++i) {
    char m[16], a[16];
    std::snprintf(m, sizeof m, "m%02d.rgb", i);
    std::snprintf(a, sizeof a, "a%02d.bgr", i);
    const Bytes rgb = testsupport::read_file(dir_ / m);
    const Bytes bgr = testsupport::read_file(dir_ / a);
    ASSERT_EQ(rgb.size(), 64u * 48u * 3u);
    ASSERT_EQ(bgr.size(), rgb.size()) << i;
    // Top-down either way: only red and blue trade places.
    for (std::size_t p = 0; p < rgb.size(); p += 3) {
      ASSERT_TRUE(bgr[p] == rgb[p + 2] && bgr[p + 1] == rgb[p + 1] && bgr[p + 2] == rgb[p])
          << "frame " << i << " byte " << p;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "a08.bgr"));

  r = run({"gst-discoverer-1.0", out()});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("Width: 64"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Height: 48"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Frame rate: 25/1"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Duration: 0:00:00.320"), std::string::npos) << r.out;
}

}  // namespace
