// raw_to_BGR, the conversion of every "raw " frame, in MB/s of frame bytes:
// the path the machine takes and the portable one, on frames of a few sizes
// (an odd width leaves a tail behind the vector steps of each row), beside a
// plain copy of as many bytes; and frame_to_bitmap between rows filled to 4
// bytes, as padded movies and "quelmux -u" have them.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "app/pixel_convert.h"

namespace {

using Convert = void (*)(const unsigned char*, unsigned char*, int, int);

std::vector<unsigned char> frame_of(std::size_t stride, int height) {
  std::vector<unsigned char> frame(stride * static_cast<std::size_t>(height));
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(i * 7 + (i >> 11));
  return frame;
}

// `filled`: rows of bitmap_stride(width) bytes on both sides.
void run(benchmark::State& state, Convert convert, bool check = true, bool filled = false) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  const std::size_t stride = filled ? bitmap_stride(width) : row;
  const std::vector<unsigned char> source = frame_of(stride, height);
  std::vector<unsigned char> destination(source.size());
  for (auto _ : state) {
    convert(source.data(), destination.data(), width, height);
    benchmark::DoNotOptimize(destination.data());
    benchmark::ClobberMemory();
  }
  // The last pixel of the top row ends up as the last pixel of the bottom
  // row of the bitmap.
  const std::size_t last = stride * static_cast<std::size_t>(height - 1) + row - 1;
  if (check && destination[last] != source[row - 3]) state.SkipWithError("frame not converted");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(height) *
                          static_cast<std::int64_t>(row));
}

void BM_raw_to_BGR(benchmark::State& state) { run(state, raw_to_BGR); }
void BM_raw_to_BGR_scalar(benchmark::State& state) { run(state, pixel_convert_detail::raw_to_BGR_scalar); }
void BM_frame_to_bitmap_filled(benchmark::State& state) {
  const auto convert = [](const unsigned char* s, unsigned char* d, int w, int h) {
    frame_to_bitmap(s, bitmap_stride(w), d, bitmap_stride(w), w, h, true);
  };
  run(state, convert, true, true);
}

// The bound: the rows copied in reverse order, bytes unswapped.
void BM_row_copy(benchmark::State& state) {
  const auto copy_rows = [](const unsigned char* s, unsigned char* d, int w, int h) {
    const std::size_t row = static_cast<std::size_t>(w) * 3;
    const auto rows = static_cast<std::size_t>(h);
    for (std::size_t k = 0; k < rows; ++k) std::memcpy(d + k * row, s + (rows - 1 - k) * row, row);
  };
  run(state, copy_rows, false);
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1920, 1080})->Args({1921, 1080})->Args({3840, 2160});
}

BENCHMARK(BM_raw_to_BGR)->Apply(sizes);
BENCHMARK(BM_raw_to_BGR_scalar)->Apply(sizes);
BENCHMARK(BM_frame_to_bitmap_filled)->Apply(sizes);
BENCHMARK(BM_row_copy)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
