// AviReader: finds the first video stream of a RIFF "AVI " file and where
// each of its frames lies, as written by AviWriter and by other writers
// (2-byte chunk fill, "rec " lists inside "movi", no index, "JUNK" anywhere),
// OpenDML files included: the frames of every RIFF "AVIX" part that follows,
// found through the super index "indx" and its "ix00" indexes when they can
// be used, else by scanning each part's "movi" list.
//
// A file whose writer never finished it (RIFF, "movi" or "AVIX" sizes still
// 0 as first written, or running past the end of the file, as after a crash
// or a cut; frame chunks behind a "movi" list that ends before them) is
// salvaged: its chunks are scanned in file order from the start of "movi" and
// every whole frame chunk is kept, up to the first chunk that the file does
// not hold. unfinished() then says why the file was taken as unfinished.
//
// Every size is checked against the chunk that holds it and against the file,
// and nothing is allocated beyond what the file's own length bounds: a
// malformed file makes open() return false with a message in error(), never
// read out of bounds or run on without end. An index that names one chunk
// for several frames is refused. Failures come back as an AviStatus:
// cannot_open, invalid (with what is wrong and where), cannot_read.
#pragma once

#include "avi/avi_status.h"
#include "avi/byte_source.h"
#include "avi/fourcc.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace avi {

struct VideoStream {
  int number = 0;                // position of its "strl" list: chunks "NNdc"/"NNdb"
  FourCC handler{};              // "strh" fccHandler
  std::uint32_t rate = 0;        // "strh" dwRate: time units per second
  std::uint32_t scale = 0;       // "strh" dwScale: time units per frame
  std::uint32_t length = 0;      // "strh" dwLength, as stored (frames().size() is what was found)
  std::int32_t width = 0;        // "strf" biWidth, > 0
  std::int32_t height = 0;       // "strf" biHeight as stored: negative for top row first
  std::uint16_t bit_count = 0;   // "strf" biBitCount
  FourCC compression{};          // "strf" biCompression; 0 0 0 0 for BI_RGB
  std::uint32_t size_image = 0;  // "strf" biSizeImage
};

struct Frame {
  std::uint64_t offset = 0;  // file offset of the frame's data (past its chunk header)
  std::uint32_t size = 0;    // data bytes, without fill
  std::uint32_t flags = 0;   // "idx1" dwFlags, or AVIIF_KEYFRAME for a key frame of "ix00";
                             // 0 when the frames were found by scanning "movi"
};

class AviReader {
 public:
  AviReader() = default;
  AviReader(const AviReader&) = delete;
  AviReader& operator=(const AviReader&) = delete;

  // Parses the file at `path`, or `bytes` (which must outlive the reader), or
  // `size` bytes read through `read` (see ByteSource).
  AviStatus open(const std::filesystem::path& path);
  AviStatus open(std::span<const std::uint8_t> bytes);
  AviStatus open(std::uint64_t size, ByteSource::ReadFunction read);

  const VideoStream& video() const { return video_; }
  std::span<const Frame> frames() const { return frames_; }
  // True when every frame came from an index ("idx1", or the OpenDML
  // indexes), false when a "movi" list was scanned.
  bool index_used() const { return index_used_; }
  // True when the frames came from the OpenDML indexes.
  bool super_index_used() const { return super_index_used_; }
  // The parts whose "movi" list was found: 1 + the "AVIX" parts.
  std::size_t parts() const { return parts_.size(); }
  // The size of the largest frame: a buffer of this size takes any of them.
  std::uint32_t largest_frame() const { return largest_frame_; }
  // Why the file was taken as one its writer never finished; empty for a
  // complete file.
  const std::string& unfinished() const { return unfinished_; }

  // Reads frame `i`'s data into the start of `out`, which must hold at least
  // frames()[i].size bytes.
  AviStatus read_frame(std::size_t i, std::span<std::uint8_t> out);
  // Reads the first out.size() bytes of frame `i`, which must have that many:
  // its header, without reading the rest.
  AviStatus read_frame_start(std::size_t i, std::span<std::uint8_t> out);

 private:
  struct Chunk {
    FourCC id{};
    FourCC type{};             // list type, for "RIFF" and "LIST"
    std::uint64_t offset = 0;  // of the chunk header
    std::uint32_t size = 0;
    bool is_list() const;
    std::uint64_t data() const { return offset + 8; }
    std::uint64_t end() const { return data() + size; }
  };
  class ChildWalker;

  AviStatus parsed();
  void forget();
  bool parse();
  bool parse_riff_avi(const Chunk& riff);
  bool parse_parts(std::uint64_t from);
  bool read_frames(const std::optional<Chunk>& idx1);
  bool load_super_index();
  bool load_std_index(std::uint64_t at, std::uint64_t& after);
  const Chunk* movi_holding(std::uint64_t offset) const;
  const Chunk* riff_holding(std::uint64_t offset) const;
  bool frame_chunk_at(std::uint64_t data, std::uint32_t size, const Chunk& movi);
  bool parse_hdrl(const Chunk& hdrl);
  bool parse_strl(const Chunk& strl, int number);
  bool load_index(const Chunk& idx1, const Chunk& movi);
  bool scan_movi(const Chunk& list, int depth);
  bool salvage(std::string why);
  void scan_unfinished(std::uint64_t from);
  bool check_repeats();
  bool stream_chunk(const FourCC& id) const;
  void add_frame(std::uint64_t offset, std::uint32_t size, std::uint32_t flags);
  bool fail(std::string message);

  ByteSource source_;
  std::string error_;  // why parse() failed
  VideoStream video_;
  bool have_video_ = false;
  std::vector<Frame> frames_;
  bool index_used_ = false;
  bool super_index_used_ = false;
  std::uint32_t largest_frame_ = 0;
  std::string unfinished_;
  std::optional<Chunk> super_index_;  // "indx" of the video stream
  struct Part {
    Chunk riff;
    Chunk movi;
  };
  std::vector<Part> parts_;  // in file order
};

}  // namespace avi
