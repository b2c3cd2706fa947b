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

TEST(CommandLine, TwoFileNamesConvertCompressed) {
  const Parsed p = parse({"in.mov", "out.avi"});
  EXPECT_EQ(p.result, 1);
  EXPECT_FALSE(p.line.uncompressed);
  EXPECT_STREQ(p.line.input, "in.mov");
  EXPECT_STREQ(p.line.output, "out.avi");
  EXPECT_EQ(p.out, "");
  // A third name without the option is ignored.
  const Parsed q = parse({"a.mov", "b.avi", "c"});
  EXPECT_EQ(q.result, 1);
  EXPECT_FALSE(q.line.uncompressed);
  EXPECT_STREQ(q.line.input, "a.mov");
  EXPECT_STREQ(q.line.output, "b.avi");
}

TEST(CommandLine, OptionIsAMinusAndAUInEitherCase) {
  for (const char* option : {"-u", "-U", "-ufoo", "-Uncompressed"}) {
    const Parsed p = parse({option, "in.mov", "out.avi"});
    EXPECT_EQ(p.result, 1) << option;
    EXPECT_TRUE(p.line.uncompressed) << option;
    EXPECT_STREQ(p.line.input, "in.mov");
    EXPECT_STREQ(p.line.output, "out.avi");
    EXPECT_EQ(p.out, "");
  }
}

TEST(CommandLine, OtherOptionsAreRefusedByName) {
  for (const char* option : {"-", "-x", "--u", "-v"}) {
    const Parsed p = parse({option, "in.mov", "out.avi"});
    EXPECT_EQ(p.result, 0);
    EXPECT_EQ(p.out, std::string("Unknown option: \"") + option + "\"\n");
  }
  // The option is looked at before the file names are counted.
  EXPECT_EQ(parse({"-x", "in.mov"}).out, "Unknown option: \"-x\"\n");
}

TEST(CommandLine, WrongCountsPrintTheUsage) {
  for (const auto& args : std::vector<std::vector<const char*>>{
           {}, {"in.mov"}, {"-u"}, {"-u", "in.mov"}, {"a", "b", "c", "d"}, {"-u", "a", "b", "c"}}) {
    const Parsed p = parse(args);
    EXPECT_EQ(p.result, 0) << args.size();
    EXPECT_EQ(p.out, usage);
  }
}

}  // namespace
