#include "check_avi.h"

#include <algorithm>
#include <cstdlib>
#include <span>

#include "avi/avi_reader.h"
#include "codec/frame_decoder.h"

namespace compare {

bool check_avi(const std::string& path, const Picture& picture, std::size_t frames, std::string& report) {
  avi::AviReader reader;
  if (const AviStatus s = reader.open(path); !s) {
    report = path + ": " + s.message;
    return false;
  }
  const avi::VideoStream& video = reader.video();
  const bool corvath = video.compression == avi::fourcc("CRVT");
  if (!corvath && video.compression != avi::FourCC{0, 0, 0, 0}) {
    report = "neither a Corvath nor an uncompressed stream";
    return false;
  }
  if (video.width != picture.width || std::abs(video.height) != picture.height) {
    report = "frame size differs from the picture";
    return false;
  }
  if (reader.frames().size() != frames) {
    report = std::to_string(reader.frames().size()) + " frames instead of " + std::to_string(frames);
    return false;
  }
  const Bytes expected = bgr_bottom_up(picture);
  FrameDecoder decoder;
  if (corvath && decoder.Begin(picture.width, picture.height, 24) != ICERR_OK) {
    report = "the decoder does not take this geometry";
    return false;
  }
  Bytes chunk(std::max<std::size_t>(reader.largest_frame(), 1));
  for (std::size_t i = 0; i < frames; ++i) {
    const std::size_t size = reader.frames()[i].size;
    if (const AviStatus s = reader.read_frame(i, chunk); !s) {
      report = "frame " + std::to_string(i) + ": " + s.message;
      return false;
    }
    std::span<const std::uint8_t> frame(chunk.data(), size);
    if (corvath) {
      if (const int s = decoder.Decode(frame); s != ICERR_OK) {
        report = "frame " + std::to_string(i) + ": " + decode_status_message(s);
        return false;
      }
      frame = decoder.frame();
    }
    if (!std::equal(frame.begin(), frame.end(), expected.begin(), expected.end())) {
      report = "frame " + std::to_string(i) + " differs from the picture";
      return false;
    }
  }
  report = std::to_string(frames) + " frames identical";
  return true;
}

}  // namespace compare
