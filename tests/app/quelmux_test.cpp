// The quelmux program run as a whole on real files: the frames checked
// against those computed by the sample-movie library, read back with the AVI
// reader and the frame decoder, and by GStreamer; every failure's message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/conversion_run.h"
#include "avi/avi_reader.h"
#include "codec/frame_decoder.h"
#include "mov/movie_file.h"
#include "mov/movie_writer.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using movgen::Content;
using movgen::DataFormat;
using movgen::MovieOptions;
using testsupport::RunResult;

// Where the first occurrence of a four-character tag lies in `bytes`.
std::size_t offset_of(const Bytes& bytes, const char* tag) {
  const auto at = std::search(bytes.begin(), bytes.end(), tag, tag + 4);
  EXPECT_NE(at, bytes.end()) << tag;
  return static_cast<std::size_t>(at - bytes.begin());
}

// `bytes` with the big-endian 32-bit field at `at` set to `value`.
Bytes patched(Bytes bytes, std::size_t at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[at + k] = static_cast<std::uint8_t>(value >> (24 - 8 * k));
  return bytes;
}

class Quelmux : public testing::Test {
 protected:
  static movgen::FrameSource source(const MovieOptions& o, Content content) {
    return movgen::FrameSource(o.width, o.height, {content, 7});
  }
  std::string movie(const MovieOptions& o, Content content = Content::shape, const std::string& name = "in.mov") {
    const std::string path = (dir_ / name).string();
    std::string error;
    EXPECT_TRUE(movgen::write_movie(path, o, source(o, content), error)) << error;
    return path;
  }
  std::string file(const Bytes& bytes) {
    const auto path = dir_ / ("file" + std::to_string(files_++) + ".mov");
    testsupport::write_file(path, bytes);
    return path.string();
  }
  std::string out() const { return (dir_ / "out.avi").string(); }
  static RunResult quelmux(std::vector<std::string> args) {
    args.insert(args.begin(), QUELMUX_EXE);
    return testsupport::run(args);
  }

  // The output holds exactly `frames` frames of the movie: bottom-up BGR
  // bitmaps with rows filled to 4 bytes, or Corvath frames that decode to them.
  void expect_frames(const MovieOptions& o, Content content, std::uint32_t frames, bool compressed) {
    avi::AviReader reader;
    ASSERT_EQ(reader.open(out()).message, "");
    EXPECT_EQ(reader.video().width, o.width);
    EXPECT_EQ(reader.video().height, o.height);
    EXPECT_EQ(reader.video().rate, o.time_scale);
    EXPECT_EQ(reader.video().scale, o.sample_duration);
    EXPECT_EQ(reader.video().handler, avi::fourcc(compressed ? "crvt" : "DIB "));
    const std::size_t row = compressed ? 3 * o.width : (3 * static_cast<std::size_t>(o.width) + 3) & ~std::size_t{3};
    EXPECT_EQ(reader.video().compression, compressed ? avi::fourcc("CRVT") : avi::FourCC{});
    EXPECT_EQ(reader.video().size_image, compressed ? reader.video().size_image : row * o.height);
    ASSERT_EQ(reader.frames().size(), frames);
    FrameDecoder decoder;
    ASSERT_EQ(decoder.Begin(o.width, o.height, 24), ICERR_OK);
    const movgen::FrameSource src = source(o, content);
    for (std::uint32_t i = 0; i < frames; ++i) {
      Bytes frame(reader.frames()[i].size);
      ASSERT_TRUE(reader.read_frame(i, frame));
      EXPECT_EQ(reader.frames()[i].flags, 0x10u);
      if (compressed) {
        ASSERT_EQ(decoder.Decode(frame), ICERR_OK) << "frame " << i;
        frame.assign(decoder.frame().begin(), decoder.frame().end());
      }
      EXPECT_EQ(frame, testsupport::avi_frame(src, i, row)) << "frame " << i;
    }
  }

  testsupport::TempDir dir_;
  int files_ = 0;
};

// Each movie converted both ways. A movie with padded rows, 64-bit chunk
// offsets or its header last converts into the very files of its plain twin.
TEST_F(Quelmux, FramesComeOutAsBitmapsOrDecodeToThem) {
  const struct {
    MovieOptions o;
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
      {{.width = 33, .height = 17, .frames = 5, .chunking = {{1, 2}}}, Content::noise},
      {{.width = 160, .height = 120, .frames = 6, .format = DataFormat::wrle}, Content::screen},
      {{.width = 321, .height = 240, .frames = 4, .chunking = {{1, 2}}}, Content::shape},
      {{.width = 64, .height = 48, .frames = 3}, Content::solid},
      {{.width = 3, .height = 5, .frames = 5, .chunking = {{1, 2}}, .row_align = 2}, Content::noise},
      {{.width = 5, .height = 3, .frames = 5, .chunking = {{1, 3}}, .row_align = 4, .co64 = true}, Content::noise},
      {{.width = 33, .height = 9, .frames = 4, .format = DataFormat::wrle, .moov_last = true, .row_align = 4},
       Content::noise},
      {{.width = 4, .height = 2, .frames = 2, .format = DataFormat::wrle, .row_align = 4}, Content::noise},
  };
  for (auto [o, content] : cases) {
    SCOPED_TRACE(testing::Message() << o.width << " x " << o.height);
    o.time_scale = 2997;
    o.sample_duration = 100;
    const std::string in = movie(o, content);
    for (const bool compressed : {false, true}) {
      const std::vector<std::string> args =
          compressed ? std::vector<std::string>{in, out()} : std::vector<std::string>{"-u", in, out()};
      const RunResult r = quelmux(args);
      EXPECT_EQ(r.exit_code, 0) << r.out;
      EXPECT_TRUE(r.out.ends_with(std::to_string(o.frames) + " frames indexed\nWriting " + out() +
                                  ", this may take a while...\nFinished writing file " + out() + "\n"))
          << r.out;
      expect_frames(o, content, o.frames, compressed);
      if (o.row_align == 1 && !o.co64 && !o.moov_last) continue;
      const Bytes converted = testsupport::read_file(out());
      MovieOptions plain = o;
      plain.row_align = 1, plain.co64 = false, plain.moov_last = false;
      std::vector<std::string> twin = args;
      twin[twin.size() - 2] = movie(plain, content, "plain.mov");
      ASSERT_EQ(quelmux(twin).exit_code, 0);
      EXPECT_TRUE(testsupport::read_file(out()) == converted);
    }
  }
}

// All that quelmux prints, and the frames of one colour as two-byte chunks.
TEST_F(Quelmux, PrintedLinesAndOneColourFrames) {
  const MovieOptions o{.width = 10, .height = 6, .frames = 3, .chunking = {{1, 2}, {3, 1}}};
  std::string error;
  movgen::ContentOptions grey{Content::solid};
  grey.colour = {77, 77, 77};
  ASSERT_TRUE(movgen::write_movie((dir_ / "in.mov").string(), o, movgen::FrameSource(10, 6, grey), error)) << error;
  const RunResult r = quelmux({(dir_ / "in.mov").string(), out()});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "Movie header found\nTrack header found\nWidth = 10\nHeight = 6\nMedia header found\n"
            "Sample description found, number of entries = 1\nData format = \"raw \"\n"
            "Sample to time table found\nFrame rate = 30.000000\nSample to chunk table found\n"
            "Number of entries = 2\nSample offset table found\nNumber of entries = 2\n3 frames indexed\nWriting " +
                out() + ", this may take a while...\nFinished writing file " + out() + "\n");
  EXPECT_EQ(r.err, "");
  avi::AviReader reader;
  ASSERT_TRUE(reader.open(out()));
  ASSERT_EQ(reader.frames().size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    Bytes chunk(reader.frames()[i].size);
    ASSERT_TRUE(reader.read_frame(i, chunk));
    EXPECT_EQ(chunk, (Bytes{5, 77}));
  }
}

// 3 MB frames put the movie atom of a header-last movie past the first
// window. Such movies, with 32- or 64-bit chunk offsets, convert into the
// very files of their twin with the header in front, printed lines included.
TEST_F(Quelmux, HeaderAfterTheMediaDataConvertsLikeItsTwin) {
  MovieOptions o{.width = 1024, .height = 1024, .frames = 4, .chunking = {{1, 3}}};
  const std::string front = movie(o, Content::shape, "front.mov");
  o.moov_last = true;
  const std::string last = movie(o, Content::shape, "last.mov");
  o.co64 = true;
  const std::string last64 = movie(o, Content::shape, "last64.mov");
  for (const bool u : {true, false}) {
    const auto convert = [&](const std::string& in) { return u ? quelmux({"-u", in, out()}) : quelmux({in, out()}); };
    const RunResult expected = convert(front);
    ASSERT_EQ(expected.exit_code, 0) << expected.out;
    const Bytes expected_file = testsupport::read_file(out());
    for (const std::string& in : {last, last64}) {
      EXPECT_EQ(convert(in).out, expected.out) << in;
      EXPECT_TRUE(testsupport::read_file(out()) == expected_file) << in;
    }
  }
  // Top-level atoms that lie leave the header unfound, as before; a movie
  // atom without a movie header gets a hint to remux.
  const Bytes bytes = testsupport::read_file(last);
  const auto mdat = [&](std::uint32_t size, std::uint64_t large) {
    return file(patched(patched(patched(bytes, 20, size), 28, large >> 32), 32, static_cast<std::uint32_t>(large)));
  };
  Bytes no_mvhd = bytes;
  std::memcpy(&no_mvhd[offset_of(bytes, "mvhd")], "xxxx", 4);
  const std::string unfound = "Unable to find tag \"mvhd\"\n";
  const std::pair<std::string, std::string> cases[] = {
      {mdat(0x7FFFFFF0, 0), unfound},
      {mdat(0, 0), unfound},
      {mdat(4, 0), unfound},
      {mdat(1, 0xFFFFFFFFFFFFFFF0ull), unfound},
      {mdat(1, 8), unfound},
      {file(no_mvhd), unfound + "The movie atom at byte " + std::to_string(offset_of(bytes, "moov") - 4) +
                          " holds no movie header that can be read; remux the movie first: gst-launch-1.0 filesrc "
                          "location=in.mov ! qtdemux ! qtmux faststart=true ! filesink location=out.mov\n"},
  };
  for (const auto& [in, message] : cases) {
    const RunResult r = quelmux({in, out()});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, message);
  }
}

// Each failure: exit status 1 and the end of what is printed; a few hundred
// bytes of header that claim far more than the file holds cost only what the
// file holds.
TEST_F(Quelmux, FailuresExitWithOne) {
  const std::string bitmaps = movie({.width = 2, .height = 2, .frames = 1});
  const Bytes small = testsupport::read_file(bitmaps);
  const std::size_t tkhd = offset_of(small, "tkhd"), stsc = offset_of(small, "stsc");
  const auto sized = [&](std::uint32_t w, std::uint32_t h) {
    return patched(patched(small, tkhd + 80, w << 16), tkhd + 84, h << 16);
  };
  Bytes cut = testsupport::read_file(
      movie({.width = 2, .height = 2, .frames = 300, .moov_last = true}, Content::shape, "cut.mov"));
  cut.resize(offset_of(cut, "stco") + 12 + 600);
  Bytes jpeg = small, no_stco = small;
  std::memcpy(&jpeg[offset_of(small, "raw ")], "jpeg", 4);
  std::memcpy(&no_stco[offset_of(small, "stco")], "xxxx", 4);
  // 131073 claimed frames of 3 MB: more than any AVI file holds.
  Bytes too_many = testsupport::read_file(movie({.width = 1024, .height = 1024, .frames = 1}, Content::solid, "big"));
  too_many[offset_of(too_many, "stsc") + 17] = 0x02;

  const std::string finished = "Finished writing file " + out() + "\n";
  const struct {
    std::vector<std::string> args;
    std::string ending;
  } cases[] = {
      {{(dir_ / "missing.mov").string(), out()}, "Unable to open the input file.\n"},
      {{dir_.path().string(), out()}, "Unable to read the input file.\n"},
      {{file(Bytes{}), out()}, "Unable to find tag \"mvhd\"\n"},  // searched like any file: the window is all zeros
      {{file(no_stco), out()}, "Number of entries = 1\nUnable to find tag \"stco\"\n"},
      {{file(jpeg), out()},
       "Data format = \"jpeg\"\nUnsupported data format, please select \"BMP\" or \"none\" as the video compression "
       "when saving a .mov file\n"},
      {{file(patched(small, offset_of(small, "stco") + 8, 0x10000002)), out()},
       "Number of entries = 268435458\nSample table runs past the header window\n"},
      {{"-u", file(patched(small, stsc + 16, 1u << 28)), out()}, "Frame 1 could not be read\n" + finished},
      {{file(patched(small, stsc + 16, 0x7FFFFFFF)), out()}, "Frame 1 could not be read\n" + finished},
      {{file(sized(26754, 26754)), out()}, "Frame 0 could not be read\n" + finished},
      {{"-u", file(sized(18800, 18800)), out()}, "Frame 0 could not be read\n" + finished},
      {{file(patched(sized(0, 2), stsc + 16, 100'000'000)), out()}, "Frames of 0 x 2 pixels hold no picture\n"},
      {{"-u", file(cut), out()}, "Number of entries = 300\nSample table runs past the header window\n"},
      {{"-u", file(too_many), out()},
       "131073 frames indexed\nOutput file " + out() +
           " cannot hold 131073 frames of 3145728 bytes: an AVI file holds at most 256 parts of 1073741824 bytes\n"},
      {{"-u", bitmaps, (dir_ / "no" / "dir.avi").string()},
       "1 frames indexed\nUnable to open output file " + (dir_ / "no" / "dir.avi").string() + "\n"},
      {{bitmaps, bitmaps}, "1 frames indexed\nOutput file " + bitmaps + " is the input movie\n"},
      {{bitmaps, (dir_ / "link.mov").string()},
       "1 frames indexed\nOutput file " + (dir_ / "link.mov").string() + " is the input movie\n"},
  };
  std::filesystem::create_hard_link(bitmaps, dir_ / "link.mov");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ending);
    std::filesystem::remove(out());
    const RunResult r = quelmux(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.out.ends_with(c.ending)) << r.out;
    EXPECT_LT(r.max_rss_kb, 64 * 1024);
    EXPECT_FALSE(c.ending.find("cannot hold") != std::string::npos && std::filesystem::exists(out()));
  }
  EXPECT_EQ(testsupport::read_file(bitmaps), small);  // the movie is never overwritten

  RunResult r = quelmux({"-u", bitmaps, "/dev/full"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Unable to write to output file /dev/full"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Finished"), std::string::npos) << r.out;

  // Cut inside frame 4: the frames before it are kept.
  const MovieOptions o{.width = 8, .height = 8, .frames = 6};
  const std::string in = movie(o);
  std::filesystem::resize_file(in, std::filesystem::file_size(in) - 8 * 8 * 3 - 10);
  r = quelmux({"-u", in, out()});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(r.out.ends_with("Frame 4 could not be read\n" + finished)) << r.out;
  expect_frames(o, Content::shape, 4, false);
}

TEST_F(Quelmux, UsageHelpAndVersion) {
  const std::string usage = "Usage: quelmux [-u] <.mov file> <output filename>\n";
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"-u", "a.mov"}, {"-x", "a.mov", "b"}}) {
    const RunResult r = quelmux(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(r.out.starts_with(args.size() == 3 ? "Unknown option" : usage)) << r.out;
  }
  RunResult r = quelmux({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.starts_with("Usage: quelmux [-j N] [-u] <.mov file> <output filename>\n") &&
              r.out.ends_with("the signal number after such a stop.\n"))
      << r.out;
  r = quelmux({"--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.out.starts_with("quelmux 0.") && r.out.ends_with("\n")) << r.out;
  // On a terminal the progress line goes before the closing line comes.
  if (!testsupport::need_program("script")) GTEST_SKIP();
  const std::string in = movie({.width = 8, .height = 8, .frames = 3});
  r = testsupport::run({"script", "-qec", std::string(QUELMUX_EXE) + " " + in + " " + out(), "/dev/null"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("\rFrame 3 of 3 (100%)\r\033[KFinished writing file"), std::string::npos) << r.out;
}

// GStreamer's demuxer hands out the compressed file's chunks one per frame,

// Every thread count writes the very file and lines of one thread: sizes up
// to 4K, movies of 0, 1, 2 and many frames, one cut inside frame 25, and one
// in parts of 64 KiB (converted in this process, where the part size can be
// lowered).
TEST_F(Quelmux, EveryThreadCountWritesWhatOneThreadWrites) {
  const struct {
    MovieOptions o;
    std::uintmax_t cut = 0;  // bytes cut off the end of the movie
    std::uint64_t part_limit = 0;
  } cases[] = {
      {{.width = 1, .height = 1, .frames = 0}},
      {{.width = 1, .height = 1, .frames = 1}},
      {{.width = 33, .height = 17, .frames = 2, .format = DataFormat::wrle, .row_align = 4}},
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

// in the lengths "idx1" gives them: the chunk and its fill to 4 bytes.
TEST_F(Quelmux, GstreamerReadsCompressedOutput) {
  if (!testsupport::need_program("gst-launch-1.0")) GTEST_SKIP();
  ASSERT_EQ(quelmux({movie({.width = 67, .height = 45, .frames = 12}), out()}).exit_code, 0);
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
