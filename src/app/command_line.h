// The command line: quelmux [-u] <.mov file> <output filename>
#pragma once

struct CommandLine {
  bool uncompressed = false;     // -u: store the frames as 24-bit bitmaps
  const char* input = nullptr;   // the QuickTime movie
  const char* output = nullptr;  // the AVI file to create
};

// Prints the usage text.
void print_usage();

// When the only argument is "--help" or "--version", prints the help text or
// the version on standard output and returns true; otherwise returns false
// and prints nothing.
bool print_help_or_version(int argc, const char* const* argv);

// Takes the option and the two file names from `argv` into `line` and returns
// true. On a wrong argument count, an unknown option or the option with a
// single file name prints the usage text or the unknown-option message and
// returns false.
bool parse_command_line(int argc, const char* const* argv, CommandLine& line);
