#include "run/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>
#include <vector>

namespace syncstatus {
namespace {

// The outcome as one line: "help", "version", "error: MESSAGE" or
// "run [REPORT] [LISTING] [KEY]".
std::string describe(const CommandLine& command) {
  return std::visit(
      [](const auto& outcome) -> std::string {
        using Outcome = std::decay_t<decltype(outcome)>;
        if constexpr (std::is_same_v<Outcome, ShowHelp>) {
          return "help";
        } else if constexpr (std::is_same_v<Outcome, ShowVersion>) {
          return "version";
        } else if constexpr (std::is_same_v<Outcome, UsageError>) {
          return "error: " + outcome.message;
        } else {
          std::string line = "run";
          for (const Argument* arg : {&outcome.report, &outcome.listing, &outcome.key}) {
            // Each argument keeps its path and its text together.
            EXPECT_EQ(arg->native, std::filesystem::path(arg->text));
            line += " [" + arg->text + "]";
          }
          return line;
        }
      },
      command);
}

struct ParseCase {
  const char* name;
  std::vector<std::string> args;
  bool windows_conventions;
  std::string outcome;
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << c.name;
}

class ParseCommandLine : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLine, DecidesWhatTheRunDoes) {
  const ParseCase& c = GetParam();
  std::vector<Argument> args;
  for (const std::string& text : c.args) args.push_back({text, text});
  EXPECT_EQ(describe(parse_command_line(args, c.windows_conventions)), c.outcome);
}

const char kTooFew[] = "error: syncstatus: expected REPORT, LISTING and KEY";

INSTANTIATE_TEST_SUITE_P(
    Positionals, ParseCommandLine,
    testing::Values(
        ParseCase{"three", {"r", "l", "k"}, false, "run [r] [l] [k]"},
        ParseCase{
            "beyond_the_third_ignored", {"r", "l", "k", "kunits", "x"}, false, "run [r] [l] [k]"},
        ParseCase{"options_beyond_the_third_ignored",
                  {"r", "l", "k", "--bogus", "--help"},
                  false,
                  "run [r] [l] [k]"},
        ParseCase{
            "double_dash_beyond_the_third", {"r", "l", "k", "--", "x"}, false, "run [r] [l] [k]"},
        ParseCase{"lone_dash_is_positional", {"r", "-", "kunits"}, false, "run [r] [-] [kunits]"},
        ParseCase{"lone_dash_everywhere", {"-", "-", "-"}, false, "run [-] [-] [-]"},
        ParseCase{"dot_slash_dash", {"r", "./-", "k"}, false, "run [r] [./-] [k]"},
        ParseCase{"empty_arguments", {"", "", ""}, false, "run [] [] []"},
        ParseCase{"backslashes_and_utf8",
                  {"C:\\r.txt", "\xc3\xa4.txt", "k x"},
                  false,
                  "run [C:\\r.txt] [\xc3\xa4.txt] [k x]"},
        ParseCase{"none", {}, false, kTooFew}, ParseCase{"one", {"r"}, false, kTooFew},
        ParseCase{"two", {"r", "l"}, false, kTooFew},
        ParseCase{"double_dash_not_counted", {"--", "r", "l"}, false, kTooFew},
        ParseCase{"double_dash_alone", {"--"}, false, kTooFew}),
    [](const testing::TestParamInfo<ParseCase>& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Options, ParseCommandLine,
    testing::Values(
        ParseCase{"help", {"--help"}, false, "help"},
        ParseCase{"version", {"--version"}, false, "version"},
        ParseCase{"version_before_positionals", {"--version", "a", "b"}, false, "version"},
        ParseCase{"help_between_positionals", {"r", "--help", "l", "k"}, false, "help"},
        ParseCase{"help_before_the_third", {"r", "l", "--help"}, false, "help"},
        ParseCase{"help_before_too_few", {"--help", "r"}, false, "help"},
        ParseCase{"unknown_long",
                  {"--bogus", "listing.txt", "kroutings"},
                  false,
                  "error: syncstatus: unknown option '--bogus'"},
        ParseCase{"unknown_single_dash",
                  {"-x", "r", "l", "k"},
                  false,
                  "error: syncstatus: unknown option '-x'"},
        ParseCase{"single_dash_h", {"-h"}, false, "error: syncstatus: unknown option '-h'"},
        ParseCase{"help_with_a_value",
                  {"--help=all"},
                  false,
                  "error: syncstatus: unknown option '--help=all'"},
        ParseCase{"triple_dash",
                  {"---", "r", "l", "k"},
                  false,
                  "error: syncstatus: unknown option '---'"},
        ParseCase{"unknown_between_positionals",
                  {"r", "-l", "l", "k"},
                  false,
                  "error: syncstatus: unknown option '-l'"},
        ParseCase{"first_option_decides_error",
                  {"--bogus", "--help"},
                  false,
                  "error: syncstatus: unknown option '--bogus'"},
        ParseCase{"first_option_decides_help", {"--help", "--bogus"}, false, "help"},
        ParseCase{"unknown_before_too_few",
                  {"r", "--bogus"},
                  false,
                  "error: syncstatus: unknown option '--bogus'"},
        ParseCase{"option_shown_on_one_line",
                  {"--a\nb\x01"},
                  false,
                  "error: syncstatus: unknown option '--a\\nb\\x01'"}),
    [](const testing::TestParamInfo<ParseCase>& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(
    DoubleDash, ParseCommandLine,
    testing::Values(
        ParseCase{"ends_options",
                  {"--", "-odd-name.txt", "listing.txt", "kunits"},
                  false,
                  "run [-odd-name.txt] [listing.txt] [kunits]"},
        ParseCase{"help_after_it_is_positional",
                  {"--", "--help", "-x", "k"},
                  false,
                  "run [--help] [-x] [k]"},
        ParseCase{"second_one_is_positional", {"--", "--", "l", "k"}, false, "run [--] [l] [k]"},
        ParseCase{"between_positionals", {"r", "--", "-l", "k"}, false, "run [r] [-l] [k]"},
        ParseCase{"option_before_it_still_counts",
                  {"--bogus", "--", "r", "l", "k"},
                  false,
                  "error: syncstatus: unknown option '--bogus'"}),
    [](const testing::TestParamInfo<ParseCase>& p) { return std::string(p.param.name); });

INSTANTIATE_TEST_SUITE_P(
    WindowsConventions, ParseCommandLine,
    testing::Values(
        ParseCase{"slash_question_alone", {"/?"}, true, "help"},
        ParseCase{
            "slash_question_elsewhere_is_positional", {"/?", "l", "k"}, true, "run [/?] [l] [k]"},
        ParseCase{"slash_question_without_them", {"/?"}, false, kTooFew},
        ParseCase{"options_as_elsewhere", {"--version"}, true, "version"},
        ParseCase{"unknown_as_elsewhere",
                  {"-x", "r", "l", "k"},
                  true,
                  "error: syncstatus: unknown option '-x'"},
        ParseCase{"positionals_as_elsewhere", {"r", "l", "k", "/?"}, true, "run [r] [l] [k]"}),
    [](const testing::TestParamInfo<ParseCase>& p) { return std::string(p.param.name); });

TEST(UsageText, IsTheWholeUsage) {
  EXPECT_EQ(usage_text(false),
            "Usage: syncstatus [--] REPORT LISTING KEY\n"
            "       syncstatus --help\n"
            "       syncstatus --version\n"
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
            "Table keys:\n"
            "  kemployee       Employee\n"
            "  kunits          Unit\n"
            "  ksetupstates    Setup State\n"
            "  kqteams         Qualified Team\n"
            "  kmachines       Machine\n"
            "  kitems          Item\n"
            "  kcustitems      Customized Item\n"
            "  kroutings       Routing\n"
            "  kcustroutings   Customized Routing\n"
            "  kmpsorders      MPS Order\n"
            "  kprporders      PRP Order\n"
            "  kmrporders      MRP Order\n"
            "  ksfcorders      SFC Order\n"
            "  kitemstock      Item Stock Level\n"
            "  kcustitemstock  Customized Item Stock Level\n"
            "  kpurorders      Purchase Order\n"
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
            "the report failed.\n");
}

TEST(UsageText, ShowsTheWindowsHelpOptionWithItsConventions) {
  const std::string usage = usage_text(true);
  EXPECT_EQ(usage.substr(0, usage.find("Append")),
            "Usage: syncstatus [--] REPORT LISTING KEY\n"
            "       syncstatus --help\n"
            "       syncstatus --version\n"
            "       syncstatus /?\n");
  EXPECT_EQ(usage.substr(usage.find("Append")),
            usage_text(false).substr(usage_text(false).find("Append")));
}

}  // namespace
}  // namespace syncstatus
