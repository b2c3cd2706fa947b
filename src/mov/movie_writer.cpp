#include "mov/movie_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "mov/atom_builder.h"

namespace movgen {

namespace {

constexpr std::uint64_t max_u32 = 0xFFFFFFFFu;
constexpr std::uint64_t ftyp_size = 20;
// Filler between chunks: anything but frame bytes, easy to spot in a dump.
constexpr std::uint8_t gap_byte = 0xEE;

const char* format_code(DataFormat format) { return format == DataFormat::raw ? "raw " : "WRLE"; }

void write_sample_description(AtomBuilder& a, const MovieOptions& o) {
  a.begin(format_code(o.format))
      .zeros(6)
      .u16(1)      // data reference index
      .u16(0)      // version
      .u16(0)      // revision level
      .u32(0)      // vendor
      .u32(0)      // temporal quality
      .u32(0x200)  // spatial quality: normal
      .u16(static_cast<std::uint16_t>(o.width))
      .u16(static_cast<std::uint16_t>(o.height))
      .u32(0x00480000)  // 72 dpi
      .u32(0x00480000)
      .u32(0)  // data size
      .u16(1)  // frames per sample
      .pascal_string(o.format == DataFormat::raw ? "" : "BMP", 32)
      .u16(24)      // depth
      .u16(0xFFFF)  // no colour table
      .end();
}

}  // namespace

std::vector<std::uint8_t> build_moov(const MovieOptions& o, const MovieLayout& layout) {
  const auto duration = static_cast<std::uint32_t>(std::uint64_t{o.frames} * o.sample_duration);
  const auto width = static_cast<std::uint32_t>(o.width);
  const auto height = static_cast<std::uint32_t>(o.height);
  AtomBuilder a;
  a.begin("moov");
  a.begin_full("mvhd")
      .u32(0)  // creation time
      .u32(0)  // modification time
      .u32(o.time_scale)
      .u32(duration)
      .u32(0x00010000)  // preferred rate 1.0
      .u16(0x0100)      // preferred volume 1.0
      .zeros(10)
      .unity_matrix()
      .zeros(24)  // preview, poster, selection and current times
      .u32(2)     // next track ID
      .end();
  a.begin("trak");
  a.begin_full("tkhd", 0x0F)  // enabled, in movie, preview and poster
      .u32(0)
      .u32(0)
      .u32(1)  // track ID
      .u32(0)
      .u32(duration)
      .zeros(8)
      .u16(0)  // layer
      .u16(0)  // alternate group
      .u16(0)  // volume
      .u16(0)
      .unity_matrix()
      .u32(width << 16)
      .u32(height << 16)
      .end();
  a.begin("mdia");
  a.begin_full("mdhd").u32(0).u32(0).u32(o.time_scale).u32(duration).u16(0).u16(0).end();
  a.begin_full("hdlr").fourcc("mhlr").fourcc("vide").u32(0).u32(0).u32(0).pascal_string("VideoHandler").end();
  a.begin("minf");
  a.begin_full("vmhd", 1).u16(0x0040).u16(0x8000).u16(0x8000).u16(0x8000).end();
  a.begin_full("hdlr").fourcc("dhlr").fourcc("alis").u32(0).u32(0).u32(0).pascal_string("DataHandler").end();
  a.begin("dinf").begin_full("dref").u32(1).begin_full("alis", 1).end().end().end();
  a.begin("stbl");
  a.begin_full("stsd").u32(1);
  write_sample_description(a, o);
  a.end();
  // One entry even without frames, so that the frame duration is there to read.
  a.begin_full("stts").u32(1).u32(o.frames).u32(o.sample_duration).end();
  a.begin_full("stsc").u32(static_cast<std::uint32_t>(layout.stsc.size()));
  for (const ChunkRun& r : layout.stsc) a.u32(r.first_chunk).u32(r.samples_per_chunk).u32(1);
  a.end();
  a.begin_full("stsz");
  if (layout.frame_size != 0 || o.frames == 0) {
    a.u32(static_cast<std::uint32_t>(o.frames == 0 ? 0 : layout.frame_size)).u32(o.frames);
  } else {
    // A constant size of 0 would announce a table, so empty frames get one.
    a.u32(0).u32(o.frames).zeros(std::size_t{o.frames} * 4);
  }
  a.end();
  a.begin_full(layout.co64 ? "co64" : "stco").u32(static_cast<std::uint32_t>(layout.chunk_offsets.size()));
  for (std::uint64_t offset : layout.chunk_offsets) {
    if (layout.co64)
      a.u64(offset);
    else
      a.u32(static_cast<std::uint32_t>(offset));
  }
  a.end();
  a.end().end().end().end().end();  // stbl, minf, mdia, trak, moov
  return a.take();
}

namespace {

// Places the media data, the movie atom and every chunk and frame in the
// file. Returns false when a chunk starts past what 32-bit chunk offsets
// reach and the layout does not use 64-bit ones.
bool place_chunks(const MovieOptions& o, MovieLayout& layout) {
  // The movie atom's size does not depend on the offsets it holds.
  layout.chunk_offsets.assign(layout.chunk_samples.size(), 0);
  layout.frame_offsets.clear();
  layout.moov_size = build_moov(o, layout).size();

  std::uint64_t payload = 0;
  for (std::size_t j = 0; j < layout.chunk_samples.size(); ++j)
    payload += (j > 0 ? o.chunk_gap : 0) + layout.chunk_samples[j] * layout.frame_size;
  layout.mdat_largesize = 8 + payload > max_u32;
  const std::uint64_t mdat_header = layout.mdat_largesize ? 16 : 8;
  layout.mdat_size = mdat_header + payload;
  if (o.moov_last) {
    layout.mdat_offset = ftyp_size;
    layout.moov_offset = layout.mdat_offset + layout.mdat_size;
  } else {
    layout.moov_offset = ftyp_size;
    layout.mdat_offset = ftyp_size + layout.moov_size;
  }
  layout.file_size = ftyp_size + layout.moov_size + layout.mdat_size;

  std::uint64_t position = layout.mdat_offset + mdat_header;
  layout.frame_offsets.reserve(o.frames);
  for (std::size_t j = 0; j < layout.chunk_samples.size(); ++j) {
    if (j > 0) position += o.chunk_gap;
    if (position > max_u32 && !layout.co64) return false;
    layout.chunk_offsets[j] = position;
    for (std::uint32_t k = 0; k < layout.chunk_samples[j]; ++k) {
      layout.frame_offsets.push_back(position);
      position += layout.frame_size;
    }
  }
  return true;
}

}  // namespace

bool plan_movie(const MovieOptions& o, MovieLayout& layout, std::string& error) {
  layout = {};
  if (o.width < 0 || o.width > 65535 || o.height < 0 || o.height > 65535) {
    error = "width and height must lie between 0 and 65535";
    return false;
  }
  if (o.row_align != 1 && o.row_align != 2 && o.row_align != 4) {
    error = "rows can be aligned to 1, 2 or 4 bytes";
    return false;
  }
  const auto align = static_cast<std::uint32_t>(o.row_align);
  layout.row_bytes = (3u * static_cast<std::uint32_t>(o.width) + align - 1) / align * align;
  layout.frame_size = std::uint64_t{layout.row_bytes} * static_cast<std::uint64_t>(o.height);
  if (o.frames > 0 && layout.frame_size > max_u32) {
    error = "frames of more than 4 GiB do not fit the sample size table";
    return false;
  }
  if (std::uint64_t{o.frames} * o.sample_duration > max_u32) {
    error = "the movie's duration does not fit 32 bits";
    return false;
  }
  const auto& runs = o.chunking;
  if (runs.empty() || runs.front().first_chunk != 1) {
    error = "the chunking must start with a run from chunk 1";
    return false;
  }
  for (std::size_t r = 1; r < runs.size(); ++r) {
    if (runs[r].first_chunk <= runs[r - 1].first_chunk) {
      error = "the chunking's runs must start at increasing chunks";
      return false;
    }
  }

  // Fill chunks run by run; the last chunk may hold fewer frames than its run.
  std::uint32_t left = o.frames;
  std::size_t r = 0;
  for (std::uint64_t chunk = 1; left > 0; ++chunk) {
    while (r + 1 < runs.size() && runs[r + 1].first_chunk <= chunk) ++r;
    const std::uint32_t per_chunk = runs[r].samples_per_chunk;
    if (per_chunk == 0 && r + 1 == runs.size()) {
      error = "the last run of the chunking must hold frames";
      return false;
    }
    const std::uint32_t n = std::min(per_chunk, left);
    layout.chunk_samples.push_back(n);
    left -= n;
  }
  for (std::size_t j = 0; j < layout.chunk_samples.size(); ++j) {
    if (j == 0 || layout.chunk_samples[j] != layout.chunk_samples[j - 1])
      layout.stsc.push_back({static_cast<std::uint32_t>(j + 1), layout.chunk_samples[j]});
  }

  // Chunks past 4 GiB need 64-bit offsets, which make the movie atom longer
  // and so move the chunks behind it further out.
  layout.co64 = o.co64;
  if (!place_chunks(o, layout)) {
    layout.co64 = true;
    place_chunks(o, layout);
  }
  return true;
}

bool MovieWriter::put(const void* data, std::size_t size, std::string& error) {
  if (size != 0 && std::fwrite(data, 1, size, file_.get()) != size) {
    error = "cannot write " + path_ + ": " + std::strerror(errno);
    return false;
  }
  written_ += size;
  return true;
}

bool MovieWriter::open(const std::string& path, const MovieOptions& options, std::string& error) {
  path_ = path;
  options_ = options;
  written_ = 0;
  next_frame_ = 0;
  if (!plan_movie(options_, layout_, error)) return false;
  file_.reset(std::fopen(path.c_str(), "wb"));
  if (!file_) {
    error = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  AtomBuilder head;
  head.begin("ftyp").fourcc("qt  ").u32(0x00000200).fourcc("qt  ").end();
  if (!options_.moov_last) head.bytes(build_moov(options_, layout_));
  if (layout_.mdat_largesize)
    head.u32(1).fourcc("mdat").u64(layout_.mdat_size);
  else
    head.u32(static_cast<std::uint32_t>(layout_.mdat_size)).fourcc("mdat");
  return put(head.data().data(), head.size(), error);
}

bool MovieWriter::write_frame(std::span<const std::uint8_t> stored_frame, std::string& error) {
  if (!file_) {
    error = "the movie is not open";
    return false;
  }
  if (next_frame_ >= options_.frames) {
    error = "more frames than the movie was planned with";
    return false;
  }
  if (stored_frame.size() != layout_.frame_size) {
    error = "a frame of " + std::to_string(stored_frame.size()) + " bytes where " + std::to_string(layout_.frame_size) +
            " are due";
    return false;
  }
  static constexpr auto filler = [] {
    std::array<std::uint8_t, 4096> f{};
    f.fill(gap_byte);
    return f;
  }();
  // Chunks that start here are preceded by their gap.
  const std::uint64_t target = layout_.frame_offsets[next_frame_];
  while (written_ < target) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(filler.size(), target - written_));
    if (!put(filler.data(), n, error)) return false;
  }
  ++next_frame_;
  return put(stored_frame.data(), stored_frame.size(), error);
}

bool MovieWriter::finish(std::string& error) {
  if (!file_) {
    error = "the movie is not open";
    return false;
  }
  if (next_frame_ != options_.frames) {
    error = std::to_string(next_frame_) + " of " + std::to_string(options_.frames) + " frames written";
    return false;
  }
  if (options_.moov_last) {
    const std::vector<std::uint8_t> moov = build_moov(options_, layout_);
    if (!put(moov.data(), moov.size(), error)) return false;
  }
  std::FILE* f = file_.release();
  if (std::fclose(f) != 0) {
    error = "cannot write " + path_ + ": " + std::strerror(errno);
    return false;
  }
  if (written_ != layout_.file_size) {
    error = "wrote " + std::to_string(written_) + " bytes where " + std::to_string(layout_.file_size) + " were planned";
    return false;
  }
  return true;
}

}  // namespace movgen
