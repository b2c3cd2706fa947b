#include "app/frame_pipeline.h"

#include <sched.h>

int available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int n = CPU_COUNT(&set);
  return n < 1 ? 1 : n > kMaxThreads ? kMaxThreads : n;
}
