#include "mov/movie_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "entropy/byte_order.h"

namespace {

// The README's remedy for a movie atom the reader cannot use.
constexpr const char* kRemux =
    "gst-launch-1.0 filesrc location=in.mov ! qtdemux ! qtmux faststart=true ! filesink location=out.mov";

int cannot_read() {
  std::puts("Unable to read the input file.");
  return 0;
}

}  // namespace

std::optional<std::uint64_t> find_movie_atom(const MovieReadAt& read_at, std::uint64_t file_size) {
  std::uint64_t offset = 0;
  unsigned char head[16];
  while (file_size - offset >= 8) {
    if (read_at(offset, head, 8) != 8) return std::nullopt;
    std::uint64_t size = load_be32(head);
    std::uint64_t header = 8;
    if (size == 1) {
      if (file_size - offset < 16 || read_at(offset + 8, head + 8, 8) != 8) return std::nullopt;
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

int read_movie_file(const MovieReadAt& read_at, std::uint64_t file_size, mov_info& info, bool quiet) {
  // The window holds what the file supplies: tables cut by the end of the
  // file run past it.
  std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(file_size, mov_header_window));
  std::unique_ptr<unsigned char[]> window(new (std::nothrow) unsigned char[std::max<std::size_t>(length, 1)]);
  if (!window) {
    std::puts("Not enough memory for the movie header");
    return 0;
  }
  long long got = read_at(0, window.get(), length);
  if (got < 0) return cannot_read();
  const HeaderSearch first = search_mov_header(window.get(), static_cast<int>(got), info, file_size);
  const std::optional<std::uint64_t> moov =
      first.result != 0 || first.missing_tag == nullptr ? std::nullopt : find_movie_atom(read_at, file_size);
  if (!moov) {
    print_header_search(first, quiet);
    return first.result;
  }

  // A movie atom within the first window is searched where it lies.
  const std::uint64_t start = *moov;
  const auto first_length = static_cast<std::uint64_t>(got);
  length = static_cast<std::size_t>(std::min<std::uint64_t>(file_size - start, mov_header_window));
  unsigned char* at = nullptr;
  if (start + length <= first_length) {
    at = window.get() + start;
  } else {
    window.reset();
    window.reset(new (std::nothrow) unsigned char[std::max<std::size_t>(length, 1)]);
    if (!window) {
      std::puts("Not enough memory for the movie header");
      return 0;
    }
    got = read_at(start, window.get(), length);
    if (got < 0) return cannot_read();
    length = static_cast<std::size_t>(got);
    at = window.get();
  }
  const HeaderSearch second = search_mov_header(at, static_cast<int>(length), info, file_size);
  print_header_search(second, quiet);
  if (second.result == 0 && second.missing_tag != nullptr && std::strcmp(second.missing_tag, "mvhd") == 0) {
    std::printf("The movie atom at byte %llu holds no movie header that can be read; remux the movie first: %s\n",
                static_cast<unsigned long long>(start), kRemux);
  }
  return second.result;
}
