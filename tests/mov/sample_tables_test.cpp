#include "mov/sample_tables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Offsets = std::vector<std::int64_t>;

struct Built {
  int result;
  Offsets offsets;
  std::string error;
  int claimed;
};

Built build(const std::vector<sample_to_chunk>& runs, const std::vector<std::uint64_t>& chunks,
            std::uint64_t frame_size, int max_frames = INT_MAX, std::uint64_t file_size = INT64_MAX) {
  MovieHeader h;
  const int result = calc_frame_offsets(runs, chunks, frame_size, h, max_frames, file_size);
  if (file_size == INT64_MAX) {
    EXPECT_EQ(h.total_frames, static_cast<int>(h.frame_offsets.size()));
  }
  return {result, h.frame_offsets, h.error, h.total_frames};
}

TEST(FrameOffsets, RunsSplitTheChunks) {
  EXPECT_EQ(build({{1, 1, 1}}, {100, 5000, 300}, 77).offsets, (Offsets{100, 5000, 300}));
  // Two frames in each of chunks 1 and 2, then one: P, P+s, Q, Q+s, R, T.
  const std::uint64_t P = 1000, Q = 5000, R = 9000, T = 12000;
  const std::uint64_t s = 40;
  const Built b = build({{1, 2, 1}, {3, 1, 1}}, {P, Q, R, T}, s);
  EXPECT_EQ(b.result, 1);
  EXPECT_EQ(b.offsets, (Offsets{P, P + s, Q, Q + s, R, T}));
  EXPECT_EQ(b.error, "");
  // A run without samples gives no frames; nor do no chunks, or no runs.
  EXPECT_EQ(build({{1, 1, 1}, {2, 0, 1}, {3, 2, 1}}, {10, 20, 30}, 5).offsets, (Offsets{10, 30, 35}));
  EXPECT_EQ(build({{1, 3, 1}}, {}, 5).offsets, Offsets{});
  const Built none = build({}, {10, 20}, 5);
  EXPECT_EQ(none.result, 1);
  EXPECT_EQ(none.offsets, Offsets{});
  // Every run claims chunk 1, yet chunk j can only reach run j + 1; the first
  // run's own first chunk is not looked at.
  EXPECT_EQ(build({{1, 1, 1}, {1, 2, 1}, {1, 3, 1}}, {0, 100, 200}, 1).offsets,
            (Offsets{0, 1, 100, 101, 102, 200, 201, 202}));
  EXPECT_EQ(build({{7, 2, 1}}, {0, 100}, 1).offsets, (Offsets{0, 1, 100, 101}));
}

TEST(FrameOffsets, OffsetsReachPastFourGibibytes) {
  // A chunk at 3 GiB is read from 3 GiB, and its later frames lie past 4 GiB.
  const std::int64_t at = 0xC0000000;
  const Built b = build({{1, 3, 1}}, {0xC0000000u}, INT_MAX);
  EXPECT_EQ(build({{1, 1, 1}}, {0x987654321ull}, 1).offsets, Offsets{0x987654321});
  EXPECT_EQ(b.offsets, (Offsets{at, at + INT_MAX, at + 2LL * INT_MAX}));
}

// The table holds the claimed frames that the file holds, up to the first
// it does not and at most as many as fit side by side plus one a chunk;
// total_frames keeps the claim.
TEST(FrameOffsets, OffsetsStopWhereTheFileDoesNotHoldTheFrame) {
  const struct {
    std::vector<sample_to_chunk> runs;
    std::vector<std::uint64_t> chunks;
    std::uint64_t file_size;
    Offsets offsets;
    int claimed;
  } cases[] = {
      {{{1, 3, 1}}, {100, 1000}, 1000, {100, 200, 300}, 6},
      {{{1, 3, 1}}, {100, 0}, 350, {100, 200}, 6},
      {{{1, 3, 1}}, {100, 0}, 400, {100, 200, 300, 0, 100, 200}, 6},
      {{{1, 0x7FFFFFFF, 1}}, {0}, 250, {0, 100}, 0x7FFFFFFF},
      {{{1, 2, 1}}, {0xFFFFFFFFFFFFFF00ull}, 1000, {}, 2},
      // Chunks that share their frames: one frame a chunk more than the file holds side by side.
      {{{1, 1, 1}}, {0, 0, 0, 0, 0}, 100, {0, 0, 0, 0, 0}, 5},
      {{{1, 5, 1}}, {0, 0, 0, 0}, 1000, {0, 100, 200, 300, 400, 0, 100, 200, 300, 400, 0, 100, 200, 300}, 20},
  };
  for (const auto& c : cases) {
    const Built b = build(c.runs, c.chunks, 100, INT_MAX, c.file_size);
    EXPECT_EQ(b.offsets, c.offsets) << c.file_size;
    EXPECT_EQ(b.claimed, c.claimed);
  }
}

TEST(FrameOffsets, TooManySamplesAreRefused) {
  Built b = build({{1, 0x80000000u, 1}}, {0}, 3);
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.offsets, Offsets{});
  EXPECT_EQ(b.error, "Too many frames: the sample tables describe 2147483648, at most 2147483647 can be indexed");
  // A sum that would wrap 32 bits is seen whole.
  b = build({{1, 0xFFFFFFFFu, 1}}, {0, 0}, 3);
  EXPECT_EQ(b.result, 0);
  b = build({{1, 3, 1}}, {0, 10}, 1, 5);
  EXPECT_EQ(b.result, 0);
  EXPECT_EQ(b.error, "Too many frames: the sample tables describe 6, at most 5 can be indexed");
  EXPECT_EQ(build({{1, 3, 1}}, {0, 10}, 1, 6).result, 1);
  // Each build replaces the last table.
  EXPECT_EQ(build({{1, 1, 1}}, {7}, 1).offsets, (Offsets{7}));
}

}  // namespace
