#include "avi/byte_source.h"

#include <cstring>
#include <new>
#include <system_error>
#include <utility>

namespace avi {

bool ByteSource::open(const std::filesystem::path& path) {
  memory_ = {};
  read_ = nullptr;
  from_file_ = true;
  size_ = 0;
  if (file_.is_open()) file_.close();
  file_.clear();
  std::error_code ec;
  const std::uintmax_t length = std::filesystem::file_size(path, ec);
  if (ec) return false;
  try {
    // Unbuffered: the reader seeks for almost every read, and frames are read
    // straight into the caller's buffer.
    file_.rdbuf()->pubsetbuf(nullptr, 0);
    file_.open(path, std::ios::in | std::ios::binary);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!file_.is_open()) return false;
  size_ = length;
  return true;
}

void ByteSource::open(std::span<const std::uint8_t> bytes) {
  if (file_.is_open()) file_.close();
  from_file_ = false;
  read_ = nullptr;
  memory_ = bytes;
  size_ = bytes.size();
}

void ByteSource::open(std::uint64_t size, ReadFunction read) {
  if (file_.is_open()) file_.close();
  from_file_ = false;
  memory_ = {};
  read_ = std::move(read);
  size_ = read_ ? size : 0;
}

bool ByteSource::read(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (offset > size_ || out.size() > size_ - offset) return false;
  if (out.empty()) return true;
  if (read_) return read_(offset, out);
  if (!from_file_) {
    std::memcpy(out.data(), memory_.data() + offset, out.size());
    return true;
  }
  file_.clear();
  if (!file_.seekg(static_cast<std::streamoff>(offset))) return false;
  file_.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return file_.gcount() == static_cast<std::streamsize>(out.size());
}

}  // namespace avi
