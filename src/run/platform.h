// The program's edge: files, the console and the process. One implementation
// per host: platform-posix.cc and platform-win32.cc; the stops that a run is
// told of, stop-posix.cc and stop-win32.cc; the rollback record's file,
// record_file-posix.cc and record_file-win32.cc.
#ifndef SYNCSTATUS_RUN_PLATFORM_H_
#define SYNCSTATUS_RUN_PLATFORM_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "report/byte_io.h"

namespace syncstatus {

/// Prepares the process before anything is opened. On POSIX: a standard
/// descriptor that is closed gets the null device, so that no file opened
/// later takes its number (and no message lands in a report); a file-size
/// limit or a pipe without a reader fails a write instead of killing the run
/// half-way through a section.
void prepare_process();

/// What tells one file from another, whatever names it goes by: device and
/// inode on POSIX, volume and file index on Windows.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  /// When the file was made, where the file system keeps it (else 0): a
  /// file made anew under a reused file number differs here.
  std::uint64_t born = 0;
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

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
  /// Reads standard input instead, as bytes (no line-end translation, no
  /// end-of-file character). Fails when standard input was closed when the
  /// program started.
  std::error_code open_standard_input();
  std::size_t read(char* buffer, std::size_t size, std::error_code& error) override;

  /// The identity of the open file, where the host can tell it.
  std::optional<FileIdentity> identity() const;

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

  /// True for a file on disk: one that has a size, can be cut back, locked
  /// and given a rollback record. Devices and pipes are not.
  bool is_disk_file() const;

  /// The identity of the open file, where the host can tell it.
  std::optional<FileIdentity> identity() const;

  /// Waits for the exclusive right to append, shared by all runs on this
  /// report on every host (one byte far beyond the end, locked for writing),
  /// and holds it until close(). Reading the report is never blocked. Writes
  /// `notice` to standard error once should the wait take more than about a
  /// second. Sets `locked` to false, without an error, on a file system
  /// without locks: the run goes on unlocked.
  std::error_code lock(bool& locked, std::string_view notice);

  /// The file's current size, the point to restore should the run fail.
  std::error_code size(std::uint64_t& size);

  /// Reads up to `size` bytes at `offset` into `buffer`; returns how many.
  std::size_t read_at(std::uint64_t offset, char* buffer, std::size_t size, std::error_code& error);

  bool write(const char* data, std::size_t size, std::error_code& error) override;

  /// Cuts the file back to `size` bytes. Files that cannot be cut (devices,
  /// pipes) are left alone without an error.
  std::error_code truncate(std::uint64_t size);

  /// Learns whether everything written reached the file, as closing it would
  /// tell (a network file system reports late write failures there), while
  /// the lock is still held, so that a failure can still be undone.
  std::error_code settle();

  /// Closes the file, releasing the lock; reports a failed close.
  std::error_code close();

  /// The host's handle, for the stop handlers.
  std::intptr_t native_handle() const { return handle_; }

 private:
  std::intptr_t handle_ = -1;
  // A second handle on the same file: on POSIX one to read it through (the
  // report is opened for writing only, so that a pipe still sees its reader
  // go), on Windows the one that holds the lock, so that closing the one
  // written through can report a failure while the lock is still held.
  std::intptr_t second_handle_ = -1;
  // Classic POSIX record locks are dropped by the process's first close of
  // any descriptor of the file.
  bool any_close_drops_lock_ = false;
};

/// The rollback record's file, beside the report (see rollback.h).
/// Returns its content when it is one that this run may trust: a regular
/// file, not a link, small, and on POSIX owned by the running user or by the
/// owner of `report`. Nothing when there is none; `untrusted` tells whether
/// something else stands in its place.
std::optional<std::string> read_record_file(const std::filesystem::path& path,
                                            const ReportFile& report, bool& untrusted);
/// Makes the file with `content`, never following a link nor replacing
/// anything that exists; false (and nothing left behind) when it cannot.
bool create_record_file(const std::filesystem::path& path, std::string_view content);
/// Deletes the file (a link itself, never what it points to).
void remove_record_file(const std::filesystem::path& path);

/// From this call on, the stops that the host announces to a running program
/// (POSIX: SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2,
/// SIGXCPU, SIGVTALRM, SIGPROF; Windows: the console's control events) end
/// the run this way: the armed report (see arm_stops()) is cut back and its
/// rollback record removed, `message` is written to standard error, and the
/// process ends as the stop demands (POSIX: by the same signal; Windows: with
/// the status of a console program stopped by Ctrl-C).
void catch_stops(std::string message);

/// From here on a stop cuts `report` back to `size` and removes the record at
/// `record_path` (if not null). The report must stay open until
/// disarm_stops().
void arm_stops(ReportFile& report, std::uint64_t size,
               const std::filesystem::path::value_type* record_path);

/// From here on a stop leaves the report alone and says nothing: the run
/// has finished with it, one way or the other.
void disarm_stops();

/// Writes `text` to standard error; false when that failed.
bool write_stderr(std::string_view text);
/// Writes `text` to standard output; on failure sets `error` to the reason
/// and returns false.
bool write_stdout(std::string_view text, std::error_code& error);

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_PLATFORM_H_
