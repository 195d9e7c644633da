// The path that Windows' CreateFileW is given for a path on the command line.
// Windows only (open_path-win32.cc).
#ifndef SYNCSTATUS_RUN_OPEN_PATH_H_
#define SYNCSTATUS_RUN_OPEN_PATH_H_

#include <filesystem>
#include <string>

namespace syncstatus {

/// `path` made full (GetFullPathNameW: relative, `C:x`, `\x`, `/`, `.` and
/// `..` resolved) and put in extended-length form when that full path is
/// too long to open otherwise, so that it opens even where long paths are
/// not enabled system-wide. Any other path comes back exactly as given, so
/// that it keeps its ordinary Win32 behaviour; so does a path that cannot
/// be made full, which then fails to open with the system's own reason.
std::wstring path_to_open(const std::filesystem::path& path);

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_OPEN_PATH_H_
