// The Corvath compressed frame, as the encoder writes it and the decoder reads
// it. A frame is empty (a null frame: the previous frame again) or starts with
// its type byte:
//
//   4  FRAME_FULL24  4, offset of plane 1, offset of plane 2 (32-bit little-
//                    endian, counted from the type byte), then the three
//                    compacted planes from byte 9
//   5  FRAME_GREY    5, v: every byte of the frame is v
//   6  FRAME_FLAT24  6, b0, b1, b2: every 3-byte pixel
//   8  FRAME_FULL32  8, offsets of planes 1, 2 and 3, then four compacted planes
//                    from byte 13
//   9  FRAME_FLAT32  9, b0, b1, b2, b3: every 4-byte pixel
//
// Each compacted plane is followed by one byte (written as 0) that its offset
// counts; for the last plane it is the frame's last byte.
#pragma once

#include <cstddef>
#include <cstdint>

// Four-character codes as 32-bit values holding the characters in file order:
// the first character in the lowest byte, whatever the host's byte order.
constexpr std::uint32_t make_fourcc(char a, char b, char c, char d) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

inline constexpr std::uint32_t FOURCC_CRVT = make_fourcc('C', 'R', 'V', 'T');
inline constexpr std::uint32_t FOURCC_YUY2 = make_fourcc('Y', 'U', 'Y', '2');
inline constexpr std::uint32_t FOURCC_YV12 = make_fourcc('Y', 'V', '1', '2');

inline constexpr unsigned char FRAME_FULL24 = 4;
inline constexpr unsigned char FRAME_GREY = 5;
inline constexpr unsigned char FRAME_FLAT24 = 6;
inline constexpr unsigned char FRAME_FULL32 = 8;
inline constexpr unsigned char FRAME_FLAT32 = 9;

// Header sizes of the full frames: the type byte and the stored plane offsets.
inline constexpr std::size_t kFull24Header = 9;
inline constexpr std::size_t kFull32Header = 13;

// The largest frame the encoder produces for width x height pixels of
// bit_depth (24 or 32) bits, header included: a full frame of incompressible
// planes. 0 when the geometry is not one the codec takes: a negative side,
// another bit depth, or a frame whose size or offsets would not fit the
// format's 32-bit fields.
std::size_t max_frame_size(int width, int height, int bit_depth);
