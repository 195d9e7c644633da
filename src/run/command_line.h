// What the command line asks of a run, and the usage text that explains it.
#ifndef SYNCSTATUS_RUN_COMMAND_LINE_H_
#define SYNCSTATUS_RUN_COMMAND_LINE_H_

#include <string>
#include <variant>
#include <vector>

#include "run/run.h"

namespace syncstatus {

/// Show the usage on standard output.
struct ShowHelp {
  friend bool operator==(const ShowHelp&, const ShowHelp&) = default;
};

/// Show the program's version on standard output.
struct ShowVersion {
  friend bool operator==(const ShowVersion&, const ShowVersion&) = default;
};

/// The command line cannot be used; nothing is to be created.
struct UsageError {
  std::string message;  ///< one line, without its line end
  friend bool operator==(const UsageError&, const UsageError&) = default;
};

/// Append the section of `listing` for `key` to `report`.
struct RunRequest {
  Argument report;
  Argument listing;
  Argument key;
};

using CommandLine = std::variant<ShowHelp, ShowVersion, UsageError, RunRequest>;

/// Decides what the run does from `args` (without the program's name).
///
/// The arguments are taken in order until three positional ones (REPORT,
/// LISTING, KEY) are there; the rest are ignored, whatever they look like.
/// Before that, and before `--`, an argument that starts with `-` and is not
/// `-` alone is an option: `--help` and `--version` decide at once, any other
/// is a usage error that names it. `--` ends the options. Fewer than three
/// positional arguments are a usage error. With `windows_conventions`, `/?`
/// as the only argument asks for the help, as Windows tools do.
CommandLine parse_command_line(const std::vector<Argument>& args, bool windows_conventions);

/// The usage: synopsis, arguments, options, table keys and exit statuses;
/// with `windows_conventions` the synopsis also shows `syncstatus /?`.
std::string usage_text(bool windows_conventions);

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_COMMAND_LINE_H_
