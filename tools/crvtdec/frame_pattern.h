// File names of --frames: a pattern with one printf-style integer conversion,
// checked once and then formatted without printf, so that no user text ever
// becomes a format string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace crvtdec {

class FramePattern {
 public:
  // Takes `pattern`: text in which "%%" stands for "%", with exactly one
  // conversion %[flags][width]d (or i, u), flags from "-+ 0", width up to
  // kMaxWidth. Returns false with `why` set otherwise.
  bool parse(std::string_view pattern, std::string& why);

  // The file name of frame `number`, as snprintf would give it for an int.
  std::string name(std::uint64_t number) const;

  static constexpr int kMaxWidth = 99;

 private:
  std::string prefix_;  // the text around the conversion, "%%" resolved
  std::string suffix_;
  bool left_ = false;   // '-': pad on the right
  bool plus_ = false;   // '+': sign always
  bool space_ = false;  // ' ': a space where the sign would go
  bool zero_ = false;   // '0': pad with zeros after the sign
  bool is_unsigned_ = false;
  int width_ = 0;
};

}  // namespace crvtdec
