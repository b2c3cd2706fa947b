// mkmovie: writes uncompressed QuickTime movies with synthetic content.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "mov/movie_writer.h"
#include "mov/ppm_image.h"
#include "mov/synthetic_frames.h"

namespace {

constexpr const char* help_text = R"(Usage: mkmovie [options] <out.mov>
Writes an uncompressed QuickTime movie with synthetic content, one frame at a time.

  --size WxH          frame size in pixels, each 0 to 65535 (default 320x240)
  --frames N          number of frames (default 30)
  --format raw|wrle   "raw " (rows top down, R G B) or "WRLE" (bottom-up B G R)
                      (default raw)
  --content NAME      gradient-h, gradient-v, noise, solid, grey, shape, screen
                      or ppm (default shape)
  --colour R,G,B      colour of solid content (default 200,60,30)
  --seed N            seed of noise, shape and screen content (default 1)
  --ppm FILE          P6 image for ppm content (implies --content ppm)
  --fit resize|tile   how the image fills the frame: scaled and still, or
                      repeated and panning (default resize)
  --chunking RUNS     sample-to-chunk runs FIRST:SAMPLES,... (default 1:1);
                      1:2,3:1 puts 2 frames in chunks 1 and 2, then 1 a chunk
  --time-scale N      time units per second (default 600)
  --duration N        time units per frame (default 20)
  --gap N             filler bytes between chunks (default 0)
  --row-align 1|2|4   pad each stored row to a multiple of this many bytes
                      (fill bytes 0xEE), with the sample size saying so
                      (default 1: rows packed)
  --moov-last         put the movie atom after the media data
  --co64              write 64-bit chunk offsets ("co64") even below 4 GiB
  --quiet             print nothing on success
  --help              print this text

Chunks that start past 4 GiB get 64-bit chunk offsets ("co64") on their own;
past 4 GiB the media data takes the 64-bit size too.
)";

int fail(const std::string& message) {
  std::fprintf(stderr, "mkmovie: %s\n", message.c_str());
  return EXIT_FAILURE;
}

template <typename T>
bool parse_number(std::string_view text, T& value) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && p == end;
}

// "AxB" or "A,B,C" style lists of numbers.
template <typename T>
bool parse_list(std::string_view text, char separator, std::vector<T>& values) {
  values.clear();
  while (true) {
    const std::size_t cut = text.find(separator);
    T v{};
    if (!parse_number(text.substr(0, cut), v)) return false;
    values.push_back(v);
    if (cut == std::string_view::npos) return true;
    text.remove_prefix(cut + 1);
  }
}

bool parse_chunking(std::string_view text, std::vector<movgen::ChunkRun>& runs) {
  runs.clear();
  while (true) {
    const std::size_t cut = text.find(',');
    std::string_view part = text.substr(0, cut);
    const std::size_t colon = part.find(':');
    movgen::ChunkRun run;
    if (colon == std::string_view::npos || !parse_number(part.substr(0, colon), run.first_chunk) ||
        !parse_number(part.substr(colon + 1), run.samples_per_chunk))
      return false;
    runs.push_back(run);
    if (cut == std::string_view::npos) return true;
    text.remove_prefix(cut + 1);
  }
}

int run(int argc, char** argv) {
  movgen::MovieOptions movie;
  movgen::ContentOptions content;
  std::string ppm_path;
  std::string out;
  bool quiet = false;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(help_text, stdout);
      return EXIT_SUCCESS;
    }
    if (arg == "--moov-last") {
      movie.moov_last = true;
      continue;
    }
    if (arg == "--co64") {
      movie.co64 = true;
      continue;
    }
    if (arg == "--quiet") {
      quiet = true;
      continue;
    }
    if (arg.starts_with("--")) {
      if (i + 1 >= argc) return fail(std::string(arg) + " needs a value");
      const std::string_view value = argv[++i];
      bool ok = true;
      if (arg == "--size") {
        std::vector<int> wh;
        ok = parse_list(value, 'x', wh) && wh.size() == 2;
        if (ok) {
          movie.width = wh[0];
          movie.height = wh[1];
        }
      } else if (arg == "--frames") {
        ok = parse_number(value, movie.frames);
      } else if (arg == "--format") {
        ok = value == "raw" || value == "wrle" || value == "WRLE";
        movie.format = value == "raw" ? movgen::DataFormat::raw : movgen::DataFormat::wrle;
      } else if (arg == "--content") {
        ok = movgen::parse_content(value, content.content);
      } else if (arg == "--colour" || arg == "--color") {
        std::vector<std::uint8_t> c;
        ok = parse_list(value, ',', c) && c.size() == 3;
        if (ok) content.colour = {c[0], c[1], c[2]};
      } else if (arg == "--seed") {
        ok = parse_number(value, content.seed);
      } else if (arg == "--ppm") {
        ppm_path = value;
        content.content = movgen::Content::image;
      } else if (arg == "--fit") {
        ok = value == "resize" || value == "tile";
        content.fit = value == "tile" ? movgen::Fit::tile : movgen::Fit::resize;
      } else if (arg == "--chunking") {
        ok = parse_chunking(value, movie.chunking);
      } else if (arg == "--time-scale") {
        ok = parse_number(value, movie.time_scale);
      } else if (arg == "--duration") {
        ok = parse_number(value, movie.sample_duration);
      } else if (arg == "--gap") {
        ok = parse_number(value, movie.chunk_gap);
      } else if (arg == "--row-align") {
        ok = parse_number(value, movie.row_align) &&
             (movie.row_align == 1 || movie.row_align == 2 || movie.row_align == 4);
      } else {
        return fail("unknown option " + std::string(arg) + " (see --help)");
      }
      if (!ok) return fail("bad value for " + std::string(arg) + ": " + std::string(value));
      continue;
    }
    if (!out.empty()) return fail("more than one output file given (see --help)");
    out = arg;
  }
  if (out.empty()) return fail("no output file given (see --help)");

  movgen::PpmImage image;
  std::string error;
  if (content.content == movgen::Content::image) {
    if (ppm_path.empty()) return fail("ppm content needs --ppm FILE");
    if (!movgen::read_ppm(ppm_path, image, error)) return fail(error);
  }
  const movgen::FrameSource source(movie.width, movie.height, content, std::move(image));
  movgen::MovieLayout layout;
  if (!movgen::write_movie(out, movie, source, error, &layout)) return fail(error);
  if (!quiet) {
    std::printf("wrote %s: %u frames of %dx%d, \"%s\", %s content, %zu chunks%s, %llu bytes\n", out.c_str(),
                movie.frames, movie.width, movie.height, movie.format == movgen::DataFormat::raw ? "raw " : "WRLE",
                movgen::content_name(content.content), layout.chunk_offsets.size(), layout.co64 ? " (co64)" : "",
                static_cast<unsigned long long>(layout.file_size));
  }
  return EXIT_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
}
