// A stop asked for by SIGINT, SIGTERM or SIGHUP (Ctrl-C, kill, a closed
// terminal), so that a program writing a file can finish it with the frames
// written so far instead of dying with a header never completed.
//
//   StopSignals stop;               // from here on the signals only ask
//   for (each frame) {
//     if (stop.requested()) break;  // after the frame in progress
//     ...
//   }
//   complete the file;             // further signals are ignored meanwhile
//   return stop.requested() ? stop.exit_status() : ...;
//
// The handlers only record the first signal; nothing else runs in them.
#pragma once

#include <csignal>

class StopSignals {
 public:
  // Installs the handlers (with SA_RESTART, so that file reads and writes
  // are not cut short by a signal). A signal that is ignored, as nohup and
  // shells starting background jobs have it, stays ignored.
  StopSignals();
  // Puts back what the signals did before, unless a stop was asked for:
  // the handlers then stay until the program ends, so that a further signal
  // cannot end it with another status.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  bool requested() const { return signal_number() != 0; }
  // The first signal received, 0 when none.
  int signal_number() const;
  // 128 + the signal number, as shells report a program a signal ended.
  int exit_status() const { return 128 + signal_number(); }
  // "SIGINT", "SIGTERM" or "SIGHUP".
  static const char* name(int signal_number);

 private:
  struct sigaction saved_[3];
};
