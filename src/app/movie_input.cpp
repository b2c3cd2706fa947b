#include "app/movie_input.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "mov/movie_file.h"

int load_movie_header(const char* path, mov_info& info) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::puts("Unable to open the input file.");
    return 0;
  }
  // Frames are indexed only as far as the file reaches.
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    std::puts("Unable to read the input file.");
    return 0;
  }
  const MovieReadAt read_at = [&in](std::uint64_t offset, unsigned char* out, std::size_t count) -> long long {
    in.clear();
    if (!in.seekg(static_cast<std::streamoff>(offset))) return -1;
    in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    if (in.bad()) return -1;
    return static_cast<long long>(in.gcount());
  };
  return read_movie_file(read_at, size, info);
}

int open_movie(const char* path, std::ifstream& movie) {
  movie.open(path, std::ios::binary);
  if (!movie) {
    std::puts("Unable to open the input file.");
    return 0;
  }
  return 1;
}
