// The Corvath encoder's frame layer: one instance per stream, begun once with
// the geometry, then given the frames in order. Each frame becomes a null
// frame, a one-colour frame or a full frame of predicted, entropy-coded planes
// (see frame_format.h for the bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/frame_format.h"
#include "codec/icerr.h"
#include "codec/prediction_simd.h"
#include "entropy/compress.h"

// One frame's trip through the codec. The caller sets lpOutput and lpInput;
// the codec sets the other two.
struct ICCOMPRESS {
  std::uint32_t dwFlags;           // AVIIF_KEYFRAME for a frame with bytes, 0 for a null frame
  std::uint32_t dwCompressedSize;  // bytes written at lpOutput
  unsigned char* lpOutput;         // room for max_frame_size() bytes
  const unsigned char* lpInput;    // width x height pixels of bit_depth / 8 bytes, rows packed
};

class CodecInst {
 public:
  CodecInst();
  ~CodecInst();
  CodecInst(const CodecInst&) = delete;
  CodecInst& operator=(const CodecInst&) = delete;

  // Records the geometry and acquires every buffer. ICERR_OK, or
  // ICERR_BADFORMAT / ICERR_MEMORY with no buffers held.
  int CompressBegin(int width, int height, int bit_depth);
  // Compresses the frame at lpInput into lpOutput and sets dwFlags and
  // dwCompressedSize. ICERR_OK (ICERR_ERROR, nothing written, when not begun).
  // The second argument is not read.
  int CompressContinue(ICCOMPRESS* icinfo, unsigned dwSize);
  // Steps of CompressContinue on the frame it has loaded: a FRAME_FULL24
  // frame (returns its size); a one-colour frame (1 if written, else 0); the
  // unchanged-frame test, then the one-colour test (1 if either wrote a
  // frame).
  std::uint32_t KeyCompress(ICCOMPRESS* icinfo);
  int SolidFrameTest(ICCOMPRESS* icinfo);
  int FastCompress(ICCOMPRESS* icinfo);
  // Releases the buffers; the instance takes no frames afterwards. Returns 0.
  int CompressEnd();
  // The path of 32-bit frames that keep their fourth byte: a null or
  // FRAME_FLAT32 frame (1 if written, else 0), and the whole frame (0).
  int FastCompressRGB32(ICCOMPRESS* icinfo);
  int CompressRGB32(ICCOMPRESS* icinfo);

  // The residual planes of a full frame, one after the other.
  std::unique_ptr<unsigned char[]> residuals;
  // The last frame that was not a null frame, as given (128 in every byte
  // before the first).
  std::unique_ptr<unsigned char[]> prev_frame;
  const unsigned char* in_frame = nullptr;
  unsigned char* out_frame = nullptr;
  // A 32-bit frame reduced to 3-byte pixels; 24-bit frames are read where the
  // caller keeps them, so this exists only for a 32-bit stream.
  std::unique_ptr<unsigned char[]> work;
  std::uint32_t frame_bytes = 0;  // bytes of one input frame
  int width = 0;
  int height = 0;
  int bit_depth = 0;
  // Settings, read on every frame: a frame equal to the previous one becomes
  // a null frame; 32-bit frames keep their fourth byte.
  int skip_unchanged = 0;
  int keep_alpha = 0;
  Compress coder;
  // Read by CompressBegin: 24-bit buffers sized as for 32-bit frames.
  int wide_buffers = 0;
  // The instruction sets the prediction may use; every level gives the same
  // bytes (tests and benchmarks lower it).
  PredictionSimd simd;

 private:
  std::size_t pixels() const;
  // The frame as 3-byte pixels: the caller's frame, or `work` for 32-bit.
  const unsigned char* loaded_frame() const;
  // Puts the 3-byte pixels of a 32-bit frame into `work`.
  void load_dropping_alpha();
  bool unchanged() const;
  // Keeps the input frame (or a frame of v in every byte) for the
  // unchanged-frame test.
  void remember_input();
  void remember_fill(unsigned char v);
  void set_frame(ICCOMPRESS* icinfo, std::uint32_t size);
  // Compacts `count` planes of `pixels()` bytes from `residuals` behind a
  // header of `header` bytes whose byte 0 is `type`; returns the frame size.
  std::uint32_t write_planes(unsigned char type, std::size_t header, std::size_t count);

  // True while prev_frame holds the previous frame. The copy is only needed
  // by the unchanged-frame test, so it is skipped while that is off, and the
  // test is not trusted until the next copy.
  bool prev_current_ = false;
  // The coders of planes 1 to 3 (plane 0 uses `coder`): the planes of a
  // frame are range-coded together, each against its own table.
  std::array<Compress, 3> plane_coders_;
};
