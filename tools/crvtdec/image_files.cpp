#include "crvtdec/image_files.h"

#include <png.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "crvtdec/messages.h"

namespace crvtdec {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool cannot_write(const std::string& path, int error_number) {
  return error("cannot write %s: %s", path.c_str(), std::strerror(error_number));
}

// Removes the part of an image that a failed write left. Only a regular
// file goes: a link (to /dev/full, say) or a device stays as it was.
void discard(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) {
    std::filesystem::remove(path, ec);
  }
}

// Closes `file`, reporting a failure of any write before; the partial image
// is removed then.
bool close_file(File file, const std::string& path) {
  const bool written = std::ferror(file.get()) == 0;
  const int write_error = errno;
  const bool closed = std::fclose(file.release()) == 0;
  const int close_error = errno;
  if (closed && written) return true;
  discard(path);
  return cannot_write(path, !closed ? close_error : write_error != 0 ? write_error : EIO);
}

constexpr char kPpmHeader[] = "P6\n%d %d\n255\n";

}  // namespace

std::size_t ImageWriter::largest_image(int width, int height) const {
  const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (format_ == ImageFormat::ppm) return sizeof kPpmHeader + 2 * 11 + 3 * pixels;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_BGRA;
  return PNG_IMAGE_PNG_SIZE_MAX(image);
}

bool ImageWriter::encode(const FrameView& frame, std::vector<std::uint8_t>& bytes, std::size_t& size,
                         const std::string& path, std::string& why) const {
  if (format_ == ImageFormat::ppm) {
    const int header =
        std::snprintf(reinterpret_cast<char*>(bytes.data()), bytes.size(), kPpmHeader, frame.width, frame.height);
    const std::size_t row_bytes = 3 * static_cast<std::size_t>(frame.width);
    const auto step = static_cast<std::size_t>(frame.pixel_size);
    std::uint8_t* out = bytes.data() + header;
    for (int y = 0; y < frame.height; ++y, out += row_bytes) {
      const std::uint8_t* in = frame.row(y);
      for (std::size_t x = 0, o = 0; o < row_bytes; x += step, o += 3) {
        out[o] = in[x + 2];
        out[o + 1] = in[x + 1];
        out[o + 2] = in[x];
      }
    }
    size = static_cast<std::size_t>(out - bytes.data());
    return true;
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(frame.width);
  image.height = static_cast<png_uint_32>(frame.height);
  image.format = frame.pixel_size == 4 ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
  const auto stride = static_cast<png_int_32>(frame.stride);
  png_alloc_size_t length = bytes.size();
  if (!png_image_write_to_memory(&image, bytes.data(), &length, 0, frame.data, frame.top_down ? stride : -stride,
                                 nullptr)) {
    why = "cannot write " + path + ": " + image.message;
    return false;
  }
  size = length;
  return true;
}

// As write() does it: the message of a short write of a PNG image is the one
// libpng gives when it writes the file itself.
bool ImageWriter::write_file(const std::uint8_t* bytes, std::size_t size, const std::string& path) const {
  errno = 0;
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return cannot_write(path, errno);
  if (std::fwrite(bytes, 1, size, file.get()) != size && format_ == ImageFormat::png) {
    file.reset();
    discard(path);
    return error("cannot write %s: Write Error", path.c_str());
  }
  return close_file(std::move(file), path);
}

}  // namespace crvtdec
