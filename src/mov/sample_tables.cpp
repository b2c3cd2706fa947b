#include "mov/sample_tables.h"

#include <cstdio>
#include <new>

std::vector<std::int64_t> frame_offsets;
int total_frames = 0;

namespace {

// Calls `visit(chunk, samples)` for every chunk with the samples of the run
// that covers it.
template <typename Visit>
void for_each_chunk(std::span<const sample_to_chunk> table, std::size_t chunks, Visit visit) {
  std::size_t e = 0;
  for (std::size_t j = 0; j < chunks; ++j) {
    if (e + 1 < table.size() && j + 1 >= table[e + 1].first_chunk) ++e;
    visit(j, table[e].samples_per_chunk);
  }
}

}  // namespace

int calc_frame_offsets(std::span<const sample_to_chunk> table,
                       std::span<const std::uint32_t> chunk_offsets, int frame_size,
                       int max_frames) {
  frame_offsets.clear();
  total_frames = 0;
  // Without a run no chunk holds a sample.
  if (table.empty() || chunk_offsets.empty()) return 1;

  // Size the table from the samples the runs describe, so that no count of
  // samples per chunk overflows it.
  std::uint64_t samples = 0;
  for_each_chunk(table, chunk_offsets.size(),
                 [&](std::size_t, std::uint32_t n) { samples += n; });
  if (samples > static_cast<std::uint64_t>(max_frames)) {
    std::printf("Too many frames: the sample tables describe %llu, at most %d can be indexed\n",
                static_cast<unsigned long long>(samples), max_frames);
    return 0;
  }
  try {
    frame_offsets.resize(static_cast<std::size_t>(samples));
  } catch (const std::bad_alloc&) {
    std::printf("Not enough memory to index %llu frames\n",
                static_cast<unsigned long long>(samples));
    return 0;
  }

  std::int64_t* out = frame_offsets.data();
  for_each_chunk(table, chunk_offsets.size(), [&](std::size_t j, std::uint32_t n) {
    std::int64_t offset = chunk_offsets[j];
    for (std::uint32_t k = 0; k < n; ++k, offset += frame_size) *out++ = offset;
  });
  total_frames = static_cast<int>(samples);
  return 1;
}
