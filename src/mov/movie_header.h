// Reading a movie's frame size, time base, data format and frame offsets from
// the header window: the first bytes of the file, held in memory.
#pragma once

#include <climits>
#include <cstdint>

// Length of the header window: every atom the reader needs must lie in the
// first this many bytes of the movie.
constexpr int mov_header_window = 9'240'576;

struct mov_info {
  std::uint16_t width = 0;   // integer part of the track header's width
  std::uint16_t height = 0;  // integer part of the track header's height
  std::int32_t time_scale = 0;       // media time units per second
  std::int32_t sample_duration = 0;  // first time-to-sample entry, in time units
  char data_format[4] = {};          // "raw " or "WRLE"
};

// Finds mvhd, tkhd, mdhd, stsd, stts, stsc and stco in this order in the
// `window` bytes at `buffer`, prints what it finds on standard output, fills
// `info` and builds frame_offsets and total_frames (sample_tables.h). Returns 1,
// or prints why and returns 0. Bytes past the window are taken as zero and never
// read. `max_frames` bounds the frames indexed (see calc_frame_offsets).
// `quiet` leaves out what it finds and prints only why it fails.
int read_mov_header(unsigned char* buffer, int window, mov_info& info, int max_frames = INT_MAX,
                    bool quiet = false);
