#include "mov/movie_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>

#include "entropy/byte_order.h"

namespace {

// The README's remedy for a movie atom the reader cannot use.
constexpr const char* kRemux =
    "gst-launch-1.0 filesrc location=in.mov ! qtdemux ! qtmux faststart=true ! filesink location=out.mov";

constexpr const char* kCannotRead = "Unable to read the input file.";
constexpr const char* kNoMemory = "Not enough memory for the movie header";

MovieHeader failed(const char* why) {
  MovieHeader header;
  header.error = why;
  return header;
}

bool read_exactly(const MovieReadAt& read_at, std::uint64_t offset, unsigned char* out, std::size_t size) {
  std::size_t got = 0;
  return read_at(offset, out, size, got) && got == size;
}

// The offset of the top-level movie atom of a file of `file_size` bytes. The
// atoms are walked from the start of the file by their sizes (32 bits; 1: a
// 64-bit size follows the tag; 0: the atom runs to the end of the file) until
// "moov" is met; a size that cannot be right, the end of the file or a failed
// read ends the walk with nothing found.
std::optional<std::uint64_t> find_movie_atom(const MovieReadAt& read_at, std::uint64_t file_size) {
  std::uint64_t offset = 0;
  unsigned char head[16];
  while (file_size - offset >= 8) {
    if (!read_exactly(read_at, offset, head, 8)) return std::nullopt;
    std::uint64_t size = load_be32(head);
    std::uint64_t header = 8;
    if (size == 1) {
      if (file_size - offset < 16 || !read_exactly(read_at, offset + 8, head + 8, 8)) return std::nullopt;
      size = load_be64(head + 8);
      header = 16;
    }
    if (std::memcmp(head + 4, "moov", 4) == 0) return offset;
    // An atom that runs to the end of the file is the last.
    if (size == 0 || size < header || size > file_size - offset) return std::nullopt;
    offset += size;
  }
  return std::nullopt;
}

}  // namespace

MovieHeader read_movie_file(const MovieReadAt& read_at, std::uint64_t file_size, const MovieLines& lines) {
  // The window holds what the file supplies: tables cut by the end of the
  // file run past it.
  std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(file_size, mov_header_window));
  std::unique_ptr<unsigned char[]> window(new (std::nothrow) unsigned char[std::max<std::size_t>(length, 1)]);
  if (!window) return failed(kNoMemory);
  std::size_t got = 0;
  if (!read_at(0, window.get(), length, got)) return failed(kCannotRead);
  // The first search's lines count only when there is no second.
  std::vector<std::string> held;
  MovieHeader first = read_mov_header(
      window.get(), static_cast<int>(got), [&held](std::string_view line) { held.emplace_back(line); }, file_size);
  const std::optional<std::uint64_t> moov =
      first.ok() || first.missing_tag == nullptr ? std::nullopt : find_movie_atom(read_at, file_size);
  if (!moov) {
    for (const std::string& line : held) lines(line);
    return first;
  }

  // A movie atom within the first window is searched where it lies.
  const std::uint64_t start = *moov;
  const std::uint64_t first_length = got;
  length = static_cast<std::size_t>(std::min<std::uint64_t>(file_size - start, mov_header_window));
  unsigned char* at = nullptr;
  if (start + length <= first_length) {
    at = window.get() + start;
  } else {
    window.reset();
    window.reset(new (std::nothrow) unsigned char[std::max<std::size_t>(length, 1)]);
    if (!window) return failed(kNoMemory);
    if (!read_at(start, window.get(), length, got)) return failed(kCannotRead);
    length = got;
    at = window.get();
  }
  MovieHeader second = read_mov_header(at, static_cast<int>(length), lines, file_size);
  if (!second.ok() && second.missing_tag != nullptr && std::strcmp(second.missing_tag, "mvhd") == 0) {
    second.error += "\nThe movie atom at byte " + std::to_string(start) +
                    " holds no movie header that can be read; remux the movie first: " + kRemux;
  }
  return second;
}

MovieFile open_movie_file(const std::string& path, const MovieLines& lines) {
  MovieFile movie;
  errno = 0;
  movie.stream.open(path, std::ios::binary);
  if (!movie.stream) {
    movie.failure = MovieFile::Failure::open;
    movie.system_error = std::error_code(errno != 0 ? errno : ENOENT, std::generic_category());
    movie.header.error = "Unable to open the input file.";
    return movie;
  }
  // Frames are indexed only as far as the file reaches.
  const std::uintmax_t size = std::filesystem::file_size(path, movie.system_error);
  if (movie.system_error) {
    movie.failure = MovieFile::Failure::size;
    movie.header.error = kCannotRead;
    return movie;
  }
  bool unreadable = false;
  std::ifstream& in = movie.stream;
  const MovieReadAt read_at = [&](std::uint64_t offset, unsigned char* out, std::size_t count, std::size_t& got) {
    in.clear();
    if (in.seekg(static_cast<std::streamoff>(offset))) {
      in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
      got = static_cast<std::size_t>(in.gcount());
      if (!in.bad()) return true;
    }
    unreadable = true;
    return false;
  };
  movie.header = read_movie_file(read_at, size, lines);
  in.clear();
  if (!movie.header.ok()) movie.failure = unreadable ? MovieFile::Failure::read : MovieFile::Failure::header;
  return movie;
}
