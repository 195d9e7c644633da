#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "run/platform.h"

namespace syncstatus {

namespace {

// The lock lies far beyond any real report, so that it never covers a byte
// that a reader asks for. Windows runs lock the same byte, and a share
// mounted from a Windows or Samba server maps the one onto the other.
constexpr off_t kLockOffset = 0x7FFFFFFF00000000;

// How long a run waits for the lock before it says that it waits.
constexpr auto kQuietWait = std::chrono::milliseconds(1000);
constexpr auto kLockPoll = std::chrono::milliseconds(20);

bool standard_input_was_closed = false;

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

int open_retrying(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

std::optional<FileIdentity> identity_of(int fd) {
  struct statx info;
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &info) == 0) {
    FileIdentity identity;
    identity.device = (std::uint64_t{info.stx_dev_major} << 32) | info.stx_dev_minor;
    identity.file = info.stx_ino;
    if (info.stx_mask & STATX_BTIME) {
      identity.born = static_cast<std::uint64_t>(info.stx_btime.tv_sec) * 1'000'000'000 +
                      info.stx_btime.tv_nsec;
    }
    return identity;
  }
  struct stat plain;
  if (::fstat(fd, &plain) != 0) return std::nullopt;
  return FileIdentity{static_cast<std::uint64_t>(plain.st_dev),
                      static_cast<std::uint64_t>(plain.st_ino), 0};
}

bool is_regular(int fd) {
  struct stat info;
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

void prepare_process() {
  // A descriptor left closed by the caller would go to the next file opened:
  // the listing or, worse, the report, which would then take the messages.
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDIN_FILENO) standard_input_was_closed = true;
    const int null = open_retrying("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
      // Not the lowest free number after all: the slot is taken another way.
      ::dup2(null, fd);
      ::close(null);
    }
  }
  ::signal(SIGXFSZ, SIG_IGN);
  // A report that is a pipe whose reader has gone must fail the write, so
  // the run can say so and end with -1, not die of SIGPIPE without a word.
  ::signal(SIGPIPE, SIG_IGN);
}

ListingFile::~ListingFile() {
  if (handle_ >= 0) ::close(fd_of(handle_));
}

std::error_code ListingFile::open(const std::filesystem::path& path) {
  const int fd = open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC);
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

std::error_code ListingFile::open_standard_input() {
  // Standard input now reads the null device: it must not pass for an
  // empty listing, which would mean agreement.
  if (standard_input_was_closed) return std::make_error_code(std::errc::bad_file_descriptor);
  const int fd = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
  if (fd < 0) return last_error();
  handle_ = fd;
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

std::optional<FileIdentity> ListingFile::identity() const {
  return identity_of(fd_of(handle_));
}

ReportFile::~ReportFile() {
  if (second_handle_ >= 0) ::close(fd_of(second_handle_));
  if (handle_ >= 0) ::close(fd_of(handle_));
}

std::error_code ReportFile::open(const std::filesystem::path& path) {
  const int fd = open_retrying(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return last_error();
  handle_ = fd;
  if (!is_regular(fd)) return {};
  // The rollback record keeps the last bytes before the section; reading
  // them takes a descriptor of the same file that may read. Without one (a
  // report that may be written but not read) the run goes without a record.
  const int reader = open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (reader < 0) return {};
  if (identity_of(reader) == identity_of(fd)) {
    second_handle_ = reader;
  } else {
    ::close(reader);  // the name was given to another file meanwhile
  }
  return {};
}

bool ReportFile::is_disk_file() const {
  return is_regular(fd_of(handle_));
}

std::optional<FileIdentity> ReportFile::identity() const {
  return identity_of(fd_of(handle_));
}

std::error_code ReportFile::lock(bool& locked, std::string_view notice) {
  locked = false;
  // Devices and pipes have no locks, and need none.
  if (!is_disk_file()) return {};
  struct flock range = {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = kLockOffset;
  range.l_len = 1;
  // A lock held by the open file description, not by the process: no close
  // of another descriptor of the report can drop it.
  int try_lock = F_OFD_SETLK;
  int wait_lock = F_OFD_SETLKW;
  const auto quiet_until = std::chrono::steady_clock::now() + kQuietWait;
  for (;;) {
    if (::fcntl(fd_of(handle_), try_lock, &range) == 0) break;
    if (errno == EINTR) continue;
    if (errno == EINVAL && try_lock == F_OFD_SETLK) {
      // A kernel without such locks: the classic record lock, which every
      // close of the report in this process drops.
      try_lock = F_SETLK;
      wait_lock = F_SETLKW;
      any_close_drops_lock_ = true;
      continue;
    }
    // Some file systems have no locks; the section is written all the same.
    if (errno == ENOLCK || errno == EOPNOTSUPP) return {};
    if (errno != EAGAIN && errno != EACCES) return last_error();
    if (std::chrono::steady_clock::now() < quiet_until) {
      std::this_thread::sleep_for(kLockPoll);
      continue;
    }
    write_stderr(notice);
    while (::fcntl(fd_of(handle_), wait_lock, &range) != 0) {
      if (errno != EINTR) return last_error();
    }
    break;
  }
  locked = true;
  return {};
}

std::error_code ReportFile::size(std::uint64_t& size) {
  struct stat info;
  if (::fstat(fd_of(handle_), &info) != 0) return last_error();
  size = S_ISREG(info.st_mode) ? static_cast<std::uint64_t>(info.st_size) : 0;
  return {};
}

std::size_t ReportFile::read_at(std::uint64_t offset, char* buffer, std::size_t size,
                                std::error_code& error) {
  if (second_handle_ < 0) {
    error = std::make_error_code(std::errc::bad_file_descriptor);
    return 0;
  }
  std::size_t done = 0;
  while (done < size) {
    const ssize_t count = ::pread(fd_of(second_handle_), buffer + done, size - done,
                                  static_cast<off_t>(offset + done));
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) error = last_error();
    if (count <= 0) break;
    done += static_cast<std::size_t>(count);
  }
  return done;
}

bool ReportFile::write(const char* data, std::size_t size, std::error_code& error) {
  return write_all(fd_of(handle_), data, size, error);
}

std::error_code ReportFile::truncate(std::uint64_t size) {
  if (!is_disk_file()) return {};
  while (::ftruncate(fd_of(handle_), static_cast<off_t>(size)) != 0) {
    if (errno != EINTR) return last_error();
  }
  return {};
}

std::error_code ReportFile::settle() {
  // Closing a duplicate tells what closing the report would (a network file
  // system writes back there), while the description and its lock stay. A
  // classic lock would go with it: then the final close must tell.
  if (any_close_drops_lock_) return {};
  const int duplicate = ::fcntl(fd_of(handle_), F_DUPFD_CLOEXEC, 3);
  if (duplicate < 0) return {};
  if (::close(duplicate) != 0 && errno != EINTR) return last_error();
  return {};
}

std::error_code ReportFile::close() {
  if (second_handle_ >= 0) {
    ::close(fd_of(second_handle_));
    second_handle_ = -1;
  }
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

bool write_stdout(std::string_view text, std::error_code& error) {
  return write_all(STDOUT_FILENO, text.data(), text.size(), error);
}

}  // namespace syncstatus
