#include "app/command_line.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* kHelp = R"(Usage: quelmux [-u] <.mov file> <output filename>
Converts an uncompressed QuickTime movie ("raw " or "WRLE" 24-bit video) into
an AVI file whose frames are compressed with the lossless Corvath codec.

  -u          store the frames uncompressed, as 24-bit bitmaps
  --help      print this text (as the only argument)
  --version   print the version (as the only argument)

An existing output file is overwritten, unless it is a QuickTime movie: a
movie is never written over. Ctrl-C, SIGINT, SIGTERM and SIGHUP stop the run
after the frame in progress and complete the file with the frames written so
far. All messages go to standard output. The exit status is 0 on success, 1
on every failure, and 128 + the signal number after such a stop.
)";

}  // namespace

void print_usage() {
  std::puts("Usage: quelmux [-u] <.mov file> <output filename>");
  std::puts("Use -u if you want to produce an uncomressed avi instead of a\nCorvath compressed avi.");
}

bool print_help_or_version(int argc, const char* const* argv) {
  if (argc != 2) return false;
  if (std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kHelp, stdout);
    return true;
  }
  if (std::strcmp(argv[1], "--version") == 0) {
    std::puts("quelmux " QUELMUX_VERSION);
    return true;
  }
  return false;
}

bool parse_command_line(int argc, const char* const* argv, CommandLine& line) {
  // Two or three arguments after the program's name; a third one without the
  // option is ignored.
  if (argc < 3 || argc > 4) {
    print_usage();
    return false;
  }
  const char* first = argv[1];
  if (first[0] != '-') {
    line = {false, argv[1], argv[2]};
    return true;
  }
  // Only the first two characters count: "-u", "-U" and "-ufoo" all select it.
  if (first[1] != 'u' && first[1] != 'U') {
    std::printf("Unknown option: \"%s\"\n", first);
    return false;
  }
  if (argc != 4) {
    print_usage();  // the option and one file name leave no output file
    return false;
  }
  line = {true, argv[2], argv[3]};
  return true;
}
