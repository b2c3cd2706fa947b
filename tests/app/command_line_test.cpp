#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string usage =
    "Usage: quelmux [-u] <.mov file> <output filename>\n"
    "Use -u if you want to produce an uncomressed avi instead of a\nCorvath compressed avi.\n";

struct Parsed {
  int result;
  CommandLine line;
  std::string out;
};

Parsed parse(std::vector<const char*> args) {
  args.insert(args.begin(), "quelmux");
  Parsed p{};
  testing::internal::CaptureStdout();
  p.result = parse_command_line(static_cast<int>(args.size()), args.data(), p.line);
  p.out = testing::internal::GetCapturedStdout();
  return p;
}

// Two file names, after an option that is a minus and a "u" in either case,
// or none; a third name without the option is ignored.
TEST(CommandLine, FileNamesAndTheOption) {
  const struct {
    std::vector<const char*> args;
    bool uncompressed;
    int threads = 0;
  } cases[] = {
      {{"in.mov", "out.avi"}, false},
      {{"in.mov", "out.avi", "c"}, false},
      {{"-u", "in.mov", "out.avi"}, true},
      {{"-U", "in.mov", "out.avi"}, true},
      {{"-ufoo", "in.mov", "out.avi"}, true},
      {{"-Uncompressed", "in.mov", "out.avi"}, true},
      {{"-j", "3", "in.mov", "out.avi"}, false, 3},
      {{"-j256", "-u", "in.mov", "out.avi"}, true, 256},
      {{"-u", "-j", "2", "in.mov", "out.avi"}, true, 2},
      {{"-j1", "-j", "07", "in.mov", "out.avi"}, false, 7},
  };
  for (const auto& c : cases) {
    const Parsed p = parse(c.args);
    SCOPED_TRACE(c.args[0]);
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.line.uncompressed, c.uncompressed);
    EXPECT_EQ(p.line.threads, c.threads);
    EXPECT_STREQ(p.line.input, "in.mov");
    EXPECT_STREQ(p.line.output, "out.avi");
    EXPECT_EQ(p.out, "");
  }
  // As before -j existed: after -u, two arguments are the file names.
  EXPECT_STREQ(parse({"-u", "-j2", "out.avi"}).line.input, "-j2");
}

TEST(CommandLine, RefusalsPrintTheOptionOrTheUsage) {
  for (const char* option : {"-", "-x", "--u", "-v"}) {
    const Parsed p = parse({option, "in.mov", "out.avi"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.out, std::string("Unknown option: \"") + option + "\"\n");
  }
  // The option is looked at before the file names are counted.
  EXPECT_EQ(parse({"-x", "in.mov"}).out, "Unknown option: \"-x\"\n");
  for (const char* count : {"0", "257", "x", "2x", "", "-1"}) {
    EXPECT_EQ(parse({"-j", count, "in.mov", "out.avi"}).out,
              std::string("Invalid thread count: \"") + count + "\" (-j takes a number from 1 to 256)\n");
  }
  for (const auto& args : std::vector<std::vector<const char*>>{{},
                                                                {"in.mov"},
                                                                {"-u"},
                                                                {"-u", "in.mov"},
                                                                {"a", "b", "c", "d"},
                                                                {"-u", "a", "b", "c"},
                                                                {"-j2", "in.mov"},
                                                                {"-j2", "a", "b", "c"},
                                                                {"-u", "-u", "a", "b"}}) {
    const Parsed p = parse(args);
    EXPECT_EQ(p.result, 0) << args.size();
    EXPECT_EQ(p.out, usage);
  }
}

}  // namespace
