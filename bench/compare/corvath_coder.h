// Corvath at library level: CodecInst::CompressContinue on the frame as
// quelmux hands it over (bottom-up blue, green, red), FrameDecoder back.
#pragma once

#include <cstddef>
#include <string>

#include "codec/codec_inst.h"
#include "codec/frame_decoder.h"
#include "picture.h"

namespace compare {

class CorvathCoder {
 public:
  bool prepare(const Picture& picture, std::string& error);
  bool encode();
  bool decode();
  std::size_t coded_size() const { return coded_size_; }
  bool matches() const;

 private:
  Bytes frame_;
  Bytes coded_;
  std::size_t coded_size_ = 0;
  CodecInst codec_;
  FrameDecoder decoder_;
};

}  // namespace compare
