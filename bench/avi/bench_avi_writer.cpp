// AviWriter::write_frame into a file in the system's temporary directory:
// frames of a few sizes, and whole 1080p movies of 100 frames (the uncompressed
// conversion's output) to set beside a plain copy of as many bytes, in one
// RIFF and in OpenDML parts of 64 MiB (about ten of them).
#include "avi/avi_writer.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int k1080pFrame = 1920 * 1080 * 3;

std::string temp_name(const char* what) {
  return (std::filesystem::temp_directory_path() /
          ("quelmux_bench_" + std::string(what) + "_" + std::to_string(getpid()) + ".avi"))
      .string();
}

std::vector<unsigned char> frame_of(int size) {
  std::vector<unsigned char> frame(static_cast<std::size_t>(size) + 3);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(i * 31 + (i >> 9));
  return frame;
}

// One frame per iteration; the file starts afresh every 256 MiB or so.
void BM_WriteFrame(benchmark::State& state) {
  const int size = static_cast<int>(state.range(0));
  const std::string name = temp_name("frame");
  std::vector<unsigned char> frame = frame_of(size);
  const std::int64_t per_file = std::max<std::int64_t>(1, (std::int64_t{256} << 20) / (size + 8));
  auto writer = std::make_unique<AviWriter>();
  writer->init(name.c_str(), 1920, 1080, 25, 1, 1);
  std::int64_t in_file = 0;
  for (auto _ : state) {
    if (in_file == per_file) {
      state.PauseTiming();
      writer->flush();
      writer = std::make_unique<AviWriter>();
      writer->init(name.c_str(), 1920, 1080, 25, 1, 1);
      in_file = 0;
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(writer->write_frame(frame.data(), size, 0x10));
    ++in_file;
  }
  writer->flush();
  writer.reset();
  std::filesystem::remove(name);
  state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_WriteFrame)->Arg(100)->Arg(4096)->Arg(256 * 1024)->Arg(k1080pFrame)->UseRealTime();

// A whole file: init, 100 frames of 1080p, flush.
void BM_WriteMovie1080p(benchmark::State& state) {
  const std::string name = temp_name("movie");
  const auto part_limit = static_cast<std::uint64_t>(state.range(0)) << 20;
  std::vector<unsigned char> frame = frame_of(k1080pFrame);
  for (auto _ : state) {
    AviWriter writer(part_limit);
    writer.init(name.c_str(), 1920, 1080, 25, 1, 0);
    for (int i = 0; i < 100; ++i) writer.write_frame(frame.data(), k1080pFrame, 0x10);
    benchmark::DoNotOptimize(writer.flush());
  }
  std::filesystem::remove(name);
  state.SetBytesProcessed(state.iterations() * std::int64_t{100} * k1080pFrame);
}
BENCHMARK(BM_WriteMovie1080p)
    ->ArgName("part_limit_MiB")
    ->Arg(1024)
    ->Arg(64)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
