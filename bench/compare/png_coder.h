// PNG through libpng, in memory: zlib at libpng's default level (6) or at
// its fastest (1), libpng's own choice of row filters either way.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "picture.h"

namespace compare {

enum class PngLevel { standard, fastest };

// libpng's version, or "" when the program was built without it.
std::string png_version();

#if defined(QUELMUX_HAVE_PNG)
class PngCoder {
 public:
  explicit PngCoder(PngLevel level) : level_(level) {}
  bool prepare(const Picture& picture, std::string& error);
  bool encode();
  bool decode();
  std::size_t coded_size() const { return coded_size_; }
  bool matches() const { return decoded_ == source_; }

 private:
  PngLevel level_;
  int width_ = 0;
  int height_ = 0;
  Bytes source_;
  Bytes coded_;
  std::size_t coded_size_ = 0;
  Bytes decoded_;
  std::vector<unsigned char*> source_rows_;
  std::vector<unsigned char*> decoded_rows_;
};
#endif

}  // namespace compare
