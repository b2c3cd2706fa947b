#include "mov/synthetic_frames.h"

#include <algorithm>
#include <cstring>

namespace movgen {

namespace {

constexpr std::uint64_t splitmix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Position of something moving back and forth over [0, span] at one unit a step.
int bounce(std::uint64_t step, int span) {
  if (span <= 0) return 0;
  const auto period = static_cast<std::uint64_t>(2 * span);
  const auto p = static_cast<int>(step % period);
  return p <= span ? p : 2 * span - p;
}

struct Pixel {
  std::uint8_t r, g, b;
};

// Calls `colour(x, y)` for every pixel and stores the result.
template <typename Colour>
void fill(std::span<std::uint8_t> rgb, int width, int height, Colour colour) {
  std::uint8_t* p = rgb.data();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x, p += 3) {
      const Pixel c = colour(x, y);
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
  }
}

void render_noise(std::span<std::uint8_t> rgb, std::uint64_t seed, std::uint32_t index) {
  std::uint64_t state = splitmix(seed ^ splitmix(index));
  std::size_t i = 0;
  for (; i + 8 <= rgb.size(); i += 8) {
    state ^= state >> 12;  // xorshift64*
    state ^= state << 25;
    state ^= state >> 27;
    const std::uint64_t v = state * 0x2545F4914F6CDD1Dull;
    for (int k = 0; k < 8; ++k) rgb[i + k] = static_cast<std::uint8_t>(v >> (8 * k));
  }
  const std::uint64_t last = splitmix(state);
  for (int k = 0; i < rgb.size(); ++i, ++k) rgb[i] = static_cast<std::uint8_t>(last >> (8 * k));
}

void render_shape(std::span<std::uint8_t> rgb, int w, int h, std::uint64_t seed, std::uint32_t index) {
  const int radius = std::max(1, std::min(w, h) / 6);
  const int cx = radius + bounce(std::uint64_t{index} * 3 + seed % 97, w - 2 * radius);
  const int cy = radius + bounce(std::uint64_t{index} * 2 + seed % 89, h - 2 * radius);
  const Pixel ball{240, 200, 40};
  fill(rgb, w, h, [&](int x, int y) {
    const int dx = x - cx;
    const int dy = y - cy;
    if (dx * dx + dy * dy < radius * radius) return ball;
    const int t = h > 1 ? y * 100 / (h - 1) : 0;
    return Pixel{static_cast<std::uint8_t>(20 + t / 2), static_cast<std::uint8_t>(40 + t),
                 static_cast<std::uint8_t>(90 + t)};
  });
}

void render_screen(std::span<std::uint8_t> rgb, int w, int h, std::uint64_t seed, std::uint32_t index) {
  const Pixel desktop{58, 110, 165}, title{170, 170, 180}, paper{250, 250, 248}, ink{25, 25, 30};
  const int left = w / 8, right = w - w / 8, top = h / 8, bottom = h - h / 8;
  const int bar = std::max(1, h / 20);
  const int text_left = left + 4, text_top = top + bar + 4;
  const int columns = std::max(1, (right - text_left - 4) / 5);
  const int lines = std::max(1, (bottom - text_top - 4) / 8);
  // Half the page is there from the start; one more glyph is typed a frame,
  // followed by a block cursor.
  const std::uint64_t typed = std::uint64_t(columns) * std::uint64_t(lines) / 2 + index;
  fill(rgb, w, h, [&](int x, int y) {
    if (x < left || x >= right || y < top || y >= bottom) return desktop;
    if (y < top + bar) return title;
    if (x < text_left || y < text_top) return paper;
    const int line = (y - text_top) / 8, gy = (y - text_top) % 8;
    const int column = (x - text_left) / 5, gx = (x - text_left) % 5;
    if (line >= lines || column >= columns || gy >= 5 || gx >= 4) return paper;
    const std::uint64_t glyph = std::uint64_t(line) * std::uint64_t(columns) + std::uint64_t(column);
    if (glyph == typed) return ink;  // the cursor
    if (glyph > typed) return paper;
    const std::uint64_t bits = splitmix(seed * 7919 + glyph);
    if (bits % 6 == 0) return paper;  // a space between words
    return (bits >> (8 + gy * 4 + gx)) & 1 ? ink : paper;
  });
}

void render_image(std::span<std::uint8_t> rgb, int w, int h, const PpmImage& image, Fit fit, std::uint32_t index) {
  if (image.width <= 0 || image.height <= 0) {
    std::fill(rgb.begin(), rgb.end(), 0);
    return;
  }
  std::uint8_t* p = rgb.data();
  for (int y = 0; y < h; ++y) {
    const int sy = fit == Fit::resize ? int(std::int64_t(y) * image.height / h) : y % image.height;
    const std::uint8_t* row = image.rgb.data() + std::size_t(sy) * std::size_t(image.width) * 3;
    for (int x = 0; x < w; ++x, p += 3) {
      const int sx = fit == Fit::resize ? int(std::int64_t(x) * image.width / w)
                                        : int((std::uint64_t(x) + index) % std::uint64_t(image.width));
      std::memcpy(p, row + std::size_t(sx) * 3, 3);
    }
  }
}

constexpr std::pair<Content, const char*> content_names[] = {
    {Content::gradient_h, "gradient-h"},
    {Content::gradient_v, "gradient-v"},
    {Content::noise, "noise"},
    {Content::solid, "solid"},
    {Content::grey, "grey"},
    {Content::shape, "shape"},
    {Content::screen, "screen"},
    {Content::image, "ppm"},
};

}  // namespace

bool parse_content(std::string_view name, Content& content) {
  for (const auto& [c, n] : content_names) {
    if (name == n) {
      content = c;
      return true;
    }
  }
  return false;
}

const char* content_name(Content content) {
  for (const auto& [c, n] : content_names)
    if (c == content) return n;
  return "?";
}

FrameSource::FrameSource(int width, int height, ContentOptions options, PpmImage image)
    : width_(width), height_(height), options_(options), image_(std::move(image)) {}

void FrameSource::render(std::uint32_t index, std::span<std::uint8_t> rgb) const {
  const int w = width_, h = height_;
  rgb = rgb.first(frame_size());
  const std::uint64_t seed = options_.seed;
  switch (options_.content) {
    case Content::gradient_h:
    case Content::gradient_v: {
      const bool across = options_.content == Content::gradient_h;
      const int extent = across ? w : h;
      fill(rgb, w, h, [&](int x, int y) {
        const auto t = static_cast<std::uint8_t>((across ? x : y) * 256 / extent + 3 * index);
        return Pixel{t, static_cast<std::uint8_t>(255 - t), static_cast<std::uint8_t>(64 + t / 2)};
      });
      break;
    }
    case Content::noise: render_noise(rgb, seed, index); break;
    case Content::solid: {
      const auto& c = options_.colour;
      fill(rgb, w, h, [&](int, int) { return Pixel{c[0], c[1], c[2]}; });
      break;
    }
    case Content::grey: {
      const int span = std::max(1, w + h - 2);
      fill(rgb, w, h, [&](int x, int y) {
        const auto v = static_cast<std::uint8_t>((x + y) * 255 / span + index);
        return Pixel{v, v, v};
      });
      break;
    }
    case Content::shape: render_shape(rgb, w, h, seed, index); break;
    case Content::screen: render_screen(rgb, w, h, seed, index); break;
    case Content::image: render_image(rgb, w, h, image_, options_.fit, index); break;
  }
}

namespace {

std::size_t stride_of(int width, std::size_t row_bytes) { return row_bytes != 0 ? row_bytes : std::size_t(width) * 3; }

}  // namespace

void to_stored(DataFormat format, int width, int height, std::span<const std::uint8_t> rgb, std::span<std::uint8_t> out,
               std::size_t row_bytes) {
  if (format == DataFormat::wrle) {
    to_avi(width, height, rgb, out, row_bytes);
  } else {
    const std::size_t row = std::size_t(width) * 3;
    const std::size_t stride = stride_of(width, row_bytes);
    for (int y = 0; y < height; ++y) {
      std::copy_n(rgb.begin() + static_cast<std::ptrdiff_t>(std::size_t(y) * row), row,
                  out.begin() + static_cast<std::ptrdiff_t>(std::size_t(y) * stride));
    }
  }
  const std::size_t stride = stride_of(width, row_bytes);
  for (int y = 0; y < height; ++y) {
    for (std::size_t x = std::size_t(width) * 3; x < stride; ++x) out[std::size_t(y) * stride + x] = kPadByte;
  }
}

void to_avi(int width, int height, std::span<const std::uint8_t> rgb, std::span<std::uint8_t> out,
            std::size_t row_bytes) {
  const std::size_t row = std::size_t(width) * 3;
  const std::size_t stride = stride_of(width, row_bytes);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* s = rgb.data() + std::size_t(height - 1 - y) * row;
    std::uint8_t* d = out.data() + std::size_t(y) * stride;
    for (std::size_t x = 0; x < row; x += 3) {
      d[x] = s[x + 2];
      d[x + 1] = s[x + 1];
      d[x + 2] = s[x];
    }
    std::fill(d + row, d + stride, std::uint8_t{0});
  }
}

std::vector<std::uint8_t> stored_frame(const FrameSource& source, DataFormat format, std::uint32_t index,
                                       std::size_t row_bytes) {
  std::vector<std::uint8_t> rgb(source.frame_size());
  std::vector<std::uint8_t> out(stride_of(source.width(), row_bytes) * std::size_t(source.height()));
  source.render(index, rgb);
  to_stored(format, source.width(), source.height(), rgb, out, row_bytes);
  return out;
}

bool write_movie(const std::string& path, const MovieOptions& options, const FrameSource& source, std::string& error,
                 MovieLayout* layout) {
  if (source.width() != options.width || source.height() != options.height) {
    error = "the content's size differs from the movie's";
    return false;
  }
  MovieWriter writer;
  if (!writer.open(path, options, error)) return false;
  // One picture and one stored frame, reused for every frame.
  const MovieLayout& planned = writer.layout();
  const bool as_rendered = options.format == DataFormat::raw && planned.row_bytes == 3u * std::uint32_t(options.width);
  std::vector<std::uint8_t> rgb, frame;
  if (options.frames > 0) {
    rgb.resize(source.frame_size());
    if (!as_rendered) frame.resize(planned.frame_size);
  }
  for (std::uint32_t i = 0; i < options.frames; ++i) {
    source.render(i, rgb);
    if (!as_rendered) to_stored(options.format, options.width, options.height, rgb, frame, planned.row_bytes);
    if (!writer.write_frame(as_rendered ? rgb : frame, error)) return false;
  }
  if (!writer.finish(error)) return false;
  if (layout != nullptr) *layout = writer.layout();
  return true;
}

}  // namespace movgen
