// Frames through worker threads in the order they came: read one at a time,
// in frame order; worked on side by side, each worker with its own coder;
// handed back to the caller in frame order. The caller's loop stays the
// loop a single thread would run:
//
//   FramePipeline<Slot> pipeline(slots, workers, count, read, work);
//   for (std::size_t i = 0; i < count; ++i) {
//     if (stop asked for) break;    // workers are stopped by the destructor
//     Slot& slot = pipeline.next();  // frame i, read and worked on
//     if (!pipeline.read_ok()) ...   // read(i) failed: no frame after it is read
//     write slot...
//     pipeline.release();            // the slot takes a later frame
//   }
//
// Frame i lives in slots[i % slots.size()] from its read until its
// release, so at most slots.size() frames are in flight and nothing is
// acquired per frame. With no workers, next() reads and works on the
// calling thread: no thread is started.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <functional>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

// The number of CPUs this process may run on (its affinity mask, so that
// taskset and container limits count), at least 1.
int available_cpus();

// The largest thread count -j takes.
constexpr int kMaxThreads = 256;

// Reads the number of -j, from 1 to kMaxThreads in decimal, into `threads`;
// false, `threads` unchanged, if `text` is not one.
bool parse_thread_count(const char* text, int& threads);

template <class Slot>
class FramePipeline {
 public:
  // read(i, slot): frame i into `slot`; calls come in frame order, one at a
  // time. False stops the reading: frame i is handed back as unread.
  using Read = std::function<bool(std::size_t, Slot&)>;
  // work(worker, slot): runs on worker `worker` (0 .. workers - 1), side by
  // side with the others, for every frame that was read.
  using Work = std::function<void(int, Slot&)>;

  FramePipeline(std::span<Slot> slots, int workers, std::size_t count, Read read, Work work)
      : slots_(slots), count_(count), read_(std::move(read)), work_(std::move(work)), state_(slots.size(), kFree) {
    if (workers < 1) return;
    // Signals are left to the calling thread, whose loop looks at them.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
      for (int w = 0; w < workers; ++w) threads_.emplace_back([this, w] { run_worker(w); });
    } catch (const std::system_error&) {
      // Fewer threads than asked for still do the work; with none the
      // calling thread does it.
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }

  ~FramePipeline() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    free_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  FramePipeline(const FramePipeline&) = delete;
  FramePipeline& operator=(const FramePipeline&) = delete;

  // The slot of the next frame in order, once it is read and worked on.
  Slot& next() {
    const std::size_t k = consumed_ % slots_.size();
    if (threads_.empty()) {
      read_ok_ = read_(consumed_, slots_[k]);
      if (read_ok_) work_(0, slots_[k]);
      return slots_[k];
    }
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return state_[k] == kDone || state_[k] == kUnread; });
    read_ok_ = state_[k] == kDone;
    return slots_[k];
  }
  // Whether the frame next() gave was read (and so worked on).
  bool read_ok() const { return read_ok_; }
  // Gives the slot of that frame back.
  void release() {
    const std::size_t k = consumed_ % slots_.size();
    ++consumed_;
    if (threads_.empty()) return;
    {
      const std::lock_guard lock(mutex_);
      state_[k] = kFree;
      ++released_;
    }
    free_.notify_all();
  }

 private:
  enum State : unsigned char { kFree, kBusy, kDone, kUnread };

  void run_worker(int w) {
    for (;;) {
      std::size_t i = 0;
      bool ok = false;
      {
        // Holding `reading_` keeps the reads in frame order.
        const std::lock_guard reading(reading_);
        {
          std::unique_lock lock(mutex_);
          free_.wait(
              lock, [&] { return stopping_ || unread_ || claimed_ == count_ || claimed_ < released_ + slots_.size(); });
          if (stopping_ || unread_ || claimed_ == count_) return;
          i = claimed_++;
          state_[i % slots_.size()] = kBusy;
        }
        ok = read_(i, slots_[i % slots_.size()]);
        if (!ok) {
          {
            const std::lock_guard lock(mutex_);
            unread_ = true;
            state_[i % slots_.size()] = kUnread;
          }
          done_.notify_all();
          free_.notify_all();
          return;
        }
      }
      work_(w, slots_[i % slots_.size()]);
      {
        const std::lock_guard lock(mutex_);
        state_[i % slots_.size()] = kDone;
      }
      done_.notify_all();
    }
  }

  const std::span<Slot> slots_;
  const std::size_t count_;
  const Read read_;
  const Work work_;
  std::vector<std::thread> threads_;

  // The caller's side.
  std::size_t consumed_ = 0;
  bool read_ok_ = false;

  std::mutex reading_;
  std::mutex mutex_;              // guards what follows
  std::condition_variable free_;  // a slot was released, or the run stops
  std::condition_variable done_;  // a frame is ready for the caller
  std::vector<State> state_;
  std::size_t claimed_ = 0;   // frames whose reading has begun
  std::size_t released_ = 0;  // frames the caller gave back
  bool unread_ = false;       // a read failed: nothing more is read
  bool stopping_ = false;
};
