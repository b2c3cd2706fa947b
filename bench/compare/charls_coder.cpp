#include "charls_coder.h"

#if defined(QUELMUX_HAVE_CHARLS)
#include <charls/charls.h>

#include <memory>
#endif

namespace compare {

#if defined(QUELMUX_HAVE_CHARLS)

namespace {

struct EncoderDeleter {
  void operator()(charls_jpegls_encoder* e) const { charls_jpegls_encoder_destroy(e); }
};
struct DecoderDeleter {
  void operator()(charls_jpegls_decoder* d) const { charls_jpegls_decoder_destroy(d); }
};

charls::interleave_mode interleave_of(CharlsInterleave mode) {
  switch (mode) {
    case CharlsInterleave::line: return charls::interleave_mode::line;
    case CharlsInterleave::sample: return charls::interleave_mode::sample;
    case CharlsInterleave::none: break;
  }
  return charls::interleave_mode::none;
}

constexpr auto kOk = charls::jpegls_errc::success;

}  // namespace

std::string charls_version() { return charls_get_version_string(); }

bool CharlsCoder::prepare(const Picture& picture, std::string& error) {
  width_ = picture.width;
  height_ = picture.height;
  source_ = mode_ == CharlsInterleave::none ? planar(picture) : picture.rgb;
  coded_.resize(2 * source_.size() + 65536);
  decoded_.assign(source_.size(), 0);
  if (width_ < 1 || height_ < 1) {
    error = "JPEG-LS needs a picture of at least one pixel";
    return false;
  }
  return true;
}

// A fresh encoder per picture, as a caller coding one frame would use it.
bool CharlsCoder::encode() {
  const std::unique_ptr<charls_jpegls_encoder, EncoderDeleter> encoder(charls_jpegls_encoder_create());
  if (!encoder) return false;
  const charls_frame_info info{static_cast<std::uint32_t>(width_), static_cast<std::uint32_t>(height_), 8, 3};
  // The stride of a planar source is one plane's row.
  const auto stride = static_cast<std::uint32_t>(mode_ == CharlsInterleave::none ? width_ : 3 * width_);
  auto* e = encoder.get();
  return charls_jpegls_encoder_set_frame_info(e, &info) == kOk &&
         charls_jpegls_encoder_set_interleave_mode(e, interleave_of(mode_)) == kOk &&
         charls_jpegls_encoder_set_destination_buffer(e, coded_.data(), coded_.size()) == kOk &&
         charls_jpegls_encoder_encode_from_buffer(e, source_.data(), source_.size(), stride) == kOk &&
         charls_jpegls_encoder_get_bytes_written(e, &coded_size_) == kOk;
}

bool CharlsCoder::decode() {
  const std::unique_ptr<charls_jpegls_decoder, DecoderDeleter> decoder(charls_jpegls_decoder_create());
  if (!decoder) return false;
  auto* d = decoder.get();
  return charls_jpegls_decoder_set_source_buffer(d, coded_.data(), coded_size_) == kOk &&
         charls_jpegls_decoder_read_header(d) == kOk &&
         charls_jpegls_decoder_decode_to_buffer(d, decoded_.data(), decoded_.size(), 0) == kOk;
}

#else

std::string charls_version() { return ""; }

#endif

}  // namespace compare
