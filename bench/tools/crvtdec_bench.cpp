// crvtdec --compare on a 1920 x 1080 photographic movie, in MB/s of
// uncompressed frame bytes, beside the frame decoder alone on the same
// frames, so that what the program adds to the decoder shows.
//   bench_crvtdec [--benchmark_filter=...]
// The movie ("raw ", the converter's usual input) holds kFrames frames of
// python3-skimage's colour photographs (a grid of them, mirrored at the
// seams), panned by a few pixels a frame; the AVI file is what quelmux makes
// of it. Both are written to the temporary directory once.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "avi/avi_reader.h"
#include "avi/avi_writer.h"
#include "codec/codec_inst.h"
#include "codec/frame_decoder.h"
#include "crvtdec/compare.h"
#include "mov/movie_writer.h"
#include "mov/synthetic_frames.h"
#include "photos.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::uint32_t kFrames = 30;
constexpr std::size_t kFrameBytes = std::size_t{kWidth} * kHeight * 3;

using Bytes = std::vector<unsigned char>;

struct Files {
  std::filesystem::path dir;
  std::string movie;
  std::string avi;
  bool ready = false;

  ~Files() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
};

// Frame `i`: the photographs panned i * 3 pixels to the left, as bottom-up
// BGR (the codec's input) from a wider mosaic.
Bytes panned(const Bytes& wide, int wide_width, std::uint32_t i) {
  Bytes frame(kFrameBytes);
  const std::size_t shift = 3 * std::size_t{3} * i;
  for (int y = 0; y < kHeight; ++y) {
    const unsigned char* row = wide.data() + std::size_t(y) * 3 * wide_width + shift;
    std::copy_n(row, 3 * std::size_t{kWidth}, frame.begin() + std::ptrdiff_t(y) * 3 * kWidth);
  }
  return frame;
}

// The bitmap as a "raw " movie stores it: top-down RGB.
Bytes to_raw(const Bytes& bgr) {
  Bytes raw(kFrameBytes);
  for (int y = 0; y < kHeight; ++y) {
    const unsigned char* in = bgr.data() + std::size_t(kHeight - 1 - y) * 3 * kWidth;
    unsigned char* out = raw.data() + std::size_t(y) * 3 * kWidth;
    for (int x = 0; x < 3 * kWidth; x += 3) {
      out[x] = in[x + 2];
      out[x + 1] = in[x + 1];
      out[x + 2] = in[x];
    }
  }
  return raw;
}

const Files& files() {
  static Files f = [] {
    Files made;
    const int wide_width = kWidth + 3 * static_cast<int>(kFrames);
    const Bytes wide = testframes::photo_mirrored(wide_width, kHeight, 3);
    if (wide.empty()) return made;
    made.dir = std::filesystem::temp_directory_path() / ("crvtdec-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(made.dir);
    made.movie = (made.dir / "photo.mov").string();
    made.avi = (made.dir / "photo.avi").string();

    movgen::MovieOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.frames = kFrames;
    options.chunking = {{1, 10}};
    movgen::MovieWriter movie;
    std::string error;
    CodecInst codec;
    AviWriter avi;
    Bytes coded(max_frame_size(kWidth, kHeight, 24) + 3);
    if (!movie.open(made.movie, options, error) || codec.CompressBegin(kWidth, kHeight, 24) != ICERR_OK ||
        !avi.init(made.avi.c_str(), kWidth, kHeight, 600, 20, 1)) {
      std::fprintf(stderr, "cannot write the benchmark's files: %s\n", error.c_str());
      return made;
    }
    for (std::uint32_t i = 0; i < kFrames; ++i) {
      const Bytes bgr = panned(wide, wide_width, i);
      ICCOMPRESS record{0, 0, coded.data(), bgr.data()};
      codec.CompressContinue(&record, 0);
      if (!movie.write_frame(to_raw(bgr), error) ||
          !avi.write_frame(coded.data(), static_cast<int>(record.dwCompressedSize), static_cast<int>(record.dwFlags))) {
        return made;
      }
    }
    made.ready = movie.finish(error) && avi.flush();
    return made;
  }();
  return f;
}

void set_rate(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames *
                          static_cast<std::int64_t>(kFrameBytes));
}

// What crvtdec --compare does, less the printing of its one result line.
void BM_Compare(benchmark::State& state) {
  const Files& f = files();
  if (!f.ready) return state.SkipWithError("no photographs, or the files could not be written");
  for (auto _ : state) {
    crvtdec::AviInput avi;
    crvtdec::MovieSource movie;
    if (!avi.open(f.avi) || !movie.open(f.movie)) {
      return state.SkipWithError("cannot open the files");
    }
    const crvtdec::CompareOutcome outcome = crvtdec::compare_frames(avi, movie, kFrames, 1);
    if (outcome.failed || outcome.difference) return state.SkipWithError("the frames differ");
  }
  set_rate(state);
}
BENCHMARK(BM_Compare)->Unit(benchmark::kMillisecond)->UseRealTime();

// The AVI's frames decoded through crvtdec's input: reads and decoding.
void BM_DecodeFile(benchmark::State& state) {
  const Files& f = files();
  if (!f.ready) return state.SkipWithError("no photographs, or the files could not be written");
  for (auto _ : state) {
    crvtdec::AviInput avi;
    if (!avi.open(f.avi)) return state.SkipWithError("cannot open the AVI file");
    crvtdec::FrameView frame;
    while (avi.position() < avi.frame_count()) {
      if (!avi.next(frame)) return state.SkipWithError("a frame does not decode");
    }
    benchmark::DoNotOptimize(frame.data);
  }
  set_rate(state);
}
BENCHMARK(BM_DecodeFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The frame decoder alone, on the same frames held in memory.
void BM_DecodeMemory(benchmark::State& state) {
  const Files& f = files();
  if (!f.ready) return state.SkipWithError("no photographs, or the files could not be written");
  avi::AviReader reader;
  if (!reader.open(f.avi)) return state.SkipWithError("cannot open the AVI file");
  std::vector<Bytes> frames;
  for (std::size_t i = 0; i < reader.frames().size(); ++i) {
    frames.emplace_back(reader.frames()[i].size);
    reader.read_frame(i, frames.back());
  }
  FrameDecoder decoder;
  if (decoder.Begin(kWidth, kHeight, 24) != ICERR_OK) return state.SkipWithError("no memory");
  for (auto _ : state) {
    for (const Bytes& frame : frames) {
      if (decoder.Decode(frame) != ICERR_OK) return state.SkipWithError("a frame does not decode");
    }
    benchmark::DoNotOptimize(decoder.frame().data());
  }
  set_rate(state);
  std::size_t stored = 0;
  for (const Bytes& frame : frames) stored += frame.size();
  state.counters["ratio"] = static_cast<double>(kFrames * kFrameBytes) / static_cast<double>(stored);
}
BENCHMARK(BM_DecodeMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
