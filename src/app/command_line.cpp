#include "app/command_line.h"

#include <cstdio>

void print_usage() {
  std::puts("Usage: quelmux [-u] <.mov file> <output filename>");
  std::puts("Use -u if you want to produce an uncomressed avi instead of a\nCorvath compressed avi.");
}

int parse_command_line(int argc, const char* const* argv, CommandLine& line) {
  // Two or three arguments after the program's name; a third one without the
  // option is ignored.
  if (argc < 3 || argc > 4) {
    print_usage();
    return 0;
  }
  const char* first = argv[1];
  if (first[0] != '-') {
    line = {false, argv[1], argv[2]};
    return 1;
  }
  // Only the first two characters count: "-u", "-U" and "-ufoo" all select it.
  if (first[1] != 'u' && first[1] != 'U') {
    std::printf("Unknown option: \"%s\"\n", first);
    return 0;
  }
  if (argc != 4) {
    print_usage();  // the option and one file name leave no output file
    return 0;
  }
  line = {true, argv[2], argv[3]};
  return 1;
}
