// The entry point on Windows: arguments come as UTF-16, so that any path
// opens, whatever the system's code page; messages show them in UTF-8.
#include <windows.h>

#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "run/platform.h"
#include "run/run.h"

namespace {

/// `text` in UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8_of(const wchar_t* text) {
  const int size = static_cast<int>(std::wcslen(text));
  if (size == 0) return {};
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string result(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, size, result.data(), bytes, nullptr, nullptr);
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  syncstatus::prepare_process();
  try {
    std::vector<syncstatus::Argument> args;
    for (int i = 1; i < argc; ++i) {
      args.push_back({std::filesystem::path(argv[i]), utf8_of(argv[i])});
    }
    // -1 leaves the process as exit code 0xFFFFFFFF, which a POSIX shell
    // running the program under Wine sees as 255.
    return syncstatus::run(args, /*windows_conventions=*/true);
  } catch (const std::bad_alloc&) {
    syncstatus::write_stderr("syncstatus: out of memory\n");
    return syncstatus::kExitFailure;
  }
}
