// Timing of one coder on one picture: encode and decode each run until both
// a number of runs and a span of time are reached, the best run counting.
// Times are the thread's CPU time, which a busy machine disturbs far less
// than the wall clock.
#pragma once

#include <cstddef>
#include <string>

#include "picture.h"

namespace compare {

struct MeasureOptions {
  int runs = 5;              // at least this many runs of each direction
  double min_seconds = 0.2;  // and at least this much time in all
  int max_runs = 200;
};

struct Measurement {
  std::string coder;
  std::size_t raw_bytes = 0;
  std::size_t coded_bytes = 0;
  double encode_seconds = 0;  // best run
  double decode_seconds = 0;
  int encode_runs = 0;
  int decode_runs = 0;
  bool lossless = false;  // every decode gave the source back
  std::string error;      // why the coder failed, when it did
};

double thread_cpu_seconds();

// Coders offer, for one picture:
//   bool prepare(const Picture&, std::string& error)   untimed set-up
//   bool encode()                                      one timed encode
//   bool decode()                                      one timed decode of the last encode
//   std::size_t coded_size() const
//   bool matches() const                               the last decode equals the source
template <typename Coder>
Measurement measure(Coder& coder, const Picture& picture, const MeasureOptions& options) {
  Measurement m;
  m.raw_bytes = picture.bytes();
  if (!coder.prepare(picture, m.error)) return m;
  const auto best_of = [&](auto&& step, double& best, int& runs) {
    double total = 0;
    best = -1;
    while (runs < options.max_runs && (runs < options.runs || total < options.min_seconds)) {
      const double start = thread_cpu_seconds();
      if (!step()) return false;
      const double t = thread_cpu_seconds() - start;
      ++runs;
      total += t;
      if (best < 0 || t < best) best = t;
    }
    return true;
  };
  if (!best_of([&] { return coder.encode(); }, m.encode_seconds, m.encode_runs)) {
    m.error = "encoding failed";
    return m;
  }
  m.coded_bytes = coder.coded_size();
  m.lossless = true;
  const bool decoded = best_of(
      [&] {
        if (!coder.decode()) return false;
        m.lossless = m.lossless && coder.matches();
        return true;
      },
      m.decode_seconds, m.decode_runs);
  if (!decoded) {
    m.lossless = false;
    m.error = "decoding failed";
  }
  return m;
}

// One line of JSON.
std::string to_json(const Measurement& m);

}  // namespace compare
