#include "mov/movie_header.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "mov/atom_search.h"
#include "mov/byte_order.h"
#include "mov/sample_tables.h"

namespace {

// The header as the chained searches see it: where the last tag was found
// (4 bytes into its atom) and how many bytes of the window lie from there on.
struct Cursor {
  unsigned char* position;
  int window;

  bool find(const char* tag) { return findtag(position, tag, window) != 0; }

  // The 4 bytes at `atom_offset` from the start of the current atom, bytes
  // past the window being zero.
  void bytes_at(int atom_offset, unsigned char out[4]) const {
    const long long from = atom_offset - 4;
    for (int k = 0; k < 4; ++k) out[k] = from + k < window ? position[from + k] : 0;
  }
  std::uint32_t be32_at(int atom_offset) const {
    unsigned char b[4];
    bytes_at(atom_offset, b);
    return load_be32(b);
  }
  // The field as a host word holding the file's bytes in their order.
  unsigned long word_at(int atom_offset) const {
    unsigned char b[4];
    bytes_at(atom_offset, b);
    std::uint32_t w;
    std::memcpy(&w, b, sizeof w);
    return w;
  }

  // Copies `count` entries of `entry_words` 32-bit words from `atom_offset` on
  // and converts them to host order. Refuses a table that runs past the window.
  template <typename Entry>
  bool read_table(int atom_offset, std::uint32_t count, std::vector<Entry>& table) const {
    static_assert(sizeof(Entry) % 4 == 0);
    const long long from = atom_offset - 4;
    if (from + static_cast<long long>(count) * static_cast<long long>(sizeof(Entry)) > window) {
      std::puts("Sample table runs past the header window");
      return false;
    }
    try {
      table.resize(count);
    } catch (const std::bad_alloc&) {
      std::puts("Not enough memory to read the sample tables");
      return false;
    }
    const std::size_t bytes = std::size_t{count} * sizeof(Entry);
    if (bytes != 0) std::memcpy(table.data(), position + from, bytes);
    from_mov_edian_l_block(table.data(), static_cast<int>(bytes / 4));
    return true;
  }
};

bool supported_format(const unsigned char f[4]) {
  return std::memcmp(f, "raw ", 4) == 0 || std::memcmp(f, "WRLE", 4) == 0;
}

}  // namespace

int read_mov_header(unsigned char* buffer, int window, mov_info& info, int max_frames, bool quiet) {
  frame_offsets.clear();
  total_frames = 0;
  Cursor at{buffer, window};

  if (!at.find("mvhd")) return 0;
  if (!quiet) std::puts("Movie header found");

  if (!at.find("tkhd")) return 0;
  if (!quiet) std::puts("Track header found");
  info.width = from_mov_edian_s(at.word_at(84));
  info.height = from_mov_edian_s(at.word_at(88));
  if (!quiet) std::printf("Width = %d\n", info.width);
  if (!quiet) std::printf("Height = %d\n", info.height);

  if (!at.find("mdhd")) return 0;
  if (!quiet) std::puts("Media header found");
  info.time_scale = static_cast<std::int32_t>(at.be32_at(20));

  if (!at.find("stsd")) return 0;
  if (!quiet) {
    std::printf("Sample description found, number of entries = %d\n",
                static_cast<std::int32_t>(at.be32_at(12)));
  }
  unsigned char format[4];
  at.bytes_at(20, format);
  if (!quiet) {
    std::printf("Data format = \"%c%c%c%c\"\n", format[0], format[1], format[2], format[3]);
  }
  if (!supported_format(format)) {
    std::puts(
        "Unsupported data format, please select \"BMP\" or \"none\" as the video compression "
        "when saving a .mov file");
    return 0;
  }
  std::memcpy(info.data_format, format, 4);

  if (!at.find("stts")) return 0;
  if (!quiet) std::puts("Sample to time table found");
  info.sample_duration = static_cast<std::int32_t>(at.be32_at(20));
  if (!quiet) {
    std::printf("Frame rate = %f\n",
                static_cast<double>(info.time_scale) / static_cast<double>(info.sample_duration));
  }

  // The tables are copied out of the window before conversion, so a later
  // search still sees the file's bytes whatever the host's byte order.
  if (!at.find("stsc")) return 0;
  if (!quiet) std::puts("Sample to chunk table found");
  const std::uint32_t runs = at.be32_at(12);
  if (!quiet) std::printf("Number of entries = %d\n", static_cast<std::int32_t>(runs));
  std::vector<sample_to_chunk> chunk_runs;
  if (!at.read_table(16, runs, chunk_runs)) return 0;

  if (!at.find("stco")) return 0;
  if (!quiet) std::puts("Sample offset table found");
  const std::uint32_t chunks = at.be32_at(12);
  if (!quiet) std::printf("Number of entries = %d\n", static_cast<std::int32_t>(chunks));
  std::vector<std::uint32_t> chunk_offsets;
  if (!at.read_table(16, chunks, chunk_offsets)) return 0;

  // The AVI stores each frame's size in 32 signed bits.
  const long long frame_size = 3LL * info.width * info.height;
  if (frame_size > INT_MAX) {
    std::printf("Frames of %d x %d pixels take %lld bytes, more than the %d an AVI frame can hold\n",
                info.width, info.height, frame_size, INT_MAX);
    return 0;
  }
  if (!calc_frame_offsets(chunk_runs, chunk_offsets, static_cast<int>(frame_size), max_frames))
    return 0;

  if (!quiet) std::printf("%d frames indexed\n", total_frames);
  return 1;
}
