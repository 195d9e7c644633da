// The run: from the command line to the exit status.
#ifndef SYNCSTATUS_RUN_RUN_H_
#define SYNCSTATUS_RUN_RUN_H_

#include <filesystem>
#include <string>
#include <vector>

namespace syncstatus {

/// One command-line argument, as the host gave it and as text.
struct Argument {
  std::filesystem::path native;  ///< for opening files: exact bytes or UTF-16
  std::string text;              ///< for messages and the table key: UTF-8
};

/// Exit statuses of a run.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;  ///< listing or report could not be opened or read
inline constexpr int kExitUsage = 2;
inline constexpr int kExitReportFailed = -1;  ///< a write or close of the report failed

/// Runs the program on `args` (without the program's name): appends one
/// status section to the report, or leaves the report as it was and says why
/// on standard error. Returns the exit status. `windows_conventions` adds
/// the command-line habits of Windows tools (`/?` for the help).
int run(const std::vector<Argument>& args, bool windows_conventions = false);

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_RUN_H_
