// The second half of the program: every frame of the movie, read at the
// offsets the header gave, converted and written to the AVI file.
#pragma once

#include <cstdint>
#include <fstream>

#include "app/command_line.h"
#include "mov/movie_header.h"

// Converts the frames of the movie that `movie` describes, read from
// `stream`, into line.output, compressed unless line.uncompressed.
// Prints the run's messages and returns the exit status: 0 when the file is
// complete with every frame, 1 after any failure (the message printed), and
// 128 + the signal number when SIGINT, SIGTERM or SIGHUP stopped the run (the
// file then complete with the frames written before). Frames are coded on
// line.threads worker threads and written in order, the file the same for
// every thread count. Tests lower `part_limit`, the size of the file's parts.
int run_conversion(const CommandLine& line, const MovieHeader& movie, std::ifstream& stream);
int run_conversion(const CommandLine& line, const MovieHeader& movie, std::ifstream& stream, std::uint64_t part_limit);
