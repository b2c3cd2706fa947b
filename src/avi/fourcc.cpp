#include "avi/fourcc.h"

namespace avi {

std::string to_string(const FourCC& code) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (const unsigned char c : code) {
    if (c >= 0x20 && c <= 0x7E && c != '\\') {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
  }
  return text;
}

}  // namespace avi
