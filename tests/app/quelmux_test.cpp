// The quelmux program run as a whole on real files: its files against those
// the AVI writer makes of the sample-movie library's frames, the compressed
// ones decoded by crvtdec; what it prints; every kind of failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/pixel_convert.h"
#include "avi/avi_writer.h"
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
  std::string movie(const MovieOptions& o, Content content = Content::shape, const std::string& name = "in.mov") {
    std::string error;
    EXPECT_TRUE(movgen::write_movie(path(name), o, movgen::FrameSource(o.width, o.height, {content, 7}), error));
    return path(name);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string file(const Bytes& bytes) {
    testsupport::write_file(path("file" + std::to_string(++files_)), bytes);
    return path("file" + std::to_string(files_));
  }
  std::string out() const { return path("out.avi"); }
  static RunResult quelmux(std::vector<std::string> args) {
    args.insert(args.begin(), QUELMUX_EXE);
    return testsupport::run(args);
  }

  // What "quelmux -u" writes of the first `frames` frames of the movie:
  // bottom-up BGR bitmaps with rows filled to 4 bytes.
  Bytes bitmaps(const MovieOptions& o, Content content, std::uint32_t frames) const {
    const std::size_t row = (3 * static_cast<std::size_t>(o.width) + 3) & ~std::size_t{3};
    const std::string name = path("bitmaps.avi");  // the writer keeps it
    AviWriter writer;
    EXPECT_TRUE(writer.init(name.c_str(), o.width, o.height, o.time_scale, o.sample_duration, 0));
    for (std::uint32_t i = 0; i < frames; ++i) {
      Bytes frame = testsupport::avi_frame(movgen::FrameSource(o.width, o.height, {content, 7}), i, row);
      frame.resize(frame.size() + 3);  // the writer's fill goes here
      EXPECT_TRUE(writer.write_frame(frame.data(), static_cast<int>(frame.size() - 3), 0x10));
    }
    EXPECT_TRUE(writer.flush());
    return testsupport::read_file(name);
  }

  testsupport::TempDir dir_;
  int files_ = 0;
};

// Each movie converted both ways, on 1, 2, 3 and 8 threads: the same file
// and lines on each; the compressed file decodes (through crvtdec) into the
// uncompressed one. A movie with padded rows, 64-bit chunk offsets or its
// header last (past the first window with 3 MB frames) converts into the
// very file of its plain twin. A movie cut inside a frame keeps the frames
// before it.
TEST_F(Quelmux, FramesComeOutAsBitmapsOrDecodeToThemOnEveryThreadCount) {
  const struct {
    MovieOptions o;
    Content content;
    std::uint32_t kept = 0;  // frames before the one the cut reaches into
  } cases[] = {
      {{.width = 1, .height = 1, .frames = 0}, Content::shape},
      {{.width = 17, .height = 3, .frames = 10, .format = DataFormat::wrle, .chunking = {{1, 4}}}, Content::shape},
      {{.width = 320, .height = 240, .frames = 12, .chunking = {{1, 5}, {2, 2}, {4, 1}}}, Content::shape},
      {{.width = 1, .height = 1, .frames = 2, .chunking = {{1, 2}}}, Content::noise},
      {{.width = 1, .height = 29, .frames = 4, .format = DataFormat::wrle}, Content::noise},
      {{.width = 161, .height = 99, .frames = 3, .chunking = {{1, 2}}}, Content::gradient_v},
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
  };
  for (auto [o, content, kept] : cases) {
    SCOPED_TRACE(testing::Message() << o.width << " x " << o.height);
    o.time_scale = 2997;
    o.sample_duration = 100;
    const std::string in = movie(o, content), decoded = path("decoded.avi");
    if (kept != 0) std::filesystem::resize_file(in, std::filesystem::file_size(in) - (3 * 64 * 48 * 15 - 10));
    const Bytes expected = bitmaps(o, content, kept != 0 ? kept : o.frames);
    for (const bool compressed : {false, true}) {
      std::vector<std::string> args{"-u", in, out()};
      if (compressed) args.erase(args.begin());
      RunResult first;
      Bytes converted;
      for (const char* threads : {"1", "2", "3", "8"}) {
        SCOPED_TRACE(testing::Message() << "-u " << !compressed << " -j " << threads);
        std::vector<std::string> with = args;
        with.insert(with.begin(), {"-j", threads});
        const RunResult r = quelmux(with);
        if (threads[0] == '1') first = r, converted = testsupport::read_file(out());
        EXPECT_TRUE(r.exit_code == first.exit_code && r.out == first.out && r.err == "") << r.out << r.err;
        EXPECT_TRUE(testsupport::read_file(out()) == converted);
      }
      EXPECT_EQ(first.exit_code, kept != 0 ? 1 : 0) << first.out;
      EXPECT_TRUE(first.out.ends_with((kept != 0 ? "Frame 25 could not be read\n"
                                                 : std::to_string(o.frames) + " frames indexed\nWriting " + out() +
                                                       ", this may take a while...\n") +
                                      "Finished writing file " + out() + "\n"))
          << first.out;
      ASSERT_TRUE(!compressed || testsupport::run({CRVTDEC_EXE, out(), decoded}).exit_code == 0);
      EXPECT_TRUE(testsupport::read_file(compressed ? decoded : out()) == expected);
      EXPECT_TRUE(kept != 0 || testsupport::run({CRVTDEC_EXE, "--compare", out(), in}).out ==
                                   std::to_string(o.frames) + " frames identical\n");  // crvtdec agrees
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
  const std::string tiny = movie({.width = 2, .height = 2, .frames = 1});
  const Bytes small = testsupport::read_file(tiny);
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
      {{"-u"}, "Use -u if you want to produce an uncomressed avi instead of a\nCorvath compressed avi.\n"},
      {{path("missing.mov"), out()}, "Unable to open the input file.\n", true},
      {{dir_.path(), out()}, "Unable to read the input file.\n", true},
      {{file(Bytes{}), out()}, unfound, true},  // searched like any file: the window is all zeros
      {{mdat(0x7FFFFFF0, 0), out()}, unfound, true},
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
      {{"-u", tiny, path("no/dir.avi")}, "1 frames indexed\nUnable to open output file " + path("no/dir.avi") + "\n"},
      {{tiny, path("link.mov")}, "1 frames indexed\nOutput file " + path("link.mov") + " is the input movie\n"},
  };
  std::filesystem::create_hard_link(tiny, dir_ / "link.mov");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ending);
    std::filesystem::remove(out());
    const RunResult r = quelmux(c.args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(c.whole ? r.out == c.ending : r.out.ends_with(c.ending)) << r.out;
    EXPECT_LT(r.max_rss_kb, 64 * 1024);
    EXPECT_FALSE(c.ending.find("cannot hold") != std::string::npos && std::filesystem::exists(out()));
  }
  EXPECT_EQ(testsupport::read_file(tiny), small);  // the movie is never overwritten

  RunResult r = quelmux({"-u", tiny, "/dev/full"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Unable to write to output file /dev/full"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Finished"), std::string::npos) << r.out;
}

// Help and version print and exit right (usage: see the command lines); on
// a terminal the progress line goes before the closing line comes.
TEST_F(Quelmux, UsageHelpVersionAndProgress) {
  const RunResult help = quelmux({"--help"}), version = quelmux({"--version"});
  EXPECT_TRUE(help.exit_code == 0 &&
              help.out.starts_with("Usage: quelmux [-j N] [-u] <.mov file> <output filename>\n"));
  EXPECT_TRUE(version.exit_code == 0 && version.out.starts_with("quelmux 0.")) << version.out;
  if (!testsupport::need_program("script")) GTEST_SKIP();
  const std::string in = movie({.width = 8, .height = 8, .frames = 3});
  const RunResult r =
      testsupport::run({"script", "-qec", std::string(QUELMUX_EXE) + " " + in + " " + out(), "/dev/null"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("\rFrame 3 of 3 (100%)\r\033[KFinished writing file"), std::string::npos) << r.out;
}

const std::string usage =
    "Usage: quelmux [-u] <.mov file> <output filename>\n"
    "Use -u if you want to produce an uncomressed avi instead of a\nCorvath compressed avi.\n";

// Two file names, after options: a minus and a "u" in either case, -j N or
// -jN; a third name without options is ignored. Options are looked at before
// the file names are counted; once -u is given, two arguments left are names.
TEST(CommandLine, FileNamesTheOptionAndRefusals) {
  const struct {
    std::vector<const char*> args;
    int result;  // 2: -u
    std::string out;
    int threads = 0;
  } cases[] = {
      {{"in.mov", "out.avi", "c"}, 1, ""},
      {{"-U", "in.mov", "out.avi"}, 2, ""},
      {{"-j", "3", "in.mov", "out.avi"}, 1, "", 3},
      {{"-j256", "-u", "in.mov", "out.avi"}, 2, "", 256},
      {{"-u", "-j", "2", "in.mov", "out.avi"}, 2, "", 2},
      {{"-j", "0", "in.mov", "out.avi"}, 0, "Invalid thread count: \"0\" (-j takes a number from 1 to 256)\n"},
      {{"-j257", "in.mov", "out.avi"}, 0, "Invalid thread count: \"257\" (-j takes a number from 1 to 256)\n"},
      {{"-j", "2x", "in.mov", "out.avi"}, 0, "Invalid thread count: \"2x\" (-j takes a number from 1 to 256)\n"},
      {{"-", "in.mov", "out.avi"}, 0, "Unknown option: \"-\"\n"},
      {{"in.mov"}, 0, usage},
      {{"a", "b", "c", "d"}, 0, usage},
      {{"-j2", "a", "b", "c"}, 0, usage},
      {{"-u", "-u", "a", "b"}, 0, usage},
  };
  for (auto c : cases) {
    c.args.insert(c.args.begin(), "quelmux");
    CommandLine line;
    testing::internal::CaptureStdout();
    const bool ok = parse_command_line(static_cast<int>(c.args.size()), c.args.data(), line);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << c.args.size();
    EXPECT_EQ(ok ? 1 + line.uncompressed : 0, c.result) << c.out;
    EXPECT_EQ(ok ? line.input + (line.output + std::to_string(line.threads)) : "",
              ok ? "in.movout.avi" + std::to_string(c.threads) : "");
  }
}

// The chosen path and the plain one against a reference, guard bytes around.
TEST(RawToBgr, FlipsRowsAndSwapsRedAndBlueAtEveryWidth) {
  unsigned seed = 3;
  for (int width : {0, 1, 2, 3, 5, 6, 7, 15, 16, 17, 31, 64, 333}) {
    for (int height : {0, 1, 2, 9}) {
      const std::size_t row = 3 * static_cast<std::size_t>(width), size = row * height;
      std::vector<unsigned char> source(size), expected(size + 32, 0xEE);
      for (auto& b : source) b = static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 16);
      for (std::size_t k = 0; k < size; ++k)
        expected[16 + k] = source[(height - 1 - k / row) * row + k % row / 3 * 3 + 2 - k % 3];
      for (const bool scalar : {false, true}) {
        std::vector<unsigned char> out(size + 32, 0xEE);
        (scalar ? pixel_convert_detail::raw_to_BGR_scalar : raw_to_BGR)(source.data(), out.data() + 16, width, height);
        EXPECT_EQ(out, expected) << width << " x " << height << (scalar ? " scalar" : "");
      }
    }
  }
}

}  // namespace
