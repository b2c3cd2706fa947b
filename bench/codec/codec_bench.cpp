// Speed and compression of the Corvath frame layer on 1920 x 1080 frames, in
// MB/s of uncompressed frame bytes: the encoder's full frames (through
// CompressContinue, and KeyCompress alone), the decoder, and the stages of one
// full frame (prediction, run-length test, counting, table, range coding).
//   bench_codec [--benchmark_filter=...]
// The photographic frame is a grid of python3-skimage's colour photographs,
// each mirrored at its seams; a screen-like frame and noise stand beside it.
// scripts/compare.sh sets these figures beside other lossless coders (CharLS
// among them), on the same photographic frame and many more pictures.
#include <benchmark/benchmark.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec_inst.h"
#include "codec/frame_decoder.h"
#include "codec/prediction_planes.h"
#include "entropy/compress.h"
#include "entropy/fibonacci.h"
#include "entropy/frequency_table.h"
#include "entropy/range_coder.h"
#include "entropy/zero_rle.h"
#include "photos.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr std::size_t kPixels = static_cast<std::size_t>(kWidth) * kHeight;

using Bytes = std::vector<unsigned char>;

struct Content {
  std::string name;
  Bytes frame;  // 3 or 4 bytes a pixel
  int pixel_size;
};

std::vector<Content> contents() {
  std::vector<Content> list;
  Bytes photo = testframes::photo_mirrored(kWidth, kHeight, 3);
  if (!photo.empty()) {
    list.push_back({"photo", std::move(photo), 3});
    list.push_back({"photo32", testframes::photo_mirrored(kWidth, kHeight, 4), 4});
  }
  list.push_back({"screen", testframes::screen(kWidth, kHeight, 3, 1), 3});
  list.push_back({"noise", testframes::noise(kWidth, kHeight, 3, 1), 3});
  return list;
}

void set_rates(benchmark::State& state, const Content& c, std::size_t coded) {
  const double bytes = static_cast<double>(c.frame.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(c.frame.size()));
  if (coded != 0) state.counters["ratio"] = bytes / static_cast<double>(coded);
}

// A whole frame through CompressContinue: with skip_unchanged off and content
// that is not one colour, every call codes a full frame.
void encode_frames(benchmark::State& state, const Content* c, PredictionSimd level) {
  CodecInst codec;
  codec.keep_alpha = 1;
  codec.simd = level;
  if (codec.CompressBegin(kWidth, kHeight, 8 * c->pixel_size) != ICERR_OK) {
    state.SkipWithError("CompressBegin failed");
    return;
  }
  Bytes out(max_frame_size(kWidth, kHeight, 8 * c->pixel_size));
  ICCOMPRESS record{0, 0, out.data(), c->frame.data()};
  for (auto _ : state) {
    codec.CompressContinue(&record, 0);
    benchmark::DoNotOptimize(out.data());
  }
  set_rates(state, *c, record.dwCompressedSize);
}

// KeyCompress alone, on the frame CompressContinue would have loaded: the
// full frame without the one-colour test in front of it.
void key_compress(benchmark::State& state, const Content* c) {
  CodecInst codec;
  if (codec.CompressBegin(kWidth, kHeight, 24) != ICERR_OK) {
    state.SkipWithError("CompressBegin failed");
    return;
  }
  Bytes out(max_frame_size(kWidth, kHeight, 24));
  ICCOMPRESS record{0, 0, out.data(), c->frame.data()};
  codec.in_frame = c->frame.data();
  codec.out_frame = out.data();
  for (auto _ : state) {
    benchmark::DoNotOptimize(codec.KeyCompress(&record));
  }
  set_rates(state, *c, record.dwCompressedSize);
}

// With skip_unchanged set, on two frames that differ in their first byte
// only: every frame is coded in full after the unchanged-frame test has
// compared the later half, and is kept for the next test.
void encode_frames_skip_unchanged(benchmark::State& state, const Content* c) {
  CodecInst codec;
  codec.skip_unchanged = 1;
  codec.CompressBegin(kWidth, kHeight, 8 * c->pixel_size);
  Bytes other = c->frame;
  other[0] ^= 1;
  Bytes out(max_frame_size(kWidth, kHeight, 8 * c->pixel_size));
  ICCOMPRESS record{0, 0, out.data(), nullptr};
  bool odd = false;
  for (auto _ : state) {
    record.lpInput = odd ? other.data() : c->frame.data();
    odd = !odd;
    codec.CompressContinue(&record, 0);
    if (record.dwCompressedSize == 0) state.SkipWithError("null frame");
  }
  set_rates(state, *c, record.dwCompressedSize);
}

void decode_frames(benchmark::State& state, const Content* c) {
  CodecInst codec;
  codec.keep_alpha = 1;
  codec.CompressBegin(kWidth, kHeight, 8 * c->pixel_size);
  Bytes coded(max_frame_size(kWidth, kHeight, 8 * c->pixel_size));
  ICCOMPRESS record{0, 0, coded.data(), c->frame.data()};
  codec.CompressContinue(&record, 0);
  coded.resize(record.dwCompressedSize);
  FrameDecoder decoder;
  if (decoder.Begin(kWidth, kHeight, 8 * c->pixel_size) != ICERR_OK) {
    state.SkipWithError("Begin failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(decoder.Decode(coded));
  }
  if (!std::equal(decoder.frame().begin(), decoder.frame().end(), c->frame.begin(), c->frame.end())) {
    state.SkipWithError("frame not rebuilt");
  }
  set_rates(state, *c, coded.size());
}

// The stages of one full 24-bit frame, each over the three planes, as
// compact() runs them: the run-length test, the run-length coding of the
// planes that take it, then counting, the table and the range coding of
// what is coded (the plane, or its run-length form).
struct Planes {
  Bytes residuals = Bytes(3 * kPixels);
  std::array<int, 3> level{};
  std::array<Bytes, 3> coded;  // what the range coder codes
  unsigned char* plane(std::size_t k) { return residuals.data() + k * kPixels; }
};

constexpr int kThreshold = static_cast<int>(kPixels / 1000);

std::shared_ptr<Planes> planes_of(const Content& c) {
  auto p = std::make_shared<Planes>();
  unsigned char* const out[3] = {p->plane(0), p->plane(1), p->plane(2)};
  DeEntropyPlanes(c.frame.data(), out, kWidth, kHeight);
  for (std::size_t k = 0; k < 3; ++k) {
    p->level[k] = zero::testRLE(p->plane(k), static_cast<int>(kPixels), kThreshold);
    if (p->level[k] == 0) {
      p->coded[k].assign(p->plane(k), p->plane(k) + kPixels);
    } else {
      p->coded[k].resize(kPixels);
      p->coded[k].resize(
          static_cast<std::size_t>(zero::RLE(p->plane(k), p->coded[k].data(), static_cast<int>(kPixels), p->level[k])));
    }
  }
  return p;
}

void register_stages(const Content* c) {
  const std::string suffix = "/" + c->name;
  auto planes = planes_of(*c);
  benchmark::RegisterBenchmark(("stage_prediction" + suffix).c_str(), [c](benchmark::State& state) {
    Planes p;
    unsigned char* const out[3] = {p.plane(0), p.plane(1), p.plane(2)};
    for (auto _ : state) {
      DeEntropyPlanes(c->frame.data(), out, kWidth, kHeight);
      benchmark::ClobberMemory();
    }
    set_rates(state, *c, 0);
  });
  benchmark::RegisterBenchmark(("stage_rle_test" + suffix).c_str(), [c, planes](benchmark::State& state) {
    for (auto _ : state) {
      for (std::size_t k = 0; k < 3; ++k) {
        benchmark::DoNotOptimize(zero::testRLE(planes->plane(k), static_cast<int>(kPixels), kThreshold));
      }
    }
    set_rates(state, *c, 0);
  });
  benchmark::RegisterBenchmark(("stage_rle" + suffix).c_str(), [c, planes](benchmark::State& state) {
    Bytes out(kPixels);
    for (auto _ : state) {
      for (std::size_t k = 0; k < 3; ++k) {
        if (planes->level[k] == 0) continue;
        benchmark::DoNotOptimize(zero::RLE(planes->plane(k), out.data(), static_cast<int>(kPixels), planes->level[k]));
      }
    }
    set_rates(state, *c, 0);
    state.counters["planes"] =
        static_cast<double>((planes->level[0] != 0) + (planes->level[1] != 0) + (planes->level[2] != 0));
  });
  benchmark::RegisterBenchmark(("stage_counting" + suffix).c_str(), [c, planes](benchmark::State& state) {
    std::uint32_t counts[256];
    for (auto _ : state) {
      for (const Bytes& coded : planes->coded) {
        std::memset(counts, 0, sizeof counts);
        entropy::count_bytes(coded, std::span<std::uint32_t, 256>(counts));
        benchmark::DoNotOptimize(counts);
      }
    }
    set_rates(state, *c, 0);
  });
  benchmark::RegisterBenchmark(("stage_table" + suffix).c_str(), [c, planes](benchmark::State& state) {
    std::uint32_t counts[3][256] = {};
    for (std::size_t k = 0; k < 3; ++k) {
      entropy::count_bytes(planes->coded[k], std::span<std::uint32_t, 256>(counts[k]));
    }
    std::uint32_t cum[257];
    unsigned char table[kMaxFibonacciTableBytes + 1];
    for (auto _ : state) {
      for (std::size_t k = 0; k < 3; ++k) {
        std::memcpy(cum + 1, counts[k], sizeof counts[k]);
        benchmark::DoNotOptimize(entropy::scale_counts(std::span<std::uint32_t, 257>(cum), planes->coded[k].size()));
        benchmark::DoNotOptimize(FibonacciEncode2(counts[k], table, 256));
      }
    }
    set_rates(state, *c, 0);
  });
  benchmark::RegisterBenchmark(("stage_range_coding" + suffix).c_str(), [c, planes](benchmark::State& state) {
    Compress coders[3];
    Bytes out(compact_bound(kPixels));
    for (std::size_t k = 0; k < 3; ++k) {
      coders[k].InitCompressBuffers(16);
      coders[k].calcprob(planes->coded[k].data(), static_cast<std::uint32_t>(planes->coded[k].size()));
    }
    for (auto _ : state) {
      for (std::size_t k = 0; k < 3; ++k) {
        const auto length = static_cast<std::uint32_t>(planes->coded[k].size());
        benchmark::DoNotOptimize(coders[k].encode(planes->coded[k].data(), out.data(), length));
      }
    }
    set_rates(state, *c, 0);
  });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  static const std::vector<Content> all = contents();
  for (const Content& c : all) {
    benchmark::RegisterBenchmark(("encode/" + c.name).c_str(), encode_frames, &c, best_prediction_simd())
        ->Unit(benchmark::kMillisecond);
    if (c.name == "photo") {
      benchmark::RegisterBenchmark("encode_scalar_prediction/photo", encode_frames, &c, PredictionSimd::Scalar)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark("encode_skip_unchanged/photo", encode_frames_skip_unchanged, &c)
          ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark(("decode/" + c.name).c_str(), decode_frames, &c)->Unit(benchmark::kMillisecond);
    if (c.pixel_size == 3) {
      benchmark::RegisterBenchmark(("KeyCompress/" + c.name).c_str(), key_compress, &c)->Unit(benchmark::kMillisecond);
      register_stages(&c);
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
