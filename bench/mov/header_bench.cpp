// The cost of reading a movie header: the tag scan over the header window and
// a whole read_mov_header with its atoms at the far end of the window.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "mov/atom_search.h"
#include "mov/movie_header.h"
#include "mov/movie_writer.h"

namespace {

// A full window of media-like bytes (noise) with `tail` at its very end.
std::vector<unsigned char> window_ending_with(const std::vector<std::uint8_t>& tail) {
  std::vector<unsigned char> w(mov_header_window);
  std::mt19937 rng(7);
  for (auto& b : w) b = static_cast<unsigned char>(rng());
  // Keep the tags out of the noise so that each scan runs to the end; their
  // first letters stay as frequent as in any media data.
  for (const char* tag : {"mvhd", "tkhd", "mdhd", "stsd", "stts", "stsc", "stco"})
    for (std::size_t i = 0; i + 4 <= w.size(); ++i)
      if (std::memcmp(w.data() + i, tag, 4) == 0) w[i] = 'x';
  std::memcpy(w.data() + w.size() - tail.size(), tail.data(), tail.size());
  return w;
}

void BM_FindTagAcrossTheWindow(benchmark::State& state) {
  const std::vector<std::uint8_t> tag{'s', 't', 'c', 'o'};
  std::vector<unsigned char> w = window_ending_with(tag);
  for (auto _ : state) {
    unsigned char* p = w.data();
    int window = mov_header_window;
    benchmark::DoNotOptimize(findtag(p, "stco", window));
    benchmark::DoNotOptimize(p);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * mov_header_window);
}
BENCHMARK(BM_FindTagAcrossTheWindow);

// The same scan one byte at a time, for comparison.
void BM_BytewiseScanAcrossTheWindow(benchmark::State& state) {
  std::vector<unsigned char> w = window_ending_with({'s', 't', 'c', 'o'});
  for (auto _ : state) {
    int i = 0;
    for (; i < mov_header_window; ++i)
      if (std::memcmp(w.data() + i, "stco", 4) == 0) break;
    benchmark::DoNotOptimize(i);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * mov_header_window);
}
BENCHMARK(BM_BytewiseScanAcrossTheWindow);

void BM_ReadMovHeaderAtTheEndOfTheWindow(benchmark::State& state) {
  movgen::MovieOptions o;
  o.width = 640;
  o.height = 480;
  o.frames = 3000;
  movgen::MovieLayout layout;
  std::string error;
  movgen::plan_movie(o, layout, error);
  std::vector<unsigned char> w = window_ending_with(movgen::build_moov(o, layout));
  for (auto _ : state) {
    benchmark::DoNotOptimize(read_mov_header(w.data(), mov_header_window, [](std::string_view) {}));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * mov_header_window);
}
BENCHMARK(BM_ReadMovHeaderAtTheEndOfTheWindow);

}  // namespace

BENCHMARK_MAIN();
