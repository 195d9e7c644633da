// A Win32 handle that the Windows-only tests own.
#ifndef SYNCSTATUS_TESTS_WIN32_HANDLE_H_
#define SYNCSTATUS_TESTS_WIN32_HANDLE_H_

#include <windows.h>

namespace syncstatus::test {

/// Owns a handle; closes it at the end of the scope. INVALID_HANDLE_VALUE
/// and null both stand for none.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace syncstatus::test

#endif  // SYNCSTATUS_TESTS_WIN32_HANDLE_H_
