// Results of the codec's operations, encoder and decoder alike, in the style
// of the Video for Windows codes: ICERR_OK (0), or a negative code. The
// decoder's own reasons for refusing a frame lie below ICERR_CUSTOM, where
// Video for Windows leaves room for a codec's own codes.
#pragma once

inline constexpr int ICERR_OK = 0;
inline constexpr int ICERR_BADFORMAT = -2;  // a geometry or bit depth the codec does not take
inline constexpr int ICERR_MEMORY = -3;     // the buffers could not be had
inline constexpr int ICERR_ERROR = -100;    // a frame given to an instance that was not begun
inline constexpr int ICERR_CUSTOM = -400;
inline constexpr int ICERR_UNKNOWNTYPE = ICERR_CUSTOM - 1;  // a type byte the encoder never writes
inline constexpr int ICERR_WRONGDEPTH = ICERR_CUSTOM - 2;   // a 32-bit frame type in a 24-bit stream
inline constexpr int ICERR_TRUNCATED = ICERR_CUSTOM - 3;    // the frame ends inside its header
inline constexpr int ICERR_BADOFFSETS = ICERR_CUSTOM - 4;   // plane offsets outside the frame or out of order
inline constexpr int ICERR_BADPLANE = ICERR_CUSTOM - 5;     // a compacted plane that does not decode to its length

// What a code of the decoder means, in a few words for messages.
const char* decode_status_message(int status);
