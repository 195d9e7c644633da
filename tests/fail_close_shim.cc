// Preloaded into the program under test: close(2) of a descriptor of the file
// named by SYNCSTATUS_FAIL_CLOSE closes it, then reports an input/output
// error, as a network file system does when its write-back fails.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int close(int fd) {
  using Close = int (*)(int);
  static const auto real_close = reinterpret_cast<Close>(::dlsym(RTLD_NEXT, "close"));
  const char* target = std::getenv("SYNCSTATUS_FAIL_CLOSE");
  bool fail = false;
  if (target != nullptr) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char path[PATH_MAX];
    const ssize_t length = ::readlink(link, path, sizeof path - 1);
    if (length > 0) {
      path[length] = '\0';
      fail = std::strcmp(path, target) == 0;
    }
  }
  const int result = real_close(fd);
  if (!fail) return result;
  errno = EIO;
  return -1;
}
