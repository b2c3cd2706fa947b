// Reading a movie's frame size, time base, data format and frame offsets from
// the header window: the first bytes of the file, held in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Length of the header window: every atom the reader needs must lie in the
// first this many bytes of the movie (or of its movie atom, movie_file.h).
constexpr int mov_header_window = 9'240'576;

struct mov_info {
  std::uint16_t width = 0;           // integer part of the track header's width
  std::uint16_t height = 0;          // integer part of the track header's height
  std::int32_t time_scale = 0;       // media time units per second
  std::int32_t sample_duration = 0;  // first time-to-sample entry, in time units
  char data_format[4] = {};          // "raw " or "WRLE"
  // A frame as the movie stores it: `height` rows of `row_bytes`, which is
  // 3 x width, or that padded to a multiple of 2 or 4 bytes where the
  // movie's sample size says so. The padding is not part of the picture.
  std::uint32_t row_bytes = 0;
  std::uint64_t frame_bytes = 0;
};

// What the reader found in a movie: its fields and where its frames lie, or
// why it cannot be converted.
struct MovieHeader {
  mov_info info;
  // The file offsets, in frame order, of the frames that lie wholly within
  // the file: frame i with i >= frame_offsets.size() cannot be read.
  std::vector<std::int64_t> frame_offsets;
  // Every frame the sample tables claim.
  int total_frames = 0;
  // Why the movie cannot be converted, in the words the programs print (a
  // line or two, without the last line feed); empty when it can. A failed
  // read leaves no frames.
  std::string error;
  // The tag that was not found, when that is the error.
  const char* missing_tag = nullptr;

  bool ok() const { return error.empty(); }
};

// Receives the lines that say what the reader finds ("Movie header found",
// "Width = 320", ...), one at a time and without a line feed, as it finds
// them: quelmux prints them, crvtdec and the fuzz target drop them.
using MovieLines = std::function<void(std::string_view line)>;

// Finds mvhd, tkhd, mdhd, stsd, stts, stsc and stco (or co64) in this order
// in the `window` bytes at `buffer`, and the frame offsets of a file of
// `file_size` bytes (calc_frame_offsets). A sample-size atom (stsz) after
// stsd tells whether rows are padded. Bytes past the window are taken as
// zero and never read; tables must lie within it.
MovieHeader read_mov_header(unsigned char* buffer, int window, const MovieLines& lines,
                            std::uint64_t file_size = INT64_MAX);
