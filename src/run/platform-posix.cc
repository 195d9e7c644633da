#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "run/platform.h"

namespace syncstatus {

namespace {

std::error_code last_error() {
  return {errno, std::system_category()};
}

int fd_of(std::intptr_t handle) {
  return static_cast<int>(handle);
}

bool write_all(int fd, const char* data, std::size_t size, std::error_code& error) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      error = last_error();
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace

void prepare_process() {
  ::signal(SIGXFSZ, SIG_IGN);
  // A report that is a pipe whose reader has gone must fail the write, so
  // the run can say so and end with -1, not die of SIGPIPE without a word.
  ::signal(SIGPIPE, SIG_IGN);
}

ListingFile::~ListingFile() {
  if (handle_ >= 0) ::close(fd_of(handle_));
}

std::error_code ListingFile::open(const std::filesystem::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return last_error();
  struct stat info;
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(fd);
    return std::make_error_code(std::errc::is_a_directory);
  }
  handle_ = fd;
  // Only a hint for read-ahead; a pipe refuses it, which is harmless.
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return {};
}

std::size_t ListingFile::read(char* buffer, std::size_t size, std::error_code& error) {
  for (;;) {
    const ssize_t count = ::read(fd_of(handle_), buffer, size);
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR) {
      error = last_error();
      return 0;
    }
  }
}

ReportFile::~ReportFile() {
  if (handle_ >= 0) ::close(fd_of(handle_));
}

std::error_code ReportFile::open(const std::filesystem::path& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return last_error();
  handle_ = fd;
  path_ = path;
  return {};
}

std::error_code ReportFile::lock() {
  while (::flock(fd_of(handle_), LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    // Some file systems have no locks; the section is written all the same.
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) return {};
    return last_error();
  }
  return {};
}

std::error_code ReportFile::size(std::uint64_t& size) {
  struct stat info;
  if (::fstat(fd_of(handle_), &info) != 0) return last_error();
  size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
  return {};
}

bool ReportFile::write(const char* data, std::size_t size, std::error_code& error) {
  return write_all(fd_of(handle_), data, size, error);
}

std::error_code ReportFile::truncate(std::uint64_t size) {
  struct stat info;
  if (::fstat(fd_of(handle_), &info) != 0) return last_error();
  if (!S_ISREG(info.st_mode)) return {};
  while (::ftruncate(fd_of(handle_), static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return last_error();
  }
  return {};
}

std::error_code ReportFile::close() {
  const int fd = fd_of(handle_);
  handle_ = -1;
  // POSIX leaves the descriptor's state unspecified after an interrupted
  // close; retrying could close another file, so EINTR counts as closed.
  if (::close(fd) != 0 && errno != EINTR) return last_error();
  return {};
}

bool write_stderr(std::string_view text) {
  std::error_code ignored;
  return write_all(STDERR_FILENO, text.data(), text.size(), ignored);
}

bool write_stdout(std::string_view text) {
  std::error_code ignored;
  return write_stdout(text, ignored);
}

bool write_stdout(std::string_view text, std::error_code& error) {
  return write_all(STDOUT_FILENO, text.data(), text.size(), error);
}

}  // namespace syncstatus
