// The PPM reader of the sample-movie tools on arbitrary files.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "mov/ppm_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  movgen::PpmImage image;
  std::string error;
  if (movgen::parse_ppm(std::span(data, size), image, error)) {
    if (image.rgb.size() != std::size_t(image.width) * std::size_t(image.height) * 3) std::abort();
  }
  return 0;
}
