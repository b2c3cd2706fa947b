// Whether a file is a QuickTime movie, from its first bytes alone: the
// programs never write over one, since a converter's output named after its
// input (quelmux *.mov) would otherwise destroy a movie.
#pragma once

#include <cstddef>
#include <span>

// The bytes a signature looks at.
inline constexpr std::size_t kMovieSignatureBytes = 16;

// Whether `start`, the first bytes of a file, opens with an atom header whose
// type is one of a movie's top level ("ftyp", "moov", "mdat", "wide",
// "free", "skip", "pnot") and whose size an atom can have: 0 (up to the end
// of the file), 1 (a 64-bit size of at least 16 follows) or at least 8.
bool looks_like_movie(std::span<const unsigned char> start);

// Whether `path` names a regular file (links followed) that looks like a
// movie. Missing files, devices such as /dev/null, pipes and files that
// cannot be read are not movies: nothing is read from anything but a regular
// file.
bool is_movie_file(const char* path);
