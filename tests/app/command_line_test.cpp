#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/pixel_convert.h"

namespace {

const std::string usage =
    "Usage: quelmux [-u] <.mov file> <output filename>\n"
    "Use -u if you want to produce an uncomressed avi instead of a\nCorvath compressed avi.\n";

// Two file names, after options: a minus and a "u" in either case, -j N or
// -jN; a third name without options is ignored. Options are looked at before
// the file names are counted.
TEST(CommandLine, FileNamesTheOptionAndRefusals) {
  const struct {
    std::vector<const char*> args;
    int result;  // 2: -u
    std::string out;
    int threads = 0;
  } cases[] = {
      {{"in.mov", "out.avi"}, 1, ""},
      {{"in.mov", "out.avi", "c"}, 1, ""},
      {{"-u", "in.mov", "out.avi"}, 2, ""},
      {{"-U", "in.mov", "out.avi"}, 2, ""},
      {{"-j", "3", "in.mov", "out.avi"}, 1, "", 3},
      {{"-j256", "-u", "in.mov", "out.avi"}, 2, "", 256},
      {{"-u", "-j", "2", "in.mov", "out.avi"}, 2, "", 2},
      {{"-j", "0", "in.mov", "out.avi"}, 0, "Invalid thread count: \"0\" (-j takes a number from 1 to 256)\n"},
      {{"-j257", "in.mov", "out.avi"}, 0, "Invalid thread count: \"257\" (-j takes a number from 1 to 256)\n"},
      {{"-j", "2x", "in.mov", "out.avi"}, 0, "Invalid thread count: \"2x\" (-j takes a number from 1 to 256)\n"},
      {{"-", "in.mov", "out.avi"}, 0, "Unknown option: \"-\"\n"},
      {{"-x", "in.mov"}, 0, "Unknown option: \"-x\"\n"},
      {{"in.mov"}, 0, usage},
      {{"-u", "in.mov"}, 0, usage},
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
    if (ok) {
      EXPECT_EQ(std::string(line.input) + line.output, "in.movout.avi");
      EXPECT_EQ(line.threads, c.threads) << c.args[1];
    }
  }
}

// The chosen path and the plain one against a reference, guard bytes around.
TEST(RawToBgr, FlipsRowsAndSwapsRedAndBlueAtEveryWidth) {
  unsigned seed = 3;
  for (int width : {0, 1, 2, 3, 5, 6, 7, 15, 16, 17, 31, 64, 333}) {
    for (int height : {0, 1, 2, 9}) {
      const std::size_t row = 3 * static_cast<std::size_t>(width), size = row * height;
      std::vector<unsigned char> source(size), expected(size);
      for (auto& b : source) b = static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 16);
      for (std::size_t k = 0; k < size; ++k)
        expected[k] = source[(height - 1 - k / row) * row + k % row / 3 * 3 + 2 - k % 3];
      for (bool scalar : {false, true}) {
        std::vector<unsigned char> out(size + 32, 0xEE);
        if (scalar)
          pixel_convert_detail::raw_to_BGR_scalar(source.data(), out.data() + 16, width, height);
        else
          raw_to_BGR(source.data(), out.data() + 16, width, height);
        std::vector<unsigned char> guarded(size + 32, 0xEE);
        std::copy(expected.begin(), expected.end(), guarded.begin() + 16);
        EXPECT_EQ(out, guarded) << width << " x " << height << (scalar ? " scalar" : "");
      }
    }
  }
}

}  // namespace
