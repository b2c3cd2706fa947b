// The parts of the compacted stream: byte order, the Fibonacci count table,
// the scaling of the counts and the range coder.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "entropy/byte_order.h"
#include "entropy/compress.h"
#include "entropy/cpu_features.h"
#include "entropy/fibonacci.h"
#include "entropy/frequency_table.h"
#include "entropy/range_coder.h"
#include "reference_coder.h"
#include "test_data.h"

namespace {

using testdata::Bytes;
using Counts = std::array<std::uint32_t, 256>;

TEST(ByteOrder, FieldsInEveryOrder) {
  const unsigned char b[8] = {0x01, 0x40, 0x80, 0x04, 0x05, 0x06, 0x07, 0xF8};
  EXPECT_EQ(load_le16(b), 0x4001u);
  EXPECT_EQ(load_le64(b), 0xF807060504804001u);
  EXPECT_EQ(load_be64(b), 0x01408004050607F8u);
  unsigned char out[10] = {};
  store_le64(out, 0xF807060504804001u);
  store_le16(out + 8, 0x55AA);
  EXPECT_EQ(Bytes(out, out + 10), (Bytes{0x01, 0x40, 0x80, 0x04, 0x05, 0x06, 0x07, 0xF8, 0xAA, 0x55}));
  // The integer part of a 16.16 field (320.5); misaligned words in place.
  std::uint32_t w[2];
  std::memcpy(w, b, 4);
  EXPECT_EQ(from_mov_edian_s(w[0]), 320);
  unsigned char block[10] = {0xAA, 0x00, 0x00, 0x02, 0x58, 0x12, 0x34, 0x56, 0x78, 0xBB};
  from_mov_edian_l_block(block + 1, 2);
  from_mov_edian_l_block(block + 1, -5);
  std::memcpy(w, block + 1, 8);
  EXPECT_EQ(w[0] + block[0] + block[9], 600u + 0xAA + 0xBB);
  EXPECT_EQ(w[1], 0x12345678u);
}

Bytes fibonacci(const std::uint32_t* counts, int n) {
  Bytes out(kMaxFibonacciTableBytes + 1, 0xAA);
  out.resize(FibonacciEncode2(counts, out.data(), n));
  return out;
}

TEST(Fibonacci, WorkedExamples) {
  Counts counts{};
  counts[0] = 5;
  counts[255] = 1;
  const Bytes table{0x3B, 0x0F, 0xF3, 0x00};  // G(6) G(1) G(254) G(2), 25 bits
  EXPECT_EQ(fibonacci(counts.data(), 256), table);
  Counts back;
  back.fill(7);
  EXPECT_EQ(FibonacciDecode2(table.data(), back.data(), 256), 4u);
  EXPECT_EQ(back, counts);
  EXPECT_EQ(fibonacci(Counts{}.data(), 256), (Bytes{0xE3, 0x00}));  // G(1) G(256)
  // G(count + 1) alone: F(bit length), then the bits below the leading 1.
  const std::pair<std::uint32_t, Bytes> codes[] = {
      {1, {0x60}},         {2, {0x70}},
      {3, {0x30}},         {7, {0xB0}},
      {99, {0x5C, 0x80}},  {253, {0x0F, 0xF0}},
      {255, {0x8C, 0x00}}, {0x7FFFFFFF, {0x2B, 0x00, 0x00, 0x00, 0x00}},  // the longest code, 39 bits
  };
  for (const auto& [count, bytes] : codes) EXPECT_EQ(fibonacci(&count, 1), bytes) << count;
  // A table ending on a byte boundary clears the byte behind; n = 0 the first.
  const std::uint32_t two[2] = {1, 1};
  Bytes out(3, 0xAA);
  EXPECT_EQ(FibonacciEncode2(two, out.data(), 2), 1u);
  EXPECT_EQ(out, (Bytes{0x66, 0x00, 0xAA}));
  EXPECT_EQ(FibonacciEncode2(two, out.data(), 0), 0u);
  EXPECT_EQ(out, (Bytes{0x00, 0x00, 0xAA}));
}

// Random tables (zero runs, the largest counts) read back by both readers;
// the checked one needs every byte and refuses codes no writer makes.
TEST(Fibonacci, RoundTripsAndCheckedReading) {
  std::mt19937 rng(11);
  Counts back{};
  std::uint32_t n = 0;
  for (int round = 0; round < 500; ++round) {
    Counts counts{};
    const unsigned density = rng() % 100;
    for (auto& c : counts) c = rng() % 100 < density ? rng() >> (rng() % 32) : 0;
    if (round == 0) counts.fill(0xFFFFFFFEu);
    const Bytes table = fibonacci(counts.data(), 256);
    EXPECT_EQ(FibonacciDecode2(table.data(), back.data(), 256), table.size());
    EXPECT_EQ(back, counts);
    EXPECT_TRUE(FibonacciDecode2Checked(table.data(), table.size(), back.data(), 256, n));
    EXPECT_EQ(n, table.size());
    EXPECT_FALSE(FibonacciDecode2Checked(table.data(), table.size() - 1, back.data(), 256, n));
  }
  const Bytes long_prefix{0x01, 0x55};                     // no closing 1 1 within the 8 weights
  const Bytes sum_33{0xAB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};  // F-sum 1 + 3 + 8 + 21
  EXPECT_FALSE(FibonacciDecode2Checked(long_prefix.data(), long_prefix.size(), back.data(), 256, n));
  EXPECT_FALSE(FibonacciDecode2Checked(sum_33.data(), sum_33.size(), back.data(), 256, n));
}

// Worked examples, then random counts up to 2^23 bytes (single-precision
// scaling) and beyond (the integer rule, its excess taken from the first
// largest frequency): bit for bit as the reference model, a total of 2^shift
// and no value gained or lost.
TEST(FrequencyTable, MatchesTheReferenceModel) {
  auto scale = [](const Counts& counts) {
    reference::Table t;
    std::uint64_t length = 0;
    for (int v = 0; v < 256; ++v) length += t.cum[v + 1] = counts[v];
    t.shift = entropy::scale_counts(t.cum, length);
    return t;
  };
  auto freqs = [&](const Bytes& bytes, const Bytes& values) {
    Counts counts{};
    for (unsigned char b : bytes) ++counts[b];
    const reference::Table t = scale(counts);
    std::vector<std::uint32_t> f;
    for (unsigned char v : values) f.push_back(t.cum[v + 1] - t.cum[v]);
    return f;
  };
  // Ratio 4/3: 1, 1, 1 and the missing unit to value 1. With only values 128
  // to 255 the cycle walks all 256, so 0x80 gets it.
  EXPECT_EQ(freqs({1, 2, 3}, {1, 2, 3}), (std::vector<std::uint32_t>{2, 1, 1}));
  EXPECT_EQ(freqs({0x80, 0x81, 0x82}, {0x80, 0x81, 0x82}), (std::vector<std::uint32_t>{2, 1, 1}));
  EXPECT_EQ(freqs({0xFF, 0x00, 0xFF}, {0, 0xFF}), (std::vector<std::uint32_t>{2, 2}));
  EXPECT_EQ(freqs({0x61, 0x62, 0x72, 0x61, 0x63, 0x61, 0x64, 0x61, 0x62, 0x72, 0x61}, {0x61, 0x62, 0x72, 0x63, 0x64}),
            (std::vector<std::uint32_t>{8, 3, 2, 2, 1}));
  EXPECT_EQ(scale(Counts{}).cum, (std::array<std::uint32_t, 257>{}));
  std::mt19937 rng(17);
  for (int round = 0; round < 3000; ++round) {
    Counts counts{};
    const unsigned bits = round % 3 == 0 ? 24 : 14;
    for (unsigned k = 1 + rng() % 256; k > 0; --k) counts[rng() % 256] = rng() % (1u << (rng() % bits));
    if (round % 5 == 0) std::fill(counts.begin(), counts.begin() + 128, 0u);
    if (round == 0) {  // two largest counts and an excess from the raise to 1
      counts.fill(1);
      counts[9] = counts[200] = 5000000;
    }
    const reference::Table fast = scale(counts), model = reference::scale(counts);
    ASSERT_EQ(fast.cum, model.cum) << round;
    ASSERT_EQ(fast.shift, model.shift) << round;
    EXPECT_EQ(fast.cum[256], fast.cum[256] == 0 ? 0 : 1u << fast.shift);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(fast.cum[v + 1] == fast.cum[v], counts[v] == 0);
  }
}

// A buffer's table, coded form and decoding tables.
struct Coded {
  Compress c;
  Bytes bytes;
  entropy::DecodeTable table;

  explicit Coded(const Bytes& in) {
    c.InitCompressBuffers(16);
    c.calcprob(in.data(), static_cast<std::uint32_t>(in.size()));
    bytes.resize(in.size() + in.size() / 4 + 64);
    bytes.resize(static_cast<std::size_t>(c.encode(in.data(), bytes.data(), static_cast<std::uint32_t>(in.size()))));
    table.build(c.cum.get(), c.shift);
  }
  Bytes decode(std::size_t length) {
    Bytes out(length, 0xAA);
    c.decode(bytes.data(), out.data(), static_cast<std::uint32_t>(length));
    return out;
  }
  bool decode_checked(std::size_t available, Bytes& out) {
    return entropy::range_decode_checked(bytes.data(), available, out.data(), static_cast<std::uint32_t>(out.size()),
                                         table);
  }
};

// The coder's bytes, which a decoder gives back; a point in the range that r
// leaves over above r * total is refused when 255, which alone could own it,
// has no frequency.
TEST(RangeCoder, WorkedExamples) {
  const Bytes abra{0x61, 0x62, 0x72, 0x61, 0x63, 0x61, 0x64, 0x61, 0x62, 0x72, 0x61};
  EXPECT_EQ(Coded(Bytes(10, 0x05)).bytes, (Bytes{0, 0, 0, 0, 0}));
  EXPECT_EQ(Coded({1, 2, 3}).bytes, (Bytes{0x00, 0x58, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Coded(abra).bytes, (Bytes{0x00, 0x56, 0x1B, 0xFF, 0x80, 0x00, 0x00}));
  EXPECT_EQ(Coded(abra).decode(11), abra);
  EXPECT_EQ(Coded({0xFF, 0x00, 0xFF}).bytes, (Bytes{0x00, 0xA0, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Coded({0xFF, 0x00, 0xFF}).decode(0), Bytes{});
  Coded no_255(testdata::make(4000, 8, [](std::mt19937& r) { return 1 + r() % 3; }));
  no_255.bytes.assign(4000, 0xFF);
  Bytes out(4000);
  EXPECT_FALSE(no_255.decode_checked(4000, out));
}

// Streams coded together get exactly the bytes that each gets alone, with
// every loop, whatever their number (groups of three and the rest), their
// lengths (equal, unequal, empty) and contents (carries included); nothing
// is written behind a stream's E bytes.
TEST(RangeCoder, TogetherGivesEveryStreamItsOwnBytes) {
  using entropy::detail::EncodeKernel;
  std::mt19937 rng(31);
  std::vector<Bytes> inputs;
  for (std::size_t n : {0, 1, 2, 5, 300, 4097, 20000}) {
    for (const auto& content : testdata::contents()) inputs.push_back(content.make(n, rng()));
  }
  for (int k = 0; k < 12; ++k) {
    const auto common = static_cast<unsigned char>(rng());
    inputs.push_back(
        testdata::make(1 + rng() % 9000, rng(), [&](std::mt19937& r) { return r() % 300 ? common : r(); }));
  }
  std::deque<Coded> alone;  // Coded does not move
  for (const Bytes& in : inputs) alone.emplace_back(in);
  for (const EncodeKernel kernel : {EncodeKernel::kPortable, EncodeKernel::kBmi2}) {
    if (kernel == EncodeKernel::kBmi2 && !cpu_features().bmi2) continue;
    for (int round = 0; round < 150; ++round) {
      const std::size_t count = 1 + rng() % 7;
      std::vector<std::size_t> pick(count);
      std::vector<Bytes> out(count);
      std::vector<entropy::EncodeStream> streams(count);
      for (std::size_t k = 0; k < count; ++k) {
        pick[k] = rng() % inputs.size();
        const Bytes& in = inputs[pick[k]];
        const Compress& c = alone[pick[k]].c;
        out[k].assign(alone[pick[k]].bytes.size() + 16, 0xAA);
        streams[k] = {in.data(), static_cast<std::uint32_t>(in.size()), c.cum.get(), c.shift, out[k].data(), 0};
      }
      entropy::detail::range_encode_together(streams, kernel);
      for (std::size_t k = 0; k < count; ++k) {
        Bytes expected = alone[pick[k]].bytes;
        ASSERT_EQ(streams[k].written, expected.size()) << inputs[pick[k]].size();
        expected.resize(out[k].size(), 0xAA);
        EXPECT_EQ(out[k], expected);
      }
    }
  }
}

}  // namespace
