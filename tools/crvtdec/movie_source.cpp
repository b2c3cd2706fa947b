#include "crvtdec/movie_source.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

#include "crvtdec/messages.h"
#include "mov/movie_file.h"
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

  bool unreadable = false;
  const MovieReadAt read_at = [&](std::uint64_t offset, unsigned char* out, std::size_t count) -> long long {
    file_.clear();
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    if (file_.bad()) {
      unreadable = true;
      return -1;
    }
    return static_cast<long long>(file_.gcount());
  };
  int found = 0;
  {
    LibraryMessagesToStderr messages;
    found = read_movie_file(read_at, file_size, info_, true);
  }
  file_.clear();
  if (unreadable) return error("cannot read %s", path.c_str());
  if (!found) return error("%s: not a movie that quelmux converts", path.c_str());
  raw_ = std::memcmp(info_.data_format, "raw ", 4) == 0;
  frame_count_ = static_cast<std::size_t>(total_frames);
  frame_offsets_ = std::move(frame_offsets);
  frame_offsets.clear();
  total_frames = 0;
  return true;
}

bool MovieSource::read(std::size_t i, MovieFrame& frame) {
  if (i >= frame_offsets_.size()) {
    return error("%s: frame %zu could not be read: the file ends inside it", name_.c_str(), i);
  }
  if (stored_.empty()) {
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
  frame.stride = info_.row_bytes;
  return true;
}

}  // namespace crvtdec
