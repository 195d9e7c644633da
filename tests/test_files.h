// Files for end-to-end tests: a scratch folder per test, whole-file reads
// and writes in binary.
#ifndef SYNCSTATUS_TESTS_TEST_FILES_H_
#define SYNCSTATUS_TESTS_TEST_FILES_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace syncstatus::test {

/// Returns the whole content of `path`, as bytes.
std::string read_file(const std::filesystem::path& path);

/// Replaces the content of `path` with `bytes`.
void write_file(const std::filesystem::path& path, std::string_view bytes);

/// A fresh, empty folder, removed with everything in it on destruction.
class ScratchDir {
 public:
  ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();

  const std::filesystem::path& path() const { return path_; }
  /// `name` inside the folder, as UTF-8 text for the program's command line.
  std::string arg(std::string_view name) const;
  std::filesystem::path operator/(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

/// A path as UTF-8 text.
std::string utf8(const std::filesystem::path& path);

}  // namespace syncstatus::test

#endif  // SYNCSTATUS_TESTS_TEST_FILES_H_
