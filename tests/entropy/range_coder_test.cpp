#include "entropy/range_coder.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "entropy/compress.h"
#include "entropy/cpu_features.h"
#include "reference_coder.h"
#include "test_data.h"

namespace {

using testdata::Bytes;

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

TEST(RangeCoder, WorkedExamples) {
  EXPECT_EQ(Coded(Bytes(10, 0x05)).bytes, (Bytes{0, 0, 0, 0, 0}));
  EXPECT_EQ(Coded({1, 2, 3}).bytes, (Bytes{0x00, 0x58, 0x00, 0x00, 0x00}));
  const Bytes abra{0x61, 0x62, 0x72, 0x61, 0x63, 0x61, 0x64, 0x61, 0x62, 0x72, 0x61};
  Coded a(abra);
  EXPECT_EQ(a.bytes, (Bytes{0x00, 0x56, 0x1B, 0xFF, 0x80, 0x00, 0x00}));
  EXPECT_EQ(a.decode(11), abra);
  Coded f({0xFF, 0x00, 0xFF});
  EXPECT_EQ(f.bytes, (Bytes{0x00, 0xA0, 0x00, 0x00, 0x00}));
  EXPECT_EQ(f.decode(3), (Bytes{0xFF, 0x00, 0xFF}));
  EXPECT_EQ(f.decode(0), Bytes{});
}

// The reference model's bytes for every content and table size, and for
// skewed tables: rare symbols need several renormalisation steps, and long
// runs of 0xFF in the output carry carries. Both decoders give the input
// back; the checked one needs the coded bytes up to the last it reads.
TEST(RangeCoder, MatchesTheReferenceModel) {
  std::mt19937 rng(5);
  std::vector<Bytes> inputs;
  for (std::size_t n : {1, 2, 3, 100, 4095, 4097, 30000, 65536}) {
    for (const auto& content : testdata::contents())
      inputs.push_back(content.make(n, static_cast<std::uint32_t>(rng())));
  }
  for (int round = 0; round < 200; ++round) {
    const auto common = static_cast<unsigned char>(rng());
    const unsigned odds = 2 + rng() % 2000;
    inputs.push_back(
        testdata::make(1 + rng() % 5000, rng(), [&](std::mt19937& r) { return r() % odds ? common : r(); }));
  }
  for (const Bytes& in : inputs) {
    Coded coded(in);
    ASSERT_EQ(coded.bytes, reference::encode(in, reference::table_of(in))) << in.size();
    ASSERT_EQ(coded.decode(in.size()), in);
    Bytes out(in.size());
    ASSERT_TRUE(coded.decode_checked(coded.bytes.size(), out));
    EXPECT_EQ(out, in);
    std::size_t needed = coded.bytes.size();
    while (coded.decode_checked(needed - 1, out)) --needed;
    for (std::size_t cut = needed > 8 ? needed - 8 : 0; cut < needed; ++cut)
      EXPECT_FALSE(coded.decode_checked(cut, out));
  }
}

// Garbage gives garbage or a refusal, never an access outside the buffers
// (the sanitizer build checks), and a point in the range that r leaves over
// above r * total is refused when 255, which alone could own it, has no
// frequency.
TEST(RangeCoder, CheckedDecoderSurvivesGarbage) {
  std::mt19937 rng(23);
  for (const Bytes& source : {testdata::residual_like(1000, 2.0, 3), Bytes(4000, 7)}) {
    Coded coded(source);
    for (int round = 0; round < 2000; ++round) {
      coded.bytes.resize(2 + rng() % 200);
      for (auto& b : coded.bytes) b = static_cast<unsigned char>(rng());
      Bytes out(source.size());
      coded.decode_checked(coded.bytes.size(), out);
    }
  }
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
    for (const auto& content : testdata::contents())
      inputs.push_back(content.make(n, static_cast<std::uint32_t>(rng())));
  }
  for (int k = 0; k < 12; ++k) {
    const auto common = static_cast<unsigned char>(rng());
    inputs.push_back(
        testdata::make(1 + rng() % 9000, rng(), [&](std::mt19937& r) { return r() % 300 ? common : r(); }));
  }
  std::deque<Coded> alone;  // Coded does not move
  for (const Bytes& in : inputs) alone.emplace_back(in);

  std::vector<EncodeKernel> kernels = {EncodeKernel::kPortable};
  if (cpu_features().bmi2) kernels.push_back(EncodeKernel::kBmi2);
  for (const EncodeKernel kernel : kernels) {
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
        const Bytes& expected = alone[pick[k]].bytes;
        ASSERT_EQ(streams[k].written, expected.size()) << inputs[pick[k]].size();
        EXPECT_EQ(Bytes(out[k].begin(), out[k].begin() + expected.size()), expected);
        EXPECT_EQ(Bytes(out[k].begin() + expected.size(), out[k].end()), Bytes(16, 0xAA));
      }
    }
  }
}

}  // namespace
