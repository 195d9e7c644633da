#include "run/open_path.h"

#include <windows.h>

#include "run/long_path.h"

namespace syncstatus {

std::wstring path_to_open(const std::filesystem::path& path) {
  const std::wstring& given = path.native();
  // Devices and extended-length paths are not made full by Win32 either.
  if (given.empty() || is_device_or_verbatim(given)) return given;
  std::wstring full(kMaxPath, L'\0');
  for (;;) {
    const DWORD length =
        ::GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return given;
    // Too small a buffer: the length asked for counts the terminating NUL.
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length);
  }
  std::wstring form = long_path_form(full);
  return form == full ? given : form;
}

}  // namespace syncstatus
