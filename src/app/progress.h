// A progress line for long conversions, on standard error and only when that
// is a terminal, so that the program's own messages on standard output and
// anything that reads them stay as they are.
#pragma once

#include <chrono>

class Progress {
 public:
  explicit Progress(int total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Frame `done` of the total has been written.
  void update(int done);
  // Takes the line away, so that a message can follow on a clean line; a
  // later update() shows it again.
  void clear();

 private:
  void show(int done);

  int total_;
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point next_;
};
