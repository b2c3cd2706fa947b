#include "mov/atom_search.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Search {
  int result;
  long moved;       // how far the position moved
  int window;       // the window after the search
  std::string out;  // what was printed
};

// Searches `tag` in the first `window` bytes of `text`, from `start` on.
Search search(std::string& text, const char* tag, int window, int start = 0) {
  auto* begin = reinterpret_cast<unsigned char*>(text.data()) + start;
  unsigned char* position = begin;
  testing::internal::CaptureStdout();
  const int result = findtag(position, tag, window);
  return {result, position - begin, window, testing::internal::GetCapturedStdout()};
}

TEST(FindTag, FindsTheFirstOccurrenceAndMovesPositionAndWindow) {
  std::string t = "....mvhd....mvhd....";
  const Search s = search(t, "mvhd", 20);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.moved, 4);
  EXPECT_EQ(s.window, 16);
  EXPECT_EQ(s.out, "");
}

TEST(FindTag, TagAtTheFirstByteLeavesPositionAndWindow) {
  std::string t = "stsd....";
  const Search s = search(t, "stsd", 8);
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.moved, 0);
  EXPECT_EQ(s.window, 8);
}

TEST(FindTag, MissingTagPrintsAndLeavesPositionAndWindow) {
  std::string t = "stsc....stcxstc";
  const Search s = search(t, "stco", 15);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.moved, 0);
  EXPECT_EQ(s.window, 15);
  EXPECT_EQ(s.out, "Unable to find tag \"stco\"\n");
}

TEST(FindTag, EmptyOrNegativeWindowFindsNothing) {
  std::string t = "mvhd";
  EXPECT_EQ(search(t, "mvhd", 0).result, 0);
  const Search s = search(t, "mvhd", -1);
  EXPECT_EQ(s.result, 0);
  EXPECT_EQ(s.window, -1);
  EXPECT_EQ(s.out, "Unable to find tag \"mvhd\"\n");
}

TEST(FindTag, BytesPastTheWindowCountAsZero) {
  // A tag ending on the window's last byte is found; one that needs bytes
  // behind the window is not, whatever those bytes hold.
  std::string t = "xxxxstco";
  EXPECT_EQ(search(t, "stco", 8).moved, 4);
  EXPECT_EQ(search(t, "stco", 7).result, 0);
  EXPECT_EQ(search(t, "stco", 5).result, 0);
  std::string z("ab\0\0", 4);
  const Search s = search(z, "b\0\0\0", 2);  // a tag ending in zeros matches the zero tail
  EXPECT_EQ(s.result, 1);
  EXPECT_EQ(s.moved, 1);
}

TEST(FindTag, ChainedSearchesMustFindTheTagsInOrder) {
  std::string t = "..mvhd..tkhd..mdhd..";
  auto* p = reinterpret_cast<unsigned char*>(t.data());
  int window = static_cast<int>(t.size());
  testing::internal::CaptureStdout();
  EXPECT_EQ(findtag(p, "mvhd", window), 1);
  EXPECT_EQ(findtag(p, "mdhd", window), 1);
  EXPECT_EQ(findtag(p, "tkhd", window), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Unable to find tag \"tkhd\"\n");
  EXPECT_EQ(reinterpret_cast<char*>(p) - t.data(), 14);
  EXPECT_EQ(window, 6);
}

}  // namespace
