// The frames of an input decoded on worker threads, each with its own
// decoder, and handed to the caller in order together with what the mode
// made of them on the worker (a bitmap, an image file's bytes, a
// comparison). Failures are printed by the caller's thread when it reaches
// the frame, so that the output and the messages are those of one thread.
//
// A null frame repeats the frame before it, which a worker cannot know: the
// calling thread keeps a decoder of its own, decodes the frame before a null
// frame again and makes the null frame's product from it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/frame_pipeline.h"
#include "crvtdec/avi_input.h"
#include "crvtdec/messages.h"

namespace crvtdec {

template <class Product>
class FrameStream {
 public:
  // Acquires a product's buffers, once for each slot; prints why on failure.
  using Take = std::function<bool(Product&)>;
  // On the reading thread, in frame order, before frame `i` is decoded (the
  // movie's frame for --compare).
  using Prepare = std::function<void(std::size_t i, Product&)>;
  // Makes the product of decoded frame `i`; `tool` is the worker's number,
  // from 0 to tools() - 1, so that each thread has scratch space of its
  // own. False with `why` set for a failure to print at that frame.
  using Make = std::function<bool(std::size_t i, const FrameView&, Product&, int tool, std::string& why)>;

  // The first `count` frames of `input`, on `threads` threads as -j gives
  // them; 1 decodes on the calling thread alone.
  FrameStream(AviInput& input, std::size_t count, int threads, Take take, Prepare prepare, Make make)
      : input_(input), count_(count), take_(std::move(take)), prepare_(std::move(prepare)), make_(std::move(make)) {
    const std::size_t frames = count;
    workers_ = threads > 1 ? static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads), frames)) : 0;
    if (workers_ == 1) workers_ = 0;
  }
  ~FrameStream() { pipeline_.reset(); }  // stops the workers before the slots go
  FrameStream(const FrameStream&) = delete;
  FrameStream& operator=(const FrameStream&) = delete;

  // Sets what make does, before the first next().
  void set_make(Make make) { make_ = std::move(make); }

  // The workers' scratch spaces and one for the calling thread.
  int tools() const { return std::max(workers_, 1) + 1; }

  // The product of the next frame, valid until the following call; nullptr
  // after printing why it cannot be had. The buffers and decoders are taken
  // at the first call, so that a header's claims cost nothing without
  // frames to back them.
  Product* next() {
    if (!pipeline_ && !set_up()) return nullptr;
    if (held_) pipeline_->release();
    held_ = false;
    const std::size_t i = position_;
    Slot& slot = pipeline_->next();
    if (!pipeline_->read_ok()) {
      error("%s", slot.why.c_str());
      return nullptr;
    }
    held_ = true;
    if (input_.null_frame(i)) {
      FrameView view;
      slot.ok = input_.decode(i, {}, keeper_, view, slot.why) && make_(i, view, slot.product, tools() - 1, slot.why);
    } else if (slot.ok && i + 1 < count_ && input_.null_frame(i + 1)) {
      FrameView view;
      std::string why;
      input_.decode(i, slot.chunk, keeper_, view, why);  // decoded once already
    }
    if (!slot.ok) {
      error("%s", slot.why.c_str());
      return nullptr;
    }
    ++position_;
    return &slot.product;
  }

  // The number of the frame that next() gives, counted from 0.
  std::size_t position() const { return position_; }

 private:
  struct Slot {
    std::vector<std::uint8_t> chunk;  // the frame as stored
    std::size_t index = 0;
    bool ok = false;  // decoded and made
    std::string why;  // otherwise
    Product product;
  };

  // Two slots and one decoder a worker; beyond the first, what memory does
  // not allow only lowers the thread count.
  bool set_up() {
    const std::size_t wanted = workers_ > 0 ? std::min<std::size_t>(2 * static_cast<std::size_t>(workers_), count_) : 1;
    std::vector<Slot> slots(wanted);
    std::size_t taken = 0;
    for (; taken < wanted; ++taken) {
      try {
        slots[taken].chunk.resize(input_.largest_frame());
      } catch (const std::bad_alloc&) {
        if (taken > 0) break;
        return error("%s: not enough memory for frames of %zu bytes", input_.name().c_str(), input_.largest_frame());
      }
    }
    slots.resize(taken);
    slots_ = std::move(slots);
    const int decoders = std::min(std::max(workers_, 1), static_cast<int>(taken));
    for (int w = 0; w < decoders; ++w) {
      auto decoder = std::make_unique<FrameDecoder>();
      if (!input_.begin_decoder(*decoder)) return false;
      decoders_.push_back(std::move(decoder));
    }
    workers_ = decoders > 1 ? decoders : 0;
    for (std::size_t k = 0; k < count_; ++k) {
      if (input_.null_frame(k)) {
        if (!input_.begin_decoder(keeper_)) return false;
        break;
      }
    }
    for (Slot& slot : slots_) {
      if (!take_(slot.product)) return false;
    }
    pipeline_ = std::make_unique<FramePipeline<Slot>>(
        slots_, workers_, count_, [this](std::size_t i, Slot& slot) { return read(i, slot); },
        [this](int worker, Slot& slot) { work(worker, slot); });
    return true;
  }

  bool read(std::size_t i, Slot& slot) {
    slot.index = i;
    slot.ok = false;
    if (!input_.read_stored(i, slot.chunk, slot.why)) return false;
    if (prepare_) prepare_(i, slot.product);
    return true;
  }

  void work(int worker, Slot& slot) {
    if (input_.null_frame(slot.index)) return;  // made by the calling thread
    FrameView view;
    slot.ok = input_.decode(slot.index, slot.chunk, *decoders_[static_cast<std::size_t>(worker)], view, slot.why) &&
              make_(slot.index, view, slot.product, worker, slot.why);
  }

  AviInput& input_;
  const std::size_t count_;
  Take take_;
  Prepare prepare_;
  Make make_;
  int workers_ = 0;
  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<FrameDecoder>> decoders_;
  FrameDecoder keeper_;  // the picture a null frame repeats
  std::unique_ptr<FramePipeline<Slot>> pipeline_;
  bool held_ = false;  // the caller has the slot of the frame before
  std::size_t position_ = 0;
};

}  // namespace crvtdec
