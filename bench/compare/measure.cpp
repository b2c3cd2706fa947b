#include "measure.h"

#include <cstdio>
#include <ctime>

namespace compare {

double thread_cpu_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

namespace {

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + '"';
}

}  // namespace

std::string to_json(const Measurement& m) {
  char numbers[256];
  std::snprintf(numbers, sizeof numbers,
                "\"raw_bytes\": %zu, \"coded_bytes\": %zu, \"encode_seconds\": %.9f, "
                "\"decode_seconds\": %.9f, \"encode_runs\": %d, \"decode_runs\": %d, \"lossless\": %s",
                m.raw_bytes, m.coded_bytes, m.encode_seconds, m.decode_seconds, m.encode_runs, m.decode_runs,
                m.lossless ? "true" : "false");
  return "{\"coder\": " + quoted(m.coder) + ", " + numbers + ", \"error\": " + quoted(m.error) + "}";
}

}  // namespace compare
