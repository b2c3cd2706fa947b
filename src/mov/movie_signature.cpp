#include "mov/movie_signature.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "entropy/byte_order.h"

bool looks_like_movie(std::span<const unsigned char> start) {
  if (start.size() < 8) return false;
  static constexpr const char* kTypes[] = {"ftyp", "moov", "mdat", "wide", "free", "skip", "pnot"};
  bool known = false;
  for (const char* type : kTypes) known = known || std::memcmp(start.data() + 4, type, 4) == 0;
  if (!known) return false;
  const std::uint32_t size = load_be32(start.data());
  if (size == 0 || size >= 8) return true;
  if (size != 1 || start.size() < 16) return false;
  const std::uint64_t large = load_be64(start.data() + 8);
  return large >= 16;
}

bool is_movie_file(const char* path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  unsigned char start[kMovieSignatureBytes] = {};
  file.read(reinterpret_cast<char*>(start), sizeof start);
  return looks_like_movie(std::span(start, static_cast<std::size_t>(file.gcount())));
}
