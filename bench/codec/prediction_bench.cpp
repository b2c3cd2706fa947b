// Speed of the plane prediction and its inverse on 1920 x 1080 photographs
// (a mosaic of python3-skimage's images; noise where they are missing), in MB/s
// of frame bytes. Usage: bench_prediction [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <vector>

#include "codec/prediction.h"
#include "codec/prediction_inverse.h"
#include "codec/prediction_planes.h"
#include "codec/prediction_simd.h"
#include "photos.h"
#include "simd_levels.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

using Bytes = std::vector<unsigned char>;

const Bytes& frame(int pixel_size) {
  static const Bytes frames[2] = {[] {
                                    Bytes f = testframes::photo_mosaic(kWidth, kHeight, 3);
                                    return f.empty() ? testframes::noise(kWidth, kHeight, 3, 1) : f;
                                  }(),
                                  [] {
                                    Bytes f = testframes::photo_mosaic(kWidth, kHeight, 4);
                                    return f.empty() ? testframes::noise(kWidth, kHeight, 4, 1) : f;
                                  }()};
  return frames[pixel_size - 3];
}

bool usable(benchmark::State& state, PredictionSimd level) {
  if (prediction_simd_supported(level)) return true;
  state.SkipWithError("instruction set not on this CPU");
  return false;
}

void finish(benchmark::State& state, int pixel_size) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kPixels) *
                          pixel_size);
  state.SetLabel(pixel_size == 3 ? "24-bit" : "32-bit");
}

// The plain interleaved form followed by the split into planes, as Part of
// the frame layer would run it without the fused form.
void BM_DeEntropyThenSplit(benchmark::State& state) {
  const int ps = static_cast<int>(state.range(0));
  Bytes work = frame(ps);
  Bytes residuals(work.size());
  Bytes planes(work.size());
  for (auto _ : state) {
    // Decorrelating an already decorrelated frame costs the same.
    if (ps == 3) {
      DeEntropy(work.data(), residuals.data(), kWidth, kHeight);
    } else {
      DeEntropy32(work.data(), residuals.data(), kWidth, kHeight);
    }
    for (std::size_t i = 0; i < residuals.size(); ++i) {
      planes[(i % static_cast<std::size_t>(ps)) * kPixels + i / static_cast<std::size_t>(ps)] = residuals[i];
    }
    benchmark::DoNotOptimize(planes.data());
    benchmark::ClobberMemory();
  }
  finish(state, ps);
}
BENCHMARK(BM_DeEntropyThenSplit)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);

void BM_DeEntropyPlanes(benchmark::State& state) {
  const int ps = static_cast<int>(state.range(0));
  const auto level = static_cast<PredictionSimd>(state.range(1));
  if (!usable(state, level)) return;
  const Bytes& in = frame(ps);
  Bytes out(in.size());
  unsigned char* planes[4] = {out.data(), out.data() + kPixels, out.data() + 2 * kPixels, out.data() + 3 * kPixels};
  for (auto _ : state) {
    if (ps == 3) {
      DeEntropyPlanes(in.data(), planes, kWidth, kHeight, level);
    } else {
      DeEntropyPlanes32(in.data(), planes, kWidth, kHeight, level);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  finish(state, ps);
  state.SetLabel(std::string(ps == 3 ? "24-bit " : "32-bit ") + prediction_simd_name(level));
}
BENCHMARK(BM_DeEntropyPlanes)
    ->ArgsProduct({{3, 4},
                   {static_cast<int>(PredictionSimd::Scalar), static_cast<int>(PredictionSimd::Ssse3),
                    static_cast<int>(PredictionSimd::Avx2)}})
    ->Unit(benchmark::kMillisecond);

void BM_ReEntropyPlanes(benchmark::State& state) {
  const int ps = static_cast<int>(state.range(0));
  const auto level = static_cast<PredictionSimd>(state.range(1));
  if (!usable(state, level)) return;
  const Bytes& source = frame(ps);
  Bytes residuals(source.size());
  unsigned char* planes[4] = {residuals.data(), residuals.data() + kPixels, residuals.data() + 2 * kPixels,
                              residuals.data() + 3 * kPixels};
  const unsigned char* const cplanes[4] = {planes[0], planes[1], planes[2], planes[3]};
  if (ps == 3) {
    DeEntropyPlanes(source.data(), planes, kWidth, kHeight);
  } else {
    DeEntropyPlanes32(source.data(), planes, kWidth, kHeight);
  }
  Bytes out(source.size());
  for (auto _ : state) {
    if (ps == 3) {
      ReEntropyPlanes(cplanes, out.data(), kWidth, kHeight, level);
    } else {
      ReEntropyPlanes32(cplanes, out.data(), kWidth, kHeight, level);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  if (out != source) state.SkipWithError("frame not rebuilt");
  finish(state, ps);
  state.SetLabel(std::string(ps == 3 ? "24-bit " : "32-bit ") + prediction_simd_name(level));
}
BENCHMARK(BM_ReEntropyPlanes)
    ->ArgsProduct({{3, 4}, {static_cast<int>(PredictionSimd::Scalar), static_cast<int>(PredictionSimd::Sse2)}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
