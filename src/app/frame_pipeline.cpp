#include "app/frame_pipeline.h"

#include <sched.h>

bool parse_thread_count(const char* text, int& threads) {
  int n = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || n > kMaxThreads) return false;
    n = 10 * n + (*c - '0');
  }
  if (*text == '\0' || n < 1 || n > kMaxThreads) return false;
  threads = n;
  return true;
}

int available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int n = CPU_COUNT(&set);
  return n < 1 ? 1 : n > kMaxThreads ? kMaxThreads : n;
}
