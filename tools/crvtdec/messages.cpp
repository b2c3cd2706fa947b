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
  if (message.empty()) return;
  begin_message();
  std::fputs(message.c_str(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace crvtdec
