// Throughput of the entropy coder on residual planes of photographs: the
// compacted stream both ways, and each of its stages.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "entropy/compress.h"
#include "entropy/range_coder.h"
#include "entropy/zero_rle.h"
#include "residual_planes.h"

namespace {

using benchdata::Plane;

// Screen-like residuals: long zero runs between short stretches of detail,
// which make compact choose run-length coding.
Plane sparse_plane(std::size_t length) {
  Plane plane{"screen-like", std::vector<unsigned char>(length, 0)};
  std::mt19937 rng(99);
  std::size_t i = 0;
  while (i < length) {
    i += rng() % 600;
    const std::size_t detail = rng() % 40;
    for (std::size_t k = 0; k < detail && i < length; ++k, ++i) {
      plane.bytes[i] = static_cast<unsigned char>(static_cast<int>(rng() % 7) - 3);
    }
  }
  return plane;
}

struct Coded {
  std::vector<unsigned char> stream;
  std::uint32_t length = 0;  // reported length
};

Coded compact_plane(Compress& coder, const Plane& plane) {
  Coded coded;
  coded.stream.resize(compact_bound(plane.bytes.size()));
  coded.length = coder.compact(plane.bytes.data(), coded.stream.data(), static_cast<std::uint32_t>(plane.bytes.size()));
  return coded;
}

void set_rates(benchmark::State& state, const Plane& plane, std::uint32_t coded_length) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * plane.bytes.size()));
  state.counters["bits/byte"] = 8.0 * coded_length / static_cast<double>(plane.bytes.size());
}

void register_plane(const Plane& source) {
  // Each benchmark keeps its own copy and coder, so the order of runs does
  // not matter.
  auto plane = std::make_shared<Plane>(source);
  const auto length = static_cast<std::uint32_t>(plane->bytes.size());

  benchmark::RegisterBenchmark(("compact/" + plane->name).c_str(), [plane, length](benchmark::State& state) {
    Compress coder;
    coder.InitCompressBuffers(length);
    std::vector<unsigned char> out(compact_bound(length));
    std::uint32_t reported = 0;
    for (auto _ : state) {
      reported = coder.compact(plane->bytes.data(), out.data(), length);
      benchmark::DoNotOptimize(out.data());
    }
    set_rates(state, *plane, reported);
  });

  benchmark::RegisterBenchmark(("uncompact_checked/" + plane->name).c_str(), [plane, length](benchmark::State& state) {
    Compress coder;
    coder.InitCompressBuffers(length);
    const Coded coded = compact_plane(coder, *plane);
    std::vector<unsigned char> back(length);
    for (auto _ : state) {
      const bool ok = coder.uncompact_checked(coded.stream.data(), coded.length, back.data(), length);
      benchmark::DoNotOptimize(ok);
    }
    if (back != plane->bytes) state.SkipWithError("plane not restored");
    set_rates(state, *plane, coded.length);
  });

  benchmark::RegisterBenchmark(("uncompact/" + plane->name).c_str(), [plane, length](benchmark::State& state) {
    Compress coder;
    coder.InitCompressBuffers(length);
    const Coded coded = compact_plane(coder, *plane);
    std::vector<unsigned char> back(length);
    for (auto _ : state) {
      coder.uncompact(coded.stream.data(), back.data(), length);
      benchmark::DoNotOptimize(back.data());
    }
    if (back != plane->bytes) state.SkipWithError("plane not restored");
    set_rates(state, *plane, coded.length);
  });

  benchmark::RegisterBenchmark(("calcprob/" + plane->name).c_str(), [plane, length](benchmark::State& state) {
    Compress coder;
    coder.InitCompressBuffers(length);
    for (auto _ : state) {
      coder.calcprob(plane->bytes.data(), length);
      benchmark::DoNotOptimize(coder.cum.get());
    }
    set_rates(state, *plane, length);
  });

  benchmark::RegisterBenchmark(("encode/" + plane->name).c_str(), [plane, length](benchmark::State& state) {
    Compress coder;
    coder.InitCompressBuffers(length);
    coder.calcprob(plane->bytes.data(), length);
    std::vector<unsigned char> out(compact_bound(length));
    int coded = 0;
    for (auto _ : state) {
      coded = coder.encode(plane->bytes.data(), out.data(), length);
      benchmark::DoNotOptimize(out.data());
    }
    set_rates(state, *plane, static_cast<std::uint32_t>(coded));
  });

  benchmark::RegisterBenchmark(("decode/" + plane->name).c_str(), [plane, length](benchmark::State& state) {
    Compress coder;
    coder.InitCompressBuffers(length);
    coder.calcprob(plane->bytes.data(), length);
    std::vector<unsigned char> coded(compact_bound(length));
    const int e = coder.encode(plane->bytes.data(), coded.data(), length);
    std::vector<unsigned char> back(length);
    for (auto _ : state) {
      coder.decode(coded.data(), back.data(), length);
      benchmark::DoNotOptimize(back.data());
    }
    if (back != plane->bytes) state.SkipWithError("plane not restored");
    set_rates(state, *plane, static_cast<std::uint32_t>(e));
  });

  benchmark::RegisterBenchmark(("testRLE/" + plane->name).c_str(), [plane, length](benchmark::State& state) {
    const int threshold = std::max<int>(static_cast<int>(length / 1000), 16);
    for (auto _ : state) {
      benchmark::DoNotOptimize(zero::testRLE(plane->bytes.data(), static_cast<int>(length), threshold));
    }
    set_rates(state, *plane, length);
  });

  benchmark::RegisterBenchmark(("RLE/" + plane->name).c_str(), [plane, length](benchmark::State& state) {
    const int threshold = std::max<int>(static_cast<int>(length / 1000), 16);
    int level = zero::testRLE(plane->bytes.data(), static_cast<int>(length), threshold);
    if (level == 0) level = 3;
    std::vector<unsigned char> out(2 * static_cast<std::size_t>(length) + 8);
    int coded = 0;
    for (auto _ : state) {
      coded = zero::RLE(plane->bytes.data(), out.data(), static_cast<int>(length), level);
      benchmark::DoNotOptimize(out.data());
    }
    set_rates(state, *plane, static_cast<std::uint32_t>(coded));
    state.counters["level"] = level;
  });
}

// The three planes of a frame, as the frame layer codes and a decoder
// restores them: compact one after the other, checked restore one after the
// other, and the joint restore.
void register_frame(const benchdata::Frame& source) {
  auto frame = std::make_shared<benchdata::Frame>(source);
  const auto length = static_cast<std::uint32_t>(frame->planes[0].bytes.size());
  const auto frame_bytes = static_cast<std::int64_t>(3) * length;

  benchmark::RegisterBenchmark(
      ("compact_frame/" + frame->name).c_str(), [frame, length, frame_bytes](benchmark::State& state) {
        Compress coder;
        coder.InitCompressBuffers(length);
        std::vector<unsigned char> out(3 * compact_bound(length));
        std::size_t total = 0;
        for (auto _ : state) {
          total = 0;
          for (const Plane& plane : frame->planes)
            total += coder.compact(plane.bytes.data(), out.data() + total, length);
          benchmark::DoNotOptimize(out.data());
        }
        state.SetBytesProcessed(state.iterations() * frame_bytes);
        state.counters["bits/byte"] = 8.0 * static_cast<double>(total) / static_cast<double>(frame_bytes);
      });

  // The range coding of the three planes alone, one after the other and
  // together.
  struct Tables {
    std::array<Compress, 3> coders;
    std::array<std::vector<unsigned char>, 3> out;
  };
  auto tables = std::make_shared<Tables>();
  for (std::size_t k = 0; k < 3; ++k) {
    tables->coders[k].InitCompressBuffers(length);
    tables->coders[k].calcprob(frame->planes[k].bytes.data(), length);
    tables->out[k].resize(compact_bound(length));
  }
  benchmark::RegisterBenchmark(
      ("encode_frame/" + frame->name).c_str(), [frame, tables, length, frame_bytes](benchmark::State& state) {
        for (auto _ : state) {
          for (std::size_t k = 0; k < 3; ++k) {
            tables->coders[k].encode(frame->planes[k].bytes.data(), tables->out[k].data(), length);
          }
          benchmark::DoNotOptimize(tables->out[2].data());
        }
        state.SetBytesProcessed(state.iterations() * frame_bytes);
      });
  benchmark::RegisterBenchmark(
      ("encode_together_frame/" + frame->name).c_str(), [frame, tables, length, frame_bytes](benchmark::State& state) {
        std::array<entropy::EncodeStream, 3> streams{};
        for (auto _ : state) {
          for (std::size_t k = 0; k < 3; ++k) {
            const Compress& c = tables->coders[k];
            streams[k] = {frame->planes[k].bytes.data(), length, c.cum.get(), c.shift, tables->out[k].data(), 0};
          }
          entropy::range_encode_together(streams);
          benchmark::DoNotOptimize(tables->out[2].data());
        }
        state.SetBytesProcessed(state.iterations() * frame_bytes);
      });

  benchmark::RegisterBenchmark(
      ("compact_together_frame/" + frame->name).c_str(), [frame, length, frame_bytes](benchmark::State& state) {
        std::array<Compress, 3> coders;
        std::array<Compress*, 3> pointers{};
        std::array<PlaneInput, 3> planes{};
        for (std::size_t k = 0; k < 3; ++k) {
          coders[k].InitCompressBuffers(length);
          pointers[k] = &coders[k];
          planes[k] = {frame->planes[k].bytes.data(), length};
        }
        std::vector<unsigned char> out(3 * compact_bound(length));
        std::array<std::uint32_t, 3> reported{};
        for (auto _ : state) {
          compact_together(pointers, planes, out.data(), reported);
          benchmark::DoNotOptimize(out.data());
        }
        state.SetBytesProcessed(state.iterations() * frame_bytes);
        state.counters["bits/byte"] =
            8.0 * static_cast<double>(reported[0] + reported[1] + reported[2]) / static_cast<double>(frame_bytes);
      });

  // Streams and coders shared by the two restores.
  struct Coded {
    std::vector<Compress> coders = std::vector<Compress>(3);
    std::vector<std::vector<unsigned char>> streams;
    std::vector<std::vector<unsigned char>> planes;
  };
  auto coded = std::make_shared<Coded>();
  for (std::size_t k = 0; k < 3; ++k) {
    coded->coders[k].InitCompressBuffers(length);
    std::vector<unsigned char> stream(compact_bound(length));
    stream.resize(coded->coders[k].compact(frame->planes[k].bytes.data(), stream.data(), length) - 1);
    coded->streams.push_back(std::move(stream));
    coded->planes.emplace_back(length);
  }

  benchmark::RegisterBenchmark(
      ("uncompact_checked_frame/" + frame->name).c_str(), [frame, coded, length, frame_bytes](benchmark::State& state) {
        for (auto _ : state) {
          for (std::size_t k = 0; k < 3; ++k) {
            const auto& s = coded->streams[k];
            benchmark::DoNotOptimize(
                coded->coders[0].uncompact_checked(s.data(), s.size(), coded->planes[k].data(), length));
          }
        }
        for (std::size_t k = 0; k < 3; ++k) {
          if (coded->planes[k] != frame->planes[k].bytes) state.SkipWithError("plane not restored");
        }
        state.SetBytesProcessed(state.iterations() * frame_bytes);
      });

  benchmark::RegisterBenchmark(
      ("uncompact_checked_together_frame/" + frame->name).c_str(),
      [frame, coded, length, frame_bytes](benchmark::State& state) {
        Compress* coders[3] = {&coded->coders[0], &coded->coders[1], &coded->coders[2]};
        PlaneStream planes[3];
        for (std::size_t k = 0; k < 3; ++k) {
          planes[k] = {coded->streams[k].data(), coded->streams[k].size(), coded->planes[k].data(), length};
        }
        for (auto _ : state) benchmark::DoNotOptimize(uncompact_checked_together(coders, planes));
        for (std::size_t k = 0; k < 3; ++k) {
          if (coded->planes[k] != frame->planes[k].bytes) state.SkipWithError("plane not restored");
        }
        state.SetBytesProcessed(state.iterations() * frame_bytes);
      });
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (const benchdata::Frame& frame : benchdata::residual_frames()) {
    register_plane(frame.planes[1]);  // green
    register_plane(frame.planes[0]);  // blue - green
    register_frame(frame);
  }
  register_plane(sparse_plane(1920 * 1080));
  register_plane(Plane{"noise1080p", benchdata::noise(1920 * 1080, 5)});
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
