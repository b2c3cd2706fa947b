// The quelmux program run as a whole on real files: the frames checked
// against those computed by the sample-movie library, read back with the AVI
// reader and the frame decoder; what it prints; every kind of failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
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
  std::string movie(const MovieOptions& o, Content content = Content::shape, const std::string& name = "in.mov",
                    movgen::ContentOptions c = {}) {
    c.content = content, c.seed = 7;
    std::string error;
    EXPECT_TRUE(movgen::write_movie((dir_ / name).string(), o, movgen::FrameSource(o.width, o.height, c), error));
    return (dir_ / name).string();
  }
  std::string file(const Bytes& bytes) {
    testsupport::write_file(dir_ / ("file" + std::to_string(files_) + ".mov"), bytes);
    return (dir_ / ("file" + std::to_string(files_++) + ".mov")).string();
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
    const avi::VideoStream& v = reader.video();
    const std::size_t row = compressed ? 3 * o.width : (3 * static_cast<std::size_t>(o.width) + 3) & ~std::size_t{3};
    EXPECT_TRUE(v.width == o.width && v.height == o.height && v.rate == o.time_scale && v.scale == o.sample_duration);
    EXPECT_EQ(v.handler, avi::fourcc(compressed ? "crvt" : "DIB "));
    EXPECT_EQ(v.compression, compressed ? avi::fourcc("CRVT") : avi::FourCC{});
    EXPECT_EQ(v.size_image, compressed ? v.size_image : row * o.height);
    ASSERT_EQ(reader.frames().size(), frames);
    FrameDecoder decoder;
    ASSERT_EQ(decoder.Begin(o.width, o.height, 24), ICERR_OK);
    const movgen::FrameSource src(o.width, o.height, {content, 7});
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

// Each movie converted both ways, on 1, 2, 3 and 8 threads: the same file
// and lines on each. A movie with padded rows, 64-bit chunk offsets or its
// header last (past the first window with 3 MB frames) converts into the
// very file of its plain twin. A movie cut inside a frame keeps the frames
// before it; one is converted in parts of 64 KiB (in this process, where
// the part size can be lowered).
TEST_F(Quelmux, FramesComeOutAsBitmapsOrDecodeToThemOnEveryThreadCount) {
  const struct {
    MovieOptions o;
    Content content;
    std::uint32_t kept = 0;  // frames before the one the cut reaches into
    std::uint64_t part_limit = 0;
  } cases[] = {
      {{.width = 1, .height = 1, .frames = 0}, Content::shape},
      {{.width = 17, .height = 3, .frames = 10, .format = DataFormat::wrle, .chunking = {{1, 4}}}, Content::shape},
      {{.width = 320, .height = 240, .frames = 12, .chunking = {{1, 5}, {2, 2}, {4, 1}}}, Content::shape},
      {{.width = 1, .height = 1, .frames = 2, .chunking = {{1, 2}}}, Content::noise},
      {{.width = 7, .height = 1, .frames = 3, .format = DataFormat::wrle, .chunking = {{1, 2}}}, Content::gradient_h},
      {{.width = 160, .height = 120, .frames = 6, .format = DataFormat::wrle}, Content::screen},
      {{.width = 3, .height = 5, .frames = 5, .chunking = {{1, 2}}, .row_align = 2}, Content::noise},
      {{.width = 5, .height = 3, .frames = 5, .chunking = {{1, 3}}, .row_align = 4, .co64 = true}, Content::noise},
      {{.width = 33, .height = 9, .frames = 4, .format = DataFormat::wrle, .moov_last = true, .row_align = 4},
       Content::noise},
      {{.width = 1024, .height = 1024, .frames = 4, .chunking = {{1, 3}}, .moov_last = true, .co64 = true},
       Content::shape},
      {{.width = 3840, .height = 2160, .frames = 2}, Content::shape},
      {{.width = 64, .height = 48, .frames = 40}, Content::shape, 25},
      {{.width = 96, .height = 64, .frames = 30}, Content::noise, 0, 65536},
  };
  for (auto [o, content, kept, part_limit] : cases) {
    SCOPED_TRACE(testing::Message() << o.width << " x " << o.height);
    o.time_scale = 2997;
    o.sample_duration = 100;
    const std::string in = movie(o, content);
    if (kept != 0) std::filesystem::resize_file(in, std::filesystem::file_size(in) - 3 * 64 * 48 * 15 - 10);
    for (const bool compressed : {false, true}) {
      std::vector<std::string> args{"-u", in, out()};
      if (compressed) args.erase(args.begin());
      RunResult first;
      Bytes converted;
      for (const int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(testing::Message() << "-u " << !compressed << " -j " << threads);
        RunResult r;
        if (part_limit == 0) {
          std::vector<std::string> with = args;
          with.insert(with.begin(), {"-j", std::to_string(threads)});
          r = quelmux(with);
        } else {
          MovieFile movie = open_movie_file(in, [](std::string_view) {});
          const std::string output = out();
          testing::internal::CaptureStdout();
          r.exit_code = run_conversion({!compressed, threads, in.c_str(), output.c_str()}, movie.header, movie.stream,
                                       part_limit);
          r.out = testing::internal::GetCapturedStdout();
        }
        if (threads == 1) {
          first = r;
          converted = testsupport::read_file(out());
          continue;
        }
        EXPECT_EQ(r.exit_code, first.exit_code);
        EXPECT_EQ(r.out, first.out);
        EXPECT_TRUE(testsupport::read_file(out()) == converted);
      }
      EXPECT_EQ(first.exit_code, kept != 0 ? 1 : 0) << first.out;
      const std::string indexed = part_limit != 0 ? "" : std::to_string(o.frames) + " frames indexed\n";
      EXPECT_TRUE(first.out.ends_with(
          (kept != 0 ? "Frame 25 could not be read\n" : indexed + "Writing " + out() + ", this may take a while...\n") +
          "Finished writing file " + out() + "\n"))
          << first.out;
      EXPECT_EQ(first.err, "");
      expect_frames(o, content, kept != 0 ? kept : o.frames, compressed);
      avi::AviReader reader;
      ASSERT_TRUE(reader.open(out()));
      EXPECT_EQ(reader.parts() > 3u, part_limit != 0);
      if (o.row_align == 1 && !o.co64 && !o.moov_last) continue;
      MovieOptions plain = o;
      plain.row_align = 1, plain.co64 = false, plain.moov_last = false;
      args[args.size() - 2] = movie(plain, content, "plain.mov");
      const RunResult twin = quelmux(args);
      EXPECT_TRUE(o.row_align != 1 || twin.out == first.out) << twin.out;
      EXPECT_TRUE(testsupport::read_file(out()) == converted);
    }
  }
}

// Each failure: exit status 1 and the end of what is printed (all of it
// where `whole`); a few hundred bytes of header that claim far more than the
// file holds cost only what the file holds.
TEST_F(Quelmux, FailuresExitWithOne) {
  const std::string bitmaps = movie({.width = 2, .height = 2, .frames = 1});
  const Bytes small = testsupport::read_file(bitmaps);
  const std::size_t tkhd = offset_of(small, "tkhd"), stsc = offset_of(small, "stsc");
  const auto sized = [&](std::uint32_t w, std::uint32_t h) {
    return patched(patched(small, tkhd + 80, w << 16), tkhd + 84, h << 16);
  };
  // 131073 claimed frames of 3 MB: more than any AVI file holds.
  Bytes too_many = testsupport::read_file(movie({.width = 1024, .height = 1024, .frames = 1}, Content::solid, "big"));
  too_many[offset_of(too_many, "stsc") + 17] = 0x02;
  // Top-level atoms of a header-last movie that lie leave its header
  // unfound; a movie atom without a movie header gets a hint to remux.
  const Bytes last = testsupport::read_file(
      movie({.width = 1024, .height = 1024, .frames = 4, .chunking = {{1, 3}}, .moov_last = true}, Content::solid,
            "last.mov"));
  const auto mdat = [&](std::uint32_t size, std::uint64_t large) {
    return file(patched(patched(patched(last, 20, size), 28, large >> 32), 32, static_cast<std::uint32_t>(large)));
  };
  Bytes no_mvhd = last;
  std::memcpy(&no_mvhd[offset_of(last, "mvhd")], "xxxx", 4);
  const std::string finished = "Finished writing file " + out() + "\n", unfound = "Unable to find tag \"mvhd\"\n";
  const struct {
    std::vector<std::string> args;
    std::string ending;
    bool whole = false;
  } cases[] = {
      {{(dir_ / "missing.mov").string(), out()}, "Unable to open the input file.\n", true},
      {{dir_.path().string(), out()}, "Unable to read the input file.\n", true},
      {{file(Bytes{}), out()}, unfound, true},  // searched like any file: the window is all zeros
      {{mdat(0x7FFFFFF0, 0), out()}, unfound, true},
      {{mdat(0, 0), out()}, unfound, true},
      {{mdat(4, 0), out()}, unfound, true},
      {{mdat(1, 0xFFFFFFFFFFFFFFF0ull), out()}, unfound, true},
      {{mdat(1, 8), out()}, unfound, true},
      {{file(no_mvhd), out()},
       unfound + "The movie atom at byte " + std::to_string(offset_of(last, "moov") - 4) +
           " holds no movie header that can be read; remux the movie first: gst-launch-1.0 filesrc "
           "location=in.mov ! qtdemux ! qtmux faststart=true ! filesink location=out.mov\n",
       true},
      {{"-u", file(patched(small, stsc + 16, 1u << 28)), out()}, "Frame 1 could not be read\n" + finished},
      {{file(sized(26754, 26754)), out()}, "Frame 0 could not be read\n" + finished},
      {{"-u", file(sized(18800, 18800)), out()}, "Frame 0 could not be read\n" + finished},
      {{"-u", file(too_many), out()},
       "131073 frames indexed\nOutput file " + out() +
           " cannot hold 131073 frames of 3145728 bytes: an AVI file holds at most 256 parts of 1073741824 bytes\n"},
      {{"-u", bitmaps, (dir_ / "no" / "dir.avi").string()},
       "1 frames indexed\nUnable to open output file " + (dir_ / "no" / "dir.avi").string() + "\n"},
      {{bitmaps, (dir_ / "link.mov").string()},
       "1 frames indexed\nOutput file " + (dir_ / "link.mov").string() + " is the input movie\n"},
  };
  std::filesystem::create_hard_link(bitmaps, dir_ / "link.mov");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ending);
    std::filesystem::remove(out());
    const RunResult r = quelmux(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(c.whole ? r.out == c.ending : r.out.ends_with(c.ending)) << r.out;
    EXPECT_LT(r.max_rss_kb, 64 * 1024);
    EXPECT_FALSE(c.ending.find("cannot hold") != std::string::npos && std::filesystem::exists(out()));
  }
  EXPECT_EQ(testsupport::read_file(bitmaps), small);  // the movie is never overwritten

  RunResult r = quelmux({"-u", bitmaps, "/dev/full"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Unable to write to output file /dev/full"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Finished"), std::string::npos) << r.out;
}

// Usage, help and version print and exit right; on a terminal the progress
// line goes before the closing line comes.
TEST_F(Quelmux, UsageHelpVersionAndProgress) {
  for (const char* arg : {"-u", "--help", "--version"}) {
    const RunResult r = quelmux({arg});
    EXPECT_EQ(r.exit_code, arg[1] == 'u' ? 1 : 0);
    EXPECT_TRUE(r.out.starts_with(arg[2] == 'v' ? "quelmux 0." : "Usage: quelmux [")) << r.out;
  }
  if (!testsupport::need_program("script")) GTEST_SKIP();
  const std::string in = movie({.width = 8, .height = 8, .frames = 3});
  const RunResult r =
      testsupport::run({"script", "-qec", std::string(QUELMUX_EXE) + " " + in + " " + out(), "/dev/null"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("\rFrame 3 of 3 (100%)\r\033[KFinished writing file"), std::string::npos) << r.out;
}

}  // namespace
