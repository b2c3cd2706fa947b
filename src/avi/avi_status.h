// What an operation of the AVI reader or writer came to: success, or a
// failure with the message that says why, in the words the programs print.
// The libraries print nothing themselves.
#pragma once

#include <string>

struct AviStatus {
  enum class Code {
    ok,
    cannot_open,   // the file could not be opened or created
    cannot_read,   // a read of a frame failed
    invalid,       // not an AVI file that the reader takes
    cannot_write,  // a write failed; the message says what the file keeps
    refused,       // a frame of a length the file cannot take
    full,          // no further frame fits the file (the writer can still be flushed)
    out_of_memory,
    closed,  // the writer failed before (and said so then) or was never begun
  };

  Code code = Code::ok;
  // Empty when ok, and for `closed`: that failure was reported when it came.
  // A line or two, without the last line feed.
  std::string message;

  bool ok() const { return code == Code::ok; }
  explicit operator bool() const { return ok(); }
};
