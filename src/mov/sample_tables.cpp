#include "mov/sample_tables.h"

#include <algorithm>
#include <new>
#include <string>

namespace {

// Calls `visit(chunk, samples)` for every chunk with the samples of the run
// that covers it, until it returns false.
template <typename Visit>
void for_each_chunk(std::span<const sample_to_chunk> table, std::size_t chunks, Visit visit) {
  std::size_t e = 0;
  for (std::size_t j = 0; j < chunks; ++j) {
    if (e + 1 < table.size() && j + 1 >= table[e + 1].first_chunk) ++e;
    if (!visit(j, table[e].samples_per_chunk)) return;
  }
}

// How many of the `samples` frames from `offset` on lie wholly within the
// file.
std::uint64_t frames_inside(std::uint64_t offset, std::uint64_t samples, std::uint64_t frame_size,
                            std::uint64_t file_size) {
  if (offset > file_size) return 0;
  if (frame_size == 0) return samples;
  return std::min(samples, (file_size - offset) / frame_size);
}

}  // namespace

bool calc_frame_offsets(std::span<const sample_to_chunk> table, std::span<const std::uint64_t> chunk_offsets,
                        std::uint64_t frame_size, MovieHeader& header, int max_frames, std::uint64_t file_size) {
  std::vector<std::int64_t>& frame_offsets = header.frame_offsets;
  frame_offsets.clear();
  header.total_frames = 0;
  // Without a run no chunk holds a sample.
  if (table.empty() || chunk_offsets.empty()) return true;

  // The claims are only counted; the table gets an entry for each frame the
  // file holds, up to the first that it does not. Chunks may share their
  // frames, so each chunk-offset entry (in the file itself) backs one more.
  const std::uint64_t room = file_size / std::max<std::uint64_t>(frame_size, 1) + chunk_offsets.size();
  std::uint64_t samples = 0;
  std::uint64_t inside = 0;
  bool stopped = false;
  for_each_chunk(table, chunk_offsets.size(), [&](std::size_t j, std::uint32_t n) {
    samples += n;
    if (!stopped) {
      const std::uint64_t k = frames_inside(chunk_offsets[j], n, frame_size, file_size);
      inside += k;
      stopped = k < n || inside >= room;
      inside = std::min(inside, room);
    }
    return true;
  });
  if (samples > static_cast<std::uint64_t>(max_frames)) {
    header.error = "Too many frames: the sample tables describe " + std::to_string(samples) + ", at most " +
                   std::to_string(max_frames) + " can be indexed";
    return false;
  }
  try {
    frame_offsets.resize(static_cast<std::size_t>(inside));
  } catch (const std::bad_alloc&) {
    header.error = "Not enough memory to index " + std::to_string(inside) + " frames";
    return false;
  }

  std::size_t i = 0;
  for_each_chunk(table, chunk_offsets.size(), [&](std::size_t j, std::uint32_t n) {
    auto offset = static_cast<std::int64_t>(chunk_offsets[j]);
    for (std::uint32_t k = 0; k < n && i < frame_offsets.size(); ++k, offset += static_cast<std::int64_t>(frame_size))
      frame_offsets[i++] = offset;
    return i < frame_offsets.size();
  });
  header.total_frames = static_cast<int>(samples);
  return true;
}
