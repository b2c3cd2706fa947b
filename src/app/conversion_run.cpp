#include "app/conversion_run.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <utility>

#include "app/pixel_convert.h"
#include "app/progress.h"
#include "app/stop_signals.h"
#include "avi/avi_writer.h"
#include "codec/codec_inst.h"
#include "mov/movie_signature.h"
#include "mov/sample_tables.h"

namespace {

// The AVI writer zeroes up to 3 bytes behind each frame it is given.
constexpr std::size_t kWriterSlack = 1024;

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
  ConversionRun(const CommandLine& line, const mov_info& info, std::ifstream& movie)
      : line_(line), info_(info), movie_(movie),
        raw_(std::memcmp(info.data_format, "raw ", 4) == 0),
        frame_size_(std::size_t(info.width) * std::size_t(info.height) * 3) {}

  int run();

 private:
  bool output_is_not_input() const;
  bool output_is_not_a_movie() const;
  bool fits_the_file() const;
  bool take_buffers();
  bool begin_codec();
  bool read_frame(int i);
  bool write_frame(int i);
  int finish(int status);

  const CommandLine& line_;
  const mov_info& info_;
  std::ifstream& movie_;
  const bool raw_;
  const std::size_t frame_size_;

  Buffer frame_;
  Buffer work_;
  CodecInst codec_;
  ICCOMPRESS record_{};
  AviWriter writer_;
};

int ConversionRun::run() {
  if (!output_is_not_input() || !output_is_not_a_movie() || !fits_the_file() || !take_buffers() ||
      !begin_codec()) {
    return 1;
  }
  // From here a signal only asks for a stop: the file is completed with the
  // frames written so far, and a second signal is ignored meanwhile.
  const StopSignals stop;
  if (!writer_.init(line_.output, info_.width, info_.height, info_.time_scale, info_.sample_duration,
                    line_.uncompressed ? 0 : 1)) {
    return 1;
  }
  std::printf("Writing %s, this may take a while...\n", line_.output);
  std::fflush(stdout);

  Progress progress(total_frames);
  for (int i = 0; i < total_frames; ++i) {
    if (stop.requested()) {
      progress.clear();
      std::printf("Interrupted by %s: %d of %d frames written\n", StopSignals::name(stop.signal_number()), i,
                  total_frames);
      return finish(stop.exit_status());
    }
    if (!read_frame(i)) {
      progress.clear();
      std::printf("Frame %d could not be read\n", i);
      return finish(1);
    }
    // The writer has said why. A refused frame leaves a file that can still
    // be completed with the frames before it; after a failed write flush()
    // fails too.
    if (!write_frame(i)) return finish(1);
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
  if (!line_.uncompressed || AviWriter::can_hold(std::uint64_t(total_frames), frame_size_)) return true;
  std::printf("Output file %s cannot hold %d frames of %llu bytes: an AVI file holds at most %llu parts of "
              "%llu bytes\n",
              line_.output, total_frames, static_cast<unsigned long long>(frame_size_),
              static_cast<unsigned long long>(AviWriter::kMaxParts),
              static_cast<unsigned long long>(AviWriter::kDefaultPartLimit));
  return false;
}

// The frame buffer takes every frame as read. In the uncompressed mode
// "raw " frames are converted into the work buffer. In the compressed mode
// the codec reads one of the two buffers and writes the other, so both must
// also hold the largest frame it can produce.
bool ConversionRun::take_buffers() {
  std::size_t room = frame_size_;
  if (!line_.uncompressed) {
    const std::size_t largest = max_frame_size(info_.width, info_.height, 24);
    if (largest == 0) {
      std::printf("Frames of %d x %d pixels are too large for the codec\n", info_.width, info_.height);
      return false;
    }
    if (largest > room) room = largest;
  }
  bool ok = frame_.take(room + kWriterSlack);
  if (ok && (raw_ || !line_.uncompressed)) ok = work_.take(room + kWriterSlack);
  if (!ok) std::printf("Not enough memory for frames of %d x %d pixels\n", info_.width, info_.height);
  return ok;
}

// The codec is begun in both modes, though the uncompressed one never uses it.
bool ConversionRun::begin_codec() {
  const int result = codec_.CompressBegin(info_.width, info_.height, 24);
  if (result == ICERR_OK) return true;
  if (result == ICERR_MEMORY) {
    std::printf("Not enough memory for the codec\n");
  } else {
    std::printf("Frames of %d x %d pixels are too large for the codec\n", info_.width, info_.height);
  }
  return false;
}

bool ConversionRun::read_frame(int i) {
  movie_.clear();
  movie_.seekg(static_cast<std::streamoff>(frame_offsets[static_cast<std::size_t>(i)]));
  movie_.read(reinterpret_cast<char*>(frame_.get()), static_cast<std::streamsize>(frame_size_));
  return movie_.gcount() == static_cast<std::streamsize>(frame_size_);
}

bool ConversionRun::write_frame(int) {
  if (line_.uncompressed) {
    unsigned char* data = frame_.get();
    if (raw_) {
      raw_to_BGR(frame_.get(), work_.get(), info_.width, info_.height);
      data = work_.get();
    }
    return writer_.write_frame(data, static_cast<int>(frame_size_), AviWriter::kKeyFrame) != 0;
  }
  // "raw " frames are converted into the work buffer and coded into the frame
  // buffer; "WRLE" frames are coded as they stand into the work buffer.
  unsigned char* input = frame_.get();
  unsigned char* output = work_.get();
  if (raw_) {
    raw_to_BGR(frame_.get(), work_.get(), info_.width, info_.height);
    std::swap(input, output);
  }
  record_.dwFlags = 0;
  record_.dwCompressedSize = static_cast<std::uint32_t>(frame_size_);
  record_.lpOutput = output;
  record_.lpInput = input;
  codec_.CompressContinue(&record_, 0);
  // A length past INT_MAX turns negative here, and the writer refuses it.
  return writer_.write_frame(output, static_cast<int>(record_.dwCompressedSize),
                             static_cast<int>(record_.dwFlags)) != 0;
}

// Completes the file with the frames written so far; `status` is the exit
// status the run ends with once the file is complete.
int ConversionRun::finish(int status) {
  if (!writer_.flush()) return 1;
  std::printf("Finished writing file %s\n", line_.output);
  return status;
}

}  // namespace

int run_conversion(const CommandLine& line, const mov_info& info, std::ifstream& movie) {
  return ConversionRun(line, info, movie).run();
}
