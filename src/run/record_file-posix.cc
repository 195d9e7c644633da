// The rollback record's file on POSIX: trusted only when it is a regular
// file of this user or of the report's owner, made without following links.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "run/platform.h"

namespace syncstatus {

namespace {

// A record is a few hundred bytes; anything larger is not one.
constexpr off_t kMaxRecordSize = 4096;

}  // namespace

std::optional<std::string> read_record_file(const std::filesystem::path& path,
                                            const ReportFile& report, bool& untrusted) {
  untrusted = false;
  // No link is followed, and a FIFO planted there cannot block the open.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    untrusted = errno != ENOENT;
    return std::nullopt;
  }
  struct stat record;
  struct stat owner;
  const bool trusted = ::fstat(fd, &record) == 0 && S_ISREG(record.st_mode) &&
                       record.st_size <= kMaxRecordSize &&
                       ::fstat(static_cast<int>(report.native_handle()), &owner) == 0 &&
                       (record.st_uid == ::geteuid() || record.st_uid == owner.st_uid);
  std::string content;
  if (trusted) {
    content.resize(static_cast<std::size_t>(record.st_size));
    std::size_t done = 0;
    while (done < content.size()) {
      const ssize_t count = ::read(fd, content.data() + done, content.size() - done);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
      done += static_cast<std::size_t>(count);
    }
    content.resize(done);
  }
  ::close(fd);
  if (!trusted) {
    untrusted = true;
    return std::nullopt;
  }
  return content;
}

bool create_record_file(const std::filesystem::path& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = true;
  while (!content.empty()) {
    const ssize_t count = ::write(fd, content.data(), content.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      written = false;
      break;
    }
    content.remove_prefix(static_cast<std::size_t>(count));
  }
  if (::close(fd) != 0 && errno != EINTR) written = false;
  if (!written) ::unlink(path.c_str());
  return written;
}

void remove_record_file(const std::filesystem::path& path) {
  ::unlink(path.c_str());
}

}  // namespace syncstatus
