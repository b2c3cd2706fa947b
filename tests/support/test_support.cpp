#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {

// Starts argv with its standard input read from `in` and its output and
// error written to "out" and "err" in `dir`; -1 if it cannot start.
int spawn(const std::vector<std::string>& argv, const std::filesystem::path& in, const std::filesystem::path& dir) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

std::string text(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Waits until `pid` stops or ends; true, with `pid` set to -1, once it has ended.
bool reap(int& pid, int& status) {
  pid_t r = 0;
  while (pid > 0 && (r = waitpid(pid, &status, WUNTRACED)) < 0 && errno == EINTR) continue;
  if (pid > 0 && (r != pid || WIFSTOPPED(status))) return false;
  pid = -1;
  return true;
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, const std::string& input) {
  TempDir dir;
  write_file(dir / "in", std::vector<std::uint8_t>(input.begin(), input.end()));
  const int pid = spawn(argv, dir / "in", dir.path());
  if (pid < 0) return {-1, "", "cannot start " + argv[0]};
  int status = 0;
  struct rusage usage {
  }, self{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) continue;
  // The kernel carries our own peak into the child's across exec: a peak no
  // higher than ours says nothing of the child's (0: unknown).
  getrusage(RUSAGE_SELF, &self);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), text(dir / "out"), text(dir / "err"),
          usage.ru_maxrss > self.ru_maxrss ? usage.ru_maxrss : 0};
}

TempDir::TempDir() {
  std::string name = (std::filesystem::temp_directory_path() / "quelmux-test-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
  path_ = name;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

SmallFileSystem::SmallFileSystem(std::size_t bytes)
    : mounted_(run({"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(bytes), "tmpfs", dir_.path().string()})
                   .exit_code == 0) {}

SmallFileSystem::~SmallFileSystem() {
  if (mounted_) run({"umount", dir_.path().string()});
}

bool SmallFileSystem::leave_free(std::uint64_t free) {
  const auto available = [&] { return std::filesystem::space(dir_.path()).available; };
  if (available() < free) return false;
  write_file(dir_ / "filler", std::vector<std::uint8_t>(available() - free));
  return available() == free;
}

Started::Started(const std::vector<std::string>& argv) : pid_(spawn(argv, "/dev/null", dir_.path())) {
  EXPECT_GT(pid_, 0) << "cannot start " << argv[0];
  signal(SIGSTOP);
  reap(pid_, status_);
}

Started::~Started() {
  signal(SIGKILL);
  finish();
}

bool Started::run_until(const std::function<bool()>& done) {
  for (int i = 0; i < 60000; ++i) {
    if (done()) return true;
    if (pid_ < 0) return false;
    signal(SIGCONT);
    const timespec slice{0, 1000000};
    nanosleep(&slice, nullptr);
    signal(SIGSTOP);
    reap(pid_, status_);  // until it has stopped, or ended
  }
  return false;
}

void Started::signal(int number) const {
  if (pid_ > 0) kill(pid_, number);
}

std::string Started::out() const { return text(dir_ / "out"); }

RunResult Started::finish() {
  signal(SIGCONT);
  while (!reap(pid_, status_)) signal(SIGCONT);
  return {WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_), out(), text(dir_ / "err")};
}

std::vector<std::uint8_t> read_file(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path.string());
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path.string());
}

bool need_program(const std::string& name) {
  if (run({"sh", "-c", "command -v " + name}).exit_code == 0) return true;
  if (const char* require = std::getenv("QUELMUX_REQUIRE_TOOLS"); require != nullptr && std::string(require) == "1")
    ADD_FAILURE() << name << " is required (QUELMUX_REQUIRE_TOOLS=1) but not installed";
  return false;
}

std::vector<std::vector<std::uint8_t>> decode_rgb(const std::string& file, const std::string& demuxer, int width) {
  TempDir out;
  std::vector<std::string> argv{"gst-launch-1.0", "-q", "filesrc", "location=" + file, "!", demuxer};
  if (width != 0) argv.insert(argv.end(), {"!", "videoconvert", "!", "video/x-raw,format=RGB"});
  argv.insert(argv.end(), {"!", "multifilesink", "location=" + (out / "f%05d.bin").string()});
  const RunResult r = run(argv);
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  // Rows of GStreamer's pictures are filled to 4 bytes.
  const std::size_t row = 3 * static_cast<std::size_t>(width), stride = (row + 3) & ~std::size_t{3};
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 0;; ++i) {
    const std::string name = std::to_string(100000 + i).substr(1);
    if (!std::filesystem::exists(out / ("f" + name + ".bin"))) return frames;
    std::vector<std::uint8_t> p = read_file(out / ("f" + name + ".bin")), packed;
    for (std::size_t at = 0; width != 0 && at + row <= p.size(); at += stride)
      packed.insert(packed.end(), p.begin() + static_cast<std::ptrdiff_t>(at),
                    p.begin() + static_cast<std::ptrdiff_t>(at + row));
    frames.push_back(width != 0 ? packed : p);
  }
}

std::vector<std::uint8_t> flip_rows(const std::vector<std::uint8_t>& picture, std::size_t row) {
  std::vector<std::uint8_t> out;
  for (std::size_t at = row == 0 ? 0 : picture.size() / row * row; at >= row && row != 0; at -= row)
    out.insert(out.end(), picture.begin() + static_cast<std::ptrdiff_t>(at - row),
               picture.begin() + static_cast<std::ptrdiff_t>(at));
  return out;
}

std::vector<std::uint8_t> avi_frame(const movgen::FrameSource& source, std::uint32_t index, std::size_t row_bytes) {
  std::vector<std::uint8_t> rgb(source.frame_size());
  const std::size_t stride = row_bytes != 0 ? row_bytes : 3 * static_cast<std::size_t>(source.width());
  std::vector<std::uint8_t> out(stride * static_cast<std::size_t>(source.height()));
  source.render(index, rgb);
  movgen::to_avi(source.width(), source.height(), rgb, out, row_bytes);
  return out;
}

}  // namespace testsupport
