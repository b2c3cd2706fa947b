// crvtdec's messages: failures on standard error, prefixed with the program's
// name; results on standard output.
#pragma once

#include <cstdio>
#include <string>

namespace crvtdec {

// Prints "crvtdec: " and the formatted text and a line feed on standard error,
// in place of a progress line that may stand there. Returns false, so that
// callers can `return error(...)`.
[[gnu::format(printf, 1, 2)]] bool error(const char* format, ...);

// Prints a message of a library (the movie reader's, the AVI writer's) as it
// stands, and a line feed, on standard error in the same way.
void print_message(const std::string& message);

// The AVI writer and the movie reader print their failures on standard
// output, as the converter has it. crvtdec keeps standard output for its
// results: while such a scope lives, what is printed on standard output is
// collected, and it goes to standard error when the scope ends (after the
// progress line of a loop inside it is gone).
class LibraryMessagesToStderr {
 public:
  LibraryMessagesToStderr();
  ~LibraryMessagesToStderr();
  LibraryMessagesToStderr(const LibraryMessagesToStderr&) = delete;
  LibraryMessagesToStderr& operator=(const LibraryMessagesToStderr&) = delete;

 private:
  int saved_ = -1;                   // the original standard output, while it is redirected
  std::FILE* collected_ = nullptr;  // where it goes meanwhile; null: straight to standard error
};

}  // namespace crvtdec
