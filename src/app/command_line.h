// The command line: quelmux [-j N] [-u] <.mov file> <output filename>
#pragma once

struct CommandLine {
  bool uncompressed = false;     // -u: store the frames as 24-bit bitmaps
  int threads = 0;               // -j N; 0: one a CPU the process may run on
  const char* input = nullptr;   // the QuickTime movie
  const char* output = nullptr;  // the AVI file to create
};

// Prints the usage text.
void print_usage();

// When the only argument is "--help" or "--version", prints the help text or
// the version on standard output and returns true; otherwise returns false
// and prints nothing.
bool print_help_or_version(int argc, const char* const* argv);

// Takes the options and the two file names from `argv` into `line` and
// returns true. On a wrong argument count, an unknown option, a bad thread
// count or -u with a single file name prints the usage text or what is wrong
// and returns false.
bool parse_command_line(int argc, const char* const* argv, CommandLine& line);
