// AviWriter: writes an AVI file with one video stream in a single forward
// pass: the header area, one "00dc" chunk per frame, the "idx1" index and a
// closing "JUNK" chunk up to a multiple of 1024 bytes; then the completed
// header over the start of the file.
//
// Every operation that can fail prints its own message on standard output and
// returns 0; 1 means success. After a failed write the writer stays failed:
// later calls return 0 without a further message, and the file is incomplete.
#pragma once

#include <climits>
#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

// One entry of the "idx1" index, held in file byte order so that the index
// leaves in one write.
struct AVIINDEXENTRY {
  unsigned char ckid[4];
  std::uint32_t dwFlags;
  std::uint32_t dwChunkOffset;
  std::uint32_t dwChunkLength;
};
static_assert(sizeof(AVIINDEXENTRY) == 16);

class AviWriter {
 public:
  // The index first has room for this many entries.
  static constexpr int kIndexStep = 512;
  static constexpr std::uint32_t kKeyFrame = 0x10;  // AVIIF_KEYFRAME
  // write_frame takes the length as an int.
  static constexpr std::uint64_t kMaxFrameLength = INT_MAX;

  AviWriter() = default;
  ~AviWriter() = default;  // releases header and index, closes an open file
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Creates (or truncates) `filename` and writes the header area. `filename`
  // is not copied: it must stay valid until flush() returns. `rate` and
  // `scale` are the stream's time units per second and per frame; `compressed`
  // 0 gives an uncompressed "DIB " stream, any other value a Corvath stream.
  // Failures: "Unable to open output file %s\n", or a write message.
  int init(const char* filename, int width, int height, int rate, int scale, int compressed);

  // Appends one frame chunk of `size` bytes and records its index entry.
  // `data` must have 3 writable bytes behind the frame: they are set to zero
  // and go out as the chunk's fill, so that the frame is never copied.
  // A frame of negative length, or one that would take the file to 4 GiB, is
  // refused with a message before anything is written; the writer can still
  // be flushed into a valid file then.
  int write_frame(unsigned char* data, int size, int flags);

  // Writes the index and the closing chunk, closes the file and rewrites the
  // completed header at its start. Returns 1 only when all of it is on disk.
  int flush();

  // The exact length of a finished file of `frames` frames of `frame_length`
  // bytes each (padded or not: the same result). A movie can be written when
  // this stays below 2^32 and frame_length is at most kMaxFrameLength.
  static std::uint64_t final_file_length(std::uint64_t frames, std::uint64_t frame_length);

  // Whether a frame of `frame_length` bytes can still be written: it is at
  // most kMaxFrameLength and the file finished right after it would stay
  // below 2^32 bytes.
  bool fits(std::uint64_t frame_length) const;

  int frames_written() const { return frame_count; }

 private:
  bool write_bytes(const void* bytes, std::uint64_t count);
  int fail_write();

  std::unique_ptr<unsigned char[]> header;
  int frame_count = 0;
  std::vector<AVIINDEXENTRY> index;  // room for index_capacity entries
  int index_capacity = 0;
  std::ofstream file;
  std::uint32_t largest_chunk = 0;  // largest frame length + 4
  const char* filename = nullptr;

  std::uint64_t position = 0;  // where the next write lands
  bool writing = false;        // between a successful init and flush
};
