#include "entropy/compress.h"

#include <gtest/gtest.h>

#include <vector>

#include "test_data.h"

namespace {

using testdata::Bytes;

constexpr std::uint32_t kLargest = (1u << 24) + 3;

Compress& coder() {
  static Compress* c = [] {
    auto* made = new Compress;
    EXPECT_EQ(made->InitCompressBuffers(kLargest), 1);
    return made;
  }();
  return *c;
}

// The stream with the byte behind it (the reported length).
Bytes compact(const Bytes& plane) {
  Bytes out(compact_bound(plane.size()), 0xAA);
  out.resize(coder().compact(plane.data(), out.data(), static_cast<std::uint32_t>(plane.size())));
  return out;
}

// Restores with both forms, which must agree; the checked one gets only the
// stored bytes.
Bytes restore(const Bytes& stream, std::size_t length) {
  Bytes trusted(length + 1, 0xAA);
  coder().uncompact(stream.data(), trusted.data(), static_cast<std::uint32_t>(length));
  EXPECT_EQ(trusted.back(), 0xAA) << "wrote past the plane";
  trusted.pop_back();
  Bytes checked(length, 0x55);
  EXPECT_TRUE(
      coder().uncompact_checked(stream.data(), stream.size() - 1, checked.data(), static_cast<std::uint32_t>(length)));
  EXPECT_EQ(checked, trusted);
  return checked;
}

TEST(Compact, WorkedExamples) {
  Bytes seventeen(17, 0);
  seventeen.push_back(0x09);
  const std::pair<Bytes, Bytes> cases[] = {
      {Bytes(10, 0x05), {0x00, 0xCD, 0xB7, 0x87, 0xE8, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {Bytes(20, 0), {0x01, 0x02, 0x00, 0x00, 0x00, 0x6C, 0x3E, 0xAD, 0xD9, 0x40, 0x00, 0x00, 0x00, 0x00}},
      {Bytes(1000, 0),
       {0x03, 0x10, 0x00, 0x00, 0x00, 0xBB, 0xAF, 0xF3, 0x3B, 0xED, 0xAE, 0xF0, 0x57, 0xF6, 0xD3, 0x44, 0x36, 0x00,
        0x00}},
      {Bytes{}, {0x00, 0xE3, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
  };
  for (const auto& [plane, stream] : cases) {
    EXPECT_EQ(compact(plane), stream) << plane.size();
    EXPECT_EQ(restore(stream, plane.size()), plane);
  }
  const Bytes plain = compact(seventeen);  // the level-1 tally 15 misses the threshold
  EXPECT_EQ(plain.size(), 11u);
  EXPECT_EQ(plain[0], 0x00);
  EXPECT_EQ(restore(plain, 18), seventeen);
  // The byte behind is written whatever the output held.
  Bytes out(64, 0xFF);
  EXPECT_EQ(out[coder().compact(Bytes(10, 0x05).data(), out.data(), 10) - 1], 0x00);
}

// Every content at lengths around table sizes (the zero-run coder's own tests
// take runs around each level's longest code); and large planes: 2^23 bytes
// is the last scaled in single precision, one more the first scaled by the
// integer rule, and 2^24 + 3 the longest a caller gives.
TEST(Compact, RoundTrips) {
  std::uint32_t seed = 0;
  for (std::size_t n : {0, 1, 2, 3, 16, 255, 256, 257, 1000, 4096, 4097, 30000, 65536, 65537}) {
    for (const auto& content : testdata::contents()) {
      const Bytes plane = content.make(n, ++seed);
      EXPECT_EQ(restore(compact(plane), n), plane) << content.name << " " << n;
    }
  }
}
TEST(Compact, RoundTripsLargePlanes) {
  for (std::size_t n : {std::size_t{1} << 23, (std::size_t{1} << 23) + 1, std::size_t{kLargest}, std::size_t{0}}) {
    Bytes plane = n == 0 ? testdata::random_bytes(kLargest, 1) : testdata::residual_like(n, 4.0, 2);
    for (std::size_t i = 0; i < n; i += 4099) plane[i] = 0x80;  // tiny frequencies
    const Bytes stream = compact(plane);
    EXPECT_LE(stream.size(), compact_bound(plane.size()));
    EXPECT_EQ(restore(stream, plane.size()), plane) << n;
  }
}

// Every prefix is refused but the last few bytes, which the decoder may not
// need (damage anywhere is the fuzz target's). The method
// byte, R (against the plane and the run-length buffer) and the table's count
// sum (against the plane) are each checked.
TEST(UncompactChecked, RefusesBadStreams) {
  Bytes out(5001);
  auto accepted = [&](const Bytes& s, std::size_t length, Compress& c = coder()) {
    return c.uncompact_checked(s.data(), s.size(), out.data(), static_cast<std::uint32_t>(length));
  };
  for (const Bytes& plane : {testdata::residual_like(3000, 2.0, 1), testdata::sparse_bytes(3000, 30, 2), Bytes(3000, 0),
                             testdata::random_bytes(700, 3)}) {
    const Bytes stream = compact(plane);
    for (std::size_t cut = 0; cut + 4 < stream.size() - 1; ++cut) {
      EXPECT_FALSE(accepted(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut)), plane.size()));
    }
  }
  Bytes plane = testdata::sparse_bytes(5000, 20, 4);
  plane.back() = 9;  // the coding ends with a literal, not a run that a shorter plane could cut
  Bytes stream = compact(plane);
  stream.pop_back();
  ASSERT_NE(stream[0], 0);
  EXPECT_TRUE(accepted(stream, 5000));
  Bytes bad = stream;
  bad[0] = 4;
  EXPECT_FALSE(accepted(bad, 5000));
  for (std::uint32_t r : {0u, 1u, 5001u, 0xFFFFFFFFu}) {
    bad = stream;
    for (int k = 0; k < 4; ++k) bad[1 + k] = static_cast<unsigned char>(r >> (8 * k));
    EXPECT_FALSE(accepted(bad, 5000)) << r;
  }
  EXPECT_FALSE(accepted(stream, 4999) || accepted(stream, 5001));
  EXPECT_FALSE(accepted(compact(Bytes(100, 7)), 99));  // method 0: the counts sum to 100
  Compress none, small;
  ASSERT_EQ(small.InitCompressBuffers(100), 1);  // R is larger
  EXPECT_FALSE(accepted(stream, 5000, none) || accepted(stream, 5000, small));
}

// (The codec's tests check the frame's bound on noise at every size.)
TEST(CompactBound, HoldsForRandomPlanes) {
  for (std::size_t n : {0, 1, 2, 3, 100, 1000, 4097, 65536, 65537, 200000, (1 << 20) + 1, (1 << 22) + 1}) {
    EXPECT_LE(compact(testdata::random_bytes(n, static_cast<std::uint32_t>(n))).size(), compact_bound(n)) << n;
  }
  EXPECT_LE(compact_bound(1000), 1000u + 1400u);
  EXPECT_LE(compact_bound(kLargest), kLargest + kLargest / 8 + (1u << 16));
  for (std::size_t m = 1; m < (std::size_t{1} << 26); m = m * 3 + 1) EXPECT_LE(compact_bound(m), compact_bound(m + 1));
}

// Planes compacted together give the bytes of compact calls one after the
// other, the byte behind each stream included, whatever their number (groups
// of three and the rest; the codec's tests take three and four planes of
// every frame through them), and restore exactly. Shared coders, mismatched
// spans and a cut stream are refused.
TEST(CompactTogether, GivesTheBytesOfSeparateCompactsAndRestores) {
  std::vector<Bytes> planes = {Bytes{}, Bytes{7}, Bytes(1000, 0), Bytes(10, 5)};
  for (const auto& content : testdata::contents()) planes.push_back(content.make(4096, 5));
  std::vector<Compress> coders(7);
  std::vector<Compress*> pointers;
  for (Compress& c : coders) pointers.push_back(c.InitCompressBuffers(70000) == 1 ? &c : nullptr);
  for (std::size_t count = 1; count <= coders.size(); ++count) {
    const auto some = std::span(pointers.data(), count);
    std::vector<PlaneInput> inputs;
    Bytes expected;
    for (std::size_t k = 0; k < count; ++k) {
      const Bytes &p = planes[(3 * count + k) % planes.size()], stream = compact(p);
      inputs.push_back({p.data(), static_cast<std::uint32_t>(p.size())});
      expected.insert(expected.end(), stream.begin(), stream.end());
    }
    Bytes out(expected.size() + 64 * 1024, 0xAA);
    std::vector<std::uint32_t> reported(count);
    ASSERT_TRUE(compact_together(some, inputs, out.data(), reported));
    ASSERT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
    std::vector<Bytes> back;
    std::vector<PlaneStream> jobs;
    for (std::size_t k = 0, at = 0; k < count; at += reported[k++]) {
      back.emplace_back(inputs[k].length, 0x55);
      jobs.push_back({out.data() + at, reported[k] - 1u, nullptr, inputs[k].length});
    }
    for (std::size_t k = 0; k < count; ++k) jobs[k].out = back[k].data();
    ASSERT_TRUE(uncompact_checked_together(some, jobs));
    for (std::size_t k = 0; k < count; ++k) EXPECT_EQ(back[k], Bytes(inputs[k].in, inputs[k].in + inputs[k].length));
    if (count < 2) continue;
    Compress* shared[] = {pointers[0], pointers[0]};
    EXPECT_FALSE(uncompact_checked_together(shared, std::span(jobs.data(), 2)));
    EXPECT_FALSE(uncompact_checked_together(std::span(pointers.data(), 1), jobs));
    Bytes spare(out.size(), 0xAA);
    EXPECT_FALSE(compact_together(shared, std::span(inputs.data(), 2), spare.data(), reported));
    EXPECT_FALSE(compact_together(some, inputs, spare.data(), std::span(reported.data(), 1)));
    EXPECT_FALSE(compact_together(std::span(pointers.data(), 1), inputs, spare.data(), reported));
    EXPECT_EQ(spare, Bytes(out.size(), 0xAA));
    jobs[1].available /= 2;
    EXPECT_EQ(uncompact_checked_together(some, jobs), jobs[1].length == 0);
  }
}

// Buffers acquired, replaced and released (harmlessly twice); a plane longer
// than the run-length buffer is coded without run-length coding rather than
// overrunning it. (Failing to acquire them is the codec's death test's.)
TEST(CompressBuffers, AcquireReleaseAndOverlongPlanes) {
  Compress c;
  c.FreeCompressBuffers();
  ASSERT_EQ(c.InitCompressBuffers(10), 1);
  ASSERT_EQ(c.InitCompressBuffers(10), 1);
  const Bytes zeros(1000, 0);
  Bytes out(compact_bound(1000)), back(1000, 1);
  EXPECT_LT(c.compact(zeros.data(), out.data(), 1000), 20u);
  EXPECT_EQ(out[0], 0);
  c.uncompact(out.data(), back.data(), 1000);
  EXPECT_EQ(back, zeros);
  c.FreeCompressBuffers();
  c.FreeCompressBuffers();
  EXPECT_TRUE(c.cum == nullptr && c.rle_buffer == nullptr);
}

}  // namespace
