#include "app/movie_input.h"

#include <cstdio>
#include <new>
#include <vector>

int load_movie_header(const char* path, mov_info& info) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::puts("Unable to open the input file.");
    return 0;
  }
  std::vector<unsigned char> window;
  try {
    window.resize(mov_header_window);
  } catch (const std::bad_alloc&) {
    std::puts("Not enough memory for the movie header");
    return 0;
  }
  // A shorter file fills the start of the window; the tail stays zero.
  in.read(reinterpret_cast<char*>(window.data()), mov_header_window);
  if (in.bad()) {
    std::puts("Unable to read the input file.");
    return 0;
  }
  in.close();
  return read_mov_header(window.data(), mov_header_window, info);
}

int open_movie(const char* path, std::ifstream& movie) {
  movie.open(path, std::ios::binary);
  if (!movie) {
    std::puts("Unable to open the input file.");
    return 0;
  }
  return 1;
}
