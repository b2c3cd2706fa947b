#include "test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

extern char** environ;

namespace testsupport {

namespace {

struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (pipe(fd) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  }
  ~Pipe() {
    close_end(0);
    close_end(1);
  }
  void close_end(int i) {
    if (fd[i] >= 0) close(fd[i]);
    fd[i] = -1;
  }
};

}  // namespace

RunResult run(const std::vector<std::string>& argv, const std::string& input) {
  Pipe in;
  Pipe out;
  Pipe err;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.fd[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
  for (Pipe* p : {&in, &out, &err}) {
    posix_spawn_file_actions_addclose(&actions, p->fd[0]);
    posix_spawn_file_actions_addclose(&actions, p->fd[1]);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  RunResult result;
  if (rc != 0) {
    result.err = "cannot start " + argv[0];
    return result;
  }
  in.close_end(0);
  out.close_end(1);
  err.close_end(1);

  // Feed the input and drain both outputs together so that no pipe fills up.
  std::size_t fed = 0;
  if (input.empty()) in.close_end(1);
  std::array<char, 65536> buf{};
  while (out.fd[0] >= 0 || err.fd[0] >= 0) {
    std::vector<pollfd> fds;
    if (out.fd[0] >= 0) fds.push_back({out.fd[0], POLLIN, 0});
    if (err.fd[0] >= 0) fds.push_back({err.fd[0], POLLIN, 0});
    if (in.fd[1] >= 0) fds.push_back({in.fd[1], POLLOUT, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (const auto& p : fds) {
      if (p.revents == 0) continue;
      if (p.fd == in.fd[1]) {
        const ssize_t n = write(p.fd, input.data() + fed, input.size() - fed);
        if (n > 0) fed += static_cast<std::size_t>(n);
        if (n < 0 || fed == input.size()) in.close_end(1);
        continue;
      }
      const ssize_t n = read(p.fd, buf.data(), buf.size());
      if (n <= 0) {
        if (p.fd == out.fd[0])
          out.close_end(0);
        else
          err.close_end(0);
        continue;
      }
      (p.fd == out.fd[0] ? result.out : result.err).append(buf.data(), static_cast<std::size_t>(n));
    }
  }
  in.close_end(1);
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.max_rss_kb = usage.ru_maxrss;
  if (WIFEXITED(status))
    result.exit_code = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    result.exit_code = 128 + WTERMSIG(status);
  return result;
}

TempDir::TempDir() {
  std::random_device rd;
  const auto base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto candidate = base / ("quelmux-test-" + std::to_string(rd()));
    if (std::filesystem::create_directory(candidate)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

SmallFileSystem::SmallFileSystem(std::size_t bytes) {
  const auto r = run({"mount", "-t", "tmpfs", "-o", "size=" + std::to_string(bytes), "tmpfs", dir_.path().string()});
  mounted_ = r.exit_code == 0;
}

SmallFileSystem::~SmallFileSystem() {
  if (mounted_) run({"umount", dir_.path().string()});
}

std::uint64_t SmallFileSystem::available() const {
  struct statvfs s {};
  if (statvfs(dir_.path().c_str(), &s) != 0) return 0;
  return std::uint64_t{s.f_bavail} * s.f_frsize;
}

bool SmallFileSystem::leave_free(std::uint64_t free) {
  const std::uint64_t avail = available();
  if (avail < free) return false;
  std::ofstream filler(dir_ / "filler", std::ios::binary);
  const std::string block(static_cast<std::size_t>(avail - free), '\0');
  filler.write(block.data(), static_cast<std::streamsize>(block.size()));
  filler.close();
  return filler.good() && available() == free;
}

Started::Started(const std::vector<std::string>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, (dir_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, (dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
    pid_ = pid;
    signal(SIGSTOP);
    reap(0);
  }
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_GT(pid_, 0) << "cannot start " << argv[0];
}

Started::~Started() {
  signal(SIGKILL);
  finish();
}

bool Started::reap(int options) {
  if (pid_ < 0) return true;
  int status = 0;
  pid_t r = 0;
  while ((r = waitpid(pid_, &status, options | WUNTRACED)) < 0 && errno == EINTR) {
  }
  if (r != pid_ || WIFSTOPPED(status)) return false;
  status_ = status;
  pid_ = -1;
  return true;
}

bool Started::run_until(const std::function<bool()>& done) {
  for (int i = 0; i < 60000; ++i) {
    if (done()) return true;
    if (pid_ < 0) return false;
    signal(SIGCONT);
    const timespec slice{0, 1000000};
    nanosleep(&slice, nullptr);
    signal(SIGSTOP);
    reap(0);  // until it has stopped, or ended
  }
  return false;
}

void Started::signal(int number) const {
  if (pid_ > 0) kill(pid_, number);
}

std::string Started::out() const {
  std::ifstream f(dir_ / "out", std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

RunResult Started::finish() {
  signal(SIGCONT);
  while (!reap(0)) signal(SIGCONT);
  RunResult result;
  if (WIFEXITED(status_))
    result.exit_code = WEXITSTATUS(status_);
  else if (WIFSIGNALED(status_))
    result.exit_code = -WTERMSIG(status_);
  result.out = out();
  std::ifstream f(dir_ / "err", std::ios::binary);
  result.err.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return result;
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
  const char* path = std::getenv("PATH");
  for (std::string dirs = path != nullptr ? path : ""; !dirs.empty();) {
    const std::size_t end = std::min(dirs.find(':'), dirs.size());
    if (end != 0 && access((dirs.substr(0, end) + "/" + name).c_str(), X_OK) == 0) return true;
    dirs.erase(0, end + 1);
  }
  const char* require = std::getenv("QUELMUX_REQUIRE_TOOLS");
  if (require != nullptr && std::string(require) == "1") {
    ADD_FAILURE() << name << " is required (QUELMUX_REQUIRE_TOOLS=1) but not installed";
  }
  return false;
}

namespace {

// The buffers that `elements` after filesrc hand to multifilesink.
std::vector<std::vector<std::uint8_t>> run_to_files(const std::string& file, const std::vector<std::string>& elements) {
  TempDir out;
  std::vector<std::string> argv{"gst-launch-1.0", "-q", "filesrc", "location=" + file};
  for (const std::string& e : elements) argv.insert(argv.end(), {"!", e});
  argv.insert(argv.end(), {"!", "multifilesink", "location=" + (out / "f%05d.bin").string()});
  const RunResult r = run(argv);
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  std::vector<std::vector<std::uint8_t>> frames;
  for (int i = 0;; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.bin", i);
    if (!std::filesystem::exists(out / name)) return frames;
    frames.push_back(read_file(out / name));
  }
}

}  // namespace

std::vector<std::vector<std::uint8_t>> demux(const std::string& file, const std::string& demuxer) {
  return run_to_files(file, {demuxer});
}

std::vector<std::vector<std::uint8_t>> decode_rgb(const std::string& file, const std::string& demuxer, int width) {
  std::vector<std::vector<std::uint8_t>> pictures =
      run_to_files(file, {demuxer, "videoconvert", "video/x-raw,format=RGB"});
  const std::size_t row = 3 * static_cast<std::size_t>(width), stride = (row + 3) & ~std::size_t{3};
  for (std::vector<std::uint8_t>& p : pictures) {
    std::size_t packed = 0;
    for (std::size_t at = 0; at + row <= p.size(); at += stride, packed += row)
      std::copy_n(p.begin() + static_cast<std::ptrdiff_t>(at), row, p.begin() + static_cast<std::ptrdiff_t>(packed));
    p.resize(packed);
  }
  return pictures;
}

std::vector<std::uint8_t> flip_rows(const std::vector<std::uint8_t>& picture, std::size_t row) {
  std::vector<std::uint8_t> out(picture.size());
  const std::size_t rows = row == 0 ? 0 : picture.size() / row;
  for (std::size_t r = 0; r < rows; ++r) {
    std::copy_n(picture.begin() + static_cast<std::ptrdiff_t>(r * row), row,
                out.begin() + static_cast<std::ptrdiff_t>((rows - 1 - r) * row));
  }
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
