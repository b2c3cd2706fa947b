// The header of a movie file: searched in the file's first window and, when
// the tags are not all there (recorders write the movie atom after the media
// data), once more in a window from the file's top-level movie atom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "mov/movie_header.h"

// Reads up to `size` bytes at `offset` of the movie into `out` and returns
// how many it read (fewer only at the end of the file), or -1 when the read
// fails.
using MovieReadAt = std::function<long long(std::uint64_t offset, unsigned char* out, std::size_t size)>;

// The offset of the top-level movie atom ("moov") of a file of `file_size`
// bytes. The atoms are walked from the start of the file by their sizes (32
// bits; 1: a 64-bit size follows the tag; 0: the atom runs to the end of the
// file) until "moov" is met; a size that cannot be right, the end of the
// file or a failed read ends the walk with nothing found.
std::optional<std::uint64_t> find_movie_atom(const MovieReadAt& read_at, std::uint64_t file_size);

// Reads the header of a movie of `file_size` bytes. The first
// mov_header_window bytes are searched (search_mov_header); when a tag is
// missing there, the same search runs on a window from the movie atom that
// find_movie_atom finds, and its lines are those of the same movie with its
// header in front. Either way chunk offsets are offsets in the file, and only
// frames that lie within it are indexed.
//
// Prints what it finds as read_mov_header does (`quiet`: only a failure) and
// returns 1, or 0 after printing why: the first search's message when no
// movie atom is found, else the second's, followed by a hint to remux the
// movie when its movie atom holds no "mvhd". A failed read prints "Unable to
// read the input file.". At most two windows are held, one at a time, each
// no longer than the file.
int read_movie_file(const MovieReadAt& read_at, std::uint64_t file_size, mov_info& info, bool quiet = false);
