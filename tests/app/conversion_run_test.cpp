// Whole conversions by the real program, checked against frames computed by
// the sample-movie library and read back with the AVI reader.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/conversion_run.h"
#include "avi/avi_reader.h"
#include "codec/frame_decoder.h"
#include "mov/atom_builder.h"
#include "mov/movie_file.h"
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

  // The output holds exactly `frames` frames of the movie, as bitmaps with
  // rows filled to 4 bytes.
  void expect_bitmaps(const movgen::MovieOptions& o, movgen::Content content, std::uint32_t frames) {
    avi::AviReader reader;
    ASSERT_EQ(reader.open(out()).message, "");
    EXPECT_EQ(reader.video().width, o.width);
    EXPECT_EQ(reader.video().height, o.height);
    EXPECT_EQ(reader.video().rate, o.time_scale);
    EXPECT_EQ(reader.video().scale, o.sample_duration);
    EXPECT_EQ(reader.video().handler, avi::fourcc("DIB "));
    const std::size_t row = (3 * static_cast<std::size_t>(o.width) + 3) & ~std::size_t{3};
    EXPECT_EQ(reader.video().size_image, row * static_cast<std::size_t>(o.height));
    ASSERT_EQ(reader.frames().size(), frames);
    const movgen::FrameSource src = source(o, content);
    for (std::uint32_t i = 0; i < frames; ++i) {
      Bytes frame(reader.frames()[i].size);
      ASSERT_TRUE(reader.read_frame(i, frame));
      EXPECT_EQ(frame, testsupport::avi_frame(src, i, row)) << "frame " << i;
      EXPECT_EQ(reader.frames()[i].flags, 0x10u);
    }
  }

  testsupport::TempDir dir_;
};

// Each movie converted both ways: the -u file holds its frames as bottom-up
// BGR bitmaps, and every chunk of the compressed one decodes to them. A movie
// with padded rows, 64-bit chunk offsets or its header last converts into
// the very files of its plain twin.
TEST_F(ConversionRun, FramesComeOutAsBitmapsOrDecodeToThem) {
  using movgen::Content;
  using movgen::DataFormat;
  const struct {
    movgen::MovieOptions o;
    Content content;
  } cases[] = {
      {{.width = 2, .height = 2, .frames = 3}, Content::shape},
      {{.width = 3, .height = 5, .frames = 9, .chunking = {{1, 2}, {3, 1}}}, Content::shape},
      {{.width = 17, .height = 3, .frames = 10, .format = DataFormat::wrle, .chunking = {{1, 4}}}, Content::shape},
      {{.width = 320, .height = 240, .frames = 12, .chunking = {{1, 5}, {2, 2}, {4, 1}}}, Content::shape},
      {{.width = 1, .height = 1, .frames = 1, .format = DataFormat::wrle}, Content::shape},
      {{.width = 8, .height = 8, .frames = 0}, Content::shape},
      {{.width = 1, .height = 1, .frames = 2, .chunking = {{1, 2}}}, Content::noise},
      {{.width = 7, .height = 1, .frames = 3, .format = DataFormat::wrle, .chunking = {{1, 2}}}, Content::gradient_h},
      {{.width = 2, .height = 4, .frames = 3, .chunking = {{1, 2}}}, Content::shape},
      {{.width = 33, .height = 17, .frames = 5, .chunking = {{1, 2}}}, Content::noise},
      {{.width = 160, .height = 120, .frames = 6, .format = DataFormat::wrle}, Content::screen},
      {{.width = 321, .height = 240, .frames = 4, .chunking = {{1, 2}}}, Content::shape},
      {{.width = 64, .height = 48, .frames = 3}, Content::solid},
      {{.width = 3, .height = 5, .frames = 5, .chunking = {{1, 2}}, .row_align = 2}, Content::noise},
      {{.width = 5, .height = 3, .frames = 5, .chunking = {{1, 3}}, .row_align = 4, .co64 = true}, Content::noise},
      {{.width = 7, .height = 4, .frames = 4, .format = DataFormat::wrle, .chunking = {{1, 2}}, .row_align = 2},
       Content::noise},
      {{.width = 33,
        .height = 9,
        .frames = 4,
        .format = DataFormat::wrle,
        .chunking = {{1, 3}},
        .moov_last = true,
        .row_align = 4},
       Content::noise},
      {{.width = 4, .height = 2, .frames = 2, .format = DataFormat::wrle, .row_align = 4}, Content::noise},
  };
  for (auto [o, content] : cases) {
    SCOPED_TRACE(testing::Message() << o.width << " x " << o.height);
    o.time_scale = 2997;
    o.sample_duration = 100;
    const std::string in = movie(o, content);
    RunResult r = quelmux({"-u", in, out()});
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.out.ends_with(std::to_string(o.frames) + " frames indexed\nWriting " + out() +
                                ", this may take a while...\nFinished writing file " + out() + "\n"))
        << r.out;
    expect_bitmaps(o, content, o.frames);
    const movgen::MovieOptions plain{.width = o.width,
                                     .height = o.height,
                                     .frames = o.frames,
                                     .format = o.format,
                                     .chunking = o.chunking,
                                     .time_scale = o.time_scale,
                                     .sample_duration = o.sample_duration};
    if (o.row_align != 1 || o.co64 || o.moov_last) {
      const Bytes converted = testsupport::read_file(out());
      ASSERT_EQ(quelmux({"-u", movie(plain, content), out()}).exit_code, 0);
      EXPECT_TRUE(testsupport::read_file(out()) == converted);
      ASSERT_EQ(quelmux({movie(plain, content), out()}).exit_code, 0);
      const Bytes twin = testsupport::read_file(out());
      ASSERT_EQ(quelmux({movie(o, content), out()}).exit_code, 0);
      EXPECT_TRUE(testsupport::read_file(out()) == twin);
    }

    r = quelmux({in, out()});
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_TRUE(r.out.ends_with("Finished writing file " + out() + "\n"));
    avi::AviReader reader;
    ASSERT_EQ(reader.open(out()).message, "");
    EXPECT_EQ(reader.video().handler, avi::fourcc("crvt"));
    EXPECT_EQ(reader.video().compression, avi::fourcc("CRVT"));
    ASSERT_EQ(reader.frames().size(), o.frames);
    FrameDecoder decoder;
    ASSERT_EQ(decoder.Begin(o.width, o.height, 24), ICERR_OK);
    const movgen::FrameSource src = source(o, content);
    for (std::uint32_t i = 0; i < o.frames; ++i) {
      Bytes chunk(reader.frames()[i].size);
      ASSERT_TRUE(reader.read_frame(i, chunk));
      EXPECT_EQ(reader.frames()[i].flags, 0x10u);
      ASSERT_EQ(decoder.Decode(chunk), ICERR_OK) << "frame " << i;
      const auto frame = decoder.frame();
      EXPECT_EQ(Bytes(frame.begin(), frame.end()), testsupport::avi_frame(src, i)) << "frame " << i;
    }
  }
}

TEST_F(ConversionRun, TruncatedMovieKeepsTheFramesBeforeTheMissingOne) {
  movgen::MovieOptions o{.width = 8, .height = 8, .frames = 6, .moov_last = false};
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
  movgen::MovieOptions o{.width = 16, .height = 16, .frames = 3};
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
  movgen::MovieOptions o{.width = 1024, .height = 1024, .frames = 1, .chunking = {{1, 1}}};
  std::string in = movie(o, movgen::Content::solid);
  Bytes bytes = testsupport::read_file(in);
  const std::string_view tag = "stsc";
  const auto stsc = std::search(bytes.begin(), bytes.end(), tag.begin(), tag.end()) - bytes.begin();
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

TEST_F(ConversionRun, OneColourFramesBecomeTwoByteChunks) {
  movgen::MovieOptions o{.width = 10, .height = 6, .frames = 3};
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

// Every thread count writes the very file and lines of one thread: sizes up
// to 4K, movies of 0, 1, 2 and many frames, one cut inside frame 25, and one
// in parts of 64 KiB (converted in this process, where the part size can be
// lowered).
TEST_F(ConversionRun, EveryThreadCountWritesWhatOneThreadWrites) {
  const struct {
    movgen::MovieOptions o;
    std::uintmax_t cut = 0;  // bytes cut off the end of the movie
    std::uint64_t part_limit = 0;
  } cases[] = {
      {{.width = 1, .height = 1, .frames = 0}},
      {{.width = 1, .height = 1, .frames = 1}},
      {{.width = 33, .height = 17, .frames = 2, .format = movgen::DataFormat::wrle, .row_align = 4}},
      {{.width = 64, .height = 48, .frames = 40}, 64 * 48 * 3 * 15 - 10},
      {{.width = 96, .height = 64, .frames = 30}, 0, 65536},
      {{.width = 3840, .height = 2160, .frames = 2}},
  };
  for (const auto& c : cases) {
    const std::string in = movie(c.o);
    if (c.cut != 0) std::filesystem::resize_file(in, std::filesystem::file_size(in) - c.cut);
    for (const bool uncompressed : {false, true}) {
      RunResult first;
      Bytes first_bytes;
      for (const int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(testing::Message() << c.o.width << "x" << c.o.height << " -u " << uncompressed << " -j "
                                        << threads);
        RunResult r;
        if (c.part_limit == 0) {
          std::vector<std::string> args{"-j", std::to_string(threads), in, out()};
          if (uncompressed) args.insert(args.begin() + 2, "-u");
          r = quelmux(args);
        } else {
          MovieFile movie = open_movie_file(in, [](std::string_view) {});
          const std::string output = out();
          const CommandLine line{uncompressed, threads, in.c_str(), output.c_str()};
          testing::internal::CaptureStdout();
          r.exit_code = run_conversion(line, movie.header, movie.stream, c.part_limit);
          r.out = testing::internal::GetCapturedStdout();
        }
        if (threads == 1) {
          first = r;
          first_bytes = testsupport::read_file(out());
          continue;
        }
        EXPECT_EQ(r.exit_code, first.exit_code);
        EXPECT_EQ(r.out, first.out);
        EXPECT_TRUE(testsupport::read_file(out()) == first_bytes);
      }
      EXPECT_EQ(first.exit_code, c.cut == 0 ? 0 : 1) << first.out;
      EXPECT_EQ(first.out.find("Frame 25 could not be read\n") != std::string::npos, c.cut != 0) << first.out;
    }
    if (c.part_limit != 0) {
      avi::AviReader reader;
      ASSERT_EQ(reader.open(out()).message, "");
      EXPECT_GT(reader.parts(), 3u);
    }
  }
}

// GStreamer's demuxer hands out the compressed file's chunks one per frame,
// in the lengths "idx1" gives them: the chunk and its fill to 4 bytes.
TEST_F(ConversionRun, GstreamerReadsCompressedOutput) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  const movgen::MovieOptions o{.width = 67, .height = 45, .frames = 12};
  ASSERT_EQ(quelmux({movie(o), out()}).exit_code, 0);
  const std::vector<Bytes> buffers = testsupport::demux(out(), "avidemux");
  avi::AviReader reader;
  ASSERT_EQ(reader.open(out()).message, "");
  ASSERT_EQ(reader.frames().size(), 12u);
  ASSERT_EQ(buffers.size(), 12u);
  for (std::uint32_t i = 0; i < 12; ++i) {
    Bytes chunk(reader.frames()[i].size);
    ASSERT_TRUE(reader.read_frame(i, chunk));
    chunk.resize((chunk.size() + 3) / 4 * 4, 0);
    EXPECT_EQ(buffers[i], chunk) << "frame " << i;
  }
}

}  // namespace
