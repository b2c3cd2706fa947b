// Writes uncompressed QuickTime movies, one frame at a time, for tests and the
// demo: a single video track in "raw " or "WRLE" form with chosen chunking.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace movgen {

enum class DataFormat {
  raw,   // "raw ": rows top to bottom, pixels R, G, B
  wrle,  // "WRLE": bottom-up bitmap, pixels B, G, R
};

// A run of the sample-to-chunk table: from chunk `first_chunk` (counted from
// 1) on, each chunk holds `samples_per_chunk` frames.
struct ChunkRun {
  std::uint32_t first_chunk = 1;
  std::uint32_t samples_per_chunk = 1;
  bool operator==(const ChunkRun&) const = default;
};

struct MovieOptions {
  int width = 320;  // 0 to 65535
  int height = 240;
  std::uint32_t frames = 30;
  DataFormat format = DataFormat::raw;
  std::vector<ChunkRun> chunking = std::vector<ChunkRun>(1);  // one frame a chunk
  std::uint32_t time_scale = 600;                             // time units per second
  std::uint32_t sample_duration = 20;                         // time units per frame
  bool moov_last = false;                                     // movie atom behind the media data
  std::uint32_t chunk_gap = 0;                                // filler bytes between chunks
  int row_align = 1;                                          // stored rows padded to 1, 2 or 4 bytes
  bool co64 = false;                                          // 64-bit chunk offsets even below 4 GiB
};

// Where everything goes in the file.
struct MovieLayout {
  std::uint32_t row_bytes = 0;               // a stored row: width x 3, padded to row_align
  std::uint64_t frame_size = 0;              // a stored frame: row_bytes x height
  std::vector<std::uint32_t> chunk_samples;  // frames in each chunk
  std::vector<std::uint64_t> chunk_offsets;  // file offset of each chunk
  std::vector<ChunkRun> stsc;                // the runs as written
  std::vector<std::uint64_t> frame_offsets;  // file offset of each frame
  bool co64 = false;                         // "co64" rather than "stco"
  std::uint64_t mdat_offset = 0;
  std::uint64_t mdat_size = 0;  // header included
  bool mdat_largesize = false;  // 64-bit size form (past 4 GiB)
  std::uint64_t moov_offset = 0;
  std::uint64_t moov_size = 0;
  std::uint64_t file_size = 0;
};

// Checks the options and works out the layout. Returns false with `error` set
// for options no movie can have (a bad chunking, a bad row alignment, ...).
// Chunk offsets take 64 bits when asked to, or when a chunk starts past
// 4 GiB.
bool plan_movie(const MovieOptions& options, MovieLayout& layout, std::string& error);

// The movie atom for `layout`.
std::vector<std::uint8_t> build_moov(const MovieOptions& options, const MovieLayout& layout);

// Streams a movie to a file: open() writes everything up to the first frame,
// write_frame() takes the frames in order in stored form (see
// synthetic_frames.h), finish() writes what follows the last one.
class MovieWriter {
 public:
  bool open(const std::string& path, const MovieOptions& options, std::string& error);
  bool write_frame(std::span<const std::uint8_t> stored_frame, std::string& error);
  bool finish(std::string& error);
  const MovieLayout& layout() const { return layout_; }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  bool put(const void* data, std::size_t size, std::string& error);

  std::unique_ptr<std::FILE, Closer> file_;
  std::string path_;
  MovieOptions options_;
  MovieLayout layout_;
  std::uint64_t written_ = 0;  // bytes so far
  std::uint32_t next_frame_ = 0;
};

}  // namespace movgen
