#include "crvtdec/movie_source.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

#include "crvtdec/messages.h"
#include "mov/sample_tables.h"

namespace crvtdec {

bool MovieSource::open(const std::string& path) {
  name_ = path;
  errno = 0;
  file_.open(path, std::ios::binary);
  if (!file_) return error("cannot open %s: %s", path.c_str(), std::strerror(errno != 0 ? errno : ENOENT));
  std::error_code ec;
  const std::uintmax_t file_size = std::filesystem::file_size(path, ec);
  if (ec) return error("cannot read %s: %s", path.c_str(), ec.message().c_str());

  std::vector<unsigned char> window;
  try {
    window.resize(mov_header_window);
  } catch (const std::bad_alloc&) {
    return error("not enough memory for the header of %s", path.c_str());
  }
  // A shorter file fills the start of the window; the rest stays zero.
  file_.read(reinterpret_cast<char*>(window.data()), mov_header_window);
  if (file_.bad()) return error("cannot read %s", path.c_str());
  file_.clear();

  // Every frame takes at least 3 bytes of the file: tables that describe
  // more frames than that do not make the frame table outgrow the file.
  const int max_frames = static_cast<int>(std::min<std::uintmax_t>(INT_MAX, file_size / 3));
  int found = 0;
  {
    LibraryMessagesToStderr messages;
    found = read_mov_header(window.data(), mov_header_window, info_, max_frames, true);
  }
  if (!found) return error("%s: not a movie that quelmux converts", path.c_str());
  raw_ = std::memcmp(info_.data_format, "raw ", 4) == 0;
  frame_offsets_ = std::move(frame_offsets);
  frame_offsets.clear();
  total_frames = 0;
  return true;
}

bool MovieSource::read(std::size_t i, MovieFrame& frame) {
  if (stored_.size() != frame_size()) {
    try {
      stored_.resize(frame_size());
    } catch (const std::bad_alloc&) {
      return error("not enough memory for the frames of %s", name_.c_str());
    }
  }
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(frame_offsets_[i]));
  file_.read(reinterpret_cast<char*>(stored_.data()), static_cast<std::streamsize>(stored_.size()));
  if (file_.gcount() != static_cast<std::streamsize>(stored_.size())) {
    return error("%s: frame %zu could not be read: the file ends inside it", name_.c_str(), i);
  }
  frame.bytes = stored_;
  frame.raw = raw_;
  return true;
}

}  // namespace crvtdec
