#include "crvtdec/frame_pattern.h"

#include <charconv>

namespace crvtdec {

bool FramePattern::parse(std::string_view pattern, std::string& why) {
  *this = FramePattern{};
  bool found = false;
  std::string text;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') {
      text += pattern[i];
      continue;
    }
    if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
      text += '%';
      ++i;
      continue;
    }
    if (found) {
      why = "more than one conversion (write %% for a % of its own)";
      return false;
    }
    std::size_t j = i + 1;
    for (; j < pattern.size(); ++j) {
      const char c = pattern[j];
      if (c == '-')
        left_ = true;
      else if (c == '+')
        plus_ = true;
      else if (c == ' ')
        space_ = true;
      else if (c == '0')
        zero_ = true;
      else
        break;
    }
    const std::size_t digits = j;
    while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9') ++j;
    if (j - digits > 2) {
      why = "field width above " + std::to_string(kMaxWidth);
      return false;
    }
    for (std::size_t k = digits; k < j; ++k) width_ = width_ * 10 + (pattern[k] - '0');
    if (j == pattern.size() || (pattern[j] != 'd' && pattern[j] != 'i' && pattern[j] != 'u')) {
      why = "the conversion must be an integer one such as %d or %05d, with no precision or length";
      return false;
    }
    is_unsigned_ = pattern[j] == 'u';
    prefix_ = std::move(text);
    text.clear();
    found = true;
    i = j;
  }
  if (!found) {
    why = "no conversion for the frame number, such as %d or %05d";
    return false;
  }
  suffix_ = std::move(text);
  return true;
}

std::string FramePattern::name(std::uint64_t number) const {
  char digits[24];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number);
  (void)ec;  // 24 characters take any 64-bit number
  std::string_view value(digits, static_cast<std::size_t>(end - digits));
  // printf gives unsigned conversions no sign.
  const char* sign = is_unsigned_ ? "" : plus_ ? "+" : space_ ? " " : "";
  const std::size_t length = std::char_traits<char>::length(sign) + value.size();
  const std::size_t width = static_cast<std::size_t>(width_);
  const std::size_t pad = width > length ? width - length : 0;

  std::string out = prefix_;
  if (left_) {
    out.append(sign).append(value).append(pad, ' ');
  } else if (zero_) {
    out.append(sign).append(pad, '0').append(value);
  } else {
    out.append(pad, ' ').append(sign).append(value);
  }
  out += suffix_;
  return out;
}

}  // namespace crvtdec
