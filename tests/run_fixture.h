// What the end-to-end tests share: a scratch folder per test, runs of the
// program in it, and a small listing with its section.
#ifndef SYNCSTATUS_TESTS_RUN_FIXTURE_H_
#define SYNCSTATUS_TESTS_RUN_FIXTURE_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "subprocess.h"
#include "test_files.h"

namespace syncstatus::test {

/// A change hunk, and the section it gives for table kroutings.
inline const std::string kListing = "3c3\n< 8 Drill 10\n---\n> 8 Drill 12\n";
inline const std::string kRoutings =
    "\r\nStatus of Routings: \r\n   Databases NOT Synchronized! \r\n"
    "   Missing in Scheduler:   8 Drill 10\r\n"
    "   Missing in Kest:        8 Drill 12\r\n";
/// The section of an empty listing for table kunits.
inline const std::string kUnitsAgreed = "\r\nStatus of Units: \r\n   Databases Synchronized! \r\n";

/// Runs the program under test in a fresh scratch folder.
class RunFixture : public testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string>& args, const ProcessOptions& options = {}) {
    return run_program(args, dir_.path(), options);
  }
  /// `name` in the scratch folder, as a command-line argument.
  std::string arg(std::string_view name) const { return dir_.arg(name); }
  std::filesystem::path file(std::string_view name) const { return dir_ / name; }

  ScratchDir dir_;
};

}  // namespace syncstatus::test

#endif  // SYNCSTATUS_TESTS_RUN_FIXTURE_H_
