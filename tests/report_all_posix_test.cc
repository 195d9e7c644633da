// End-to-end runs of the shipped script syncstatus-report-all with the built
// program: which tables it reports, skips or fails, how it stops, and that it
// leaves nothing behind in the current folder or the temporary one.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "job_files.h"
#include "subprocess.h"
#include "test_files.h"

namespace syncstatus::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Exports of three tables, the first, second and last of the catalogue, and
// the sections they give. The thirteen tables between have no exports.
const std::string kEmployeeExport = "E-1;Anna\nE-2;Jonas\n";
const std::string kEmployeeAgreed = "\r\nStatus of Employees: \r\n   Databases Synchronized! \r\n";
const std::string kUnitsKest = "PCS;Pieces\nKG;Kilogram\n";
const std::string kUnitsScheduler = "PCS;Pieces\nM;Metre\n";
const std::string kUnitsDiffer =
    "\r\nStatus of Units: \r\n   Databases NOT Synchronized! \r\n"
    "   Missing in Scheduler:   KG;Kilogram\r\n"
    "   Missing in Kest:        M;Metre\r\n";
const std::string kOrdersKest = "PO-1;200\n";
const std::string kOrdersScheduler = "PO-1;200\nPO-2;10\n";
const std::string kOrdersDiffer =
    "\r\nStatus of Purchase Orders: \r\n   Databases NOT Synchronized! \r\n"
    "   Missing in Kest:        PO-2;10\r\n";
const std::string kSkippedBetween =
    "syncstatus-report-all: skipped ksetupstates: no kest/ksetupstates.txt, no "
    "scheduler/ksetupstates.txt\n"
    "syncstatus-report-all: skipped kqteams: no kest/kqteams.txt, no scheduler/kqteams.txt\n"
    "syncstatus-report-all: skipped kmachines: no kest/kmachines.txt, no scheduler/kmachines.txt\n"
    "syncstatus-report-all: skipped kitems: no kest/kitems.txt, no scheduler/kitems.txt\n"
    "syncstatus-report-all: skipped kcustitems: no kest/kcustitems.txt, no "
    "scheduler/kcustitems.txt\n"
    "syncstatus-report-all: skipped kroutings: no kest/kroutings.txt, no scheduler/kroutings.txt\n"
    "syncstatus-report-all: skipped kcustroutings: no kest/kcustroutings.txt, no "
    "scheduler/kcustroutings.txt\n"
    "syncstatus-report-all: skipped kmpsorders: no kest/kmpsorders.txt, no "
    "scheduler/kmpsorders.txt\n"
    "syncstatus-report-all: skipped kprporders: no kest/kprporders.txt, no "
    "scheduler/kprporders.txt\n"
    "syncstatus-report-all: skipped kmrporders: no kest/kmrporders.txt, no "
    "scheduler/kmrporders.txt\n"
    "syncstatus-report-all: skipped ksfcorders: no kest/ksfcorders.txt, no "
    "scheduler/ksfcorders.txt\n"
    "syncstatus-report-all: skipped kitemstock: no kest/kitemstock.txt, no "
    "scheduler/kitemstock.txt\n"
    "syncstatus-report-all: skipped kcustitemstock: no kest/kcustitemstock.txt, no "
    "scheduler/kcustitemstock.txt\n";

/// The three tables' exports, with `changes` applied: a path given an empty
/// value is left out, kFolder makes a folder, any other value replaces it.
Files exports(const Files& changes = {}) {
  return with_changes({{"kest/kemployee.txt", kEmployeeExport},
                       {"scheduler/kemployee.txt", kEmployeeExport},
                       {"kest/kunits.txt", kUnitsKest},
                       {"scheduler/kunits.txt", kUnitsScheduler},
                       {"kest/kpurorders.txt", kOrdersKest},
                       {"scheduler/kpurorders.txt", kOrdersScheduler}},
                      changes);
}

fs::path script_under_test() {
  const char* script = std::getenv("SYNCSTATUS_REPORT_ALL");
  if (script == nullptr) throw std::runtime_error("SYNCSTATUS_REPORT_ALL is not set");
  return script;
}

/// A scratch folder laid out as an installation and a job: bin/ holds the
/// script and the program, work/ (the current folder of each run) the
/// exports, tmp/ is TMPDIR. PATH holds only the system's folders.
class ReportAll : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"bin", "work/kest", "work/scheduler", "tmp"}) {
      fs::create_directories(dir_ / folder);
    }
    fs::copy_file(script_under_test(), bin_script());
    fs::create_symlink(program_under_test(), dir_ / "bin/syncstatus");
  }

  void lay_out(const Files& files) { test::lay_out(work(), files); }

  ProcessResult run(const std::vector<std::string>& args, const fs::path& script,
                    std::vector<std::pair<std::string, std::string>> environment = {}) {
    ProcessOptions options;
    options.working_directory = work();
    options.environment = {{"TMPDIR", utf8(dir_ / "tmp")}, {"PATH", "/usr/bin:/bin"}};
    for (auto& change : environment) options.environment.push_back(std::move(change));
    return Process(script, args, dir_.path(), options).wait();
  }
  ProcessResult run(const std::vector<std::string>& args) { return run(args, bin_script()); }

  fs::path bin_script() const { return dir_ / "bin/syncstatus-report-all"; }
  fs::path work() const { return dir_ / "work"; }

  /// The temporary folder is left as it was found: empty.
  void expect_nothing_left_in_tmp() const {
    EXPECT_EQ(names_in(dir_ / "tmp"), std::vector<std::string>{});
  }

  ScratchDir dir_;
};

struct Case {
  const char* name;
  Files files;         // under work/
  std::string report;  // the argument; empty: none, so report.txt
  int exit_status;
  std::string report_bytes;
  std::string out;
  std::string err;
  std::vector<std::string> work_after;  // what work/ holds afterwards
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ReportAllCases : public ReportAll, public testing::WithParamInterface<Case> {};

TEST_P(ReportAllCases, ReportsSkipsAndFailsTables) {
  const Case& c = GetParam();
  lay_out(c.files);
  const fs::path report = work() / (c.report.empty() ? "report.txt"s : c.report);
  const ProcessResult r =
      run(c.report.empty() ? std::vector<std::string>{} : std::vector{c.report});
  EXPECT_EQ(r.exit_status, c.exit_status);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(read_file(report), c.report_bytes);
  EXPECT_EQ(names_in(work()), c.work_after);
  expect_nothing_left_in_tmp();
}

const std::vector<std::string> kWorkAfter = {"kest", "report.txt", "scheduler"};

INSTANTIATE_TEST_SUITE_P(
    Tables, ReportAllCases,
    testing::Values(
        Case{"AgreeingAndDifferingTables", exports(), "", 0,
             kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer,
             "syncstatus-report-all: appended 3 of 16 tables to \"report.txt\"\n", kSkippedBetween,
             kWorkAfter},
        Case{"OnlyTheKestExport", exports({{"scheduler/kunits.txt", ""}}), "", 1,
             kEmployeeAgreed + kOrdersDiffer, "",
             "syncstatus-report-all: failed kunits: no scheduler/kunits.txt\n" + kSkippedBetween +
                 "syncstatus-report-all: appended 2 of 16 tables to \"report.txt\", 1 failed\n",
             kWorkAfter},
        Case{"OnlyTheSchedulerExport", exports({{"kest/kemployee.txt", ""}}), "", 1,
             kUnitsDiffer + kOrdersDiffer, "",
             "syncstatus-report-all: failed kemployee: no kest/kemployee.txt\n" + kSkippedBetween +
                 "syncstatus-report-all: appended 2 of 16 tables to \"report.txt\", 1 failed\n",
             kWorkAfter},
        // diff takes a folder as the place of a file of the other's name.
        Case{"DiffFails", exports({{"kest/kunits.txt", ""}, {"kest/kunits.txt", kFolder}}), "", 1,
             kEmployeeAgreed + kOrdersDiffer, "",
             "diff: kest/kunits.txt/kunits.txt: No such file or directory\n"
             "syncstatus-report-all: failed kunits: diff exit status 2\n" +
                 kSkippedBetween +
                 "syncstatus-report-all: appended 2 of 16 tables to \"report.txt\", 1 failed\n",
             kWorkAfter},
        Case{"CrLfAgainstLfExport", exports({{"kest/kemployee.txt", "E-1;Anna\r\nE-2;Jonas\r\n"}}),
             "", 0, kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer,
             "syncstatus-report-all: appended 3 of 16 tables to \"report.txt\"\n", kSkippedBetween,
             kWorkAfter},
        Case{"ExportsWithNulBytes",
             exports({{"kest/kunits.txt", "PCS\0;1\nKG\0;2\n"s},
                      {"scheduler/kunits.txt", "PCS\0;1\nKG\0;3\n"s}}),
             "", 0,
             kEmployeeAgreed +
                 "\r\nStatus of Units: \r\n   Databases NOT Synchronized! \r\n"
                 "   Missing in Scheduler:   KG\0;2\r\n"
                 "   Missing in Kest:        KG\0;3\r\n"s +
                 kOrdersDiffer,
             "syncstatus-report-all: appended 3 of 16 tables to \"report.txt\"\n", kSkippedBetween,
             kWorkAfter},
        Case{"OddReportName",
             exports(),
             "a report & (100%).txt",
             0,
             kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer,
             "syncstatus-report-all: appended 3 of 16 tables to \"a report & (100%).txt\"\n",
             kSkippedBetween,
             {"a report & (100%).txt", "kest", "scheduler"}},
        // A report name that looks like an option is still the report.
        Case{"ReportNameStartingWithADash",
             exports(),
             "-report.txt",
             0,
             kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer,
             "syncstatus-report-all: appended 3 of 16 tables to \"-report.txt\"\n",
             kSkippedBetween,
             {"-report.txt", "kest", "scheduler"}}),
    [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

TEST_F(ReportAll, LeftoverReadOnlyListingStaysAsItWas) {
  lay_out(exports());
  const std::string stale = "1c1\n< stale\n---\n> stale too\n";
  write_file(work() / "listing.txt", stale);
  ::chmod((work() / "listing.txt").c_str(), 0444);
  const ProcessResult r = run({});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(read_file(work() / "report.txt"), kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer);
  EXPECT_EQ(read_file(work() / "listing.txt"), stale);
  expect_nothing_left_in_tmp();
}

// A failing syncstatus stops the run at once: the later tables are not even
// looked at, so no note about them appears.
TEST_F(ReportAll, FailingSyncstatusStopsWithItsStatus) {
  lay_out(exports());
  fs::create_directory(work() / "report.txt");
  const ProcessResult r = run({});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "syncstatus: cannot open report 'report.txt': Is a directory\n"
            "syncstatus-report-all: stopped at kemployee: syncstatus exit status 1\n");
  EXPECT_EQ(names_in(work() / "report.txt"), std::vector<std::string>{});
  expect_nothing_left_in_tmp();
}

TEST_F(ReportAll, FullReportStopsWithStatus255) {
  lay_out(exports());
  const ProcessResult r = run({"/dev/full"});
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "syncstatus: cannot write report '/dev/full': No space left on device\n"
            "syncstatus-report-all: stopped at kemployee: syncstatus exit status 255\n");
  expect_nothing_left_in_tmp();
}

TEST_F(ReportAll, MissingDiffIsToldOnce) {
  lay_out(exports());
  const ProcessResult r = run({}, bin_script(), {{"DIFF", "/nonexistent/diff"}});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err,
            "syncstatus-report-all: no diff at \"/nonexistent/diff\": set DIFF to the diff to "
            "use\n");
  EXPECT_FALSE(fs::exists(work() / "report.txt"));
  expect_nothing_left_in_tmp();
}

// Where the script is, and how it finds syncstatus from there.
struct WhereCase {
  const char* name;
  const char* script;  // under the scratch folder, made as told by `link`
  bool link;           // a relative symbolic link to bin/syncstatus-report-all; else a copy
  const char* path;    // PATH, with @ for the scratch folder
};

void PrintTo(const WhereCase& c, std::ostream* os) {
  *os << c.name;
}

class FindsSyncstatus : public ReportAll, public testing::WithParamInterface<WhereCase> {};

TEST_P(FindsSyncstatus, AndReportsAllTables) {
  const WhereCase& c = GetParam();
  lay_out(exports());
  const fs::path script = dir_ / c.script;
  fs::create_directories(script.parent_path());
  if (c.link) {
    fs::create_symlink(fs::relative(bin_script(), script.parent_path()), script);
  } else if (script != bin_script()) {
    fs::copy_file(bin_script(), script);
  }
  std::string path = c.path;
  if (const auto at = path.find('@'); at != std::string::npos) {
    path.replace(at, 1, utf8(dir_.path()));
  }
  const ProcessResult r = run({"out.txt"}, script, {{"PATH", path}});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.out, "syncstatus-report-all: appended 3 of 16 tables to \"out.txt\"\n");
  EXPECT_EQ(read_file(work() / "out.txt"), kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer);
}

INSTANTIATE_TEST_SUITE_P(
    Where, FindsSyncstatus,
    testing::Values(WhereCase{"BesideItself", "bin/syncstatus-report-all", false, "/usr/bin:/bin"},
                    WhereCase{"BesideItsLinkedFile", "links/report-all", true, "/usr/bin:/bin"},
                    WhereCase{"OnPath", "alone/syncstatus-report-all", false,
                              "/usr/bin:@/bin:/bin"}),
    [](const testing::TestParamInfo<WhereCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace syncstatus::test
