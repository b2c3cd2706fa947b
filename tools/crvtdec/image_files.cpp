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

}  // namespace

bool ImageWriter::write(const FrameView& frame, const std::string& path) {
  return format_ == ImageFormat::ppm ? write_ppm(frame, path) : write_png(frame, path);
}

bool ImageWriter::write_ppm(const FrameView& frame, const std::string& path) {
  const std::size_t row_bytes = 3 * static_cast<std::size_t>(frame.width);
  if (row_.size() < row_bytes) {
    try {
      row_.resize(row_bytes);
    } catch (const std::bad_alloc&) {
      return error("not enough memory for rows of %d pixels", frame.width);
    }
  }
  errno = 0;
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return cannot_write(path, errno);
  std::fprintf(file.get(), "P6\n%d %d\n255\n", frame.width, frame.height);
  const auto step = static_cast<std::size_t>(frame.pixel_size);
  std::uint8_t* out = row_.data();
  for (int y = 0; y < frame.height; ++y) {
    const std::uint8_t* in = frame.row(y);
    for (std::size_t x = 0, o = 0; o < row_bytes; x += step, o += 3) {
      out[o] = in[x + 2];
      out[o + 1] = in[x + 1];
      out[o + 2] = in[x];
    }
    if (std::fwrite(out, 1, row_bytes, file.get()) != row_bytes) break;
  }
  return close_file(std::move(file), path);
}

// Through libpng's simplified interface, which takes the rows in the frame's
// own byte order and row order (a negative stride for bottom-up rows) and
// reports failures without a long jump through this code.
bool ImageWriter::write_png(const FrameView& frame, const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(frame.width);
  image.height = static_cast<png_uint_32>(frame.height);
  image.format = frame.pixel_size == 4 ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
  // Checked by the input: a frame is at most INT_MAX bytes.
  const auto stride = static_cast<png_int_32>(frame.stride);
  errno = 0;
  File file(std::fopen(path.c_str(), "wb"));
  if (!file) return cannot_write(path, errno);
  if (!png_image_write_to_stdio(&image, file.get(), 0, frame.data, frame.top_down ? stride : -stride, nullptr)) {
    file.reset();
    discard(path);
    return error("cannot write %s: %s", path.c_str(), image.message);
  }
  return close_file(std::move(file), path);
}

}  // namespace crvtdec
