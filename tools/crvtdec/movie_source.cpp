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
  const std::vector<std::int64_t>& offsets = movie_.header.frame_offsets;
  if (i >= offsets.size()) {
    return error("%s: frame %zu could not be read: the file ends inside it", name_.c_str(), i);
  }
  if (stored_.empty()) {
    try {
      stored_.resize(frame_size());
    } catch (const std::bad_alloc&) {
      return error("not enough memory for the frames of %s", name_.c_str());
    }
  }
  std::ifstream& file = movie_.stream;
  file.clear();
  file.seekg(static_cast<std::streamoff>(offsets[i]));
  file.read(reinterpret_cast<char*>(stored_.data()), static_cast<std::streamsize>(stored_.size()));
  if (file.gcount() != static_cast<std::streamsize>(stored_.size())) {
    return error("%s: frame %zu could not be read: the file ends inside it", name_.c_str(), i);
  }
  frame.bytes = stored_;
  frame.raw = raw_;
  frame.stride = info().row_bytes;
  return true;
}

}  // namespace crvtdec
