#include "png_coder.h"

#if defined(QUELMUX_HAVE_PNG)
#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstring>
#endif

namespace compare {

#if defined(QUELMUX_HAVE_PNG)

namespace {

// The coded bytes live in a buffer sized once; libpng writes into it and
// reads from it through these callbacks.
struct Stream {
  unsigned char* data;
  std::size_t capacity;
  std::size_t position;
};

void write_bytes(png_structp png, png_bytep bytes, std::size_t n) {
  auto* s = static_cast<Stream*>(png_get_io_ptr(png));
  if (n > s->capacity - s->position) png_error(png, "output buffer full");
  std::memcpy(s->data + s->position, bytes, n);
  s->position += n;
}

void read_bytes(png_structp png, png_bytep bytes, std::size_t n) {
  auto* s = static_cast<Stream*>(png_get_io_ptr(png));
  if (n > s->capacity - s->position) png_error(png, "stream truncated");
  std::memcpy(bytes, s->data + s->position, n);
  s->position += n;
}

void flush_nothing(png_structp) {}

// libpng reports errors with longjmp, so these two keep nothing but plain
// values and pointers between setjmp and the library calls.
bool write_png(Stream& out, unsigned char* const* rows, int width, int height, int level) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, write_bytes, flush_nothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, level);
  png_write_info(png, info);
  png_write_image(png, const_cast<png_bytepp>(rows));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool read_png_rows(Stream& in, unsigned char* const* rows, int width, int height) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &in, read_bytes);
  png_read_info(png, info);
  const bool expected = png_get_image_width(png, info) == static_cast<png_uint_32>(width) &&
                        png_get_image_height(png, info) == static_cast<png_uint_32>(height) &&
                        png_get_bit_depth(png, info) == 8 && png_get_color_type(png, info) == PNG_COLOR_TYPE_RGB &&
                        png_get_interlace_type(png, info) == PNG_INTERLACE_NONE;
  if (expected) {
    png_read_image(png, const_cast<png_bytepp>(rows));
    png_read_end(png, nullptr);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return expected;
}

std::vector<unsigned char*> rows_of(Bytes& bytes, int width, int height) {
  std::vector<unsigned char*> rows(static_cast<std::size_t>(height));
  for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = bytes.data() + y * 3 * static_cast<std::size_t>(width);
  return rows;
}

}  // namespace

std::string png_version() { return png_get_libpng_ver(nullptr); }

bool PngCoder::prepare(const Picture& picture, std::string& error) {
  width_ = picture.width;
  height_ = picture.height;
  if (width_ < 1 || height_ < 1) {
    error = "PNG needs a picture of at least one pixel";
    return false;
  }
  source_ = picture.rgb;
  decoded_.assign(source_.size(), 0);
  // Stored deflate blocks and the filter bytes stay well within this.
  coded_.resize(source_.size() + source_.size() / 8 + static_cast<std::size_t>(height_) + 65536);
  source_rows_ = rows_of(source_, width_, height_);
  decoded_rows_ = rows_of(decoded_, width_, height_);
  return true;
}

bool PngCoder::encode() {
  Stream out{coded_.data(), coded_.size(), 0};
  const int level = level_ == PngLevel::fastest ? Z_BEST_SPEED : Z_DEFAULT_COMPRESSION;
  if (!write_png(out, source_rows_.data(), width_, height_, level)) return false;
  coded_size_ = out.position;
  return true;
}

bool PngCoder::decode() {
  Stream in{coded_.data(), coded_size_, 0};
  return read_png_rows(in, decoded_rows_.data(), width_, height_);
}

#else

std::string png_version() { return ""; }

#endif

}  // namespace compare
