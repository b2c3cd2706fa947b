// compare_coders: the in-process half of the coder comparison
// (scripts/compare.sh). It converts and generates the test pictures, times
// the coders that are libraries (Corvath, CharLS, libpng) on them, and checks
// quelmux's output frame by frame.
//
//   compare_coders coders
//   compare_coders versions
//   compare_coders png-to-ppm <in.png> <out.ppm>
//   compare_coders generate <kind> <W>x<H> <seed> <out.ppm>
//   compare_coders measure [--runs N] [--min-time SECONDS] <in.ppm> <coder>...
//   compare_coders check-avi <in.avi> <in.ppm> <frames>
//
// measure prints one line of JSON per coder. Exit status 0 on success, 1 on
// a failure (with a message on standard error), 2 for a bad command line.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "charls_coder.h"
#include "check_avi.h"
#include "corvath_coder.h"
#include "generate.h"
#include "measure.h"
#include "picture.h"
#include "png_coder.h"

namespace {

using compare::Measurement;
using compare::MeasureOptions;
using compare::Picture;

struct CoderEntry {
  const char* name;
  Measurement (*run)(const Picture&, const MeasureOptions&);
};

template <typename Coder, typename... Args>
Measurement run_coder(const Picture& picture, const MeasureOptions& options, Args... args) {
  Coder coder(args...);
  return compare::measure(coder, picture, options);
}

constexpr CoderEntry kCoders[] = {
    {"crvt", [](const Picture& p, const MeasureOptions& o) { return run_coder<compare::CorvathCoder>(p, o); }},
#if defined(QUELMUX_HAVE_CHARLS)
    {"charls-none",
     [](const Picture& p, const MeasureOptions& o) {
       return run_coder<compare::CharlsCoder>(p, o, compare::CharlsInterleave::none);
     }},
    {"charls-line",
     [](const Picture& p, const MeasureOptions& o) {
       return run_coder<compare::CharlsCoder>(p, o, compare::CharlsInterleave::line);
     }},
    {"charls-sample",
     [](const Picture& p, const MeasureOptions& o) {
       return run_coder<compare::CharlsCoder>(p, o, compare::CharlsInterleave::sample);
     }},
#endif
#if defined(QUELMUX_HAVE_PNG)
    {"png-default",
     [](const Picture& p, const MeasureOptions& o) {
       return run_coder<compare::PngCoder>(p, o, compare::PngLevel::standard);
     }},
    {"png-fastest",
     [](const Picture& p, const MeasureOptions& o) {
       return run_coder<compare::PngCoder>(p, o, compare::PngLevel::fastest);
     }},
#endif
};

int usage() {
  std::fputs(
      "Usage: compare_coders coders\n"
      "       compare_coders versions\n"
      "       compare_coders png-to-ppm <in.png> <out.ppm>\n"
      "       compare_coders generate photo-mosaic|screen|desktop|noise <W>x<H> <seed> <out.ppm>\n"
      "       compare_coders measure [--runs N] [--min-time SECONDS] <in.ppm> <coder>...\n"
      "       compare_coders check-avi <in.avi> <in.ppm> <frames>\n",
      stderr);
  return 2;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "compare_coders: %s\n", message.c_str());
  return 1;
}

template <typename T>
bool parse_number(std::string_view text, T& value) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && p == end;
}

bool parse_size(std::string_view text, int& width, int& height) {
  const std::size_t x = text.find('x');
  return x != std::string_view::npos && parse_number(text.substr(0, x), width) &&
         parse_number(text.substr(x + 1), height);
}

bool load(const std::string& path, Picture& picture, std::string& error) {
  return compare::read_ppm(path, picture, error);
}

int measure(const std::vector<std::string>& args) {
  MeasureOptions options;
  std::size_t i = 0;
  for (; i + 1 < args.size() && args[i].starts_with("--"); i += 2) {
    if (args[i] == "--runs" && parse_number(args[i + 1], options.runs) && options.runs >= 1) continue;
    if (args[i] == "--min-time") {
      // from_chars for double is there in g++ 12 but not in every library.
      char* end = nullptr;
      options.min_seconds = std::strtod(args[i + 1].c_str(), &end);
      if (end != args[i + 1].c_str() && *end == '\0' && options.min_seconds >= 0) continue;
    }
    return usage();
  }
  if (args.size() < i + 2) return usage();
  Picture picture;
  std::string error;
  if (!load(args[i], picture, error)) return fail(error);
  options.max_runs = std::max(options.max_runs, options.runs);
  for (std::size_t k = i + 1; k < args.size(); ++k) {
    const CoderEntry* entry = nullptr;
    for (const CoderEntry& e : kCoders) {
      if (args[k] == e.name) entry = &e;
    }
    if (entry == nullptr) return fail("no coder " + args[k] + " in this build");
    Measurement m = entry->run(picture, options);
    m.coder = entry->name;
    std::printf("%s\n", compare::to_json(m).c_str());
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return usage();
  const std::string& command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  std::string error;
  if (command == "coders" && rest.empty()) {
    for (const CoderEntry& e : kCoders) std::printf("%s\n", e.name);
    return 0;
  }
  if (command == "versions" && rest.empty()) {
    std::printf("charls %s\nlibpng %s\n", compare::charls_version().c_str(), compare::png_version().c_str());
    return 0;
  }
  if (command == "png-to-ppm" && rest.size() == 2) {
    Picture picture;
    if (!compare::read_png(rest[0], picture, error) || !compare::write_ppm(rest[1], picture, error)) return fail(error);
    return 0;
  }
  if (command == "generate" && rest.size() == 4) {
    int width = 0;
    int height = 0;
    std::uint64_t seed = 0;
    if (!parse_size(rest[1], width, height) || !parse_number(rest[2], seed)) return usage();
    Picture picture;
    if (!compare::generate(rest[0], width, height, seed, picture, error) ||
        !compare::write_ppm(rest[3], picture, error))
      return fail(error);
    return 0;
  }
  if (command == "measure") return measure(rest);
  if (command == "check-avi" && rest.size() == 3) {
    std::size_t frames = 0;
    if (!parse_number(rest[2], frames)) return usage();
    Picture picture;
    if (!load(rest[1], picture, error)) return fail(error);
    std::string report;
    const bool ok = compare::check_avi(rest[0], picture, frames, report);
    std::printf("%s\n", report.c_str());
    return ok ? 0 : 1;
  }
  return usage();
}
