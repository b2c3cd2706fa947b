#include "app/command_line.h"

#include <cstdio>
#include <cstring>

#include "app/frame_pipeline.h"

namespace {

constexpr const char* kHelp = R"(Usage: quelmux [-j N] [-u] <.mov file> <output filename>
Converts an uncompressed QuickTime movie ("raw " or "WRLE" 24-bit video) into
an AVI file whose frames are compressed with the lossless Corvath codec.

  -j N, -jN   read, convert and compress frames on N threads (1 to 256) while
              one writes them in order; the file is the same for every N.
              The default is the number of CPUs quelmux may run on; -j 1
              runs on one thread. Options go before the file names.
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
  if (argc < 3) {
    print_usage();
    return false;
  }
  line = {};
  // Options come before the file names. Once -u is given, two arguments left
  // are the file names, whatever they look like, as before -j existed
  // ("quelmux -u -j2 out.avi" converts a movie named "-j2").
  int k = 1;
  while (k < argc && argv[k][0] == '-' && !(line.uncompressed && argc - k == 2)) {
    const char* option = argv[k];
    // Only the first two characters name an option: "-u", "-U" and "-ufoo"
    // all select it.
    if (option[1] == 'j') {
      const bool joined = option[2] != '\0';
      const char* count = joined ? option + 2 : k + 1 < argc ? argv[k + 1] : "";
      if (!parse_thread_count(count, line.threads)) {
        std::printf("Invalid thread count: \"%s\" (-j takes a number from 1 to %d)\n", count, kMaxThreads);
        return false;
      }
      k += joined ? 1 : 2;
    } else if ((option[1] == 'u' || option[1] == 'U') && !line.uncompressed) {
      line.uncompressed = true;
      ++k;
    } else if (line.uncompressed) {
      break;  // a second option after -u: a wrong argument count, as before
    } else {
      std::printf("Unknown option: \"%s\"\n", option);
      return false;
    }
  }
  // Two file names; a third one after them is ignored when no option is
  // given, as it always was.
  const int names = argc - k;
  if (names != 2 && !(names == 3 && k == 1)) {
    print_usage();  // an option and one file name leave no output file
    return false;
  }
  line.input = argv[k];
  line.output = argv[k + 1];
  return true;
}
