// AviWriter: writes an AVI file with one video stream in a single forward
// pass: the header area, one "00dc" chunk per frame, the "idx1" index and a
// closing "JUNK" chunk up to a multiple of 1024 bytes; then the completed
// header over the start of the file.
//
// A file that would grow past the part limit (1 GiB unless the writer is
// given another) goes on in OpenDML form instead: further RIFF "AVIX" parts,
// each with its own "ix00" index, and a super index in the header (see
// avi_layout.h). Files within the limit are written exactly as before.
//
// Every operation returns an AviStatus and prints nothing: ok, or the failure
// with the message for the program to print. After a failed write (a full
// disk) the file is cut back to its last whole frame chunk and completed
// around it, and the message says how many frames the file holds; the writer
// then stays failed: later calls return `closed`, without a message. So that the indexes always fit
// then, the disk space that completing the file would take is reserved
// (fallocate) before each frame goes out, and a frame whose space cannot be
// had fails before any of it is written. Where the file system reserves
// nothing, a completion that does not fit leaves the index out, and readers
// scan the frames. Writes are unbuffered, so that every chunk before a
// failed write is whole on disk.
#pragma once

#include "avi/avi_layout.h"
#include "avi/avi_status.h"
#include "avi/odml_index.h"

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
  // write_frame takes the length as an int; max_frame_length() is the
  // tighter bound that the part limit sets.
  static constexpr std::uint64_t kMaxFrameLength = INT_MAX;
  static constexpr std::uint64_t kDefaultPartLimit = avi::layout::kDefaultPartLimit;
  static constexpr std::uint64_t kMaxParts = avi::layout::kMaxParts;

  AviWriter() = default;
  // A writer whose parts, the first RIFF included, stay within `part_limit`
  // bytes, kept within layout::kMinPartLimit and layout::kMaxPartLimit.
  explicit AviWriter(std::uint64_t part_limit) : limit(avi::layout::clamp_part_limit(part_limit)) {}
  // The same, reserving no disk space ahead when `reserve_space` is false,
  // as on a file system that cannot (for tests of that case).
  AviWriter(std::uint64_t part_limit, bool reserve_space)
      : reserve_space(reserve_space), limit(avi::layout::clamp_part_limit(part_limit)) {}
  ~AviWriter() = default;  // releases header and index, closes an open file
  AviWriter(const AviWriter&) = delete;
  AviWriter& operator=(const AviWriter&) = delete;

  // Creates (or truncates) `filename` and writes the header area. `filename`
  // is not copied: it must stay valid until flush() returns. `rate` and
  // `scale` are the stream's time units per second and per frame; `compressed`
  // 0 gives an uncompressed "DIB " stream, whose frames are bitmaps with rows
  // filled to 4 bytes (biSizeImage says so), any other value a Corvath stream.
  // Failures: cannot_open ("Unable to open output file %s"), cannot_write,
  // out_of_memory.
  AviStatus init(const char* filename, int width, int height, int rate, int scale, int compressed);

  // Appends one frame chunk of `size` bytes and records its index entries.
  // `data` must have 3 writable bytes behind the frame: they are set to zero
  // and go out as the chunk's fill, so that the frame is never copied.
  // A frame that does not fit (see fits()) or of negative length is refused
  // (refused, full) before anything is written; the writer can still be
  // flushed into a valid file then.
  AviStatus write_frame(unsigned char* data, int size, int flags);

  // Writes the indexes and the closing chunk, closes the file and rewrites
  // the completed header at its start (and the sizes at the start of each
  // further part). ok only when all of it is on disk.
  AviStatus flush();

  // The longest frame that a writer with `part_limit` takes.
  static std::uint64_t max_frame_length(std::uint64_t part_limit = kDefaultPartLimit);

  // Whether a file can hold `frames` frames of `frame_length` bytes each:
  // none longer than max_frame_length, at most kMaxParts parts, at most
  // INT_MAX frames.
  static bool can_hold(std::uint64_t frames, std::uint64_t frame_length, std::uint64_t part_limit = kDefaultPartLimit);

  // Whether a frame of `frame_length` bytes can still be written: it is at
  // most max_frame_length, and it fits in the current part or a new part can
  // still be opened.
  bool fits(std::uint64_t frame_length) const;

  int frames_written() const { return frame_count; }
  std::uint64_t part_limit() const { return limit; }

 private:
  // Where each part lies and what its index holds.
  struct Part {
    std::uint64_t start = 0;         // of its "RIFF"
    std::uint64_t index_offset = 0;  // of its "ix00"
    std::uint32_t index_size = 0;    // of the whole "ix00"
    std::uint32_t frames = 0;
    std::uint32_t riff_size = 0;
    std::uint32_t movi_size = 0;
  };

  bool fits_current_part(std::uint64_t frame_length) const;
  bool reserve_entries(bool with_idx1_entry);
  bool close_part();
  bool open_part();
  bool write_part_index(Part& part);
  bool write_idx1();
  bool write_closing_junk();
  void complete_header();
  bool rewrite_starts();
  bool write_bytes(const void* bytes, std::uint64_t count);
  AviStatus fail_write();
  bool keep_whole_frames();
  bool cut_to(std::uint64_t length);
  std::uint64_t end_after(std::uint64_t frame_length, bool next_part) const;
  bool reserve(std::uint64_t end);
  void release_reserve();

  // A second descriptor of the file, through which disk space is reserved.
  class Descriptor {
   public:
    Descriptor() = default;
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void reset(int fd = -1);
    int get() const { return fd_; }

   private:
    int fd_ = -1;
  };
  AviStatus out_of_memory() const;

  std::unique_ptr<unsigned char[]> header;
  int frame_count = 0;
  std::vector<AVIINDEXENTRY> index;  // room for index_capacity entries
  int index_capacity = 0;
  std::ofstream file;
  std::uint32_t largest_chunk = 0;  // largest frame length + 4
  const char* filename = nullptr;

  std::uint64_t position = 0;     // where the next write lands
  std::uint64_t frames_end = 0;   // the end of the last whole frame chunk, or of the current part's header
  bool last_part_indexed = true;  // false when the last part's "ix00" did not fit
  bool reserve_space = true;
  Descriptor reserver;             // not open where nothing can be reserved
  std::uint64_t reserved_end = 0;  // the disk space up to here is the file's
  bool writing = false;            // between a successful init and flush
  std::uint64_t limit = kDefaultPartLimit;
  std::vector<Part> parts;                           // room for kMaxParts from init on
  std::vector<avi::odml::StdIndexEntry> part_index;  // the current part's "ix00" entries
};
