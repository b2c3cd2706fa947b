#include "mov/movie_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "entropy/byte_order.h"
#include "mov/synthetic_frames.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using movgen::ChunkRun;
using movgen::MovieLayout;
using movgen::MovieOptions;

struct Atom {
  std::string path;  // e.g. "moov/trak/tkhd"
  std::uint64_t offset;
  std::uint64_t size;
};

// Walks the atom tree of `file` and checks that every container is filled
// exactly by its children.
void walk(const Bytes& file, std::uint64_t begin, std::uint64_t end, const std::string& parent,
          std::vector<Atom>& atoms) {
  static const char* const containers[] = {"moov", "trak", "mdia", "minf", "dinf", "stbl"};
  std::uint64_t at = begin;
  while (at < end) {
    ASSERT_LE(at + 8, end) << parent;
    std::uint64_t size = load_be32(&file[at]);
    const std::string tag(file.begin() + static_cast<long>(at) + 4, file.begin() + static_cast<long>(at) + 8);
    std::uint64_t header = 8;
    if (size == 1) {
      size = (std::uint64_t{load_be32(&file[at + 8])} << 32) | load_be32(&file[at + 12]);
      header = 16;
    }
    ASSERT_GE(size, header) << tag;
    ASSERT_LE(at + size, end) << tag;
    const std::string path = parent.empty() ? tag : parent + "/" + tag;
    atoms.push_back({path, at, size});
    for (const char* c : containers)
      if (tag == c) walk(file, at + header, at + size, path, atoms);
    at += size;
  }
}

std::map<std::string, Atom> atom_map(const Bytes& file) {
  std::vector<Atom> atoms;
  walk(file, 0, file.size(), "", atoms);
  std::map<std::string, Atom> m;
  for (const Atom& a : atoms) m.emplace(a.path, a);
  return m;
}

std::uint32_t be32(const Bytes& file, std::uint64_t at) { return load_be32(&file[at]); }

MovieLayout plan(const MovieOptions& o) {
  MovieLayout layout;
  std::string error;
  EXPECT_TRUE(movgen::plan_movie(o, layout, error)) << error;
  return layout;
}

std::string plan_error(const MovieOptions& o) {
  MovieLayout layout;
  std::string error;
  EXPECT_FALSE(movgen::plan_movie(o, layout, error));
  return error;
}

TEST(MoviePlan, ChunkingFillsChunksRunByRun) {
  MovieOptions o{.frames = 6, .chunking = {{1, 2}, {3, 1}}};
  MovieLayout l = plan(o);
  EXPECT_EQ(l.chunk_samples, (std::vector<std::uint32_t>{2, 2, 1, 1}));
  EXPECT_EQ(l.stsc, (std::vector<ChunkRun>{{1, 2}, {3, 1}}));
  // A short last chunk gets a run of its own.
  o.chunking = {{1, 4}};
  o.frames = 10;
  l = plan(o);
  EXPECT_EQ(l.chunk_samples, (std::vector<std::uint32_t>{4, 4, 2}));
  EXPECT_EQ(l.stsc, (std::vector<ChunkRun>{{1, 4}, {3, 2}}));
  // Chunks without frames are kept, at the offset where the next one starts.
  o.chunking = {{1, 1}, {2, 0}, {4, 1}};
  o.frames = 3;
  l = plan(o);
  EXPECT_EQ(l.chunk_samples, (std::vector<std::uint32_t>{1, 0, 0, 1, 1}));
  EXPECT_EQ(l.stsc, (std::vector<ChunkRun>{{1, 1}, {2, 0}, {4, 1}}));
  EXPECT_EQ(l.chunk_offsets[1], l.chunk_offsets[3]);
}

TEST(MoviePlan, FramesLieBackToBackInTheirChunks) {
  MovieOptions o{.width = 5, .height = 3, .frames = 5, .chunking = {{1, 2}}, .chunk_gap = 7};
  const MovieLayout l = plan(o);
  ASSERT_EQ(l.frame_size, 45u);
  const std::uint64_t p = l.chunk_offsets[0];
  EXPECT_EQ(l.frame_offsets, (std::vector<std::uint64_t>{p, p + 45, p + 97, p + 142, p + 194}));
  EXPECT_EQ(l.mdat_offset + 8, p);
  EXPECT_EQ(l.mdat_size, 8 + 5 * 45 + 2 * 7u);
}

TEST(MoviePlan, BadOptionsAreRefused) {
  MovieOptions o{.chunking = {{2, 1}}};
  EXPECT_EQ(plan_error(o), "the chunking must start with a run from chunk 1");
  o.chunking = {{1, 1}, {3, 2}, {3, 1}};
  EXPECT_EQ(plan_error(o), "the chunking's runs must start at increasing chunks");
  o.chunking = {{1, 1}, {2, 0}};
  EXPECT_EQ(plan_error(o), "the last run of the chunking must hold frames");
  o = {};
  o.width = 65536;
  EXPECT_FALSE(plan_error(o).empty());
  o = {};
  o.frames = 1000;
  o.sample_duration = 5'000'000;
  EXPECT_EQ(plan_error(o), "the movie's duration does not fit 32 bits");
}

TEST(MoviePlan, MediaDataPastFourGibibytesTakesTheLargeSize) {
  // 1920 x 1080 x 700 frames: 4.35 GB. Ten frames a chunk keep every chunk
  // below 4 GiB; the last frames lie above it.
  MovieOptions o{.width = 1920, .height = 1080, .frames = 700, .chunking = {{1, 10}}};
  MovieLayout l = plan(o);
  EXPECT_TRUE(l.mdat_largesize);
  EXPECT_EQ(l.mdat_size, 16 + 700ull * 6220800);
  EXPECT_LT(l.chunk_offsets.back(), 1ull << 32);
  EXPECT_GT(l.frame_offsets.back(), 1ull << 32);
  EXPECT_EQ(l.file_size, 20 + l.moov_size + l.mdat_size);
  EXPECT_FALSE(l.co64);
  // One frame a chunk puts chunk 692 past 4 GiB: the offsets take 64 bits.
  o.chunking = {{1, 1}};
  l = plan(o);
  EXPECT_TRUE(l.co64);
  EXPECT_GT(l.chunk_offsets.back(), 1ull << 32);
  EXPECT_EQ(l.chunk_offsets.back(), l.frame_offsets.back());
  o.frames = 600;
  EXPECT_FALSE(plan(o).mdat_largesize);
}

TEST(MovieWriter, WritesAWellFormedTreeWithTheFramesAtTheirOffsets) {
  testsupport::TempDir dir;
  using movgen::DataFormat;
  // Rows of 21 bytes, padded to 22 or 24.
  const struct {
    bool moov_last;
    DataFormat format;
    int row_align;
    bool co64;
  } cases[] = {{false, DataFormat::raw, 1, false},
               {true, DataFormat::wrle, 1, false},
               {false, DataFormat::wrle, 4, true},
               {true, DataFormat::raw, 2, true}};
  for (const auto [moov_last, format, row_align, co64] : cases) {
    {
      MovieOptions o{.width = 7,
                     .height = 5,
                     .frames = 9,
                     .format = format,
                     .chunking = {{1, 3}, {2, 2}},
                     .time_scale = 3000,
                     .sample_duration = 100,
                     .moov_last = moov_last,
                     .chunk_gap = 3,
                     .row_align = row_align,
                     .co64 = co64};
      const std::uint32_t row = (21 + row_align - 1) / row_align * row_align;
      const movgen::FrameSource source(7, 5, {movgen::Content::noise, 42});
      MovieLayout layout;
      std::string error;
      ASSERT_TRUE(movgen::write_movie((dir / "m.mov").string(), o, source, error, &layout)) << error;
      const Bytes file = testsupport::read_file(dir / "m.mov");
      ASSERT_EQ(file.size(), layout.file_size);
      auto atoms = atom_map(file);
      if (HasFatalFailure()) return;
      EXPECT_EQ(atoms["ftyp"].offset, 0u);
      EXPECT_EQ(atoms["mdat"].offset, layout.mdat_offset);
      EXPECT_EQ(atoms["moov"].offset, layout.moov_offset);
      EXPECT_EQ(moov_last, atoms["moov"].offset > atoms["mdat"].offset);
      for (const char* path :
           {"moov/mvhd", "moov/trak/tkhd", "moov/trak/mdia/mdhd", "moov/trak/mdia/hdlr", "moov/trak/mdia/minf/vmhd",
            "moov/trak/mdia/minf/dinf/dref", "moov/trak/mdia/minf/stbl/stsd", "moov/trak/mdia/minf/stbl/stts",
            "moov/trak/mdia/minf/stbl/stsc", "moov/trak/mdia/minf/stbl/stsz",
            co64 ? "moov/trak/mdia/minf/stbl/co64" : "moov/trak/mdia/minf/stbl/stco"})
        EXPECT_EQ(atoms.count(path), 1u) << path;
      // Durations in the movie's and the media's time scale: 9 x 100.
      EXPECT_EQ(be32(file, atoms["moov/mvhd"].offset + 24), 900u);
      EXPECT_EQ(be32(file, atoms["moov/trak/tkhd"].offset + 28), 900u);
      EXPECT_EQ(be32(file, atoms["moov/trak/mdia/mdhd"].offset + 24), 900u);
      const auto stsd = atoms["moov/trak/mdia/minf/stbl/stsd"].offset;
      EXPECT_EQ(std::string(file.begin() + static_cast<long>(stsd) + 20, file.begin() + static_cast<long>(stsd) + 24),
                format == movgen::DataFormat::raw ? "raw " : "WRLE");
      const auto stsz = atoms["moov/trak/mdia/minf/stbl/stsz"].offset;
      EXPECT_EQ(be32(file, stsz + 12), 5 * row);
      EXPECT_EQ(be32(file, stsz + 16), 9u);
      const auto stco = atoms[co64 ? "moov/trak/mdia/minf/stbl/co64" : "moov/trak/mdia/minf/stbl/stco"].offset;
      ASSERT_EQ(be32(file, stco + 12), layout.chunk_offsets.size());
      for (std::size_t j = 0; j < layout.chunk_offsets.size(); ++j) {
        const std::uint64_t offset =
            co64 ? std::uint64_t{be32(file, stco + 16 + 8 * j)} << 32 | be32(file, stco + 20 + 8 * j)
                 : be32(file, stco + 16 + 4 * j);
        EXPECT_EQ(offset, layout.chunk_offsets[j]);
      }
      // The pixels of each row are those of the packed frame, the fill 0xEE.
      for (std::uint32_t i = 0; i < 9; ++i) {
        const auto got = file.begin() + static_cast<long>(layout.frame_offsets[i]);
        const Bytes packed = movgen::stored_frame(source, format, i);
        for (std::uint32_t y = 0; y < 5; ++y) {
          EXPECT_TRUE(std::equal(packed.begin() + y * 21, packed.begin() + y * 21 + 21, got + y * row));
          for (std::uint32_t x = 21; x < row; ++x) EXPECT_EQ(got[y * row + x], movgen::kPadByte);
        }
      }
      // The gap before chunk 2.
      EXPECT_EQ(file[layout.chunk_offsets[1] - 1], 0xEE);
    }
  }
}

TEST(MovieWriter, RefusesFramesOutOfPlan) {
  testsupport::TempDir dir;
  MovieOptions o{.width = 2, .height = 2, .frames = 2};
  movgen::MovieWriter w;
  std::string error;
  ASSERT_TRUE(w.open((dir / "m.mov").string(), o, error)) << error;
  const Bytes frame(12, 1);
  EXPECT_FALSE(w.write_frame(Bytes(11), error));
  EXPECT_EQ(error, "a frame of 11 bytes where 12 are due");
  ASSERT_TRUE(w.write_frame(frame, error));
  EXPECT_FALSE(w.finish(error));
  EXPECT_EQ(error, "1 of 2 frames written");
  ASSERT_TRUE(w.write_frame(frame, error));
  EXPECT_FALSE(w.write_frame(frame, error));
  EXPECT_TRUE(w.finish(error)) << error;
  EXPECT_FALSE(movgen::MovieWriter().open((dir / "no" / "m.mov").string(), o, error));
}

}  // namespace
