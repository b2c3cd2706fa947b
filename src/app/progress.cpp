#include "app/progress.h"

#include <unistd.h>

#include <cstdio>

namespace {
constexpr auto kInterval = std::chrono::milliseconds(250);
}

Progress::Progress(int total)
    : total_(total),
      enabled_(total > 0 && isatty(STDERR_FILENO) == 1),
      next_(std::chrono::steady_clock::now() + kInterval) {}

Progress::~Progress() { clear(); }

void Progress::clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  shown_ = false;
}

void Progress::update(int done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now < next_ && done != total_) return;
  next_ = now + kInterval;
  show(done);
}

void Progress::show(int done) {
  const long long percent = 100LL * done / total_;
  std::fprintf(stderr, "\rFrame %d of %d (%lld%%)", done, total_, percent);
  std::fflush(stderr);
  shown_ = true;
}
