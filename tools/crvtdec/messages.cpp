#include "crvtdec/messages.h"

#include <unistd.h>

#include <cstdarg>

namespace crvtdec {

namespace {

// Results printed so far go first, and a progress line goes away.
void begin_message() {
  std::fflush(stdout);
  if (isatty(STDERR_FILENO) == 1) std::fputs("\r\033[K", stderr);
}

}  // namespace

bool error(const char* format, ...) {
  begin_message();
  std::fputs("crvtdec: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return false;
}

void print_message(const std::string& message) {
  begin_message();
  std::fputs(message.c_str(), stderr);
  std::fputc('\n', stderr);
}

LibraryMessagesToStderr::LibraryMessagesToStderr() {
  std::fflush(stdout);
  saved_ = dup(STDOUT_FILENO);
  if (saved_ < 0) return;
  collected_ = std::tmpfile();
  const int target = collected_ != nullptr ? fileno(collected_) : STDERR_FILENO;
  if (dup2(target, STDOUT_FILENO) < 0) {
    close(saved_);
    saved_ = -1;
  }
}

LibraryMessagesToStderr::~LibraryMessagesToStderr() {
  if (saved_ >= 0) {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  if (collected_ == nullptr) return;
  std::rewind(collected_);
  char block[4096];
  std::size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, collected_)) > 0) std::fwrite(block, 1, n, stderr);
  std::fclose(collected_);
}

}  // namespace crvtdec
