// The movie file on the input side: its header read, then the stream the
// frames are read from.
#pragma once

#include <fstream>

#include "mov/movie_header.h"

// Reads the header of the movie at `path` with read_movie_file (its first
// window, or the window at its movie atom when the header follows the media
// data) and fills `info`, frame_offsets and total_frames. Returns 1, or
// prints why and returns 0. The header windows are released before it
// returns.
int load_movie_header(const char* path, mov_info& info);

// Opens the movie afresh in binary mode for the frame reads. Returns 1, or
// prints "Unable to open the input file." and returns 0.
int open_movie(const char* path, std::ifstream& movie);
