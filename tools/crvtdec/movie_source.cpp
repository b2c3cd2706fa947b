#include "crvtdec/movie_source.h"

#include <cstring>
#include <new>
#include <string_view>

#include "crvtdec/messages.h"

namespace crvtdec {

bool MovieSource::open(const std::string& path) {
  name_ = path;
  movie_ = open_movie_file(path, [](std::string_view) {});
  const char* name = path.c_str();
  // The reader's own words first, where they say more than crvtdec's.
  switch (movie_.failure) {
    case MovieFile::Failure::none: break;
    case MovieFile::Failure::open: return error("cannot open %s: %s", name, movie_.system_error.message().c_str());
    case MovieFile::Failure::size: return error("cannot read %s: %s", name, movie_.system_error.message().c_str());
    case MovieFile::Failure::read: print_message(movie_.header.error); return error("cannot read %s", name);
    case MovieFile::Failure::header:
      print_message(movie_.header.error);
      return error("%s: not a movie that quelmux converts", name);
  }
  raw_ = std::memcmp(info().data_format, "raw ", 4) == 0;
  return true;
}

bool MovieSource::read(std::size_t i, MovieFrame& frame) {
  if (stored_.empty() && i < movie_.header.frame_offsets.size()) {
    try {
      stored_.resize(frame_size());
    } catch (const std::bad_alloc&) {
      return error("not enough memory for the frames of %s", name_.c_str());
    }
  }
  std::string why;
  return read(i, stored_, frame, why) || error("%s", why.c_str());
}

bool MovieSource::read(std::size_t i, std::vector<std::uint8_t>& buffer, MovieFrame& frame, std::string& why) {
  const std::vector<std::int64_t>& offsets = movie_.header.frame_offsets;
  std::ifstream& file = movie_.stream;
  if (i < offsets.size()) {
    file.clear();
    file.seekg(static_cast<std::streamoff>(offsets[i]));
    file.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
  }
  if (i >= offsets.size() || file.gcount() != static_cast<std::streamsize>(buffer.size())) {
    why = format_message("%s: frame %zu could not be read: the file ends inside it", name_.c_str(), i);
    return false;
  }
  frame.bytes = buffer;
  frame.raw = raw_;
  frame.stride = info().row_bytes;
  return true;
}

}  // namespace crvtdec
