#include "avi/avi_writer.h"

#include "avi/avi_endian.h"
#include "avi/avi_layout.h"
#include "avi/avi_template.h"
#include "entropy/zero_rle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

namespace layout = avi::layout;

// Enough zero bytes for the largest closing chunk.
constexpr unsigned char kZeros[layout::kFileGranule] = {};

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

}  // namespace

int AviWriter::init(const char* name, int width, int height, int rate, int scale, int compressed) {
  filename = name;
  frame_count = 0;
  index_capacity = 0;
  index = {};
  largest_chunk = 0;
  writing = false;

  header.reset(new (std::nothrow) unsigned char[layout::kHeaderSize]);
  if (!header) {
    std::printf("Out of memory writing output file %s\n", filename);
    return 0;
  }
  unsigned char* h = header.get();
  zero::deRLE(compact_empty.data(), h, static_cast<int>(layout::kHeaderSize), 1);

  // The integer fields carry the arguments' 32-bit patterns; 3 × width ×
  // height wraps like the 32-bit field it fills.
  const auto w = static_cast<std::uint32_t>(width);
  const auto ht = static_cast<std::uint32_t>(height);
  avi::put_u32(h + layout::kAvihWidth, w);
  avi::put_u32(h + layout::kBiWidth, w);
  avi::put_u32(h + layout::kAvihHeight, ht);
  avi::put_u32(h + layout::kBiHeight, ht);
  avi::put_u32(h + layout::kScale, static_cast<std::uint32_t>(scale));
  avi::put_u32(h + layout::kRate, static_cast<std::uint32_t>(rate));
  avi::put_u32(h + layout::kBiSizeImage, 3u * w * ht);
  avi::put_u32(h + layout::kMicroSecPerFrame,
               frame_period(static_cast<std::uint32_t>(rate), static_cast<std::uint32_t>(scale)));
  if (compressed == 0) {
    put_tag(h + layout::kHandler, "DIB ");
    avi::put_u32(h + layout::kBiCompression, 0);
  } else {
    put_tag(h + layout::kHandler, "crvt");
    put_tag(h + layout::kBiCompression, "CRVT");
  }

  try {
    file.open(filename, std::ios::out | std::ios::binary | std::ios::trunc);
  } catch (const std::bad_alloc&) {
    std::printf("Out of memory writing output file %s\n", filename);
    return 0;
  }
  if (!file.is_open() || !file) {
    std::printf("Unable to open output file %s\n", filename);
    return 0;
  }

  std::memcpy(h + layout::kCredit, avi::kCreditText, sizeof avi::kCreditText);

  // Flushed at once, so that an output that takes no data fails here.
  if (!write_bytes(h, layout::kHeaderSize) || !file.flush()) return fail_write();
  position = layout::kHeaderSize;
  writing = true;
  return 1;
}

int AviWriter::write_frame(unsigned char* data, int size, int flags) {
  if (!writing) return 0;
  if (size < 0) {
    std::printf("Invalid frame length %d for output file %s\n", size, filename);
    return 0;
  }
  if (!fits(static_cast<std::uint64_t>(size))) {
    std::printf("Output file %s would reach 4 GiB\n", filename);
    return 0;
  }
  // Room for the entry comes first, so that a failure leaves no chunk
  // without its entry. 512 entries first, then doubling: a growing vector is
  // copied on every step, and linear steps would make long runs quadratic.
  if (frame_count >= index_capacity) {
    const int grown = index_capacity + std::max(kIndexStep, index_capacity);
    try {
      index.reserve(static_cast<std::size_t>(grown));
    } catch (const std::bad_alloc&) {
      std::printf("Out of memory writing output file %s\n", filename);
      return 0;
    }
    index_capacity = grown;
  }

  const auto length = static_cast<std::uint32_t>(size);
  if (largest_chunk < length + 4) largest_chunk = length + 4;
  data[length] = 0;
  data[length + 1] = 0;
  data[length + 2] = 0;

  const std::uint64_t chunk = position;
  const std::uint64_t n = layout::padded(length);
  unsigned char size_le[4];
  avi::put_u32(size_le, length);
  if (!write_bytes("00dc", 4) || !write_bytes(size_le, 4) || !write_bytes(data, n)) return fail_write();

  AVIINDEXENTRY& entry = index.emplace_back();
  put_tag(entry.ckid, "00dc");
  entry.dwFlags = to_avi_edian_l(static_cast<std::uint32_t>(flags));
  entry.dwChunkOffset = to_avi_edian_l(static_cast<std::uint32_t>(chunk - layout::kMoviType));
  entry.dwChunkLength = to_avi_edian_l(static_cast<std::uint32_t>(n));
  position = chunk + 8 + n;
  ++frame_count;
  return 1;
}

int AviWriter::flush() {
  if (!writing) return 0;
  writing = false;
  unsigned char* h = header.get();
  const auto frames = static_cast<std::uint32_t>(frame_count);
  avi::put_u32(h + layout::kAvihSuggestedBufferSize, 0);
  avi::put_u32(h + layout::kAvihTotalFrames, frames);
  avi::put_u32(h + layout::kMoviSize, static_cast<std::uint32_t>(position - layout::kMoviType));
  avi::put_u32(h + layout::kLength, frames);
  avi::put_u32(h + layout::kStart, 0);
  avi::put_u32(h + layout::kStrhSuggestedBufferSize, largest_chunk);

  const std::uint64_t index_bytes = layout::kIndexEntrySize * frames;
  unsigned char word[4];
  avi::put_u32(word, static_cast<std::uint32_t>(index_bytes));
  if (!write_bytes("idx1", 4) || !write_bytes(word, 4) || !write_bytes(index.data(), index_bytes)) {
    return fail_write();
  }
  position += 8 + index_bytes;

  if (!write_bytes("JUNK", 4)) return fail_write();
  position += 4;
  const std::uint64_t end = layout::file_end(position);
  const std::uint64_t fill = end - position - 4;
  avi::put_u32(word, static_cast<std::uint32_t>(fill));
  if (!write_bytes(word, 4) || !write_bytes(kZeros, fill)) return fail_write();
  position = end;
  avi::put_u32(h + layout::kRiffSize, static_cast<std::uint32_t>(end - 8));

  file.close();
  if (!file) return fail_write();

  std::fstream update;
  try {
    update.open(filename, std::ios::in | std::ios::out | std::ios::binary);
  } catch (const std::bad_alloc&) {
    return fail_write();
  }
  if (!update.is_open() || !update.seekp(0) ||
      !update.write(reinterpret_cast<const char*>(h), layout::kHeaderRewriteSize) || !update.flush()) {
    return fail_write();
  }
  update.close();
  if (!update) return fail_write();
  return 1;
}

std::uint64_t AviWriter::final_file_length(std::uint64_t frames, std::uint64_t frame_length) {
  return layout::file_length_for(frames, frame_length);
}

bool AviWriter::fits(std::uint64_t frame_length) const {
  if (frame_length > kMaxFrameLength) return false;
  return layout::frame_fits(position, static_cast<std::uint64_t>(frame_count), frame_length);
}

bool AviWriter::write_bytes(const void* bytes, std::uint64_t count) {
  if (count == 0) return true;
  return static_cast<bool>(file.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count)));
}

int AviWriter::fail_write() {
  std::printf("Unable to write to output file %s\n", filename);
  writing = false;
  if (file.is_open()) file.close();
  return 0;
}
