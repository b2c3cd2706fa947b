#include "app/conversion_run.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

#include "app/frame_pipeline.h"
#include "app/pixel_convert.h"
#include "app/progress.h"
#include "app/stop_signals.h"
#include "avi/avi_writer.h"
#include "codec/codec_inst.h"
#include "mov/movie_signature.h"

namespace {

// The AVI writer zeroes up to 3 bytes behind each frame it is given.
constexpr std::size_t kWriterSlack = 1024;

// Prints the writer's message; a failure it reported before has none.
void print(const AviStatus& status) {
  if (!status.message.empty()) std::puts(status.message.c_str());
}

struct Buffer {
  std::unique_ptr<unsigned char[]> bytes;
  std::size_t size = 0;

  bool take(std::size_t n) {
    bytes.reset(new (std::nothrow) unsigned char[n]);
    size = bytes ? n : 0;
    return bytes != nullptr;
  }
  unsigned char* get() const { return bytes.get(); }
};

// A frame in flight: read into `frame`, converted and coded between the two
// buffers, the result left at `out`.
struct Slot {
  Buffer frame;
  Buffer work;
  unsigned char* out = nullptr;
  int size = 0;
  int flags = 0;
};

class ConversionRun {
 public:
  ConversionRun(const CommandLine& line, const MovieHeader& movie, std::ifstream& stream, std::uint64_t part_limit)
      : line_(line),
        info_(movie.info),
        frame_offsets_(movie.frame_offsets),
        total_frames_(movie.total_frames),
        movie_(stream),
        raw_(std::memcmp(movie.info.data_format, "raw ", 4) == 0),
        packed_stride_(std::size_t(movie.info.width) * 3),
        out_stride_(line.uncompressed ? bitmap_stride(movie.info.width) : packed_stride_),
        out_size_(out_stride_ * movie.info.height),
        converts_(raw_ || movie.info.row_bytes != out_stride_),
        writer_(part_limit) {}

  int run();

 private:
  bool output_is_not_input() const;
  bool output_is_not_a_movie() const;
  bool fits_the_file() const;
  int workers() const;
  bool take_buffers(Slot& slot);
  bool take_slots(int workers);
  bool begin_codec(CodecInst& codec);
  bool begin_codecs(int workers);
  bool read_frame(std::size_t i, Slot& slot);
  void code_frame(int worker, Slot& slot);
  int finish(int status);

  const CommandLine& line_;
  const mov_info& info_;
  const std::vector<std::int64_t>& frame_offsets_;
  const int total_frames_;
  std::ifstream& movie_;
  const bool raw_;
  // Frames are read as stored (info_.row_bytes a row) and handed on with
  // rows of out_stride_: packed for the codec, filled to 4 bytes as
  // uncompressed AVI frames have them.
  const std::size_t packed_stride_;
  const std::size_t out_stride_;
  const std::size_t out_size_;
  const bool converts_;  // into the work buffer; else used where it was read

  // Two slots a worker, so that each has the next frame at hand; one slot
  // and one codec, and no worker thread, for a single thread.
  std::vector<Slot> slots_;
  std::vector<std::unique_ptr<CodecInst>> codecs_;
  AviWriter writer_;
};

int ConversionRun::run() {
  if (!output_is_not_input() || !output_is_not_a_movie() || !fits_the_file()) return 1;
  // A header alone can claim frames of any size: nothing is taken for them
  // before the file is known to hold the first.
  int workers = this->workers();
  if (!frame_offsets_.empty() && (!take_slots(workers) || !begin_codecs(workers))) return 1;
  // Memory for fewer threads than asked for gives fewer threads.
  workers = std::min(workers, static_cast<int>(slots_.size()));
  if (!line_.uncompressed) workers = std::min(workers, static_cast<int>(codecs_.size()));
  // From here a signal only asks for a stop: the file is completed with the
  // frames written so far, and a second signal is ignored meanwhile.
  const StopSignals stop;
  if (const AviStatus begun = writer_.init(line_.output, info_.width, info_.height, info_.time_scale,
                                           info_.sample_duration, line_.uncompressed ? 0 : 1);
      !begun) {
    print(begun);
    return 1;
  }
  std::printf("Writing %s, this may take a while...\n", line_.output);
  std::fflush(stdout);

  Progress progress(total_frames_);
  // The frames are read in order, coded side by side and written in order,
  // so the file is the one a single thread writes.
  FramePipeline<Slot> pipeline(
      slots_, workers > 1 ? workers : 0, static_cast<std::size_t>(total_frames_),
      [this](std::size_t i, Slot& slot) { return read_frame(i, slot); },
      [this](int worker, Slot& slot) { code_frame(worker, slot); });
  for (int i = 0; i < total_frames_; ++i) {
    if (stop.requested()) {
      progress.clear();
      std::printf("Interrupted by %s: %d of %d frames written\n", StopSignals::name(stop.signal_number()), i,
                  total_frames_);
      return finish(stop.exit_status());
    }
    // Without frames in the file no slot was taken.
    Slot* slot = slots_.empty() ? nullptr : &pipeline.next();
    if (slot == nullptr || !pipeline.read_ok()) {
      progress.clear();
      std::printf("Frame %d could not be read\n", i);
      return finish(1);
    }
    // A refused frame leaves a file that can still be completed with the
    // frames before it; after a failed write flush() fails too.
    if (const AviStatus written = writer_.write_frame(slot->out, slot->size, slot->flags); !written) {
      progress.clear();
      print(written);
      return finish(1);
    }
    pipeline.release();
    progress.update(i + 1);
  }
  progress.clear();
  return finish(0);
}

// Creating the output truncates it; were it the movie itself, the frames
// would then be read from the new file's own bytes.
bool ConversionRun::output_is_not_input() const {
  std::error_code error;
  if (!std::filesystem::equivalent(line_.input, line_.output, error)) return true;
  std::printf("Output file %s is the input movie\n", line_.output);
  return false;
}

// `quelmux *.mov` in a folder of movies names a movie as the output.
bool ConversionRun::output_is_not_a_movie() const {
  if (!is_movie_file(line_.output)) return true;
  std::printf("Output file %s is a QuickTime movie: quelmux does not write over it\n", line_.output);
  return false;
}

// Every frame of an uncompressed file has the same length, so a movie that
// no AVI file can hold is refused before anything is written.
bool ConversionRun::fits_the_file() const {
  if (!line_.uncompressed || AviWriter::can_hold(std::uint64_t(total_frames_), out_size_, writer_.part_limit())) {
    return true;
  }
  std::printf(
      "Output file %s cannot hold %d frames of %llu bytes: an AVI file holds at most %llu parts of "
      "%llu bytes\n",
      line_.output, total_frames_, static_cast<unsigned long long>(out_size_),
      static_cast<unsigned long long>(AviWriter::kMaxParts), static_cast<unsigned long long>(writer_.part_limit()));
  return false;
}

// One thread a frame at most, of the frames the file holds (a header can
// claim more), and one without worker threads for -j 1.
int ConversionRun::workers() const {
  const int asked = line_.threads > 0 ? line_.threads : available_cpus();
  return static_cast<int>(std::clamp<std::size_t>(frame_offsets_.size(), 1, static_cast<std::size_t>(asked)));
}

// The frame buffer takes every frame as read. In the uncompressed mode
// frames that need converting go into the work buffer. In the compressed
// mode the codec reads one of the two buffers and writes the other, so both
// must also hold the largest frame it can produce.
bool ConversionRun::take_buffers(Slot& slot) {
  const std::size_t stored = info_.frame_bytes;
  if (line_.uncompressed) {
    return slot.frame.take(stored + kWriterSlack) && (!converts_ || slot.work.take(out_size_ + kWriterSlack));
  }
  const std::size_t largest = max_frame_size(info_.width, info_.height, 24);
  return slot.frame.take(std::max(stored, largest) + kWriterSlack) &&
         slot.work.take(std::max(packed_stride_ * info_.height, largest) + kWriterSlack);
}

// Two slots a worker; the first one must be had, the others are given up
// when memory runs out.
bool ConversionRun::take_slots(int workers) {
  if (!line_.uncompressed && max_frame_size(info_.width, info_.height, 24) == 0) {
    std::printf("Frames of %d x %d pixels are too large for the codec\n", info_.width, info_.height);
    return false;
  }
  const std::size_t wanted = workers > 1 ? std::min(2 * std::size_t(workers), frame_offsets_.size()) : 1;
  slots_ = std::vector<Slot>(wanted);
  for (std::size_t k = 0; k < wanted; ++k) {
    if (take_buffers(slots_[k])) continue;
    if (k == 0) {
      std::printf("Not enough memory for frames of %d x %d pixels\n", info_.width, info_.height);
      return false;
    }
    slots_.resize(k);
    break;
  }
  return true;
}

// Only the compressed mode uses the codec.
bool ConversionRun::begin_codec(CodecInst& codec) {
  const int result = codec.CompressBegin(info_.width, info_.height, 24);
  if (result == ICERR_OK) return true;
  if (result == ICERR_MEMORY) {
    std::printf("Not enough memory for the codec\n");
  } else {
    std::printf("Frames of %d x %d pixels are too large for the codec\n", info_.width, info_.height);
  }
  return false;
}

// One codec a worker; as with the slots, only the first must be had.
bool ConversionRun::begin_codecs(int workers) {
  if (line_.uncompressed) return true;
  for (int w = 0; w < workers; ++w) {
    auto codec = std::make_unique<CodecInst>();
    if (w == 0 ? !begin_codec(*codec) : codec->CompressBegin(info_.width, info_.height, 24) != ICERR_OK) return w > 0;
    codecs_.push_back(std::move(codec));
  }
  return true;
}

// Frames past those the file holds are not read at all. Calls come one at a
// time, in frame order.
bool ConversionRun::read_frame(std::size_t i, Slot& slot) {
  if (i >= frame_offsets_.size()) return false;
  const auto size = static_cast<std::streamsize>(info_.frame_bytes);
  movie_.clear();
  movie_.seekg(static_cast<std::streamoff>(frame_offsets_[i]));
  movie_.read(reinterpret_cast<char*>(slot.frame.get()), size);
  return movie_.gcount() == size;
}

// Frames to convert go into the work buffer. A bitmap whose rows already
// have the output's length stays where it was read, its fill zeroed. Each
// frame is coded by itself, so any worker's codec gives the same bytes.
void ConversionRun::code_frame(int worker, Slot& slot) {
  unsigned char* input = slot.frame.get();
  unsigned char* output = converts_ ? slot.work.get() : slot.frame.get();
  frame_to_bitmap(input, info_.row_bytes, output, out_stride_, info_.width, info_.height, raw_);
  if (line_.uncompressed) {
    slot.out = output;
    slot.size = static_cast<int>(out_size_);
    slot.flags = AVIIF_KEYFRAME;
    return;
  }
  // The codec reads the bitmap and writes into the other buffer.
  input = output;
  output = input == slot.frame.get() ? slot.work.get() : slot.frame.get();
  ICCOMPRESS record{};
  record.dwCompressedSize = static_cast<std::uint32_t>(out_size_);
  record.lpOutput = output;
  record.lpInput = input;
  codecs_[static_cast<std::size_t>(worker)]->CompressContinue(&record, 0);
  slot.out = output;
  // A length past INT_MAX turns negative here, and the writer refuses it.
  slot.size = static_cast<int>(record.dwCompressedSize);
  slot.flags = static_cast<int>(record.dwFlags);
}

// Completes the file with the frames written so far; `status` is the exit
// status the run ends with once the file is complete.
int ConversionRun::finish(int status) {
  if (const AviStatus flushed = writer_.flush(); !flushed) {
    print(flushed);
    return 1;
  }
  std::printf("Finished writing file %s\n", line_.output);
  return status;
}

}  // namespace

int run_conversion(const CommandLine& line, const MovieHeader& movie, std::ifstream& stream, std::uint64_t part_limit) {
  return ConversionRun(line, movie, stream, part_limit).run();
}

int run_conversion(const CommandLine& line, const MovieHeader& movie, std::ifstream& stream) {
  return run_conversion(line, movie, stream, AviWriter::kDefaultPartLimit);
}
