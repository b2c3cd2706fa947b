#include "app/stop_signals.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A handler can reach nothing but a variable of static storage; this one is
// written only by the handler and cleared when the handlers go in.
volatile std::sig_atomic_t received = 0;

extern "C" void record_stop(int signal_number) {
  // The first signal counts; a second one, during the completion of the
  // file, is ignored.
  if (received == 0) received = signal_number;
}

}  // namespace

StopSignals::StopSignals() {
  received = 0;
  struct sigaction action {};
  action.sa_handler = record_stop;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const int s : kSignals) sigaddset(&action.sa_mask, s);
  for (int i = 0; i < 3; ++i) {
    sigaction(kSignals[i], nullptr, &saved_[i]);
    // A signal ignored from the start (nohup, a background job) stays so.
    if (saved_[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
  }
}

StopSignals::~StopSignals() {
  // Once a stop was asked for, the program is on its way out with the exit
  // status that says so: a further signal must not end it another way.
  if (received != 0) return;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
}

int StopSignals::signal_number() const { return received; }

const char* StopSignals::name(int signal_number) {
  switch (signal_number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
  }
}
