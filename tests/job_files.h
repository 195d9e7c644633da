// The files of a job for the all-tables scripts: exports under kest/ and
// scheduler/, laid out in a folder, and what a folder holds afterwards.
#ifndef SYNCSTATUS_TESTS_JOB_FILES_H_
#define SYNCSTATUS_TESTS_JOB_FILES_H_

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "test_files.h"

namespace syncstatus::test {

/// Relative paths with their content.
using Files = std::vector<std::pair<std::string, std::string>>;

/// As the content of Files: make a folder there instead of a file.
inline const std::string kFolder = "<folder>";

/// `files` with `changes` applied: a path given an empty value is left out,
/// any other value replaces that path's content or adds the path.
inline Files with_changes(Files files, const Files& changes) {
  for (const auto& change : changes) {
    const std::string& path = change.first;
    const auto at = std::find_if(files.begin(), files.end(),
                                 [&](const auto& file) { return file.first == path; });
    if (at == files.end()) {
      files.push_back(change);
    } else if (change.second.empty()) {
      files.erase(at);
    } else {
      at->second = change.second;
    }
  }
  return files;
}

/// Writes `files` under `root`, making folders as needed.
inline void lay_out(const std::filesystem::path& root, const Files& files) {
  for (const auto& [path, bytes] : files) {
    if (bytes == kFolder) {
      std::filesystem::create_directories(root / path);
    } else {
      write_file(root / path, bytes);
    }
  }
}

/// The names in `folder`, sorted.
inline std::vector<std::string> names_in(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(utf8(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace syncstatus::test

#endif  // SYNCSTATUS_TESTS_JOB_FILES_H_
