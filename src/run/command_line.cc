#include "run/command_line.h"

#include <string_view>

#include "catalogue/catalogue.h"
#include "run/message.h"

namespace syncstatus {

namespace {

constexpr std::size_t kPositionalCount = 3;

bool is_option(std::string_view text) {
  return text.size() > 1 && text.front() == '-';
}

}  // namespace

CommandLine parse_command_line(const std::vector<Argument>& args, bool windows_conventions) {
  if (windows_conventions && args.size() == 1 && args[0].text == "/?") return ShowHelp{};
  std::vector<const Argument*> positional;
  bool options_ended = false;
  for (const Argument& arg : args) {
    // Scripts may pass more than three arguments; what follows the third is
    // never looked at.
    if (positional.size() == kPositionalCount) break;
    if (!options_ended && arg.text == "--") {
      options_ended = true;
    } else if (!options_ended && is_option(arg.text)) {
      if (arg.text == "--help") return ShowHelp{};
      if (arg.text == "--version") return ShowVersion{};
      return UsageError{"syncstatus: unknown option '" + escape_for_message(arg.text) + "'"};
    } else {
      positional.push_back(&arg);
    }
  }
  if (positional.size() < kPositionalCount) {
    return UsageError{"syncstatus: expected REPORT, LISTING and KEY"};
  }
  return RunRequest{*positional[0], *positional[1], *positional[2]};
}

std::string usage_text(bool windows_conventions) {
  std::string text =
      "Usage: syncstatus [--] REPORT LISTING KEY\n"
      "       syncstatus --help\n"
      "       syncstatus --version\n";
  if (windows_conventions) text += "       syncstatus /?\n";
  text +=
      "Append the synchronization status of one table to REPORT, made from LISTING,\n"
      "the output of 'diff KEST-EXPORT SCHEDULER-EXPORT' for the table named by KEY.\n"
      "LISTING '-' reads standard input; a file named '-' is given as './-'.\n"
      "\n"
      "Options:\n"
      "  --help     show this help and exit\n"
      "  --version  show the version and exit\n"
      "  --         end the options: the arguments that follow are REPORT,\n"
      "             LISTING and KEY even when they start with '-'\n"
      "\n"
      "Table keys:\n";
  for (const Table& table : tables) {
    text += "  ";
    text += table.key;
    text.append(16 - table.key.size(), ' ');
    text += table.display_name;
    text += '\n';
  }
  text +=
      "\n"
      "Check diff's exit status (0 or 1) before the run: a diff that failed wrote\n"
      "nothing, and an empty listing means agreement.\n"
      "\n"
      "A run appends its whole section or leaves REPORT as it was, also when it\n"
      "is interrupted; what a killed run left is removed by the next run, through\n"
      "the record REPORT.syncstatus-rollback kept beside the report meanwhile.\n"
      "\n"
      "Exit status: 0 when the section was appended; 1 when the listing or the\n"
      "report could not be opened or read, or they are the same file (the report\n"
      "is left as it was); 2 for a usage error; -1 (255) when writing or closing\n"
      "the report failed.\n";
  return text;
}

}  // namespace syncstatus
