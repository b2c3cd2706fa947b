// The sample-to-chunk runs and the table of frame offsets built from them.
#pragma once

#include <climits>
#include <cstdint>
#include <span>
#include <vector>

// One entry of the sample-to-chunk table, in host order.
struct sample_to_chunk {
  std::uint32_t first_chunk;  // first chunk of the run, counted from 1
  std::uint32_t samples_per_chunk;
  std::uint32_t sample_description_id;  // not used
};
static_assert(sizeof(sample_to_chunk) == 12, "entries are read straight from the file's table");

// File offset of every frame, in frame order, and their count. Filled by
// calc_frame_offsets; the table lives until the process ends.
extern std::vector<std::int64_t> frame_offsets;
extern int total_frames;

// Fills frame_offsets and total_frames: the samples of each chunk lie back to
// back from the chunk's offset, `frame_size` bytes each, their number given by
// the run in force (each chunk advances at most one run, and the last run holds
// for every remaining chunk). Returns 1, or prints why and returns 0 with no
// frames when the chunks hold more than `max_frames` samples or memory runs
// out. `frame_size` must not be negative.
int calc_frame_offsets(std::span<const sample_to_chunk> table,
                       std::span<const std::uint32_t> chunk_offsets, int frame_size,
                       int max_frames = INT_MAX);
