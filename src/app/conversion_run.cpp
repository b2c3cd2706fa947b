#include "app/conversion_run.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>

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

class ConversionRun {
 public:
  ConversionRun(const CommandLine& line, const MovieHeader& movie, std::ifstream& stream)
      : line_(line),
        info_(movie.info),
        frame_offsets_(movie.frame_offsets),
        total_frames_(movie.total_frames),
        movie_(stream),
        raw_(std::memcmp(movie.info.data_format, "raw ", 4) == 0),
        packed_stride_(std::size_t(movie.info.width) * 3),
        out_stride_(line.uncompressed ? bitmap_stride(movie.info.width) : packed_stride_),
        out_size_(out_stride_ * movie.info.height),
        converts_(raw_ || movie.info.row_bytes != out_stride_) {}

  int run();

 private:
  bool output_is_not_input() const;
  bool output_is_not_a_movie() const;
  bool fits_the_file() const;
  bool take_buffers();
  bool begin_codec();
  bool read_frame(int i);
  AviStatus write_frame();
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

  Buffer frame_;
  Buffer work_;
  CodecInst codec_;
  ICCOMPRESS record_{};
  AviWriter writer_;
};

int ConversionRun::run() {
  if (!output_is_not_input() || !output_is_not_a_movie() || !fits_the_file()) return 1;
  // A header alone can claim frames of any size: nothing is taken for them
  // before the file is known to hold the first.
  if (!frame_offsets_.empty() && (!take_buffers() || !begin_codec())) return 1;
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
  for (int i = 0; i < total_frames_; ++i) {
    if (stop.requested()) {
      progress.clear();
      std::printf("Interrupted by %s: %d of %d frames written\n", StopSignals::name(stop.signal_number()), i,
                  total_frames_);
      return finish(stop.exit_status());
    }
    if (!read_frame(i)) {
      progress.clear();
      std::printf("Frame %d could not be read\n", i);
      return finish(1);
    }
    // A refused frame leaves a file that can still be completed with the
    // frames before it; after a failed write flush() fails too.
    if (const AviStatus written = write_frame(); !written) {
      progress.clear();
      print(written);
      return finish(1);
    }
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
  if (!line_.uncompressed || AviWriter::can_hold(std::uint64_t(total_frames_), out_size_)) return true;
  std::printf(
      "Output file %s cannot hold %d frames of %llu bytes: an AVI file holds at most %llu parts of "
      "%llu bytes\n",
      line_.output, total_frames_, static_cast<unsigned long long>(out_size_),
      static_cast<unsigned long long>(AviWriter::kMaxParts),
      static_cast<unsigned long long>(AviWriter::kDefaultPartLimit));
  return false;
}

// The frame buffer takes every frame as read. In the uncompressed mode
// frames that need converting go into the work buffer. In the compressed
// mode the codec reads one of the two buffers and writes the other, so both
// must also hold the largest frame it can produce.
bool ConversionRun::take_buffers() {
  const std::size_t stored = info_.frame_bytes;
  bool ok = false;
  if (line_.uncompressed) {
    ok = frame_.take(stored + kWriterSlack) && (!converts_ || work_.take(out_size_ + kWriterSlack));
  } else {
    const std::size_t largest = max_frame_size(info_.width, info_.height, 24);
    if (largest == 0) {
      std::printf("Frames of %d x %d pixels are too large for the codec\n", info_.width, info_.height);
      return false;
    }
    ok = frame_.take(std::max(stored, largest) + kWriterSlack) &&
         work_.take(std::max(packed_stride_ * info_.height, largest) + kWriterSlack);
  }
  if (!ok) std::printf("Not enough memory for frames of %d x %d pixels\n", info_.width, info_.height);
  return ok;
}

// Only the compressed mode uses the codec.
bool ConversionRun::begin_codec() {
  if (line_.uncompressed) return true;
  const int result = codec_.CompressBegin(info_.width, info_.height, 24);
  if (result == ICERR_OK) return true;
  if (result == ICERR_MEMORY) {
    std::printf("Not enough memory for the codec\n");
  } else {
    std::printf("Frames of %d x %d pixels are too large for the codec\n", info_.width, info_.height);
  }
  return false;
}

// Frames past those the file holds are not read at all.
bool ConversionRun::read_frame(int i) {
  const auto k = static_cast<std::size_t>(i);
  if (k >= frame_offsets_.size()) return false;
  const auto size = static_cast<std::streamsize>(info_.frame_bytes);
  movie_.clear();
  movie_.seekg(static_cast<std::streamoff>(frame_offsets_[k]));
  movie_.read(reinterpret_cast<char*>(frame_.get()), size);
  return movie_.gcount() == size;
}

// Frames to convert go into the work buffer. A bitmap whose rows already
// have the output's length stays where it was read, its fill zeroed.
AviStatus ConversionRun::write_frame() {
  unsigned char* input = frame_.get();
  unsigned char* output = converts_ ? work_.get() : frame_.get();
  frame_to_bitmap(input, info_.row_bytes, output, out_stride_, info_.width, info_.height, raw_);
  if (line_.uncompressed) return writer_.write_frame(output, static_cast<int>(out_size_), AVIIF_KEYFRAME);
  // The codec reads the bitmap and writes into the other buffer.
  input = output;
  output = input == frame_.get() ? work_.get() : frame_.get();
  record_.dwFlags = 0;
  record_.dwCompressedSize = static_cast<std::uint32_t>(out_size_);
  record_.lpOutput = output;
  record_.lpInput = input;
  codec_.CompressContinue(&record_, 0);
  // A length past INT_MAX turns negative here, and the writer refuses it.
  return writer_.write_frame(output, static_cast<int>(record_.dwCompressedSize), static_cast<int>(record_.dwFlags));
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

int run_conversion(const CommandLine& line, const MovieHeader& movie, std::ifstream& stream) {
  return ConversionRun(line, movie, stream).run();
}
