// Files and the console on Windows: wide paths, Win32 handles, and Windows'
// own words for why something failed.
#include <windows.h>

#include <string>

#include "run/open_path.h"
#include "run/platform.h"
#include "run/stop-win32.h"

namespace syncstatus {

namespace {

// Reads and writes go in pieces that a DWORD can count.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// The lock lies far beyond any real report, so that it never covers a byte
// that a reader asks for: only runs that take the same lock wait for it.
constexpr DWORD kLockOffsetLow = 0;
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// How long a run waits for the lock before it says that it waits.
constexpr DWORD kQuietWaitMs = 1000;
constexpr DWORD kLockPollMs = 20;

std::string utf8_of(const wchar_t* text, int size) {
  if (size <= 0) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string result(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, size, result.data(), bytes, nullptr, nullptr);
  return result;
}

/// Win32 error codes, as GetLastError() gives them, with the system's own
/// reason text.
class Win32Category final : public std::error_category {
 public:
  const char* name() const noexcept override { return "win32"; }

  /// The system's text for `code` in UTF-8, without its line end and final
  /// period, so that it can end a message line.
  std::string message(int code) const override {
    wchar_t buffer[1024];
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    std::string text = utf8_of(buffer, static_cast<int>(length));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
      text.pop_back();
    }
    if (!text.empty() && text.back() == '.') text.pop_back();
    if (text.empty()) text = "error " + std::to_string(static_cast<DWORD>(code));
    return text;
  }
};

const std::error_category& win32_category() {
  static const Win32Category category;
  return category;
}

std::error_code error_of(DWORD code) {
  return {static_cast<int>(code), win32_category()};
}

std::error_code last_error() {
  return error_of(::GetLastError());
}

HANDLE handle_of(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t value_of(HANDLE handle) {
  return reinterpret_cast<std::intptr_t>(handle);
}

bool write_all(HANDLE handle, const char* data, std::size_t size, std::error_code& error) {
  while (size > 0) {
    DWORD written = 0;
    const DWORD piece = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
    if (!::WriteFile(handle, data, piece, &written, nullptr)) {
      error = last_error();
      return false;
    }
    if (written == 0) {
      error = error_of(ERROR_WRITE_FAULT);
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

bool is_disk(HANDLE handle) {
  return ::GetFileType(handle) == FILE_TYPE_DISK;
}

// Wine on Linux gives a file's inode change time as its creation time, which
// moves with every write: there the creation time tells nothing, and a
// rollback record that kept it would never fit its report again.
bool creation_time_moves() {
  static const bool under_wine =
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return under_wine;
}

std::optional<FileIdentity> identity_of(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!is_disk(handle) || !::GetFileInformationByHandle(handle, &info)) return std::nullopt;
  const std::uint64_t born = creation_time_moves()
                                 ? 0
                                 : (std::uint64_t{info.ftCreationTime.dwHighDateTime} << 32) |
                                       info.ftCreationTime.dwLowDateTime;
  return FileIdentity{info.dwVolumeSerialNumber,
                      (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow, born};
}

// A console takes text in UTF-16; anything else (a file, a pipe) the bytes.
bool write_standard(DWORD which, std::string_view text, std::error_code& error) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    error = error_of(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD mode = 0;
  if (!::GetConsoleMode(handle, &mode)) return write_all(handle, text.data(), text.size(), error);
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  if (length <= 0) {
    error = last_error();
    return false;
  }
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  const wchar_t* rest = wide.data();
  DWORD left = static_cast<DWORD>(wide.size());
  while (left > 0) {
    DWORD written = 0;
    if (!::WriteConsoleW(handle, rest, left, &written, nullptr)) {
      error = last_error();
      return false;
    }
    if (written == 0) {
      error = error_of(ERROR_WRITE_FAULT);
      return false;
    }
    rest += written;
    left -= written;
  }
  return true;
}

}  // namespace

void prepare_process() {
  // A drive without its medium must fail the open, not wait for someone to
  // answer a dialog box.
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

ListingFile::~ListingFile() {
  if (handle_ != -1) ::CloseHandle(handle_of(handle_));
}

std::error_code ListingFile::open(const std::filesystem::path& path) {
  // Without FILE_FLAG_BACKUP_SEMANTICS a directory cannot be opened at all,
  // so it is refused here with "access denied".
  const HANDLE handle = ::CreateFileW(path_to_open(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  handle_ = value_of(handle);
  return {};
}

std::error_code ListingFile::open_standard_input() {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return error_of(ERROR_INVALID_HANDLE);
  // A handle of its own, read as bytes: no text mode comes between.
  HANDLE own = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), input, ::GetCurrentProcess(), &own, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
    return last_error();
  }
  handle_ = value_of(own);
  return {};
}

std::optional<FileIdentity> ListingFile::identity() const {
  return identity_of(handle_of(handle_));
}

std::size_t ListingFile::read(char* buffer, std::size_t size, std::error_code& error) {
  DWORD count = 0;
  const DWORD piece = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
  if (!::ReadFile(handle_of(handle_), buffer, piece, &count, nullptr)) {
    const DWORD code = ::GetLastError();
    // A pipe whose writer has gone reports its end this way.
    if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return 0;
    error = error_of(code);
    return 0;
  }
  return count;
}

ReportFile::~ReportFile() {
  if (handle_ != -1) ::CloseHandle(handle_of(handle_));
  if (second_handle_ != -1) ::CloseHandle(handle_of(second_handle_));
}

std::error_code ReportFile::open(const std::filesystem::path& path) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA puts every write at the end of
  // the file, wherever others have written meanwhile. FILE_READ_DATA lets
  // the rollback record read the bytes before the section;
  // FILE_READ_ATTRIBUTES lets size() work. Sharing everything lets others
  // read (and append) during a run.
  const std::wstring name = path_to_open(path);
  const HANDLE handle = ::CreateFileW(
      name.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
      kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  handle_ = value_of(handle);
  return {};
}

bool ReportFile::is_disk_file() const {
  // Once settle() has closed the handle written through, the lock's handle
  // stands for the file.
  return is_disk(handle_of(handle_ != -1 ? handle_ : second_handle_));
}

std::optional<FileIdentity> ReportFile::identity() const {
  return identity_of(handle_of(handle_));
}

std::error_code ReportFile::lock(bool& locked, std::string_view notice) {
  locked = false;
  // Devices and pipes have no locks, and need none.
  if (!is_disk_file()) return {};
  // The lock is held through a handle of its own, so that the handle written
  // through can be closed, and its failure learnt, while the lock still holds.
  const HANDLE holder = ::ReOpenFile(handle_of(handle_), GENERIC_READ, kShareAll, 0);
  if (holder == INVALID_HANDLE_VALUE) return last_error();
  second_handle_ = value_of(holder);
  DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
  const ULONGLONG quiet_until = ::GetTickCount64() + kQuietWaitMs;
  for (;;) {
    OVERLAPPED range = {};
    range.Offset = kLockOffsetLow;
    range.OffsetHigh = kLockOffsetHigh;
    if (::LockFileEx(holder, flags, 0, 1, 0, &range)) break;
    const DWORD code = ::GetLastError();
    // Some file systems (and network redirectors) have no locks; the section
    // is written all the same.
    if (code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED ||
        code == ERROR_INVALID_PARAMETER) {
      return {};
    }
    if ((flags & LOCKFILE_FAIL_IMMEDIATELY) == 0 || code != ERROR_LOCK_VIOLATION) {
      return error_of(code);
    }
    if (::GetTickCount64() < quiet_until) {
      ::Sleep(kLockPollMs);
      continue;
    }
    write_stderr(notice);
    flags = LOCKFILE_EXCLUSIVE_LOCK;
  }
  locked = true;
  return {};
}

std::error_code ReportFile::size(std::uint64_t& size) {
  size = 0;
  if (!is_disk_file()) return {};
  LARGE_INTEGER bytes;
  if (!::GetFileSizeEx(handle_of(handle_), &bytes)) return last_error();
  size = static_cast<std::uint64_t>(bytes.QuadPart);
  return {};
}

std::size_t ReportFile::read_at(std::uint64_t offset, char* buffer, std::size_t size,
                                std::error_code& error) {
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    DWORD count = 0;
    const DWORD piece = static_cast<DWORD>(size - done < kMaxTransfer ? size - done : kMaxTransfer);
    if (!::ReadFile(handle_of(handle_), buffer + done, piece, &count, &at)) {
      if (::GetLastError() != ERROR_HANDLE_EOF) error = last_error();
      break;
    }
    if (count == 0) break;
    done += count;
  }
  return done;
}

bool ReportFile::write(const char* data, std::size_t size, std::error_code& error) {
  const StopTurn hold;
  return write_all(handle_of(handle_), data, size, error);
}

std::error_code ReportFile::truncate(std::uint64_t size) {
  if (!is_disk_file()) return {};
  // The appending handle may not move the end of the file back: that takes
  // FILE_WRITE_DATA, so the same file is opened once more to do it.
  const HANDLE writer = ::ReOpenFile(handle_of(handle_ != -1 ? handle_ : second_handle_),
                                     GENERIC_WRITE, kShareAll, 0);
  if (writer == INVALID_HANDLE_VALUE) return last_error();
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  std::error_code error;
  if (!::SetFileInformationByHandle(writer, FileEndOfFileInfo, &end, sizeof end)) {
    error = last_error();
  }
  ::CloseHandle(writer);
  return error;
}

std::error_code ReportFile::settle() {
  // Without a lock of its own the handle is closed by close().
  if (second_handle_ == -1) return {};
  const StopTurn hold;
  const HANDLE handle = handle_of(handle_);
  handle_ = -1;
  if (!::CloseHandle(handle)) return last_error();
  return {};
}

std::error_code ReportFile::close() {
  const StopTurn hold;
  std::error_code error;
  if (handle_ != -1 && !::CloseHandle(handle_of(handle_))) error = last_error();
  handle_ = -1;
  if (second_handle_ != -1) ::CloseHandle(handle_of(second_handle_));
  second_handle_ = -1;
  return error;
}

bool write_stderr(std::string_view text) {
  std::error_code ignored;
  return write_standard(STD_ERROR_HANDLE, text, ignored);
}

bool write_stdout(std::string_view text, std::error_code& error) {
  return write_standard(STD_OUTPUT_HANDLE, text, error);
}

}  // namespace syncstatus
