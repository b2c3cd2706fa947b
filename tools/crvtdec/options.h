// crvtdec's command line.
#pragma once

#include <string>

namespace crvtdec {

enum class Mode {
  to_avi,   // crvtdec <in.avi> <out.avi>
  frames,   // crvtdec --frames [--png] <in.avi> <pattern>
  compare,  // crvtdec --compare <in.avi> <movie.mov>
  info,     // crvtdec --info <in.avi>
  help,
  version,
};

struct Options {
  Mode mode = Mode::to_avi;
  bool png = false;    // --frames writes PNG instead of PPM
  int threads = 1;     // -j N; by default one a CPU crvtdec may run on
  std::string input;   // the AVI file
  std::string second;  // the output AVI, the file name pattern or the movie
};

// Reads the command line into `options`. On a wrong one prints why and a
// hint to --help on standard error and returns false.
bool parse_options(int argc, const char* const* argv, Options& options);

// The text of --help and of --version.
const char* help_text();
const char* version_text();

}  // namespace crvtdec
