#include "mov/atom_search.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Search {
  bool result;
  long moved;  // how far the position moved
  int window;  // the window after the search
};

// Searches `tag` in the first `window` bytes of `text`, from `start` on.
Search search(std::string& text, const char* tag, int window, int start = 0) {
  auto* begin = reinterpret_cast<unsigned char*>(text.data()) + start;
  unsigned char* position = begin;
  const bool result = findtag(position, tag, window);
  return {result, position - begin, window};
}

// Bytes past the window count as zero: a tag ending on the window's last
// byte is found, one that needs bytes behind it is not, whatever they hold,
// unless it ends in zeros.
TEST(FindTag, FindsTheFirstOccurrenceWithinTheWindow) {
  const struct Case {
    std::string text;
    const char* tag;
    int window;
    Search expected;
  } cases[] = {
      {"....mvhd....mvhd....", "mvhd", 20, {1, 4, 16}},
      {"stsd....", "stsd", 8, {1, 0, 8}},
      {"stsc....stcxstc", "stco", 15, {0, 0, 15}},
      {"mvhd", "mvhd", 0, {0, 0, 0}},
      {"mvhd", "mvhd", -1, {0, 0, -1}},
      {"xxxxstco", "stco", 8, {1, 4, 4}},
      {"xxxxstco", "stco", 7, {0, 0, 7}},
      {"xxxxstco", "stco", 5, {0, 0, 5}},
      {std::string("ab\0\0", 4), "b\0\0\0", 2, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    const Search s = search(text, c.tag, c.window);
    SCOPED_TRACE(c.text + " / " + std::to_string(c.window));
    EXPECT_EQ(s.result, c.expected.result);
    EXPECT_EQ(s.moved, c.expected.moved);
    EXPECT_EQ(s.window, c.expected.window);
  }
}

TEST(FindTag, ChainedSearchesMustFindTheTagsInOrder) {
  std::string t = "..mvhd..tkhd..mdhd..";
  auto* p = reinterpret_cast<unsigned char*>(t.data());
  int window = static_cast<int>(t.size());
  EXPECT_TRUE(findtag(p, "mvhd", window));
  EXPECT_TRUE(findtag(p, "mdhd", window));
  EXPECT_FALSE(findtag(p, "tkhd", window));
  EXPECT_EQ(reinterpret_cast<char*>(p) - t.data(), 14);
  EXPECT_EQ(window, 6);
}

}  // namespace
