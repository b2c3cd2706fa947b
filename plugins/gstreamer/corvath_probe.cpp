#include "corvath_probe.h"

#include <cstring>

#include "entropy/byte_order.h"

namespace gstcorvath {

namespace {

// Every chunk header looked at counts; the header lists of real files hold a
// few dozen.
constexpr int kMaxChunks = 1024;

bool is(const std::uint8_t* p, const char* code) { return std::memcmp(p, code, 4) == 0; }

bool printable(const std::uint8_t* id) {
  for (int i = 0; i < 4; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E) return false;
  }
  return true;
}

struct Chunk {
  const std::uint8_t* head = nullptr;  // id and size
  std::uint64_t data = 0;
  std::uint32_t size = 0;
};

// The children of a list, at the 2-byte fill of RIFF or the 4-byte fill of
// AviWriter, as the AVI reader walks them.
class Walker {
 public:
  Walker(const PeekFunction& peek, int& budget, std::uint64_t begin, std::uint64_t end)
      : peek_(peek), budget_(budget), pos_(begin), alt_(begin), end_(end) {}

  bool next(Chunk& chunk) {
    const std::uint8_t* head = header(pos_);
    if (head != nullptr && !printable(head)) {
      head = alt_ != pos_ ? header(alt_) : nullptr;
      if (head == nullptr || !printable(head)) return false;
      pos_ = alt_;
    }
    if (head == nullptr) return false;
    chunk.head = head;
    chunk.data = pos_ + 8;
    chunk.size = load_le32(head + 4);
    if (chunk.size > end_ - chunk.data) return false;
    pos_ = chunk.data + chunk.size + (chunk.size & 1);
    alt_ = chunk.data + ((std::uint64_t{chunk.size} + 3) & ~std::uint64_t{3});
    return true;
  }

 private:
  const std::uint8_t* header(std::uint64_t at) {
    if (at >= end_ || end_ - at < 8 || --budget_ < 0) return nullptr;
    return peek_(at, 8);
  }

  const PeekFunction& peek_;
  int& budget_;
  std::uint64_t pos_;
  std::uint64_t alt_;
  std::uint64_t end_;
};

bool is_list(const Chunk& chunk, const PeekFunction& peek, const char* type) {
  if (!is(chunk.head, "LIST") || chunk.size < 4) return false;
  const std::uint8_t* t = peek(chunk.data, 4);
  return t != nullptr && is(t, type);
}

// -1: no video stream in this "strl"; else whether it is Corvath.
int video_stream(const Chunk& strl, const PeekFunction& peek, int& budget) {
  Walker walker(peek, budget, strl.data + 4, strl.data + strl.size);
  Chunk chunk;
  bool video = false;
  bool corvath = false;
  while (walker.next(chunk)) {
    if (is(chunk.head, "strh") && chunk.size >= 4) {
      const std::uint8_t* type = peek(chunk.data, 4);
      if (type == nullptr) return -1;
      video = is(type, "vids");
      if (!video) return -1;
    } else if (is(chunk.head, "strf") && chunk.size >= 20) {
      const std::uint8_t* compression = peek(chunk.data + 16, 4);
      corvath = compression != nullptr && is(compression, "CRVT");
    }
  }
  return video ? int{corvath} : -1;
}

}  // namespace

bool is_corvath_avi(const PeekFunction& peek) {
  const std::uint8_t* riff = peek(0, 12);
  if (riff == nullptr || !is(riff, "RIFF") || !is(riff + 8, "AVI ")) return false;
  int budget = kMaxChunks;
  Walker top(peek, budget, 12, 8 + std::uint64_t{load_le32(riff + 4)});
  Chunk chunk;
  while (top.next(chunk)) {
    if (is_list(chunk, peek, "movi")) return false;
    if (!is_list(chunk, peek, "hdrl")) continue;
    Walker header(peek, budget, chunk.data + 4, chunk.data + chunk.size);
    Chunk strl;
    while (header.next(strl)) {
      if (!is_list(strl, peek, "strl")) continue;
      const int corvath = video_stream(strl, peek, budget);
      if (corvath >= 0) return corvath == 1;
    }
    return false;
  }
  return false;
}

}  // namespace gstcorvath
