#include "entropy/byte_order.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

unsigned long word_of(std::initializer_list<unsigned char> bytes) {
  std::uint32_t w = 0;
  std::memcpy(&w, std::data(bytes), 4);
  return w;
}

TEST(ByteOrder, ShortFieldIsTheIntegerPartOfAFixedPointWord) {
  EXPECT_EQ(from_mov_edian_s(word_of({0x01, 0x40, 0x80, 0x00})), 320);  // 320.5
  EXPECT_EQ(from_mov_edian_s(word_of({0x00, 0xF0, 0x00, 0x00})), 240);
  EXPECT_EQ(from_mov_edian_s(word_of({0xFF, 0xFE, 0xFF, 0xFF})), 0xFFFE);
  EXPECT_EQ(from_mov_edian_s(word_of({0x00, 0x00, 0x12, 0x34})), 0);
}

TEST(ByteOrder, BlockConvertsWordsInPlaceWhereverTheyLie) {
  // Start one byte in, so that the words are misaligned.
  std::vector<unsigned char> buf{0xAA, 0x00, 0x00, 0x02, 0x58, 0xC0, 0x00, 0x00, 0x01, 0x12, 0x34, 0x56, 0x78, 0xBB};
  from_mov_edian_l_block(buf.data() + 1, 3);
  std::uint32_t w[3];
  std::memcpy(w, buf.data() + 1, 12);
  EXPECT_EQ(w[0], 600u);
  EXPECT_EQ(w[1], 0xC0000001u);
  EXPECT_EQ(w[2], 0x12345678u);
  EXPECT_EQ(buf.front(), 0xAA);
  EXPECT_EQ(buf.back(), 0xBB);
  // No words leave the bytes.
  buf = {1, 2, 3, 4};
  from_mov_edian_l_block(buf.data(), 0);
  from_mov_edian_l_block(buf.data(), -5);
  EXPECT_EQ(buf, (std::vector<unsigned char>{1, 2, 3, 4}));
  EXPECT_EQ(load_be32(buf.data()), 0x01020304u);
}

}  // namespace
