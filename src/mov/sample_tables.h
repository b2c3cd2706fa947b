// The sample-to-chunk runs and the table of frame offsets built from them.
#pragma once

#include <climits>
#include <cstdint>
#include <span>

#include "mov/movie_header.h"

// One entry of the sample-to-chunk table, in host order.
struct sample_to_chunk {
  std::uint32_t first_chunk;  // first chunk of the run, counted from 1
  std::uint32_t samples_per_chunk;
  std::uint32_t sample_description_id;  // not used
};
static_assert(sizeof(sample_to_chunk) == 12, "entries are read straight from the file's table");

// Fills header.frame_offsets and header.total_frames: the samples of each
// chunk lie back to back from the chunk's offset, `frame_size` bytes each,
// their number given by the run in force (each chunk advances at most one run, and the last run holds
// for every remaining chunk).
//
// The table follows the file, not the claims: offsets stop at the first frame
// that does not lie wholly within the first `file_size` bytes, and at
// file_size / frame_size frames (as many as the file can hold side by side)
// plus one a chunk (chunks that share their frames); they stay below 2^63.
// Returns true, or false with no frames and header.error set when the
// chunks claim more than `max_frames` samples or memory runs out.
bool calc_frame_offsets(std::span<const sample_to_chunk> table, std::span<const std::uint64_t> chunk_offsets,
                        std::uint64_t frame_size, MovieHeader& header, int max_frames = INT_MAX,
                        std::uint64_t file_size = INT64_MAX);
