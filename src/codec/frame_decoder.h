// Rebuilds the frames of a Corvath stream, bit for bit, from untrusted bytes.
//
//   FrameDecoder decoder;
//   if (decoder.Begin(width, height, bit_depth) != ICERR_OK) ...
//   for each frame chunk:
//     if (const int s = decoder.Decode(chunk); s != ICERR_OK) ...
//     use decoder.frame(), decoder.pixel_size()
//
// The decoder keeps the current frame itself: a null frame (no bytes) leaves
// it as it is, so it repeats the previous frame without a copy, and before
// the first frame it holds 128 in every byte, as the encoder assumes. Frame
// types 4, 5 and 6 give 3-byte pixels, types 8 and 9 (32-bit streams only)
// 4-byte pixels; the first frame of a 32-bit stream is 4-byte pixels of 128.
//
// Every offset, length and type byte is checked against the frame's length
// and the geometry; a bad frame gives an error code (icerr.h), leaves the current
// frame unchanged, and never causes an access outside the frame or the
// decoder's buffers. Bytes behind a frame's content are ignored: AVI readers
// that take frame lengths from the index, which rounds them up to 4 (such as
// GStreamer's avidemux), hand frames out with up to 3 bytes of fill, so that
// 05 v 00 00 decodes as 05 v does.
//
// Begin acquires every buffer; Decode acquires nothing.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <span>

#include "codec/icerr.h"
#include "codec/prediction_simd.h"
#include "entropy/compress.h"

class FrameDecoder {
 public:
  FrameDecoder();
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // For frames of width x height pixels from an encoder begun with
  // bit_depth (24 or 32): ICERR_OK, or ICERR_BADFORMAT / ICERR_MEMORY with
  // no buffers held, and Decode then returns ICERR_ERROR.
  int Begin(int width, int height, int bit_depth);

  // Decodes one frame (its bytes as stored, possibly with fill behind them)
  // into the current frame: ICERR_OK, or the reason it is refused.
  int Decode(std::span<const unsigned char> frame);

  // The current frame: width x height pixels of pixel_size() bytes, rows
  // packed, in the order the encoder was given them.
  std::span<const unsigned char> frame() const;
  int pixel_size() const { return pixel_size_; }

  // The instruction sets the inverse prediction may use; every level gives
  // the same frame (tests lower it).
  PredictionSimd simd;

 private:
  int decode_full(std::span<const unsigned char> frame, std::size_t planes);
  void fill(const unsigned char* pixel, int pixel_size);

  int width_ = 0;
  int height_ = 0;
  int bit_depth_ = 0;
  std::size_t pixels_ = 0;
  int pixel_size_ = 0;
  std::unique_ptr<unsigned char[]> frame_;   // bit_depth / 8 bytes a pixel
  std::unique_ptr<unsigned char[]> planes_;  // the residual planes, one after the other
  std::array<Compress, 4> coders_;           // one per plane, for the joint restore
};
