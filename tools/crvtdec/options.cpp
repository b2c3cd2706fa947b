#include "crvtdec/options.h"

#include <string_view>

#include "app/frame_pipeline.h"
#include "crvtdec/messages.h"

namespace crvtdec {

namespace {

constexpr const char* kHelp = R"(Usage: crvtdec [-j N] <in.avi> <out.avi>
       crvtdec [-j N] --frames [--png] <in.avi> <pattern>
       crvtdec [-j N] --compare <in.avi> <movie.mov>
       crvtdec --info <in.avi>
Decodes, verifies and inspects AVI files of Corvath ("CRVT") or uncompressed
24-bit ("DIB ") video, such as quelmux writes.

  (no option)   write <out.avi> with the same frames uncompressed, laid out as
                "quelmux -u" writes them (24-bit streams only)
  --frames      write each frame as a P6 PPM image, top row first, to a file
                named by <pattern>, which holds one printf-style integer
                conversion with optional flags and width (frame%05d.ppm);
                "%%" stands for a "%" of its own
  --png         with --frames: write PNG images (RGB; RGBA for 32-bit frames,
                whose fourth byte PPM images leave out)
  --compare     decode every frame and compare it with the frame of the
                uncompressed QuickTime movie that it was converted from;
                prints "N frames identical", or the first frame that differs
                and the row (counted from the top of the picture) and column
                of its first differing pixel (24-bit streams only)
  --info        print the stream's size, frame rate, frame count, the count of
                each frame type, the compressed size and the compression ratio
  -j N, -jN     decode on N threads (1 to 256), the results and messages the
                same for every N; the default is the number of CPUs crvtdec
                may run on, -j 1 decodes on one thread
  --help        print this text
  --version     print the version

Frames, rows and columns are counted from 0. The exit status is 0 on success,
and 1 on every failure and when --compare finds a difference. Results go to
standard output, messages about failures to standard error.

A file its writer never completed (a run killed or cut short) is read to its
last whole frame in every mode, with exit status 1. SIGINT, SIGTERM and SIGHUP
stop writing an AVI file or images after the frame in progress, the output
complete, with exit status 128 + the signal's number. A QuickTime movie is
never written over.
)";

constexpr const char* kVersion = "crvtdec " QUELMUX_VERSION "\n";

bool usage_error(const char* what, std::string_view argument) {
  error("%s \"%.*s\"; see crvtdec --help", what, static_cast<int>(argument.size()), argument.data());
  return false;
}

}  // namespace

const char* help_text() { return kHelp; }
const char* version_text() { return kVersion; }

bool parse_options(int argc, const char* const* argv, Options& options) {
  options = Options{};
  options.threads = available_cpus();
  bool mode_given = false;
  bool options_done = false;
  std::string_view files[2];
  int file_count = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options_done && arg.size() > 1 && arg[0] == '-') {
      Mode mode = Mode::to_avi;
      if (arg == "--") {
        options_done = true;
        continue;
      } else if (arg == "--help" || arg == "-h") {
        options.mode = Mode::help;
        return true;
      } else if (arg == "--version") {
        options.mode = Mode::version;
        return true;
      } else if (arg == "--png") {
        options.png = true;
        continue;
      } else if (arg.starts_with("-j")) {
        const char* count = arg.size() > 2 ? argv[i] + 2 : i + 1 < argc ? argv[++i] : "";
        if (!parse_thread_count(count, options.threads)) {
          error("bad thread count \"%s\": -j takes a number from 1 to %d; see crvtdec --help", count, kMaxThreads);
          return false;
        }
        continue;
      } else if (arg == "--frames") {
        mode = Mode::frames;
      } else if (arg == "--compare") {
        mode = Mode::compare;
      } else if (arg == "--info") {
        mode = Mode::info;
      } else {
        return usage_error("unknown option", arg);
      }
      if (mode_given && mode != options.mode) return usage_error("only one mode at a time, not also", arg);
      options.mode = mode;
      mode_given = true;
      continue;
    }
    if (file_count == 2) return usage_error("too many arguments at", arg);
    files[file_count++] = arg;
  }
  if (options.png && options.mode != Mode::frames) {
    error("--png goes with --frames; see crvtdec --help");
    return false;
  }
  const int needed = options.mode == Mode::info ? 1 : 2;
  if (file_count != needed) {
    error("%s; see crvtdec --help", file_count < needed ? "missing file name" : "too many file names");
    return false;
  }
  options.input = files[0];
  if (needed == 2) options.second = files[1];
  return true;
}

}  // namespace crvtdec
