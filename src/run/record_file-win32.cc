// The rollback record's file on Windows: trusted only when it is a plain
// file, not a link or other reparse point, made without replacing anything.
#include <windows.h>

#include "run/open_path.h"
#include "run/platform.h"

namespace syncstatus {

namespace {

// A record is a few hundred bytes; anything larger is not one.
constexpr DWORD kMaxRecordSize = 4096;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

}  // namespace

std::optional<std::string> read_record_file(const std::filesystem::path& path, const ReportFile&,
                                            bool& untrusted) {
  untrusted = false;
  const HANDLE file = ::CreateFileW(path_to_open(path).c_str(), GENERIC_READ, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    untrusted = code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
    return std::nullopt;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool trusted =
      ::GetFileType(file) == FILE_TYPE_DISK && ::GetFileInformationByHandle(file, &info) &&
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
      info.nFileSizeHigh == 0 && info.nFileSizeLow <= kMaxRecordSize;
  std::string content;
  if (trusted) {
    content.resize(info.nFileSizeLow);
    DWORD count = 0;
    if (!content.empty() && !::ReadFile(file, content.data(), info.nFileSizeLow, &count, nullptr)) {
      count = 0;
    }
    content.resize(count);
  }
  ::CloseHandle(file);
  if (!trusted) {
    untrusted = true;
    return std::nullopt;
  }
  return content;
}

bool create_record_file(const std::filesystem::path& path, std::string_view content) {
  const HANDLE file =
      ::CreateFileW(path_to_open(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
      written == content.size();
  const bool closed = ::CloseHandle(file);
  if (!ok || !closed) ::DeleteFileW(path_to_open(path).c_str());
  return ok && closed;
}

void remove_record_file(const std::filesystem::path& path) {
  ::DeleteFileW(path_to_open(path).c_str());
}

}  // namespace syncstatus
