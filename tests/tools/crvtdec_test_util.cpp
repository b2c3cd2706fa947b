#include "crvtdec_test_util.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "avi/avi_writer.h"
#include "codec/codec_inst.h"

namespace crvtdec_test {

RunResult crvtdec(const std::vector<std::string>& args) {
  std::vector<std::string> argv{CRVTDEC_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::run(argv);
}

RunResult quelmux(const std::vector<std::string>& args) {
  std::vector<std::string> argv{QUELMUX_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return testsupport::run(argv);
}

movgen::FrameSource source(int width, int height, movgen::Content content, std::uint64_t seed) {
  return movgen::FrameSource(width, height, {content, seed});
}

movgen::MovieLayout write_movie(const std::filesystem::path& path, const movgen::MovieOptions& options,
                                const movgen::FrameSource& source) {
  std::string error;
  movgen::MovieLayout layout;
  EXPECT_TRUE(movgen::write_movie(path.string(), options, source, error, &layout)) << error;
  return layout;
}

Bytes bgr_frame(const movgen::FrameSource& source, std::uint32_t index) {
  return testsupport::avi_frame(source, index);
}

std::vector<Bytes> encode(int width, int height, int bit_depth, const std::vector<Bytes>& pictures) {
  CodecInst codec;
  codec.keep_alpha = 1;
  EXPECT_EQ(codec.CompressBegin(width, height, bit_depth), ICERR_OK);
  Bytes out(max_frame_size(width, height, bit_depth));
  std::vector<Bytes> frames;
  for (const Bytes& picture : pictures) {
    ICCOMPRESS record{0, 0, out.data(), picture.data()};
    codec.CompressContinue(&record, 0);
    frames.emplace_back(out.begin(), out.begin() + record.dwCompressedSize);
  }
  return frames;
}

void write_avi(const std::filesystem::path& path, const AviSpec& spec, const std::vector<Bytes>& frames) {
  const std::string name = path.string();
  AviWriter writer(spec.part_limit);
  ASSERT_TRUE(writer.init(name.c_str(), spec.width, spec.height, spec.rate, spec.scale, spec.compressed ? 1 : 0));
  for (const Bytes& frame : frames) {
    Bytes chunk = frame;
    chunk.resize(frame.size() + 3);  // the writer's fill goes here
    ASSERT_TRUE(writer.write_frame(chunk.data(), static_cast<int>(frame.size()), 0x10));
  }
  ASSERT_TRUE(writer.flush());
}

std::uint32_t get_u32(const Bytes& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

void put_u32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) b.at(at + k) = static_cast<std::uint8_t>(v >> (8 * k));
}

void put_u16(Bytes& b, std::size_t at, std::uint16_t v) {
  b.at(at) = static_cast<std::uint8_t>(v);
  b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

Image read_ppm(const std::filesystem::path& path) {
  const Bytes bytes = testsupport::read_file(path);
  Image image;
  image.channels = 3;
  // crvtdec writes the header in one form, "P6\n<w> <h>\n255\n": three lines.
  std::size_t consumed = 0;
  for (int lines = 0; lines < 3 && consumed < bytes.size(); ++consumed) {
    if (bytes[consumed] == '\n') ++lines;
  }
  const std::string header(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(consumed));
  int maxval = 0;
  if (std::sscanf(header.c_str(), "P6 %d %d %d", &image.width, &image.height, &maxval) != 3 || maxval != 255) {
    ADD_FAILURE() << "not a P6 header: " << path;
    return {};
  }
  image.pixels.assign(bytes.begin() + consumed, bytes.end());
  return image;
}

Image read_png(const std::filesystem::path& path) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.string().c_str())) {
    ADD_FAILURE() << path << ": " << png.message;
    return {};
  }
  Image image;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.channels = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0 ? 4 : 3;
  png.format = image.channels == 4 ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  image.pixels.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
    ADD_FAILURE() << path << ": " << png.message;
    return {};
  }
  return image;
}

}  // namespace crvtdec_test
