/*
 * corvath.h: the Corvath ("CRVT") lossless video codec for C and C++
 * programs. Link with libcorvath (pkg-config --cflags --libs corvath).
 *
 * A frame is width x height pixels of 3 bytes (bit depth 24) or 4 bytes
 * (bit depth 32), rows packed one after the other with no padding. The codec
 * takes the bytes as they are: it does not care which row is the top or
 * which byte of a pixel is which colour, and gives every byte back exactly.
 * AVI files hold bottom-up rows of blue, green, red (and alpha) pixels.
 *
 * A stream is coded by one encoder and decoded by one decoder, both created
 * with the same geometry, the frames passed in the same order. Every frame
 * is coded by itself (a key frame), except the null frame of 0 bytes that an
 * encoder created with CRVT_SKIP_UNCHANGED writes for a frame equal to the
 * previous one; a decoder repeats its current frame for it.
 *
 *   size_t bound = crvt_encode_bound(w, h, 24);
 *   crvt_encoder* enc;
 *   crvt_decoder* dec;
 *   crvt_encoder_create(w, h, 24, 0, &enc);
 *   crvt_decoder_create(w, h, 24, &dec);
 *   crvt_encode(enc, pixels, w * h * 3, packet, bound, &packet_size);
 *   crvt_decode(dec, packet, packet_size, out, w * h * 3, &out_size);
 *
 * Every function returns a status (or a size) and never throws. A function
 * that fails writes no output and leaves the handle's state as it was (a
 * create function stores NULL in its handle pointer). The decoder checks
 * every byte of a frame, so frames from untrusted files can be passed to it:
 * a damaged frame gives CRVT_ERROR_CORRUPT.
 *
 * Threads: a handle may be used by one thread at a time; distinct handles
 * are independent and may be used on distinct threads at the same time,
 * create and destroy included (quelmux and crvtdec code frames on several
 * threads, a handle each). crvt_status_message, crvt_version,
 * crvt_frame_size and crvt_encode_bound may be called from any thread at
 * any time.
 */
#ifndef CORVATH_H
#define CORVATH_H

#include <stddef.h>

#if defined(__GNUC__)
#define CRVT_API __attribute__((visibility("default")))
#else
#define CRVT_API
#endif

/* Nothing in the library throws; C++ callers are told so. */
#ifdef __cplusplus
#define CRVT_NOEXCEPT noexcept
#else
#define CRVT_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum crvt_status {
  CRVT_OK = 0,
  /* A null pointer where a buffer or handle is needed, an input shorter
     than a frame, overlapping input and output, or an unknown flag. */
  CRVT_ERROR_ARGUMENT = 1,
  /* A negative width or height, a bit depth other than 24 or 32, or a frame
     too large for the format's 32-bit sizes. */
  CRVT_ERROR_GEOMETRY = 2,
  /* The codec's buffers could not be allocated. */
  CRVT_ERROR_MEMORY = 3,
  /* The output buffer is smaller than crvt_encode_bound (encoder) or
     crvt_frame_size (decoder). */
  CRVT_ERROR_BUFFER_TOO_SMALL = 4,
  /* The bytes are not a frame of this stream: an unknown frame type, a
     32-bit frame in a 24-bit stream, or a truncated or damaged frame. */
  CRVT_ERROR_CORRUPT = 5
} crvt_status;

/* A short English description of a status; never NULL. */
CRVT_API const char* crvt_status_message(crvt_status status) CRVT_NOEXCEPT;

/* The library's version, such as "0.1.0". */
CRVT_API const char* crvt_version(void) CRVT_NOEXCEPT;

/* Bytes of one uncompressed frame: width x height x bit_depth / 8.
   0 when the geometry is not one the codec takes (and for frames of no
   pixels, which are valid: crvt_encode_bound tells the two apart). */
CRVT_API size_t crvt_frame_size(int width, int height, int bit_depth) CRVT_NOEXCEPT;

/* The largest compressed frame an encoder of this geometry writes: the room
   crvt_encode needs. Never 0 for a geometry the codec takes, 0 otherwise. */
CRVT_API size_t crvt_encode_bound(int width, int height, int bit_depth) CRVT_NOEXCEPT;

/* ---- Encoder ---------------------------------------------------------- */

typedef struct crvt_encoder crvt_encoder;

/* Flag of crvt_encoder_create: a frame equal to the previous one becomes a
   null frame (0 bytes). Before the first frame the previous frame counts as
   128 in every byte, as the decoder starts. */
#define CRVT_SKIP_UNCHANGED 1u

/* Creates an encoder for frames of width x height pixels of bit_depth 24 or
   32 (32-bit frames keep all four bytes of every pixel) and stores it in
   *encoder. Every buffer is allocated here; encoding allocates nothing.
   flags: 0 or CRVT_SKIP_UNCHANGED. */
CRVT_API crvt_status crvt_encoder_create(int width, int height, int bit_depth, unsigned flags,
                                         crvt_encoder** encoder) CRVT_NOEXCEPT;

/* Releases the encoder; NULL is ignored. */
CRVT_API void crvt_encoder_destroy(crvt_encoder* encoder) CRVT_NOEXCEPT;

/* Compresses the next frame of the stream. pixels holds the frame
   (pixels_size must be at least crvt_frame_size); the compressed frame is
   written to out, whose capacity must be at least crvt_encode_bound, and
   its length stored in *out_size (0 for a null frame). out must not overlap
   pixels. */
CRVT_API crvt_status crvt_encode(crvt_encoder* encoder, const void* pixels, size_t pixels_size, void* out,
                                 size_t out_capacity, size_t* out_size) CRVT_NOEXCEPT;

/* ---- Decoder ---------------------------------------------------------- */

typedef struct crvt_decoder crvt_decoder;

/* Creates a decoder for frames of width x height pixels from an encoder of
   bit_depth 24 or 32 and stores it in *decoder. Every buffer is allocated
   here; decoding allocates nothing. Its current frame starts as 128 in
   every byte. */
CRVT_API crvt_status crvt_decoder_create(int width, int height, int bit_depth, crvt_decoder** decoder) CRVT_NOEXCEPT;

/* Releases the decoder; NULL is ignored. */
CRVT_API void crvt_decoder_destroy(crvt_decoder* decoder) CRVT_NOEXCEPT;

/* Decodes the next compressed frame of the stream (data_size bytes at data;
   data may be NULL for a null frame) into pixels, whose capacity must be at
   least crvt_frame_size, and stores the decoded frame's length in
   *pixels_size. That is crvt_frame_size, except in a 32-bit stream from an
   encoder that dropped the fourth byte of every pixel: its frames decode to
   3-byte pixels. Bytes behind a complete frame (such as the fill of an AVI
   chunk) are ignored. On CRVT_ERROR_CORRUPT nothing is written and the
   decoder keeps its current frame. */
CRVT_API crvt_status crvt_decode(crvt_decoder* decoder, const void* data, size_t data_size, void* pixels,
                                 size_t pixels_capacity, size_t* pixels_size) CRVT_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* CORVATH_H */
