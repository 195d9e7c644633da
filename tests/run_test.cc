// End-to-end runs of the program: command line, report bytes, exit status.
#include <gtest/gtest.h>

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
    EXPECT_NE(r.err.find("Usage: syncstatus REPORT LISTING KEY\n"), std::string::npos);
    for (const char* key : kAllKeys) EXPECT_NE(r.err.find(key), std::string::npos) << key;
    EXPECT_FALSE(std::filesystem::exists(file("report.txt")));
  }
}

TEST_F(Run, HelpAndVersion) {
  const ProcessResult help = run({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.out.rfind("Usage: syncstatus REPORT LISTING KEY\n", 0), 0u);
  EXPECT_NE(help.out.find("  kcustitemstock  Customized Item Stock Level\n"), std::string::npos);
  const ProcessResult version = run({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.out, "syncstatus 1.0.0\n");
}

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
