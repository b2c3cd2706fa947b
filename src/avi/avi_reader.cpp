#include "avi/avi_reader.h"

#include "avi/odml_index.h"
#include "entropy/byte_order.h"

#include <algorithm>
#include <array>
#include <climits>
#include <iterator>
#include <new>
#include <optional>
#include <utility>

namespace avi {

namespace {

constexpr FourCC kRiff = fourcc("RIFF");
constexpr FourCC kList = fourcc("LIST");

// "rec " lists may nest; anything deeper than this is skipped, not searched.
constexpr int kMaxListDepth = 4;
// The index is read in blocks of this many entries.
constexpr std::size_t kIndexBlock = 4096;
constexpr std::size_t kStrhMinimum = 48;  // up to dwSampleSize
constexpr std::size_t kStrfMinimum = 40;  // BITMAPINFOHEADER

std::string at_offset(std::uint64_t offset) { return " at offset " + std::to_string(offset); }

std::string quoted(const FourCC& code) {
  std::string text(1, '"');
  text += to_string(code);
  text += '"';
  return text;
}

FourCC fourcc_at(const unsigned char* bytes) { return {bytes[0], bytes[1], bytes[2], bytes[3]}; }

// "NNdc" or "NNdb": a frame chunk of some video stream.
bool is_frame_chunk_id(const FourCC& id) {
  return id[0] >= '0' && id[0] <= '9' && id[1] >= '0' && id[1] <= '9' && id[2] == 'd' && (id[3] == 'c' || id[3] == 'b');
}

AviStatus cannot_read(std::string why) { return {AviStatus::Code::cannot_read, std::move(why)}; }

}  // namespace

bool AviReader::Chunk::is_list() const { return id == kRiff || id == kList; }

// Walks the children of a list (or of the RIFF form) in file order. Children
// follow each other at 2-byte fill as RIFF has it, or at the 4-byte fill that
// AviWriter uses: when the id at the 2-byte position is not a chunk id, the
// 4-byte position is tried. Every step moves forward by at least 8 bytes.
class AviReader::ChildWalker {
 public:
  ChildWalker(AviReader& reader, const Chunk& parent)
      : reader_(reader),
        parent_(parent),
        pos_(parent.data() + (parent.is_list() ? 4 : 0)),
        alt_(pos_),
        end_(parent.end()) {}

  // 1 when `child` holds the next child, 0 at the end of the parent, -1 on a
  // malformed child (the reader's error is set).
  int next(Chunk& child) {
    if (room(pos_) < 8) return 0;  // at most the fill of the last child
    if (!read_header(pos_, child)) return -1;
    if (!is_printable(child.id)) {
      if (alt_ == pos_ || room(alt_) < 8) {
        if (alt_ != pos_) return 0;
        return bad_id(child);
      }
      Chunk second;
      if (!read_header(alt_, second)) return -1;
      if (!is_printable(second.id)) return bad_id(child);
      child = second;
    }
    refused_ = child;
    if (child.is_list()) {
      std::array<std::uint8_t, 4> type{};
      if (!reader_.source_.read(child.data(), type)) {
        reader_.fail("unreadable list type" + at_offset(child.data()));
        return -1;
      }
      child.type = type;
      refused_ = child;
      if (child.size < 4) {
        reader_.fail("list " + quoted(child.id) + at_offset(child.offset) + " is too short for its type");
        return -1;
      }
    }
    if (child.size > end_ - child.data()) {
      reader_.fail("chunk " + quoted(child.id) + at_offset(child.offset) + " of size " + std::to_string(child.size) +
                   " runs past the end of its parent " + quoted(parent_.is_list() ? parent_.type : parent_.id) +
                   " at offset " + std::to_string(end_));
      return -1;
    }
    pos_ = child.end() + (child.size & 1);
    alt_ = child.data() + ((std::uint64_t{child.size} + 3) & ~std::uint64_t{3});
    return 1;
  }

  // After next() returned -1: the child it refused, as far as it was read.
  const Chunk& refused() const { return refused_; }

 private:
  std::uint64_t room(std::uint64_t at) const { return at >= end_ ? 0 : end_ - at; }

  bool read_header(std::uint64_t at, Chunk& chunk) {
    std::array<std::uint8_t, 8> head{};
    if (!reader_.source_.read(at, head)) {
      reader_.fail("unreadable chunk header" + at_offset(at));
      return false;
    }
    chunk = Chunk{};
    chunk.id = fourcc_at(head.data());
    chunk.size = load_le32(head.data() + 4);
    chunk.offset = at;
    return true;
  }

  int bad_id(const Chunk& chunk) {
    reader_.fail("invalid chunk id " + quoted(chunk.id) + at_offset(chunk.offset));
    return -1;
  }

  AviReader& reader_;
  const Chunk& parent_;
  std::uint64_t pos_;  // the next child at 2-byte fill
  std::uint64_t alt_;  // the next child at 4-byte fill
  std::uint64_t end_;
  Chunk refused_;
};

AviStatus AviReader::open(const std::filesystem::path& path) {
  if (!source_.open(path)) return {AviStatus::Code::cannot_open, "cannot open " + path.string()};
  return parsed();
}

AviStatus AviReader::open(std::span<const std::uint8_t> bytes) {
  source_.open(bytes);
  return parsed();
}

AviStatus AviReader::open(std::uint64_t size, ByteSource::ReadFunction read) {
  source_.open(size, std::move(read));
  return parsed();
}

AviStatus AviReader::parsed() {
  if (parse()) return {};
  return {AviStatus::Code::invalid, error_};
}

bool AviReader::fail(std::string message) {
  error_ = std::move(message);
  return false;
}

// What a parse found, forgotten; unfinished_ stays, for a salvage to say why.
void AviReader::forget() {
  error_.clear();
  video_ = {};
  have_video_ = false;
  frames_ = {};
  index_used_ = false;
  super_index_used_ = false;
  largest_frame_ = 0;
  super_index_.reset();
  parts_ = {};
}

bool AviReader::parse() {
  forget();
  unfinished_.clear();
  try {
    std::array<std::uint8_t, 12> head{};
    if (!source_.read(0, head)) return fail("not an AVI file: too short for a RIFF header");
    Chunk riff;
    riff.id = fourcc_at(head.data());
    riff.size = load_le32(head.data() + 4);
    riff.type = fourcc_at(head.data() + 8);
    if (riff.id != kRiff || riff.type != fourcc("AVI ")) {
      return fail("not an AVI file: no RIFF \"AVI \" header");
    }
    if (riff.size < 4) return salvage("its RIFF size is " + std::to_string(riff.size));
    if (riff.end() > source_.size()) {
      return salvage("its RIFF list needs " + std::to_string(riff.end()) + " bytes, the file has " +
                     std::to_string(source_.size()));
    }
    return parse_riff_avi(riff);
  } catch (const std::bad_alloc&) {
    frames_ = {};
    return fail("out of memory");
  }
}

bool AviReader::parse_riff_avi(const Chunk& riff) {
  std::optional<Chunk> hdrl;
  std::optional<Chunk> movi;
  std::optional<Chunk> idx1;
  ChildWalker walker(*this, riff);
  Chunk chunk;
  int step = 0;
  bool frames_follow_movi = false;
  while ((step = walker.next(chunk)) > 0) {
    if (chunk.id == kList && chunk.type == fourcc("hdrl")) {
      if (!hdrl) hdrl = chunk;
    } else if (chunk.id == kList && chunk.type == fourcc("movi")) {
      if (!movi) movi = chunk;
    } else if (chunk.id == fourcc("idx1")) {
      if (!idx1) idx1 = chunk;
    } else if (movi && is_frame_chunk_id(chunk.id)) {
      frames_follow_movi = true;
    }
  }
  if (step < 0) {
    const Chunk& bad = walker.refused();
    if (bad.id != kList || bad.type != fourcc("movi")) return false;
    return salvage("its LIST \"movi\" has size " + std::to_string(bad.size));
  }
  if (!hdrl) return fail("no header list (LIST \"hdrl\")");
  if (!parse_hdrl(*hdrl)) return false;
  if (!have_video_) return fail("no video stream");
  if (!movi) return fail("no frame list (LIST \"movi\")");
  if (frames_follow_movi) {
    return salvage("frame chunks follow its LIST \"movi\" of size " + std::to_string(movi->size));
  }
  parts_.push_back({riff, *movi});
  if (!parse_parts(riff.end() + (riff.size & 1))) return false;
  if (!unfinished_.empty()) return true;  // salvaged: the frames are found
  return read_frames(idx1);
}

// OpenDML files go on with RIFF "AVIX" lists, back to back; anything else
// ends the parts.
bool AviReader::parse_parts(std::uint64_t at) {
  while (at <= source_.size() && source_.size() - at >= 12) {
    std::array<std::uint8_t, 12> head{};
    if (!source_.read(at, head)) return fail("unreadable chunk header" + at_offset(at));
    Chunk riff;
    riff.id = fourcc_at(head.data());
    riff.size = load_le32(head.data() + 4);
    riff.type = fourcc_at(head.data() + 8);
    riff.offset = at;
    if (riff.id != kRiff || riff.type != fourcc("AVIX")) break;
    const std::string part = "RIFF \"AVIX\"" + at_offset(at);
    if (riff.size < 4) return salvage("its " + part + " has size " + std::to_string(riff.size));
    if (riff.end() > source_.size()) {
      return salvage("its " + part + " needs " + std::to_string(riff.end()) + " bytes, the file has " +
                     std::to_string(source_.size()));
    }
    ChildWalker walker(*this, riff);
    Chunk chunk;
    int step = 0;
    while ((step = walker.next(chunk)) > 0) {
      if (chunk.id == kList && chunk.type == fourcc("movi")) {
        parts_.push_back({riff, chunk});
        break;
      }
    }
    if (step < 0) {
      const Chunk& bad = walker.refused();
      if (bad.id != kList || bad.type != fourcc("movi")) return false;
      return salvage("the LIST \"movi\" of its " + part + " has size " + std::to_string(bad.size));
    }
    at = riff.end() + (riff.size & 1);
  }
  return true;
}

// The OpenDML indexes when they can be used; else "idx1" for the first part
// and a scan of the others.
bool AviReader::read_frames(const std::optional<Chunk>& idx1) {
  if (super_index_ && load_super_index()) {
    index_used_ = true;
    super_index_used_ = true;
    return check_repeats();
  }
  frames_.clear();
  largest_frame_ = 0;
  const bool indexed = idx1 && load_index(*idx1, parts_.front().movi);
  if (indexed && !check_repeats()) return false;
  if (!indexed) {
    frames_.clear();
    largest_frame_ = 0;
    if (!scan_movi(parts_.front().movi, 0)) return false;
  }
  for (std::size_t i = 1; i < parts_.size(); ++i) {
    if (!scan_movi(parts_[i].movi, 0)) return false;
  }
  index_used_ = indexed && parts_.size() == 1;
  return true;
}

bool AviReader::parse_hdrl(const Chunk& hdrl) {
  ChildWalker walker(*this, hdrl);
  Chunk chunk;
  int step = 0;
  int number = 0;
  while (!have_video_ && (step = walker.next(chunk)) > 0) {
    if (chunk.id == kList && chunk.type == fourcc("strl")) {
      if (!parse_strl(chunk, number)) return false;
      ++number;
    }
  }
  return have_video_ || step >= 0;
}

bool AviReader::parse_strl(const Chunk& strl, int number) {
  std::optional<Chunk> strh;
  std::optional<Chunk> strf;
  std::optional<Chunk> indx;
  ChildWalker walker(*this, strl);
  Chunk chunk;
  int step = 0;
  while ((step = walker.next(chunk)) > 0) {
    if (chunk.id == fourcc("strh") && !strh) strh = chunk;
    if (chunk.id == fourcc("strf") && !strf) strf = chunk;
    if (chunk.id == fourcc("indx") && !indx) indx = chunk;
  }
  if (step < 0) return false;
  if (!strh) return true;  // not a stream this reader can use

  std::array<std::uint8_t, kStrhMinimum> h{};
  if (strh->size < 4) return fail("stream header (strh)" + at_offset(strh->offset) + " is too short");
  if (!source_.read(strh->data(), std::span(h).first(4))) return fail("unreadable stream header");
  if (fourcc_at(h.data()) != fourcc("vids")) return true;

  const std::string stream = "video stream " + std::to_string(number);
  if (strh->size < kStrhMinimum) return fail(stream + ": stream header (strh) is too short");
  if (!source_.read(strh->data(), h)) return fail(stream + ": unreadable stream header");
  if (!strf || strf->size < kStrfMinimum) {
    return fail(stream + ": no bitmap format (strf of at least 40 bytes)");
  }
  std::array<std::uint8_t, kStrfMinimum> f{};
  if (!source_.read(strf->data(), f)) return fail(stream + ": unreadable bitmap format");
  if (number > 99) return fail(stream + ": stream number too large for its chunk ids");

  VideoStream v;
  v.number = number;
  v.handler = fourcc_at(h.data() + 4);
  v.scale = load_le32(h.data() + 20);
  v.rate = load_le32(h.data() + 24);
  v.length = load_le32(h.data() + 32);
  v.width = static_cast<std::int32_t>(load_le32(f.data() + 4));
  v.height = static_cast<std::int32_t>(load_le32(f.data() + 8));
  v.bit_count = load_le16(f.data() + 14);
  v.compression = fourcc_at(f.data() + 16);
  v.size_image = load_le32(f.data() + 20);
  if (v.width <= 0 || v.height == 0 || v.height == INT32_MIN) {
    return fail(stream + ": invalid frame size " + std::to_string(v.width) + " x " + std::to_string(v.height));
  }
  video_ = v;
  have_video_ = true;
  super_index_ = indx;
  return true;
}

bool AviReader::stream_chunk(const FourCC& id) const {
  return id[0] == '0' + video_.number / 10 && id[1] == '0' + video_.number % 10 && id[2] == 'd' &&
         (id[3] == 'c' || id[3] == 'b');
}

void AviReader::add_frame(std::uint64_t offset, std::uint32_t size, std::uint32_t flags) {
  frames_.push_back(Frame{offset, size, flags});
  largest_frame_ = std::max(largest_frame_, size);
}

// Uses "idx1" when every entry of the stream points at a chunk of that id
// inside "movi" whose size agrees with the entry. Offsets count from the
// "movi" list type, or, as some writers have it, from the start of the file;
// the first entry decides which. False (and no error) when the index cannot
// be used: "movi" is scanned instead.
bool AviReader::load_index(const Chunk& idx1, const Chunk& movi) {
  const std::uint64_t movi_type = movi.data();
  const std::uint64_t movi_first = movi_type + 4;
  const std::uint64_t movi_end = movi.end();
  std::optional<std::uint64_t> base;

  // The size of the chunk that an entry points at, if it matches.
  auto chunk_at = [&](std::uint64_t at, const FourCC& id, std::uint32_t length) -> std::optional<std::uint32_t> {
    if (at < movi_first || at > movi_end || movi_end - at < 8) return std::nullopt;
    std::array<std::uint8_t, 8> head{};
    if (!source_.read(at, head) || fourcc_at(head.data()) != id) return std::nullopt;
    const std::uint32_t size = load_le32(head.data() + 4);
    if (size > movi_end - at - 8) return std::nullopt;
    // The entry's length is the chunk size, or the size with its fill.
    if (length < size || std::uint64_t{length} > ((std::uint64_t{size} + 3) & ~std::uint64_t{3})) {
      return std::nullopt;
    }
    return size;
  };

  // A size that is not a whole number of entries is a damaged index, which
  // may have lost the entries of the last frames.
  if (idx1.size % 16 != 0) return false;
  const std::uint64_t entries = idx1.size / 16;
  std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::uint64_t>(entries, kIndexBlock)) * 16);
  for (std::uint64_t first = 0; first < entries; first += kIndexBlock) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(entries - first, kIndexBlock));
    const std::span<std::uint8_t> bytes = std::span(block).first(count * 16);
    if (!source_.read(idx1.data() + first * 16, bytes)) return false;
    for (std::size_t e = 0; e < count; ++e) {
      const std::uint8_t* entry = bytes.data() + e * 16;
      const FourCC id = fourcc_at(entry);
      if (!stream_chunk(id)) continue;
      const std::uint32_t flags = load_le32(entry + 4);
      const std::uint32_t offset = load_le32(entry + 8);
      const std::uint32_t length = load_le32(entry + 12);
      if (!base) {
        if (chunk_at(movi_type + offset, id, length)) {
          base = movi_type;
        } else if (chunk_at(offset, id, length)) {
          base = 0;
        } else {
          return false;
        }
      }
      const std::uint64_t at = *base + offset;
      const std::optional<std::uint32_t> size = chunk_at(at, id, length);
      if (!size) return false;
      add_frame(at + 8, *size, flags);
    }
  }
  return !frames_.empty();
}

// Uses the super index when it lists the standard indexes in file order,
// each a well-formed "ix00" of the stream inside a RIFF list of the file, and
// every entry of those points at a frame chunk of the stream, of the size it
// says, inside a "movi" list. False (and no error) otherwise. Because the
// standard indexes may not overlap, the entries cannot outnumber the file's
// bytes / 8.
bool AviReader::load_super_index() {
  constexpr std::size_t kHeader = 24;
  const Chunk& indx = *super_index_;
  if (indx.size < kHeader) return false;
  std::array<std::uint8_t, kHeader> head{};
  if (!source_.read(indx.data(), head)) return false;
  const std::uint16_t longs_per_entry = load_le16(head.data());
  const std::uint32_t entries = load_le32(head.data() + 4);
  if (longs_per_entry != 4 || head[2] != 0 || head[3] != odml::kIndexOfIndexes ||
      !stream_chunk(fourcc_at(head.data() + 8))) {
    return false;
  }
  if (entries == 0 || entries > (indx.size - kHeader) / 16) return false;
  std::vector<std::uint8_t> table(std::size_t{entries} * 16);
  if (!source_.read(indx.data() + kHeader, table)) return false;
  for (std::size_t e = 0; e < entries; ++e) {
    // A file cut at the end of a part: the parts before it are whole.
    if (load_le64(table.data() + e * 16) >= source_.size()) {
      unfinished_ = "its super index names a part past the end of the file";
      return false;
    }
  }
  std::uint64_t after = 0;  // the end of the previous standard index
  for (std::size_t e = 0; e < entries; ++e) {
    const std::uint64_t at = load_le64(table.data() + e * 16);
    if (at < after || !load_std_index(at, after)) return false;
  }
  return !frames_.empty();
}

// One "ix00" at `at`: its frames go to frames_, and `after` to its end.
bool AviReader::load_std_index(std::uint64_t at, std::uint64_t& after) {
  constexpr std::size_t kHeader = 32;
  std::array<std::uint8_t, kHeader> head{};
  if (!source_.read(at, head)) return false;
  const FourCC id = fourcc_at(head.data());
  const std::uint32_t size = load_le32(head.data() + 4);
  const Chunk* riff = riff_holding(at);
  if (id[0] != 'i' || id[1] != 'x' || id[2] != '0' + video_.number / 10 || id[3] != '0' + video_.number % 10 ||
      riff == nullptr || size < kHeader - 8 || size > riff->end() - at - 8) {
    return false;
  }
  const std::uint16_t longs_per_entry = load_le16(head.data() + 8);
  const std::uint32_t entries = load_le32(head.data() + 12);
  const std::uint64_t base = load_le64(head.data() + 20);
  if (longs_per_entry != 2 || head[10] != 0 || head[11] != odml::kIndexOfChunks ||
      !stream_chunk(fourcc_at(head.data() + 16)) || entries > (size - (kHeader - 8)) / 8 || base > source_.size()) {
    return false;
  }
  std::vector<std::uint8_t> block(static_cast<std::size_t>(std::min<std::uint64_t>(entries, kIndexBlock)) * 8);
  for (std::uint64_t first = 0; first < entries; first += kIndexBlock) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(entries - first, kIndexBlock));
    const std::span<std::uint8_t> bytes = std::span(block).first(count * 8);
    if (!source_.read(at + kHeader + first * 8, bytes)) return false;
    for (std::size_t e = 0; e < count; ++e) {
      const std::uint64_t data = base + load_le32(bytes.data() + e * 8);
      const std::uint32_t word = load_le32(bytes.data() + e * 8 + 4);
      const std::uint32_t length = word & ~odml::kNotKeyFrame;
      const Chunk* movi = movi_holding(data);
      if (movi == nullptr || !frame_chunk_at(data, length, *movi)) return false;
      add_frame(data, length, (word & odml::kNotKeyFrame) != 0 ? 0 : AVIIF_KEYFRAME);
    }
  }
  after = at + 8 + size;
  return true;
}

// The "movi" list whose chunks may hold frame data at `offset`.
const AviReader::Chunk* AviReader::movi_holding(std::uint64_t offset) const {
  const auto next = std::upper_bound(parts_.begin(), parts_.end(), offset,
                                     [](std::uint64_t at, const Part& part) { return at < part.movi.offset; });
  if (next == parts_.begin()) return nullptr;
  const Chunk& movi = std::prev(next)->movi;
  return offset >= movi.data() + 12 && offset <= movi.end() ? &movi : nullptr;
}

const AviReader::Chunk* AviReader::riff_holding(std::uint64_t offset) const {
  const auto next = std::upper_bound(parts_.begin(), parts_.end(), offset,
                                     [](std::uint64_t at, const Part& part) { return at < part.riff.offset; });
  if (next == parts_.begin()) return nullptr;
  const Chunk& riff = std::prev(next)->riff;
  return offset >= riff.data() + 4 && offset <= riff.end() && riff.end() - offset >= 8 ? &riff : nullptr;
}

// Whether a chunk of the stream, of exactly `size` bytes, holds `data` and
// lies inside `movi`.
bool AviReader::frame_chunk_at(std::uint64_t data, std::uint32_t size, const Chunk& movi) {
  if (size > movi.end() - data) return false;
  std::array<std::uint8_t, 8> head{};
  if (!source_.read(data - 8, head)) return false;
  return stream_chunk(fourcc_at(head.data())) && load_le32(head.data() + 4) == size;
}

// Frames in file order lie at rising offsets; an index that gives one chunk
// twice would make a frame of another's bytes.
bool AviReader::check_repeats() {
  bool rising = true;
  for (std::size_t i = 1; i < frames_.size() && rising; ++i) rising = frames_[i - 1].offset < frames_[i].offset;
  if (rising) return true;
  std::vector<std::uint64_t> offsets(frames_.size());
  std::transform(frames_.begin(), frames_.end(), offsets.begin(), [](const Frame& f) { return f.offset; });
  std::sort(offsets.begin(), offsets.end());
  const auto repeat = std::adjacent_find(offsets.begin(), offsets.end());
  if (repeat == offsets.end()) return true;
  frames_.clear();
  return fail("the index names the frame chunk" + at_offset(*repeat - 8) + " more than once");
}

// A file its writer never finished: the header list is taken as it stands
// (the writer completes it before the first frame), the sizes of the RIFF
// and "movi" lists are not, and the frames are whatever whole chunks follow.
bool AviReader::salvage(std::string why) {
  forget();
  const std::uint64_t size = source_.size();
  bool have_hdrl = false;
  std::optional<Chunk> movi;
  std::uint64_t at = 12;
  while (!movi && at <= size && size - at >= 12) {
    std::array<std::uint8_t, 12> head{};
    if (!source_.read(at, head)) return fail("unreadable chunk header" + at_offset(at));
    Chunk chunk;
    chunk.id = fourcc_at(head.data());
    chunk.size = load_le32(head.data() + 4);
    chunk.offset = at;
    if (!is_printable(chunk.id)) return fail("invalid chunk id " + quoted(chunk.id) + at_offset(at));
    if (chunk.id == kList) {
      chunk.type = fourcc_at(head.data() + 8);
      if (chunk.type == fourcc("movi")) {
        movi = chunk;
        break;
      }
    }
    if (chunk.size > size - chunk.data()) {
      return fail("file is truncated: it ends inside its chunk " + quoted(chunk.id) + at_offset(at));
    }
    if (chunk.id == kList && chunk.type == fourcc("hdrl") && !have_hdrl) {
      if (chunk.size < 4) return fail("list \"hdrl\"" + at_offset(at) + " is too short for its type");
      have_hdrl = true;
      if (!parse_hdrl(chunk)) return false;
    }
    at = chunk.end() + (chunk.size & 1);
  }
  if (!movi) return fail("file is truncated: it ends before its frame list (LIST \"movi\")");
  if (!have_hdrl) return fail("no header list (LIST \"hdrl\")");
  if (!have_video_) return fail("no video stream");
  super_index_.reset();
  Chunk riff;
  riff.id = kRiff;
  riff.type = fourcc("AVI ");
  parts_.push_back({riff, *movi});
  scan_unfinished(movi->data() + 4);
  unfinished_ = std::move(why);
  return true;
}

// Every whole frame chunk from `from` on, in file order, up to the first
// chunk that the file does not hold whole or anything that is not a chunk.
// Lists of frames ("movi", "rec ") and further RIFF "AVIX" parts are entered
// whatever their sizes say; other chunks (indexes, "JUNK") are stepped over.
void AviReader::scan_unfinished(std::uint64_t from) {
  const std::uint64_t size = source_.size();
  std::uint64_t at = from;
  std::uint64_t alt = from;  // where the next chunk starts at 4-byte fill
  auto header = [&](std::uint64_t where, Chunk& chunk) {
    std::array<std::uint8_t, 12> head{};
    if (where > size || size - where < 8 || !source_.read(where, std::span(head).first(8))) return false;
    chunk = Chunk{};
    chunk.id = fourcc_at(head.data());
    chunk.size = load_le32(head.data() + 4);
    chunk.offset = where;
    if (chunk.is_list() && size - where >= 12 && source_.read(where + 8, std::span(head).subspan(8, 4))) {
      chunk.type = fourcc_at(head.data() + 8);
    }
    return is_printable(chunk.id);
  };
  Chunk chunk;
  while (header(at, chunk) || (alt != at && header(alt, chunk))) {
    const bool whole = chunk.size <= size - chunk.data();
    if (chunk.id == kRiff && chunk.type == fourcc("AVIX")) {
      Chunk riff = chunk;
      riff.size = 0;
      parts_.push_back({riff, riff});
      at = alt = chunk.data() + 4;
      continue;
    }
    if (chunk.id == kList && (chunk.type == fourcc("movi") || chunk.type == fourcc("rec "))) {
      at = alt = chunk.data() + 4;
      continue;
    }
    if (!whole || chunk.id == kRiff) return;
    if (stream_chunk(chunk.id)) add_frame(chunk.data(), chunk.size, 0);
    at = chunk.end() + (chunk.size & 1);
    alt = chunk.data() + ((std::uint64_t{chunk.size} + 3) & ~std::uint64_t{3});
  }
}

bool AviReader::scan_movi(const Chunk& list, int depth) {
  ChildWalker walker(*this, list);
  Chunk chunk;
  int step = 0;
  while ((step = walker.next(chunk)) > 0) {
    if (stream_chunk(chunk.id)) {
      add_frame(chunk.data(), chunk.size, 0);
    } else if (chunk.id == kList && chunk.type == fourcc("rec ") && depth < kMaxListDepth) {
      if (!scan_movi(chunk, depth + 1)) return false;
    }
  }
  return step >= 0;
}

AviStatus AviReader::read_frame(std::size_t i, std::span<std::uint8_t> out) {
  if (i >= frames_.size()) return cannot_read("no frame " + std::to_string(i));
  const Frame& frame = frames_[i];
  if (out.size() < frame.size) return cannot_read("buffer too small for frame " + std::to_string(i));
  if (!source_.read(frame.offset, out.first(frame.size))) {
    return cannot_read("frame " + std::to_string(i) + " could not be read" + at_offset(frame.offset));
  }
  return {};
}

AviStatus AviReader::read_frame_start(std::size_t i, std::span<std::uint8_t> out) {
  if (i >= frames_.size()) return cannot_read("no frame " + std::to_string(i));
  const Frame& frame = frames_[i];
  if (out.size() > frame.size) return cannot_read("frame " + std::to_string(i) + " is shorter than asked");
  if (!source_.read(frame.offset, out)) {
    return cannot_read("frame " + std::to_string(i) + " could not be read" + at_offset(frame.offset));
  }
  return {};
}

}  // namespace avi
