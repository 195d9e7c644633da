// Paths longer than Windows' classic limit of MAX_PATH characters, which
// open only in their extended-length form `\\?\...` where long paths are not
// enabled system-wide. Pure text, the same on every host, so that its tests
// run natively as well as under Wine.
#ifndef SYNCSTATUS_RUN_LONG_PATH_H_
#define SYNCSTATUS_RUN_LONG_PATH_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace syncstatus {

/// Windows' MAX_PATH: a path of this many characters or more fails to open
/// in its ordinary form; one character fewer still opens (the limit counts
/// the terminating NUL).
inline constexpr std::size_t kMaxPath = 260;

/// True when Win32 hands `path` to the system without making it a full path
/// first: `\\?\...` (extended length), `\\.\...` and `//?/...` (devices,
/// pipes) and the NT form `\??\...`.
bool is_device_or_verbatim(std::wstring_view path);

/// The path that opens the file `full_path` names, whatever its length.
/// `full_path` is a full path as GetFullPathNameW makes it: `C:\a\b` or
/// `\\server\share\a`, with no `.` or `..` left. When it has kMaxPath
/// characters or more it comes back in extended-length form, `\\?\C:\a\b`
/// or `\\?\UNC\server\share\a`, with every `/` turned into `\`. It comes back
/// unchanged when it is shorter, is already a device or extended-length
/// path, ends in a device name (`NUL`, `CON`, `COM1.txt`, ...), or is not a
/// full path (relative, `C:x`, `\x`, or still holding `.` or `..`), since the
/// extended form would take such a path literally.
std::wstring long_path_form(std::wstring_view full_path);

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_LONG_PATH_H_
