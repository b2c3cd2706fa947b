#include "mov/movie_header.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "entropy/byte_order.h"
#include "mov/atom_search.h"
#include "mov/sample_tables.h"

namespace {

// The header as the chained searches see it: where the last tag was found
// (4 bytes into its atom) and how many bytes of the window lie from there on.
struct Cursor {
  unsigned char* position;
  int window;

  bool find(const char* tag) { return findtag(position, tag, window); }

  // The 4 bytes at `atom_offset` from the start of the current atom, bytes
  // past the window being zero.
  void bytes_at(long long atom_offset, unsigned char out[4]) const {
    const long long from = atom_offset - 4;
    for (int k = 0; k < 4; ++k) out[k] = from + k < window ? position[from + k] : 0;
  }
  std::uint32_t be32_at(long long atom_offset) const {
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
  // Whether `count` entries of `entry_size` bytes from `atom_offset` on lie
  // within the window.
  bool holds(int atom_offset, std::uint32_t count, std::size_t entry_size) const {
    const long long from = atom_offset - 4;
    return from + static_cast<long long>(count) * static_cast<long long>(entry_size) <= window;
  }
  const unsigned char* at(int atom_offset) const { return position + (atom_offset - 4); }
};

// Hands the lines of one search to the caller and keeps its failure.
class Report {
 public:
  Report(const MovieLines& lines, MovieHeader& header) : lines_(lines), header_(header) {}
  [[gnu::format(printf, 2, 3)]] void line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    lines_(text(format, args));
    va_end(args);
  }
  // Sets the failure message and returns false for the caller to return.
  [[gnu::format(printf, 2, 3)]] bool fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    header_.error = text(format, args);
    va_end(args);
    return false;
  }
  bool missing(const char* tag) {
    header_.missing_tag = tag;
    return fail("Unable to find tag \"%s\"", tag);
  }

 private:
  static std::string text(const char* format, va_list args) {
    char buffer[256];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    return buffer;
  }

  const MovieLines& lines_;
  MovieHeader& header_;
};

bool supported_format(const unsigned char f[4]) {
  return std::memcmp(f, "raw ", 4) == 0 || std::memcmp(f, "WRLE", 4) == 0;
}

// The stored sample size the sample-size atom gives: its constant size, or the
// first entry of its table when that is 0. 0 when there is none.
std::uint32_t declared_sample_size(Cursor from_sample_description) {
  Cursor sizes = from_sample_description;
  if (!sizes.find("stsz")) return 0;
  const std::uint32_t constant = sizes.be32_at(12);
  if (constant != 0 || sizes.be32_at(16) == 0) return constant;
  return sizes.be32_at(20);
}

// The length of a stored row. Rows are packed unless the declared sample size
// is a whole number of rows, each 3 x width rounded up to 2 or 4 bytes (as
// QuickTime pads "raw " rows, bitmaps pad theirs, and some writers pad both).
std::uint32_t stored_row_bytes(int width, int height, std::uint32_t sample_size) {
  const auto packed = 3 * static_cast<std::uint32_t>(width);
  if (height == 0 || sample_size <= std::uint64_t{packed} * static_cast<std::uint32_t>(height) ||
      sample_size % static_cast<std::uint32_t>(height) != 0) {
    return packed;
  }
  const std::uint32_t row = sample_size / static_cast<std::uint32_t>(height);
  return row == ((packed + 1) & ~1u) || row == ((packed + 3) & ~3u) ? row : packed;
}

// Copies a sample-to-chunk table out of the window, in host order.
void read_runs(const Cursor& at, std::uint32_t count, std::vector<sample_to_chunk>& runs) {
  runs.resize(count);
  const std::size_t bytes = std::size_t{count} * sizeof(sample_to_chunk);
  if (bytes != 0) std::memcpy(runs.data(), at.at(16), bytes);
  from_mov_edian_l_block(runs.data(), static_cast<int>(bytes / 4));
}

// The chunk offsets of a "stco" (32-bit) or "co64" (64-bit) table.
void read_chunk_offsets(const Cursor& at, std::uint32_t count, bool wide, std::vector<std::uint64_t>& offsets) {
  offsets.resize(count);
  const unsigned char* p = at.at(16);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (wide) {
      offsets[i] = load_be64(p);
      p += 8;
    } else {
      offsets[i] = load_be32(p);
      p += 4;
    }
  }
}

bool search(Cursor at, MovieHeader& header, std::uint64_t file_size, Report& report) {
  mov_info& info = header.info;
  if (!at.find("mvhd")) return report.missing("mvhd");
  report.line("Movie header found");

  if (!at.find("tkhd")) return report.missing("tkhd");
  report.line("Track header found");
  info.width = from_mov_edian_s(at.word_at(84));
  info.height = from_mov_edian_s(at.word_at(88));
  report.line("Width = %d", info.width);
  report.line("Height = %d", info.height);

  if (!at.find("mdhd")) return report.missing("mdhd");
  report.line("Media header found");
  info.time_scale = static_cast<std::int32_t>(at.be32_at(20));

  if (!at.find("stsd")) return report.missing("stsd");
  report.line("Sample description found, number of entries = %d", static_cast<std::int32_t>(at.be32_at(12)));
  unsigned char format[4];
  at.bytes_at(20, format);
  report.line("Data format = \"%c%c%c%c\"", format[0], format[1], format[2], format[3]);
  if (!supported_format(format)) {
    return report.fail(
        "Unsupported data format, please select \"BMP\" or \"none\" as the video compression "
        "when saving a .mov file");
  }
  std::memcpy(info.data_format, format, 4);
  // Searched on a copy, so that the chain of the other searches stays as it is.
  const std::uint32_t sample_size = declared_sample_size(at);

  if (!at.find("stts")) return report.missing("stts");
  report.line("Sample to time table found");
  info.sample_duration = static_cast<std::int32_t>(at.be32_at(20));
  report.line("Frame rate = %f", static_cast<double>(info.time_scale) / static_cast<double>(info.sample_duration));

  if (!at.find("stsc")) return report.missing("stsc");
  report.line("Sample to chunk table found");
  const std::uint32_t runs = at.be32_at(12);
  report.line("Number of entries = %d", static_cast<std::int32_t>(runs));
  if (!at.holds(16, runs, sizeof(sample_to_chunk))) return report.fail("Sample table runs past the header window");
  std::vector<sample_to_chunk> chunk_runs;
  read_runs(at, runs, chunk_runs);

  // Movies whose chunks lie past 4 GiB give their offsets in 64 bits. The
  // track's own table is the nearer one: a "stco" further on belongs to
  // another track.
  Cursor narrow = at;
  const bool has_narrow = narrow.find("stco");
  Cursor wide_at{at.position, has_narrow ? static_cast<int>(narrow.position - at.position) : at.window};
  const bool wide = wide_at.find("co64");
  if (!has_narrow && !wide) return report.missing("stco");
  if (wide) {
    at.window -= static_cast<int>(wide_at.position - at.position);
    at.position = wide_at.position;
  } else {
    at = narrow;
  }
  report.line("Sample offset table found");
  const std::uint32_t chunks = at.be32_at(12);
  report.line("Number of entries = %d", static_cast<std::int32_t>(chunks));
  if (!at.holds(16, chunks, wide ? 8 : 4)) return report.fail("Sample table runs past the header window");
  std::vector<std::uint64_t> chunk_offsets;
  read_chunk_offsets(at, chunks, wide, chunk_offsets);

  if (info.width == 0 || info.height == 0) {
    return report.fail("Frames of %d x %d pixels hold no picture", info.width, info.height);
  }
  // The AVI stores each frame's size in 32 signed bits.
  const long long frame_size = 3LL * info.width * info.height;
  if (frame_size > INT_MAX) {
    return report.fail("Frames of %d x %d pixels take %lld bytes, more than the %d an AVI frame can hold", info.width,
                       info.height, frame_size, INT_MAX);
  }
  info.row_bytes = stored_row_bytes(info.width, info.height, sample_size);
  info.frame_bytes = std::uint64_t{info.row_bytes} * info.height;

  if (!calc_frame_offsets(chunk_runs, chunk_offsets, info.frame_bytes, header, INT_MAX, file_size)) return false;
  report.line("%d frames indexed", header.total_frames);
  return true;
}

}  // namespace

MovieHeader read_mov_header(unsigned char* buffer, int window, const MovieLines& lines, std::uint64_t file_size) {
  MovieHeader header;
  Report report(lines, header);
  try {
    search(Cursor{buffer, window}, header, file_size, report);
  } catch (const std::bad_alloc&) {
    report.fail("Not enough memory to read the sample tables");
  }
  return header;
}
