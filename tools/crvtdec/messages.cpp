#include "crvtdec/messages.h"

#include <unistd.h>

#include <cstdarg>
#include <vector>

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

std::string format_message(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

void print_message(const std::string& message) {
  if (message.empty()) return;
  begin_message();
  std::fputs(message.c_str(), stderr);
  std::fputc('\n', stderr);
}

}  // namespace crvtdec
