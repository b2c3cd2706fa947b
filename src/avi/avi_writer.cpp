#include "avi/avi_writer.h"

#include "avi/avi_layout.h"
#include "avi/avi_template.h"
#include "entropy/byte_order.h"
#include "entropy/zero_rle.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

namespace {

namespace layout = avi::layout;

// Enough zero bytes for the largest closing chunk.
constexpr unsigned char kZeros[layout::kFileGranule] = {};

// Chunks up to this long are written from a copy in one piece.
constexpr std::size_t kShortChunk = 4096;

// Microseconds per frame, truncated; 0 when there is no finite period that
// fits the 32-bit field. The order of operations fixes the truncation (2997
// units per second and 100 per frame give 33366).
std::uint32_t frame_period(std::uint32_t rate, std::uint32_t scale) {
  if (rate == 0 || scale == 0) return 0;
  const double period = 1.0 / (static_cast<double>(rate) / static_cast<double>(scale)) * 1000.0 * 1000.0;
  if (!(period >= 0.0 && period < 4294967296.0)) return 0;
  return static_cast<std::uint32_t>(period);
}

void put_tag(unsigned char* at, const char* tag) { std::memcpy(at, tag, 4); }

// The most frames a file holds: frame_count and the frame counts of the
// header are 32-bit.
constexpr std::uint64_t kMaxFrames = INT_MAX;

}  // namespace

AviStatus AviWriter::init(const char* name, int width, int height, int rate, int scale, int compressed) {
  filename = name;
  frame_count = 0;
  index_capacity = 0;
  index = {};
  largest_chunk = 0;
  writing = false;
  last_part_indexed = true;
  parts = {};
  part_index = {};

  header.reset(new (std::nothrow) unsigned char[layout::kHeaderSize]);
  if (!header) return out_of_memory();
  // Every part's entry is there from the start: opening a part allocates
  // nothing.
  try {
    parts.reserve(kMaxParts);
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
  unsigned char* h = header.get();
  zero::deRLE(compact_empty.data(), h, static_cast<int>(layout::kHeaderSize), 1);

  // The integer fields carry the arguments' 32-bit patterns; the image size
  // wraps like the 32-bit field it fills. Uncompressed frames are bitmaps
  // whose rows are filled to 4 bytes; Corvath frames code packed rows.
  const auto w = static_cast<std::uint32_t>(width);
  const auto ht = static_cast<std::uint32_t>(height);
  store_le32(h + layout::kAvihWidth, w);
  store_le32(h + layout::kBiWidth, w);
  store_le32(h + layout::kAvihHeight, ht);
  store_le32(h + layout::kBiHeight, ht);
  store_le32(h + layout::kScale, static_cast<std::uint32_t>(scale));
  store_le32(h + layout::kRate, static_cast<std::uint32_t>(rate));
  const std::uint32_t row = compressed == 0 ? (3u * w + 3u) & ~3u : 3u * w;
  store_le32(h + layout::kBiSizeImage, row * ht);
  store_le32(h + layout::kMicroSecPerFrame,
             frame_period(static_cast<std::uint32_t>(rate), static_cast<std::uint32_t>(scale)));
  if (compressed == 0) {
    put_tag(h + layout::kHandler, "DIB ");
    store_le32(h + layout::kBiCompression, 0);
  } else {
    put_tag(h + layout::kHandler, "crvt");
    put_tag(h + layout::kBiCompression, "CRVT");
  }

  try {
    // Unbuffered: whatever a failed write leaves, every chunk before it is
    // on disk whole, and the file can be completed around them.
    file.rdbuf()->pubsetbuf(nullptr, 0);
    file.open(filename, std::ios::out | std::ios::binary | std::ios::trunc);
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
  if (!file.is_open() || !file) {
    return {AviStatus::Code::cannot_open, "Unable to open output file " + std::string(filename)};
  }

  std::memcpy(h + layout::kCredit, avi::kCreditText, sizeof avi::kCreditText);

  // Flushed at once, so that an output that takes no data fails here.
  if (!write_bytes(h, layout::kHeaderSize) || !file.flush()) return fail_write();
  position = layout::kHeaderSize;
  frames_end = position;
  reserved_end = 0;
  reserver.reset(reserve_space ? ::open(filename, O_WRONLY | O_CLOEXEC) : -1);
  parts.push_back(Part{});
  writing = true;
  if (!reserve(layout::file_length(position, 0))) return fail_write();
  return {};
}

AviStatus AviWriter::write_frame(unsigned char* data, int size, int flags) {
  using Code = AviStatus::Code;
  if (!writing) return {Code::closed, {}};
  // The messages are made only on failure: a frame takes no allocation.
  const char* name = filename;
  if (size < 0) return {Code::refused, "Invalid frame length " + std::to_string(size) + " for output file " + name};
  const auto length = static_cast<std::uint32_t>(size);
  if (length > layout::max_frame_length(limit)) {
    return {Code::refused, "Frame of " + std::to_string(size) + " bytes is too large for output file " + name};
  }
  const bool next_part = !fits_current_part(length);
  if (next_part && parts.size() == kMaxParts) {
    return {Code::full, "Output file " + std::string(name) + " is full: an AVI file holds at most " +
                            std::to_string(kMaxParts) + " parts of " + std::to_string(limit) + " bytes"};
  }
  if (static_cast<std::uint64_t>(frame_count) == kMaxFrames) {
    return {Code::full, "Output file " + std::string(name) + " is full: an AVI file holds at most " +
                            std::to_string(INT_MAX) + " frames"};
  }
  // Room for the entries comes first, so that a failure leaves no chunk
  // without its entry.
  if (!reserve_entries(parts.size() == 1 && !next_part)) return out_of_memory();
  if (!reserve(end_after(length, next_part))) return fail_write();
  if (next_part && (!close_part() || !open_part())) return fail_write();

  if (largest_chunk < length + 4) largest_chunk = length + 4;
  data[length] = 0;
  data[length + 1] = 0;
  data[length + 2] = 0;

  const std::uint64_t chunk = position;
  const std::uint64_t n = layout::padded(length);
  // A short frame leaves with its chunk header in one write (the writes are
  // unbuffered); a long one follows its header.
  unsigned char head[kShortChunk] = {'0', '0', 'd', 'c'};
  store_le32(head + 4, length);
  if (8 + n <= kShortChunk) {
    std::memcpy(head + 8, data, n);
    if (!write_bytes(head, 8 + n)) return fail_write();
  } else if (!write_bytes(head, 8) || !write_bytes(data, n)) {
    return fail_write();
  }

  if (parts.size() == 1) {
    AVIINDEXENTRY& entry = index.emplace_back();
    put_tag(entry.ckid, "00dc");
    entry.dwFlags = to_avi_edian_l(static_cast<std::uint32_t>(flags));
    entry.dwChunkOffset = to_avi_edian_l(static_cast<std::uint32_t>(chunk - layout::kMoviType));
    entry.dwChunkLength = to_avi_edian_l(static_cast<std::uint32_t>(n));
  }
  const bool key_frame = (static_cast<std::uint32_t>(flags) & AVIIF_KEYFRAME) != 0;
  part_index.push_back(avi::odml::std_index_entry(chunk + 8 - parts.back().start, length, key_frame));
  position = chunk + 8 + n;
  frames_end = position;
  ++frame_count;
  return {};
}

AviStatus AviWriter::flush() {
  if (!writing) return {AviStatus::Code::closed, {}};
  writing = false;
  if (parts.size() == 1) {
    store_le32(header.get() + layout::kMoviSize, static_cast<std::uint32_t>(position - layout::kMoviType));
    if (!write_idx1()) return fail_write();
  } else if (!write_part_index(parts.back())) {
    return fail_write();
  }
  if (!write_closing_junk()) return fail_write();
  complete_header();
  release_reserve();

  file.close();
  if (!file) return fail_write();
  if (!rewrite_starts()) return fail_write();
  return {};
}

std::uint64_t AviWriter::max_frame_length(std::uint64_t part_limit) {
  return layout::max_frame_length(layout::clamp_part_limit(part_limit));
}

bool AviWriter::can_hold(std::uint64_t frames, std::uint64_t frame_length, std::uint64_t part_limit) {
  return layout::plan_parts(frames, frame_length, layout::clamp_part_limit(part_limit), kMaxFrames).parts != 0;
}

bool AviWriter::fits(std::uint64_t frame_length) const {
  if (frame_length > layout::max_frame_length(limit)) return false;
  if (parts.empty()) return true;  // nothing written yet
  if (static_cast<std::uint64_t>(frame_count) == kMaxFrames) return false;
  return parts.size() < kMaxParts || fits_current_part(frame_length);
}

// The rule that plan_parts follows too: a frame goes into the current part
// if that part, finished right after it, stays within the limit.
bool AviWriter::fits_current_part(std::uint64_t frame_length) const {
  const std::uint64_t movi_end = position + layout::chunk_span(frame_length);
  if (parts.size() == 1) {
    return layout::first_part_fits(movi_end, static_cast<std::uint64_t>(frame_count) + 1, limit);
  }
  return layout::part_fits(parts.back().start, movi_end, part_index.size() + 1, limit);
}

// Makes room for one more "ix00" entry and, in the first part, one more
// "idx1" entry. The "idx1" index grows by 512 entries first, then doubles: a
// growing vector is copied on every step, and linear steps would make long
// runs quadratic.
bool AviWriter::reserve_entries(bool with_idx1_entry) {
  try {
    if (with_idx1_entry && frame_count >= index_capacity) {
      const int grown = index_capacity + std::max(kIndexStep, index_capacity);
      index.reserve(static_cast<std::size_t>(grown));
      index_capacity = grown;
    }
    if (part_index.size() == part_index.capacity()) {
      part_index.reserve(std::max<std::size_t>(kIndexStep, 2 * part_index.size()));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Ends the current part before a frame that does not fit in it: its "ix00",
// and for the first part "idx1" behind its "movi" list.
bool AviWriter::close_part() {
  Part& part = parts.back();
  if (!write_part_index(part)) return false;
  if (parts.size() == 1) {
    if (!write_idx1()) return false;
    part.riff_size = static_cast<std::uint32_t>(position - 8);
  } else {
    part.riff_size = static_cast<std::uint32_t>(position - part.start - 8);
  }
  return true;
}

// Opens an "AVIX" part; its sizes are written by flush.
bool AviWriter::open_part() {
  unsigned char head[layout::kPartHeaderSize] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'A', 'V', 'I', 'X',
                                                 'L', 'I', 'S', 'T', 0, 0, 0, 0, 'm', 'o', 'v', 'i'};
  Part part;
  part.start = position;
  if (!write_bytes(head, sizeof head)) return false;
  position += sizeof head;
  frames_end = position;
  parts.push_back(part);  // within the room reserved by init
  part_index.clear();
  return true;
}

// Writes the part's "ix00", which ends its "movi" list.
bool AviWriter::write_part_index(Part& part) {
  const auto entries = static_cast<std::uint32_t>(part_index.size());
  unsigned char head[layout::kStdIndexHeaderSize];
  avi::odml::put_std_index_header(head, entries, part.start);
  const std::uint64_t bytes = layout::kStdIndexEntrySize * entries;
  if (!write_bytes(head, sizeof head) || !write_bytes(part_index.data(), bytes)) return false;
  part.index_offset = position;
  part.index_size = static_cast<std::uint32_t>(layout::std_index_size(entries));
  part.frames = entries;
  position += part.index_size;
  const std::uint64_t movi_type = parts.size() == 1 ? layout::kMoviType : part.start + layout::kPartMoviType;
  part.movi_size = static_cast<std::uint32_t>(position - movi_type);
  return true;
}

// "idx1" for the frames of the first part.
bool AviWriter::write_idx1() {
  const std::uint64_t index_bytes = layout::kIndexEntrySize * index.size();
  unsigned char word[4];
  store_le32(word, static_cast<std::uint32_t>(index_bytes));
  if (!write_bytes("idx1", 4) || !write_bytes(word, 4) || !write_bytes(index.data(), index_bytes)) return false;
  position += 8 + index_bytes;
  return true;
}

// The closing "JUNK" up to the next multiple of 1024; the last part's RIFF
// list takes it in.
bool AviWriter::write_closing_junk() {
  if (!write_bytes("JUNK", 4)) return false;
  position += 4;
  const std::uint64_t end = layout::file_end(position);
  const std::uint64_t fill = end - position - 4;
  unsigned char word[4];
  store_le32(word, static_cast<std::uint32_t>(fill));
  if (!write_bytes(word, 4) || !write_bytes(kZeros, fill)) return false;
  position = end;
  Part& last = parts.back();
  last.riff_size = static_cast<std::uint32_t>(end - last.start - 8);
  return true;
}

// The close fields; in OpenDML form also the super index and the total
// frame count of "dmlh", while "avih" counts the first RIFF's frames.
void AviWriter::complete_header() {
  unsigned char* h = header.get();
  const auto frames = static_cast<std::uint32_t>(frame_count);
  const Part& first = parts.front();
  store_le32(h + layout::kRiffSize, first.riff_size);
  store_le32(h + layout::kAvihSuggestedBufferSize, 0);
  store_le32(h + layout::kLength, frames);
  store_le32(h + layout::kStart, 0);
  store_le32(h + layout::kStrhSuggestedBufferSize, largest_chunk);
  if (parts.size() == 1) {
    store_le32(h + layout::kAvihTotalFrames, frames);
    return;
  }
  store_le32(h + layout::kAvihTotalFrames, first.frames);
  store_le32(h + layout::kMoviSize, first.movi_size);
  store_le32(h + layout::kDmlhTotalFrames, frames);
  // Without the last part's "ix00" the super index would hide that part's
  // frames; the "JUNK" of the template stays, and readers scan the parts.
  if (!last_part_indexed) return;
  avi::odml::SuperIndexEntry entries[kMaxParts];
  for (std::size_t i = 0; i < parts.size(); ++i) {
    entries[i] = {parts[i].index_offset, parts[i].index_size, parts[i].frames};
  }
  avi::odml::put_super_index(
      std::span<unsigned char, layout::kSuperIndexChunkSize>(h + layout::kSuperIndex, layout::kSuperIndexChunkSize),
      std::span(entries, parts.size()));
}

// Opens the closed file a second time and writes the completed header over
// its start, and the sizes of every further part over that part's start.
bool AviWriter::rewrite_starts() {
  std::fstream update;
  try {
    update.open(filename, std::ios::in | std::ios::out | std::ios::binary);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!update.is_open() || !update.seekp(0) ||
      !update.write(reinterpret_cast<const char*>(header.get()), layout::kHeaderRewriteSize)) {
    return false;
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    unsigned char head[layout::kPartMoviSize + 4] = {'R', 'I', 'F', 'F', 0,   0,   0, 0, 'A', 'V',
                                                     'I', 'X', 'L', 'I', 'S', 'T', 0, 0, 0,   0};
    store_le32(head + layout::kPartRiffSize, parts[i].riff_size);
    store_le32(head + layout::kPartMoviSize, parts[i].movi_size);
    if (!update.seekp(static_cast<std::streamoff>(parts[i].start)) ||
        !update.write(reinterpret_cast<const char*>(head), sizeof head)) {
      return false;
    }
  }
  if (!update.flush()) return false;
  update.close();
  return static_cast<bool>(update);
}

bool AviWriter::write_bytes(const void* bytes, std::uint64_t count) {
  if (count == 0) return true;
  return static_cast<bool>(file.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count)));
}

AviStatus AviWriter::fail_write() {
  AviStatus status{AviStatus::Code::cannot_write, "Unable to write to output file " + std::string(filename)};
  writing = false;
  if (keep_whole_frames()) {
    status.message += "\nOutput file " + std::string(filename) + " holds the " + std::to_string(frame_count) +
                      " frames written before the failure";
  }
  if (file.is_open()) file.close();
  return status;
}

void AviWriter::Descriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

// The length of the file if it were finished right after a frame of
// `frame_length` bytes, in a new part if `next_part`.
std::uint64_t AviWriter::end_after(std::uint64_t frame_length, bool next_part) const {
  const std::uint64_t chunk = layout::chunk_span(frame_length);
  if (!next_part) {
    if (parts.size() == 1) return layout::file_length(position + chunk, std::uint64_t(frame_count) + 1);
    return layout::last_part_end(position + chunk, part_index.size() + 1);
  }
  // Behind the current part: its "ix00", the first part's "idx1", the
  // header of the new part.
  std::uint64_t start = position + layout::std_index_size(part_index.size());
  if (parts.size() == 1) start += 8 + layout::kIndexEntrySize * index.size();
  return layout::last_part_end(start + layout::kPartHeaderSize + chunk, 1);
}

// Makes sure that the disk space up to `end` is the file's, so that the
// indexes of a file cut short by a full disk still fit. False only when
// the disk is full; a file system that reserves nothing (or an output that
// is no file) is left to fill as it goes.
bool AviWriter::reserve(std::uint64_t end) {
  if (reserver.get() < 0 || end <= reserved_end) return true;
  // Ahead by a step, so that short frames do not each take a call.
  constexpr std::uint64_t kStep = std::uint64_t{1} << 18;
  const std::uint64_t from = std::max(reserved_end, position);
  for (const std::uint64_t to : {end + kStep, end}) {
    if (::fallocate(reserver.get(), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(from), static_cast<off_t>(to - from)) ==
        0) {
      reserved_end = to;
      return true;
    }
    if (errno != ENOSPC && errno != EDQUOT) break;
  }
  if (errno == ENOSPC || errno == EDQUOT) return false;
  reserver.reset();
  return true;
}

// Gives back the space reserved past the end of the finished file.
void AviWriter::release_reserve() {
  if (reserver.get() >= 0 && reserved_end > position) {
    ::fallocate(reserver.get(), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(position),
                static_cast<off_t>(reserved_end - position));
  }
  reserver.reset();
  reserved_end = 0;
}

// Cuts the file to `length` bytes and goes on writing there.
bool AviWriter::cut_to(std::uint64_t length) {
  std::error_code error;
  std::filesystem::resize_file(filename, length, error);
  if (error) return false;
  file.clear();
  if (!file.seekp(static_cast<std::streamoff>(length))) return false;
  position = length;
  return true;
}

// After a failed write, whatever it left: the file cut back to the end of its
// last whole frame chunk, and completed around it as a file of those frames
// is, as far as the disk takes it: the last part's index and the closing
// chunk when they fit, else without them (readers then scan), then the
// header and the sizes of every part written in place. Returns whether the
// file is readable again.
bool AviWriter::keep_whole_frames() {
  if (parts.empty()) return false;  // the header area never made it
  if (file.is_open()) file.close();
  try {
    file.clear();
    file.rdbuf()->pubsetbuf(nullptr, 0);
    file.open(filename, std::ios::in | std::ios::out | std::ios::binary);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!file.is_open()) return false;
  bool indexed = false;
  const bool drop_part = parts.size() > 1 && part_index.empty();
  if (drop_part) {
    // A part opened for a frame that never made it: the part before it
    // is complete up to its indexes.
    const std::uint64_t start = parts.back().start;
    parts.pop_back();
    if (!cut_to(start)) return false;
    indexed = true;
  } else {
    if (!cut_to(frames_end)) return false;
    if (parts.size() == 1) {
      indexed = write_idx1();
    } else {
      indexed = write_part_index(parts.back());
    }
    if (!indexed && !cut_to(frames_end)) return false;
  }
  Part& last = parts.back();
  if (parts.size() == 1) {
    const std::uint64_t movi_end = drop_part ? layout::kMoviType + last.movi_size : frames_end;
    store_le32(header.get() + layout::kMoviSize, static_cast<std::uint32_t>(movi_end - layout::kMoviType));
    if (!indexed) store_le32(header.get() + layout::kAvihFlags, 0);  // AVIF_HASINDEX no longer holds
  } else if (!indexed) {
    last.movi_size = static_cast<std::uint32_t>(frames_end - (last.start + layout::kPartMoviType));
    last_part_indexed = false;
  }
  const std::uint64_t before_junk = position;
  if (!write_closing_junk()) {
    if (!cut_to(before_junk)) return false;
    last.riff_size = static_cast<std::uint32_t>(before_junk - last.start - 8);
  }
  complete_header();
  release_reserve();
  file.close();
  return !file.fail() && rewrite_starts();
}

AviStatus AviWriter::out_of_memory() const {
  return {AviStatus::Code::out_of_memory, "Out of memory writing output file " + std::string(filename)};
}
