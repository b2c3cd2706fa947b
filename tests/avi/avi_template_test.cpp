#include "avi/avi_template.h"
#include "entropy/byte_order.h"
#include "entropy/zero_rle.h"

#include "avi_test_util.h"

#include <gtest/gtest.h>

namespace {

using avitest::Bytes;

TEST(AviTemplate, ExpandsToTheHeaderImageUsingEveryByte) {
  const Bytes start{'R', 'I', 'F', 'F', 0x00, 0xFE, 'A', 'V', 'I', ' ', 'L', 'I', 'S', 'T', 0xEC, 0x11, 0x00, 0xFF};
  EXPECT_TRUE(std::equal(start.begin(), start.end(), compact_empty.begin()));
  EXPECT_EQ(std::string(compact_empty.end() - 4, compact_empty.end()), "movi");
  Bytes out(8204 + 16, 0xAA);
  EXPECT_EQ(zero::deRLE(compact_empty.data(), out.data(), 8204, 1), 191);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8204), avitest::empty_header_image());
  for (std::size_t i = 8204; i < out.size(); ++i) ASSERT_EQ(out[i], 0xAA) << "written past the header at " << i;
  // The checked expander agrees and finds the coding complete.
  std::size_t consumed = 0;
  EXPECT_TRUE(zero::checkedDeRLE(compact_empty.data(), compact_empty.size(), out.data(), 8204, 1, consumed));
  EXPECT_EQ(consumed, 191u);
}

TEST(AviTemplate, CreditTextAndByteOrder) {
  const std::string credit = avi::kCreditText;
  EXPECT_EQ(credit.rfind("Created by Quelmux", 0), 0u);
  const auto newline = credit.find('\n');
  ASSERT_NE(newline, std::string::npos);
  EXPECT_EQ(credit.substr(newline + 1), "https://quelmux.example.org/");
  EXPECT_EQ(credit.find('%'), std::string::npos);
  for (const char c : credit) EXPECT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F));
  EXPECT_LT(credit.size() + 1, 3576u);

  const std::uint32_t word = to_avi_edian_l(0x11223344);
  Bytes bytes(4);
  std::memcpy(bytes.data(), &word, 4);
  EXPECT_EQ(bytes, (Bytes{0x44, 0x33, 0x22, 0x11}));
}

}  // namespace
