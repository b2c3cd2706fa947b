// JPEG-LS lossless through CharLS, in one of its interleave modes: "none"
// (its default: the colour planes one after the other, so the picture is
// handed over planar), "line" or "sample" (interleaved RGB as it stands).
// No colour transform, as by default.
#pragma once

#include <cstddef>
#include <string>

#include "picture.h"

namespace compare {

enum class CharlsInterleave { none, line, sample };

// CharLS's version, or "" when the program was built without it.
std::string charls_version();

#if defined(QUELMUX_HAVE_CHARLS)
class CharlsCoder {
 public:
  explicit CharlsCoder(CharlsInterleave mode) : mode_(mode) {}
  bool prepare(const Picture& picture, std::string& error);
  bool encode();
  bool decode();
  std::size_t coded_size() const { return coded_size_; }
  bool matches() const { return decoded_ == source_; }

 private:
  CharlsInterleave mode_;
  int width_ = 0;
  int height_ = 0;
  Bytes source_;  // as the mode takes it
  Bytes coded_;
  std::size_t coded_size_ = 0;
  Bytes decoded_;
};
#endif

}  // namespace compare
