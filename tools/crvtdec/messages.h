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
// stands, and a line feed, on standard error in the same way; nothing for an
// empty message (a failure reported before).
void print_message(const std::string& message);

// The text error() would print after "crvtdec: ", for a failure found on a
// worker thread and printed in frame order by the thread that writes.
[[gnu::format(printf, 1, 2)]] std::string format_message(const char* format, ...);

}  // namespace crvtdec
