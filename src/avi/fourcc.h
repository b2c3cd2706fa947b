// Four-character codes: four bytes compared and written in file order.
#pragma once

#include <array>
#include <string>

namespace avi {

using FourCC = std::array<unsigned char, 4>;

constexpr FourCC fourcc(const char (&text)[5]) {
  return {static_cast<unsigned char>(text[0]), static_cast<unsigned char>(text[1]), static_cast<unsigned char>(text[2]),
          static_cast<unsigned char>(text[3])};
}

// Chunk ids and list types are printable ASCII.
constexpr bool is_printable(const FourCC& code) {
  for (const unsigned char c : code) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The code for messages: its characters, with \xNN for the unprintable ones.
std::string to_string(const FourCC& code);

}  // namespace avi
