// The program's edge: files and the console. One implementation per host,
// in platform-posix.cc and platform-win32.cc.
#ifndef SYNCSTATUS_RUN_PLATFORM_H_
#define SYNCSTATUS_RUN_PLATFORM_H_

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "report/byte_io.h"

namespace syncstatus {

/// Prepares the process: on POSIX, a file-size limit or a pipe without a
/// reader must fail a write instead of killing the run half-way through a
/// section.
void prepare_process();

/// A difference listing open for reading, as bytes. Never seeks, so a pipe
/// or FIFO reads like a file.
class ListingFile final : public ByteSource {
 public:
  ListingFile() = default;
  ListingFile(const ListingFile&) = delete;
  ListingFile& operator=(const ListingFile&) = delete;
  ~ListingFile() override;

  /// Opens `path` for reading; a directory is refused.
  std::error_code open(const std::filesystem::path& path);
  std::size_t read(char* buffer, std::size_t size, std::error_code& error) override;

 private:
  std::intptr_t handle_ = -1;
};

/// A report open for appending, created when absent, that others may read
/// and write meanwhile.
class ReportFile final : public ByteSink {
 public:
  ReportFile() = default;
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;
  /// Closes the file if close() was not called, ignoring the result.
  ~ReportFile() override;

  std::error_code open(const std::filesystem::path& path);

  /// Waits for the exclusive right to append, shared by all runs on this
  /// report, and holds it until close(). Reading the report is never
  /// blocked. A file system without locks gives no error: the run goes on.
  std::error_code lock();

  /// The file's current size, the point to restore should the run fail.
  std::error_code size(std::uint64_t& size);

  bool write(const char* data, std::size_t size, std::error_code& error) override;

  /// Cuts the file back to `size` bytes. Files that cannot be cut (devices,
  /// pipes) are left alone without an error.
  std::error_code truncate(std::uint64_t size);

  /// Closes the file, releasing the lock; reports a failed close.
  std::error_code close();

 private:
  std::filesystem::path path_;
  std::intptr_t handle_ = -1;
};

/// Writes `text` to standard error / output; false when that failed.
bool write_stderr(std::string_view text);
bool write_stdout(std::string_view text);
/// Writes `text` to standard output; on failure sets `error` to the reason
/// and returns false.
bool write_stdout(std::string_view text, std::error_code& error);

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_PLATFORM_H_
