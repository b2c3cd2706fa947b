#include "mov/ppm_image.h"

#include <cstdio>
#include <memory>

namespace movgen {

namespace {

// Reads the header's whitespace- and comment-separated decimal fields.
class HeaderReader {
 public:
  explicit HeaderReader(std::span<const std::uint8_t> file) : file_(file) {}

  bool number(std::uint64_t& value) {
    skip_space();
    std::size_t digits = 0;
    value = 0;
    while (pos_ < file_.size() && file_[pos_] >= '0' && file_[pos_] <= '9' && digits < 10) {
      value = value * 10 + (file_[pos_++] - '0');
      ++digits;
    }
    return digits > 0;
  }
  // Exactly one whitespace byte separates the header from the samples.
  bool end_of_header() {
    if (pos_ >= file_.size() || !is_space(file_[pos_])) return false;
    ++pos_;
    return true;
  }
  std::size_t position() const { return pos_; }

 private:
  static bool is_space(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }
  void skip_space() {
    while (pos_ < file_.size()) {
      if (file_[pos_] == '#') {
        while (pos_ < file_.size() && file_[pos_] != '\n') ++pos_;
      } else if (is_space(file_[pos_])) {
        ++pos_;
      } else {
        break;
      }
    }
  }
  std::span<const std::uint8_t> file_;
  std::size_t pos_ = 2;
};

}  // namespace

bool parse_ppm(std::span<const std::uint8_t> file, PpmImage& image, std::string& error) {
  if (file.size() < 2 || file[0] != 'P' || file[1] != '6') {
    error = "not a binary PPM (P6) image";
    return false;
  }
  HeaderReader header(file);
  std::uint64_t width = 0, height = 0, maxval = 0;
  if (!header.number(width) || !header.number(height) || !header.number(maxval) || !header.end_of_header()) {
    error = "bad PPM header";
    return false;
  }
  if (width == 0 || height == 0 || width > 65535 || height > 65535 || maxval == 0 || maxval > 65535) {
    error = "unsupported PPM size or maxval";
    return false;
  }
  const std::uint64_t bytes_per_sample = maxval > 255 ? 2 : 1;
  const std::uint64_t samples = width * height * 3;
  if (file.size() - header.position() < samples * bytes_per_sample) {
    error = "truncated PPM image";
    return false;
  }
  const std::uint8_t* p = file.data() + header.position();
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.rgb.resize(samples);
  for (std::uint64_t i = 0; i < samples; ++i) {
    std::uint64_t v = p[i * bytes_per_sample];
    if (bytes_per_sample == 2) v = (v << 8) | p[i * 2 + 1];
    image.rgb[i] = static_cast<std::uint8_t>(maxval == 255 ? v : (v * 255 + maxval / 2) / maxval);
  }
  return true;
}

bool read_ppm(const std::string& path, PpmImage& image, std::string& error) {
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> f(std::fopen(path.c_str(), "rb"));
  if (!f) {
    error = "cannot open " + path;
    return false;
  }
  std::vector<std::uint8_t> bytes;
  std::uint8_t block[65536];
  std::size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, f.get())) > 0) bytes.insert(bytes.end(), block, block + n);
  if (std::ferror(f.get())) {
    error = "cannot read " + path;
    return false;
  }
  if (!parse_ppm(bytes, image, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

}  // namespace movgen
