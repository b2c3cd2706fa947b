// The parts of the compacted stream: the Fibonacci count table, the scaling
// of the counts and the range coder. (Byte order is every file's: the
// programs' tests read and write them.)
#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "entropy/compress.h"
#include "entropy/cpu_features.h"
#include "entropy/fibonacci.h"
#include "entropy/frequency_table.h"
#include "entropy/range_coder.h"
#include "test_data.h"

namespace {

using testdata::Bytes;
using Counts = std::array<std::uint32_t, 256>;

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
  const std::pair<std::uint32_t, Bytes> codes[] = {{1, {0x60}},         {7, {0xB0}},
                                                   {99, {0x5C, 0x80}},  {253, {0x0F, 0xF0}},
                                                   {255, {0x8C, 0x00}}, {0x7FFFFFFF, {0x2B, 0, 0, 0, 0}}};
  for (const auto& [count, bytes] : codes) {
    std::uint32_t read = 0, used = 0;
    EXPECT_EQ(fibonacci(&count, 1), bytes) << count;
    EXPECT_TRUE(FibonacciDecode2Checked(bytes.data(), bytes.size(), &read, 1, used) && read == count) << count;
  }
  // A table ending on a byte boundary clears the byte behind; n = 0 the first.
  const std::uint32_t two[2] = {1, 1};
  Bytes out(3, 0xAA);
  EXPECT_EQ(FibonacciEncode2(two, out.data(), 2), 1u);
  EXPECT_EQ(out, (Bytes{0x66, 0x00, 0xAA}));
  EXPECT_EQ(FibonacciEncode2(two, out.data(), 0), 0u);
  EXPECT_EQ(out, (Bytes{0x00, 0x00, 0xAA}));
  // The checked reader needs every byte and refuses codes no writer makes: no
  // closing 1 1 within the 8 weights, an F-sum of 33 (1 + 3 + 8 + 21).
  std::uint32_t n = 0;
  EXPECT_TRUE(FibonacciDecode2Checked(table.data(), table.size(), back.data(), 256, n) && n == table.size());
  EXPECT_FALSE(FibonacciDecode2Checked(table.data(), table.size() - 1, back.data(), 256, n));
  const Bytes long_prefix{0x01, 0x55}, sum_33{0xAB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_FALSE(FibonacciDecode2Checked(long_prefix.data(), long_prefix.size(), back.data(), 256, n));
  EXPECT_FALSE(FibonacciDecode2Checked(sum_33.data(), sum_33.size(), back.data(), 256, n));
}

// Random counts up to 2^23 bytes (single-precision scaling) and beyond (the
// integer rule, its excess taken from the first largest frequency), with and
// without values below 128 (where the missing units go): a total of 2^shift,
// no value gained or lost, and the very tables that a literal model of the
// rules (the missing units handed out one by one) gave for the same counts:
// their digest was taken while the model agreed on every round. (The
// compacted streams' golden bytes hold worked examples.)
TEST(FrequencyTable, ScalesAsTheRules) {
  std::array<std::uint32_t, 257> cum{};
  EXPECT_EQ(entropy::scale_counts(cum, 0), 0u);
  EXPECT_EQ(cum, (std::array<std::uint32_t, 257>{}));
  std::uint64_t digest = 14695981039346656037u;  // FNV-1a over every table and shift
  const auto mix = [&](std::uint32_t v) { digest = (digest ^ v) * 1099511628211u; };
  std::mt19937 rng(17);
  for (int round = 0; round < 3000; ++round) {
    Counts counts{};
    const unsigned bits = round % 3 == 0 ? 24 : 14;
    for (unsigned k = 1 + rng() % 256; k > 0; --k) {
      // One draw a statement: a compiler may take one expression's in any order.
      const unsigned shift = rng() % bits, value = rng() % (1u << shift);
      counts[rng() % 256] = value;
    }
    if (round % 5 == 0) std::fill(counts.begin(), counts.begin() + 128, 0u);
    if (round == 0) {  // two largest counts and an excess from the raise to 1
      counts.fill(1);
      counts[9] = counts[200] = 5000000;
    }
    std::uint64_t length = 0;
    for (int v = 0; v < 256; ++v) length += cum[v + 1] = counts[v];
    const std::uint32_t shift = entropy::scale_counts(cum, length);
    EXPECT_EQ(cum[256], cum[256] == 0 ? 0 : 1u << shift);
    for (int v = 0; v < 256; ++v) EXPECT_EQ(cum[v + 1] == cum[v], counts[v] == 0);
    mix(shift);
    for (std::uint32_t c : cum) mix(c);
  }
  EXPECT_EQ(digest, 14968801317348536982u) << std::hex << digest;
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
  bool decode(Bytes& out) {
    return entropy::range_decode_checked(bytes.data(), bytes.size(), out.data(), static_cast<std::uint32_t>(out.size()),
                                         table);
  }
};

// A point in the range that r leaves over above r * total is refused when
// 255, which alone could own it, has no frequency. (The compacted streams'
// golden bytes hold the coder's bytes.)
TEST(RangeCoder, RefusesWhatNoValueOwns) {
  Coded no_255(testdata::make(4000, 8, [](std::mt19937& r) { return 1 + r() % 3; }));
  no_255.bytes.assign(4000, 0xFF);
  Bytes out(4000);
  EXPECT_FALSE(no_255.decode(out));
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
