// End-to-end runs of the program: command line, report bytes, exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "run_fixture.h"

namespace syncstatus::test {
namespace {

using namespace std::string_literals;

class Run : public RunFixture {};

TEST_F(Run, CreatesReportWithOneSection) {
  write_file(file("listing.txt"), kListing);
  const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), "kroutings"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(file("report.txt")), kRoutings);
}

TEST_F(Run, AppendsSectionsInRunOrder) {
  write_file(file("report.txt"), "earlier runs\r\nno newline at end");
  write_file(file("listing.txt"), kListing);
  write_file(file("empty.txt"), "");
  EXPECT_EQ(run({arg("report.txt"), arg("listing.txt"), "kroutings"}).exit_status, 0);
  EXPECT_EQ(run({arg("report.txt"), arg("empty.txt"), "kunits"}).exit_status, 0);
  EXPECT_EQ(read_file(file("report.txt")),
            "earlier runs\r\nno newline at end" + kRoutings + kUnitsAgreed);
}

TEST_F(Run, IgnoresArgumentsAfterTheThird) {
  write_file(file("listing.txt"), kListing);
  const ProcessResult r =
      run({arg("report.txt"), arg("listing.txt"), "kroutings", "kunits", arg("other.txt")});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(file("report.txt")), kRoutings);
  EXPECT_FALSE(std::filesystem::exists(file("other.txt")));
}

TEST_F(Run, LfAndCrLfListingsGiveTheSameReport) {
  write_file(file("lf.txt"), kListing);
  write_file(file("crlf.txt"), "3c3\r\n< 8 Drill 10\r\n---\r\n> 8 Drill 12\r\n");
  EXPECT_EQ(run({arg("a.txt"), arg("lf.txt"), "kroutings"}).exit_status, 0);
  EXPECT_EQ(run({arg("b.txt"), arg("crlf.txt"), "kroutings"}).exit_status, 0);
  EXPECT_EQ(read_file(file("a.txt")), kRoutings);
  EXPECT_EQ(read_file(file("b.txt")), kRoutings);
}

TEST_F(Run, EveryByteIsData) {
  write_file(file("listing.txt"),
             "< a\0b\xff\x1a"
             "c\n\x1a\n> d\x1a"s);
  EXPECT_EQ(run({arg("report.txt"), arg("listing.txt"), "kitems"}).exit_status, 0);
  EXPECT_EQ(read_file(file("report.txt")),
            "\r\nStatus of Items: \r\n   Databases NOT Synchronized! \r\n"
            "   Missing in Scheduler:   a\0b\xff\x1a"
            "c\r\n"
            "   Missing in Kest:        d"s);
}

// A dash reads standard input as bytes, on every host: CR LF is the line's
// end, a byte 26 inside is data and only the very last one is dropped, as in
// a file; no text mode comes between.
TEST_F(Run, DashReadsStandardInputAsBytes) {
  write_file(file("input.txt"), "3c3\r\n< 8 Drill\x1a 10\r\n---\r\n> 8 Drill 12\r\n\x1a");
  ProcessOptions options;
  options.standard_input = file("input.txt");
  const ProcessResult r = run({arg("report.txt"), "-", "kroutings"}, options);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(file("report.txt")),
            "\r\nStatus of Routings: \r\n   Databases NOT Synchronized! \r\n"
            "   Missing in Scheduler:   8 Drill\x1a 10\r\n"
            "   Missing in Kest:        8 Drill 12\r\n");

  // The null device is an empty listing.
  const ProcessResult empty = run({arg("report.txt"), "-", "kunits"});
  EXPECT_EQ(empty.exit_status, 0) << empty.err;
  EXPECT_TRUE(read_file(file("report.txt")).ends_with(kUnitsAgreed));
}

// The same file as report and listing, by the same name or a hard link, is
// refused: the run would read its own growing output.
TEST_F(Run, ReportThatIsItsOwnListingIsRefused) {
  write_file(file("report.txt"), "< looks like an item\r\n");
  std::filesystem::create_hard_link(file("report.txt"), file("hard.txt"));
  for (const char* listing : {"report.txt", "hard.txt"}) {
    const ProcessResult r = run({arg("report.txt"), arg(listing), "kunits"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "syncstatus: report '" + arg("report.txt") + "' and listing '" + arg(listing) +
                         "' are the same file\n");
    EXPECT_EQ(read_file(file("report.txt")), "< looks like an item\r\n");
  }
}

TEST_F(Run, LongLinesStayWhole) {
  const std::string record(300000, 'r');
  write_file(file("listing.txt"), "< " + record + "\n> x\n");
  EXPECT_EQ(run({arg("report.txt"), arg("listing.txt"), "kitems"}).exit_status, 0);
  EXPECT_EQ(read_file(file("report.txt")),
            "\r\nStatus of Items: \r\n   Databases NOT Synchronized! \r\n"
            "   Missing in Scheduler:   " +
                record + "\r\n   Missing in Kest:        x\r\n");
}

TEST_F(Run, LongPathsAndKeys) {
  // Deeper than any fixed 127-character path buffer, within Windows' MAX_PATH.
  std::filesystem::path deep = dir_.path();
  while (utf8(deep).size() < 180) deep /= "folder-with-a-long-name";
  std::filesystem::create_directories(deep);
  const std::string listing = utf8(deep / "listing-with-a-long-name.txt");
  const std::string report = utf8(deep / "report-with-a-long-name.txt");
  ASSERT_GT(listing.size(), 200u);
  write_file(deep / "listing-with-a-long-name.txt", "");
  EXPECT_EQ(run({report, listing, "kunits"}).exit_status, 0);
  EXPECT_EQ(read_file(deep / "report-with-a-long-name.txt"), kUnitsAgreed);

  const std::string long_key = "kroutings" + std::string(40, 'x');
  const ProcessResult r = run({report, listing, long_key});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "syncstatus: warning: unknown table key '" + long_key +
                       "': the heading names no table\n");
  EXPECT_EQ(read_file(deep / "report-with-a-long-name.txt"),
            kUnitsAgreed + "\r\nStatus of s: \r\n   Databases Synchronized! \r\n");
}

TEST_F(Run, PathsWithBlanksAndBeyondAscii) {
  write_file(file("liste \xc3\xa4 \xe6\x97\xa5.txt"), kListing);
  const ProcessResult r =
      run({arg("r\xc3\xa9port \xce\xa9.txt"), arg("liste \xc3\xa4 \xe6\x97\xa5.txt"), "kroutings"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(read_file(file("r\xc3\xa9port \xce\xa9.txt")), kRoutings);
}

TEST_F(Run, UnknownKeyWarnsAndWritesSectionWithoutName) {
  write_file(file("listing.txt"), kListing);
  const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), "KROUTINGS"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err,
            "syncstatus: warning: unknown table key 'KROUTINGS': the heading names no table\n");
  EXPECT_EQ(read_file(file("report.txt")),
            "\r\nStatus of s: \r\n   Databases NOT Synchronized! \r\n"
            "   Missing in Scheduler:   8 Drill 10\r\n"
            "   Missing in Kest:        8 Drill 12\r\n");
}

const char* const kAllKeys[] = {"kemployee",     "kunits",     "ksetupstates",   "kqteams",
                                "kmachines",     "kitems",     "kcustitems",     "kroutings",
                                "kcustroutings", "kmpsorders", "kprporders",     "kmrporders",
                                "ksfcorders",    "kitemstock", "kcustitemstock", "kpurorders"};

TEST_F(Run, TooFewArgumentsShowUsage) {
  for (std::size_t count = 0; count < 3; ++count) {
    const std::vector<std::string> all = {arg("report.txt"), arg("listing.txt"), "kroutings"};
    const ProcessResult r = run(
        std::vector<std::string>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count)));
    EXPECT_EQ(r.exit_status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("syncstatus: expected REPORT, LISTING and KEY\n"
                          "Usage: syncstatus [--] REPORT LISTING KEY\n",
                          0),
              0u)
        << r.err;
    for (const char* key : kAllKeys) EXPECT_NE(r.err.find(key), std::string::npos) << key;
    EXPECT_FALSE(std::filesystem::exists(file("report.txt")));
  }
}

TEST_F(Run, HelpAndVersion) {
  const ProcessResult help = run({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("Usage: syncstatus [--] REPORT LISTING KEY\n"
                           "       syncstatus --help\n"
                           "       syncstatus --version\n",
                           0),
            0u);
  EXPECT_NE(help.out.find("  kcustitemstock  Customized Item Stock Level\n"), std::string::npos);
  const ProcessResult version = run({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "syncstatus 1.0.0\n");
}

// How the command line is read, run in the scratch folder, which holds only
// listing.txt: the exit status, both outputs, and the files there afterwards.
enum class Then {
  kNothing,  // the output is the head alone
  kUsage,    // the head is followed by the whole usage
  kReason,   // the head is followed by the system's reason, on the same line
};

struct Output {
  std::string head;
  Then then = Then::kNothing;
};

struct CommandLineCase {
  const char* name;
  std::vector<std::string> args;
  int exit_status;
  Output out;
  Output err;
  std::string created;  // the one file the run makes, holding `content`; or none
  std::string content;
};

void PrintTo(const CommandLineCase& c, std::ostream* os) {
  *os << c.name;
}

void expect_output(const std::string& output, const Output& expected, const char* stream) {
  SCOPED_TRACE(stream);
  ASSERT_EQ(output.substr(0, expected.head.size()), expected.head) << output;
  const std::string rest = output.substr(expected.head.size());
  switch (expected.then) {
    case Then::kNothing:
      EXPECT_EQ(rest, "");
      break;
    case Then::kUsage:
      EXPECT_EQ(rest.rfind("Usage: syncstatus [--] REPORT LISTING KEY\n", 0), 0u) << rest;
      EXPECT_NE(rest.find("  kroutings       Routing\n"), std::string::npos) << rest;
      EXPECT_TRUE(
          rest.ends_with("2 for a usage error; -1 (255) when writing or closing\n"
                         "the report failed.\n"))
          << rest;
      break;
    case Then::kReason:
      EXPECT_GT(rest.size(), 1u) << "no reason given";
      EXPECT_EQ(rest.find('\n'), rest.size() - 1) << "one line: " << rest;
      break;
  }
}

class RunCommandLine : public Run, public testing::WithParamInterface<CommandLineCase> {};

TEST_P(RunCommandLine, DoesWhatItAsks) {
  const CommandLineCase& c = GetParam();
  write_file(file("listing.txt"), kListing);
  ProcessOptions options;
  options.working_directory = dir_.path();
  const ProcessResult r = run(c.args, options);
  EXPECT_EQ(r.exit_status, c.exit_status);
  expect_output(r.out, c.out, "standard output");
  expect_output(r.err, c.err, "standard error");

  std::vector<std::string> expected_files = {"listing.txt"};
  if (!c.created.empty()) expected_files.push_back(c.created);
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    const std::string name = utf8(entry.path().filename());
    // The test's own captures of the program's output.
    if (name.starts_with("out-") || name.starts_with("err-")) continue;
    files.push_back(name);
  }
  std::sort(files.begin(), files.end());
  std::sort(expected_files.begin(), expected_files.end());
  EXPECT_EQ(files, expected_files);
  if (!c.created.empty()) {
    EXPECT_EQ(read_file(file(c.created)), c.content);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunCommandLine,
    testing::Values(
        CommandLineCase{"unknown_option_creates_nothing",
                        {"--bogus", "listing.txt", "kroutings"},
                        2,
                        {""},
                        {"syncstatus: unknown option '--bogus'\n", Then::kUsage},
                        "",
                        ""},
        CommandLineCase{"single_dash_option_is_unknown",
                        {"-x", "report.txt", "listing.txt", "kroutings"},
                        2,
                        {""},
                        {"syncstatus: unknown option '-x'\n", Then::kUsage},
                        "",
                        ""},
        CommandLineCase{"unknown_option_shown_on_one_line",
                        {"--a\tb\n", "report.txt", "listing.txt", "kroutings"},
                        2,
                        {""},
                        {"syncstatus: unknown option '--a\\tb\\n'\n", Then::kUsage},
                        "",
                        ""},
        CommandLineCase{"too_few_after_double_dash",
                        {"--", "report.txt", "listing.txt"},
                        2,
                        {""},
                        {"syncstatus: expected REPORT, LISTING and KEY\n", Then::kUsage},
                        "",
                        ""},
        CommandLineCase{"version_with_more_arguments",
                        {"--version", "a", "b"},
                        0,
                        {"syncstatus 1.0.0\n"},
                        {""},
                        "",
                        ""},
        CommandLineCase{"help_between_positionals",
                        {"report.txt", "--help", "listing.txt", "kroutings"},
                        0,
                        {"", Then::kUsage},
                        {""},
                        "",
                        ""},
        CommandLineCase{"double_dash_allows_a_report_named_with_a_dash",
                        {"--", "-odd-name.txt", "listing.txt", "kroutings"},
                        0,
                        {""},
                        {""},
                        "-odd-name.txt",
                        kRoutings},
        CommandLineCase{"option_after_the_third_is_ignored",
                        {"report.txt", "listing.txt", "kroutings", "--bogus"},
                        0,
                        {""},
                        {""},
                        "report.txt",
                        kRoutings},
        CommandLineCase{"key_with_a_newline_shown_as_backslash_n",
                        {"report.txt", "listing.txt", "k\nroutings"},
                        0,
                        {""},
                        {"syncstatus: warning: unknown table key 'k\\nroutings': the heading "
                         "names no table\n"},
                        "report.txt",
                        "\r\nStatus of s: \r\n   Databases NOT Synchronized! \r\n"
                        "   Missing in Scheduler:   8 Drill 10\r\n"
                        "   Missing in Kest:        8 Drill 12\r\n"},
        CommandLineCase{"listing_path_shown_on_one_line",
                        {"report.txt", "absent\x01.txt", "kroutings"},
                        1,
                        {""},
                        {"syncstatus: cannot open listing 'absent\\x01.txt': ", Then::kReason},
                        "",
                        ""}),
    [](const testing::TestParamInfo<CommandLineCase>& p) { return std::string(p.param.name); });

// Each failure: its exit status, one line on standard error naming the file,
// nothing on standard output, and the report as it was.
struct FailureCase {
  const char* name;
  std::string report;   // name in the scratch folder
  std::string listing;  // likewise
  int exit_status;
  std::string message_start;  // before the system's reason
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class RunFailure : public Run, public testing::WithParamInterface<FailureCase> {
 protected:
  void SetUp() override {
    write_file(file("listing.txt"), kListing);
    std::filesystem::create_directory(file("folder"));
    write_file(file("kept.txt"), "kept\r\n");
  }
};

TEST_P(RunFailure, LeavesReportAlone) {
  const FailureCase& c = GetParam();
  const bool existed = std::filesystem::exists(file(c.report));
  const std::string before =
      existed && !std::filesystem::is_directory(file(c.report)) ? read_file(file(c.report)) : "";
  const std::string report = c.report.empty() ? "" : arg(c.report);
  const ProcessResult r = run({report, arg(c.listing), "kroutings"});
  EXPECT_EQ(r.exit_status, c.exit_status);
  EXPECT_EQ(r.out, "");
  std::string start = c.message_start;
  for (const auto& [from, to] : {std::pair{"@R", report}, std::pair{"@L", arg(c.listing)}}) {
    if (const auto at = start.find(from); at != std::string::npos) start.replace(at, 2, to);
  }
  EXPECT_EQ(r.err.rfind(start, 0), 0u) << r.err;
  EXPECT_GT(r.err.size(), start.size() + 1) << "no reason given";
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
  if (!c.report.empty() && !std::filesystem::is_directory(file(c.report))) {
    EXPECT_EQ(std::filesystem::exists(file(c.report)), existed);
    if (existed) {
      EXPECT_EQ(read_file(file(c.report)), before);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunFailure,
    testing::Values(FailureCase{"missing_listing", "report.txt", "absent.txt", 1,
                                "syncstatus: cannot open listing '@L': "},
                    FailureCase{"missing_listing_existing_report", "kept.txt", "absent.txt", 1,
                                "syncstatus: cannot open listing '@L': "},
                    FailureCase{"listing_in_missing_folder", "kept.txt", "nowhere/listing.txt", 1,
                                "syncstatus: cannot open listing '@L': "},
                    FailureCase{"listing_is_folder", "report.txt", "folder", 1,
                                "syncstatus: cannot open listing '@L': "},
                    FailureCase{"listing_is_folder_existing_report", "kept.txt", "folder", 1,
                                "syncstatus: cannot open listing '@L': "},
                    FailureCase{"report_is_folder", "folder", "listing.txt", 1,
                                "syncstatus: cannot open report '@R': "},
                    FailureCase{"report_in_missing_folder", "nowhere/report.txt", "listing.txt", 1,
                                "syncstatus: cannot open report '@R': "},
                    FailureCase{"empty_report_path", "", "listing.txt", 1,
                                "syncstatus: cannot open report '': "}),
    [](const testing::TestParamInfo<FailureCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace syncstatus::test
