// End-to-end runs of the shipped report-all.cmd with the built program,
// under cmd.exe: which tables it reports, skips or fails, how it stops, and
// that it leaves nothing behind in the current folder or in %TEMP%. The
// exports are compared by diff_standin.exe, built beside this test.
#include <windows.h>

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

const fs::path kCmd = L"C:\\windows\\system32\\cmd.exe";

// Exports of three tables, the first, second and last of the catalogue, and
// the sections they give. The thirteen tables between have no exports.
const std::string kEmployeeExport = "E-1;Anna\nE-2;Jonas\n";
const std::string kEmployeeAgreed = "\r\nStatus of Employees: \r\n   Databases Synchronized! \r\n";
const std::string kUnitsDiffer =
    "\r\nStatus of Units: \r\n   Databases NOT Synchronized! \r\n"
    "   Missing in Scheduler:   KG;Kilogram\r\n"
    "   Missing in Kest:        M;Metre\r\n";
const std::string kOrdersDiffer =
    "\r\nStatus of Purchase Orders: \r\n   Databases NOT Synchronized! \r\n"
    "   Missing in Scheduler:   PO-1;200\r\n"
    "   Missing in Kest:        PO-2;10\r\n";
const std::string kSkippedBetween =
    "report-all: skipped ksetupstates: no kest\\ksetupstates.txt, no "
    "scheduler\\ksetupstates.txt\r\n"
    "report-all: skipped kqteams: no kest\\kqteams.txt, no scheduler\\kqteams.txt\r\n"
    "report-all: skipped kmachines: no kest\\kmachines.txt, no scheduler\\kmachines.txt\r\n"
    "report-all: skipped kitems: no kest\\kitems.txt, no scheduler\\kitems.txt\r\n"
    "report-all: skipped kcustitems: no kest\\kcustitems.txt, no scheduler\\kcustitems.txt\r\n"
    "report-all: skipped kroutings: no kest\\kroutings.txt, no scheduler\\kroutings.txt\r\n"
    "report-all: skipped kcustroutings: no kest\\kcustroutings.txt, no "
    "scheduler\\kcustroutings.txt\r\n"
    "report-all: skipped kmpsorders: no kest\\kmpsorders.txt, no scheduler\\kmpsorders.txt\r\n"
    "report-all: skipped kprporders: no kest\\kprporders.txt, no scheduler\\kprporders.txt\r\n"
    "report-all: skipped kmrporders: no kest\\kmrporders.txt, no scheduler\\kmrporders.txt\r\n"
    "report-all: skipped ksfcorders: no kest\\ksfcorders.txt, no scheduler\\ksfcorders.txt\r\n"
    "report-all: skipped kitemstock: no kest\\kitemstock.txt, no scheduler\\kitemstock.txt\r\n"
    "report-all: skipped kcustitemstock: no kest\\kcustitemstock.txt, no "
    "scheduler\\kcustitemstock.txt\r\n";

/// The three tables' exports, with `changes` applied: a path given an empty
/// value is left out, kFolder makes a folder, any other value replaces it.
Files exports(const Files& changes = {}) {
  return with_changes({{"kest/kemployee.txt", kEmployeeExport},
                       {"scheduler/kemployee.txt", kEmployeeExport},
                       {"kest/kunits.txt", "KG;Kilogram\n"},
                       {"scheduler/kunits.txt", "M;Metre\n"},
                       {"kest/kpurorders.txt", "PO-1;200\n"},
                       {"scheduler/kpurorders.txt", "PO-2;10\n"}},
                      changes);
}

/// A path from the environment; under Wine, CTest hands over Unix paths,
/// which Wine's drive Z: reaches.
fs::path path_from_environment(const wchar_t* name) {
  const wchar_t* value = ::_wgetenv(name);
  if (value == nullptr) throw std::runtime_error("a variable for the tests is not set");
  std::wstring path = value;
  if (!path.empty() && path[0] == L'/') {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    path = L"Z:" + path;
  }
  return path;
}

/// diff_standin.exe, built into the folder of this test.
fs::path diff_standin() {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) throw std::runtime_error("cannot find the test itself");
  return fs::path(self).parent_path() / L"diff_standin.exe";
}

/// A scratch folder laid out as an installation and a job: bin\ holds
/// report-all.cmd and syncstatus.exe, work\ (the current folder of each run)
/// the exports, tmp\ is TEMP and TMP. DIFF names the stand-in diff.
class ReportAllCmd : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* folder : {"bin", "work/kest", "work/scheduler", "tmp"}) {
      fs::create_directories(dir_ / folder);
    }
    fs::copy_file(path_from_environment(L"SYNCSTATUS_REPORT_ALL"), dir_ / "bin/report-all.cmd");
    fs::copy_file(program_under_test(), dir_ / "bin/syncstatus.exe");
  }

  void lay_out(const Files& files) { test::lay_out(work(), files); }

  // The script's path must hold no blank: cmd /c would take the quotes
  // around it for quotes around the whole command. Scratch paths hold none.
  ProcessResult run(const std::vector<std::string>& script_args) {
    std::vector<std::string> args = {"/c", utf8(dir_ / "bin/report-all.cmd")};
    args.insert(args.end(), script_args.begin(), script_args.end());
    ProcessOptions options;
    options.working_directory = work();
    const std::string tmp = utf8(dir_ / "tmp");
    options.environment = {{"TEMP", tmp}, {"TMP", tmp}, {"DIFF", utf8(diff_standin())}};
    return Process(kCmd, args, dir_.path(), options).wait();
  }

  fs::path work() const { return dir_ / "work"; }

  /// %TEMP% is left as it was found: empty.
  void expect_nothing_left_in_tmp() const {
    EXPECT_EQ(names_in(dir_ / "tmp"), std::vector<std::string>{});
  }

  ScratchDir dir_;
};

struct Case {
  const char* name;
  Files files;         // under work\ .
  std::string report;  // the argument; empty: none, so report.txt
  int exit_status;
  std::string report_bytes;
  std::string out;
  std::string err;
  std::vector<std::string> work_after;  // what work\ holds afterwards
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class ReportAllCmdCases : public ReportAllCmd, public testing::WithParamInterface<Case> {};

TEST_P(ReportAllCmdCases, ReportsSkipsAndFailsTables) {
  const Case& c = GetParam();
  lay_out(c.files);
  const ProcessResult r =
      run(c.report.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.report});
  EXPECT_EQ(r.exit_status, c.exit_status);
  EXPECT_EQ(r.out, c.out);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(read_file(work() / (c.report.empty() ? std::string("report.txt") : c.report)),
            c.report_bytes);
  EXPECT_EQ(names_in(work()), c.work_after);
  expect_nothing_left_in_tmp();
}

const std::vector<std::string> kWorkAfter = {"kest", "report.txt", "scheduler"};

// Wine's cmd.exe drops every '%' from a batch file's arguments before the
// file sees them (Windows keeps them), so no report name here holds one.
INSTANTIATE_TEST_SUITE_P(
    Tables, ReportAllCmdCases,
    testing::Values(
        Case{"AgreeingAndDifferingTables", exports(), "", 0,
             kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer,
             "report-all: appended 3 of 16 tables to \"report.txt\"\r\n", kSkippedBetween,
             kWorkAfter},
        Case{"OnlyTheKestExport", exports({{"scheduler/kunits.txt", ""}}), "", 1,
             kEmployeeAgreed + kOrdersDiffer, "",
             "report-all: failed kunits: no scheduler\\kunits.txt\r\n" + kSkippedBetween +
                 "report-all: appended 2 of 16 tables to \"report.txt\", 1 failed\r\n",
             kWorkAfter},
        Case{"OnlyTheSchedulerExport", exports({{"kest/kemployee.txt", ""}}), "", 1,
             kUnitsDiffer + kOrdersDiffer, "",
             "report-all: failed kemployee: no kest\\kemployee.txt\r\n" + kSkippedBetween +
                 "report-all: appended 2 of 16 tables to \"report.txt\", 1 failed\r\n",
             kWorkAfter},
        Case{"DiffFails", exports({{"kest/kunits.txt", ""}, {"kest/kunits.txt", kFolder}}), "", 1,
             kEmployeeAgreed + kOrdersDiffer, "",
             "diff_standin: kest\\kunits.txt: cannot read\r\n"
             "report-all: failed kunits: diff exit status 2\r\n" +
                 kSkippedBetween +
                 "report-all: appended 2 of 16 tables to \"report.txt\", 1 failed\r\n",
             kWorkAfter},
        Case{"CrLfAgainstLfExport", exports({{"kest/kemployee.txt", "E-1;Anna\r\nE-2;Jonas\r\n"}}),
             "", 0, kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer,
             "report-all: appended 3 of 16 tables to \"report.txt\"\r\n", kSkippedBetween,
             kWorkAfter},
        Case{"OddReportName",
             exports(),
             "a report & (1) ^.txt",
             0,
             kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer,
             "report-all: appended 3 of 16 tables to \"a report & (1) ^.txt\"\r\n",
             kSkippedBetween,
             {"a report & (1) ^.txt", "kest", "scheduler"}},
        // A report name that looks like an option is still the report.
        Case{"ReportNameStartingWithADash",
             exports(),
             "-report.txt",
             0,
             kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer,
             "report-all: appended 3 of 16 tables to \"-report.txt\"\r\n",
             kSkippedBetween,
             {"-report.txt", "kest", "scheduler"}}),
    [](const testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

// The old script wrote listing.txt in the current folder and took a failed
// write there for "the exports differ".
TEST_F(ReportAllCmd, LeftoverReadOnlyListingStaysAsItWas) {
  lay_out(exports());
  const std::string stale = "1c1\n< stale\n---\n> stale too\n";
  write_file(work() / "listing.txt", stale);
  fs::permissions(work() / "listing.txt", fs::perms::owner_write, fs::perm_options::remove);
  const ProcessResult r = run({});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(read_file(work() / "report.txt"), kEmployeeAgreed + kUnitsDiffer + kOrdersDiffer);
  EXPECT_EQ(read_file(work() / "listing.txt"), stale);
  expect_nothing_left_in_tmp();
  fs::permissions(work() / "listing.txt", fs::perms::owner_write, fs::perm_options::add);
}

// A failing syncstatus stops the run at once: the later tables are not even
// looked at, so no note about them appears.
TEST_F(ReportAllCmd, FailingSyncstatusStopsWithItsStatus) {
  lay_out(exports());
  fs::create_directory(work() / "report.txt");
  const ProcessResult r = run({});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  const std::string stop = "report-all: stopped at kemployee: syncstatus exit status 1\r\n";
  ASSERT_GT(r.err.size(), stop.size());
  EXPECT_EQ(r.err.substr(0, r.err.find('\n') + 1).rfind("syncstatus: cannot open report ", 0), 0u)
      << r.err;
  EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), stop);
  expect_nothing_left_in_tmp();
}

TEST_F(ReportAllCmd, ReportsEveryTableWhenBothSidesHaveThem) {
  Files files;
  for (const char* key :
       {"kemployee", "kunits", "ksetupstates", "kqteams", "kmachines", "kitems", "kcustitems",
        "kroutings", "kcustroutings", "kmpsorders", "kprporders", "kmrporders", "ksfcorders",
        "kitemstock", "kcustitemstock", "kpurorders"}) {
    files.emplace_back(std::string("kest/") + key + ".txt", "same\n");
    files.emplace_back(std::string("scheduler/") + key + ".txt", "same\n");
  }
  lay_out(files);
  const ProcessResult r = run({"all.txt"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "report-all: appended 16 of 16 tables to \"all.txt\"\r\n");
  EXPECT_EQ(read_file(work() / "all.txt"),
            "\r\nStatus of Employees: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Units: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Setup States: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Qualified Teams: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Machines: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Items: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Customized Items: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Routings: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Customized Routings: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of MPS Orders: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of PRP Orders: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of MRP Orders: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of SFC Orders: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Item Stock Levels: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Customized Item Stock Levels: \r\n   Databases Synchronized! \r\n"
            "\r\nStatus of Purchase Orders: \r\n   Databases Synchronized! \r\n");
  expect_nothing_left_in_tmp();
}

}  // namespace
}  // namespace syncstatus::test
