// The header of a movie file: searched in the file's first window and, when
// the tags are not all there (recorders write the movie atom after the media
// data), once more in a window from the file's top-level movie atom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <system_error>

#include "mov/movie_header.h"

// Reads up to `size` bytes at `offset` of the movie into `out` and sets `got`
// to how many it read (fewer only at the end of the file); false when the
// read fails.
using MovieReadAt = std::function<bool(std::uint64_t offset, unsigned char* out, std::size_t size, std::size_t& got)>;

// Reads the header of a movie of `file_size` bytes. The first
// mov_header_window bytes are searched (read_mov_header); when a tag is
// missing there, the file's top-level atoms are walked from its start by
// their sizes to the movie atom ("moov"), and the same search runs on a
// window from there, whose lines are those of the same movie with its header
// in front. Either way chunk offsets are offsets in the file, and only frames
// that lie within it are indexed.
//
// `lines` receives the lines of the search that counts. The error is the
// first search's when no movie atom is found, else the second's, followed by
// a line with the remedy (a remux) when the movie atom holds no "mvhd";
// "Unable to read the input file." after a failed read. At most two windows
// are held, one at a time, each no longer than the file.
MovieHeader read_movie_file(const MovieReadAt& read_at, std::uint64_t file_size, const MovieLines& lines);

// A movie file opened and its header read, as quelmux and crvtdec --compare
// take it.
struct MovieFile {
  // Where it failed: the file could not be opened or sized (system_error
  // says why), a read of its header failed, or the header is not one that
  // quelmux converts. header.error says why in quelmux's words in every case
  // ("Unable to open the input file.", "Unable to read the input file.", or
  // the reader's message).
  enum class Failure { none, open, size, read, header };

  std::ifstream stream;  // open on the movie, in binary mode, for its frames
  MovieHeader header;
  Failure failure = Failure::none;
  std::error_code system_error;
};

// Opens the movie at `path` and reads its header through the same stream
// (read_movie_file), which then serves for the frames.
MovieFile open_movie_file(const std::string& path, const MovieLines& lines);
