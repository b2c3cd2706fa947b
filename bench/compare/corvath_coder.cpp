#include "corvath_coder.h"

#include <algorithm>
#include <span>

namespace compare {

bool CorvathCoder::prepare(const Picture& picture, std::string& error) {
  frame_ = bgr_bottom_up(picture);
  coded_.resize(max_frame_size(picture.width, picture.height, 24));
  if (coded_.empty() || codec_.CompressBegin(picture.width, picture.height, 24) != ICERR_OK) {
    error = "the codec does not take this geometry";
    return false;
  }
  if (const int s = decoder_.Begin(picture.width, picture.height, 24); s != ICERR_OK) {
    error = decode_status_message(s);
    return false;
  }
  return true;
}

bool CorvathCoder::encode() {
  ICCOMPRESS record{0, 0, coded_.data(), frame_.data()};
  codec_.CompressContinue(&record, 0);
  coded_size_ = record.dwCompressedSize;
  return coded_size_ != 0;
}

bool CorvathCoder::decode() {
  return decoder_.Decode(std::span<const unsigned char>(coded_.data(), coded_size_)) == ICERR_OK;
}

bool CorvathCoder::matches() const {
  const auto f = decoder_.frame();
  return std::equal(f.begin(), f.end(), frame_.begin(), frame_.end());
}

}  // namespace compare
