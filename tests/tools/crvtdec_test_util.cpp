#include "crvtdec_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "avi/avi_writer.h"
#include "codec/codec_inst.h"
#include "codec/frame_format.h"

namespace crvtdec_test {

static RunResult run(const char* program, std::vector<std::string> args) {
  args.insert(args.begin(), program);
  return testsupport::run(args);
}

RunResult crvtdec(const std::vector<std::string>& args) { return run(CRVTDEC_EXE, args); }

RunResult quelmux(const std::vector<std::string>& args) { return run(QUELMUX_EXE, args); }

movgen::MovieLayout write_movie(const std::filesystem::path& path, const movgen::MovieOptions& options,
                                const movgen::FrameSource& source) {
  std::string error;
  movgen::MovieLayout layout;
  EXPECT_TRUE(movgen::write_movie(path.string(), options, source, error, &layout)) << error;
  return layout;
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
  AviWriter writer(spec.part_limit);
  ASSERT_TRUE(writer.init(path.c_str(), spec.width, spec.height, spec.rate, spec.scale, spec.compressed ? 1 : 0));
  for (Bytes chunk : frames) {
    chunk.resize(chunk.size() + 3);  // the writer's fill goes here
    ASSERT_TRUE(writer.write_frame(chunk.data(), static_cast<int>(chunk.size() - 3), 0x10));
  }
  ASSERT_TRUE(writer.flush());
}

Bytes put(Bytes b, std::size_t at, std::uint32_t value, int bytes) {
  for (int k = 0; k < bytes; ++k) b.at(at + k) = static_cast<std::uint8_t>(value >> (8 * k));
  return b;
}

Image read_ppm(const std::filesystem::path& path) {
  const Bytes bytes = testsupport::read_file(path);
  // crvtdec writes the header in one form, "P6\n<w> <h>\n255\n".
  const std::string head(bytes.begin(),
                         bytes.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(bytes.size(), 32)));
  Image image;
  int end = 0;
  if (std::sscanf(head.c_str(), "P6\n%d %d\n255%n", &image.width, &image.height, &end) != 2 || end == 0 ||
      head[static_cast<std::size_t>(end)] != '\n') {
    ADD_FAILURE() << "not a P6 header: " << path;
    return {};
  }
  image.pixels.assign(bytes.begin() + end + 1, bytes.end());
  return image;
}

}  // namespace crvtdec_test
