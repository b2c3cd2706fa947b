// Reading a movie's frame size, time base, data format and frame offsets from
// the header window: the first bytes of the file, held in memory.
#pragma once

#include <cstdint>
#include <string>

// Length of the header window: every atom the reader needs must lie in the
// first this many bytes of the movie (or of its movie atom, movie_file.h).
constexpr int mov_header_window = 9'240'576;

struct mov_info {
  std::uint16_t width = 0;   // integer part of the track header's width
  std::uint16_t height = 0;  // integer part of the track header's height
  std::int32_t time_scale = 0;       // media time units per second
  std::int32_t sample_duration = 0;  // first time-to-sample entry, in time units
  char data_format[4] = {};          // "raw " or "WRLE"
  // A frame as the movie stores it: `height` rows of `row_bytes`, which is
  // 3 x width, or that padded to a multiple of 2 or 4 bytes where the
  // movie's sample size says so. The padding is not part of the picture.
  std::uint32_t row_bytes = 0;
  std::uint64_t frame_bytes = 0;
};

// One search of a header window, what it would print kept in `lines`.
struct HeaderSearch {
  int result = 0;                     // 1 when the movie can be converted
  std::string lines;                  // every line, a failure message last
  std::size_t failure_at = 0;         // where the failure message starts
  const char* missing_tag = nullptr;  // the tag that was not found, if that is the failure
};

// Finds mvhd, tkhd, mdhd, stsd, stts, stsc and stco (or co64) in this order
// in the `window` bytes at `buffer`, fills `info` and builds frame_offsets and
// total_frames (sample_tables.h) for a file of `file_size` bytes. A sample-size
// atom (stsz) after stsd tells whether rows are padded. Bytes past the window
// are taken as zero and never read; tables must lie within it.
HeaderSearch search_mov_header(unsigned char* buffer, int window, mov_info& info,
                               std::uint64_t file_size = INT64_MAX);

// Prints what a search found on standard output; `quiet` leaves out all but
// the failure message.
void print_header_search(const HeaderSearch& search, bool quiet);

// search_mov_header and print_header_search: returns 1, or 0 after printing
// why.
int read_mov_header(unsigned char* buffer, int window, mov_info& info, std::uint64_t file_size = INT64_MAX,
                    bool quiet = false);
