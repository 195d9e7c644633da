// End-to-end runs of the program at the edges of a run, as POSIX hosts make
// them: a listing on standard input, a report that is its own listing under
// another name, a close that fails, and too little memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "run_fixture.h"

namespace syncstatus::test {
namespace {

namespace fs = std::filesystem;

const std::string kEarlier = "earlier section\r\nkept as it is\r\n";

class Edges : public RunFixture {
 protected:
  // Runs `script` in bash in the scratch folder, with the program as "$0".
  ProcessResult run_bash(const std::string& script, const ProcessOptions& options = {}) {
    ProcessOptions in_scratch = options;
    in_scratch.working_directory = dir_.path();
    return Process("/bin/bash", {"-c", script, utf8(program_under_test())}, dir_.path(), in_scratch)
        .wait();
  }
};

// --- A listing on standard input ----------------------------------------

struct InputCase {
  const char* name;
  std::string script;  // "$0" is the program; run in the scratch folder
  int exit_status;
  std::string err;
  std::string report;  // what report.txt holds afterwards; empty: absent
};

void PrintTo(const InputCase& c, std::ostream* os) {
  *os << c.name;
}

class StandardInput : public Edges, public testing::WithParamInterface<InputCase> {
 protected:
  void SetUp() override {
    write_file(file("listing.txt"), kListing);
    write_file(file("-"), "2c2\n< from the file named -\n---\n> x\n");
  }
};

TEST_P(StandardInput, IsReadWhenListingIsADash) {
  const InputCase& c = GetParam();
  const ProcessResult r = run_bash(c.script);
  EXPECT_EQ(r.exit_status, c.exit_status);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, c.err);
  if (c.report.empty()) {
    EXPECT_FALSE(fs::exists(file("report.txt")));
  } else {
    EXPECT_EQ(read_file(file("report.txt")), c.report);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StandardInput,
    testing::Values(
        InputCase{"redirected_file", R"("$0" report.txt - kroutings < listing.txt)", 0, "",
                  kRoutings},
        InputCase{"pipe", R"(cat listing.txt | "$0" report.txt - kroutings)", 0, "", kRoutings},
        // CR LF and a final byte 26 read as from a file: no text mode.
        InputCase{"bytes_as_they_are",
                  R"(printf '3c3\r\n< 8 Drill 10\r\n---\r\n> 8 Drill 12\r\n\032' |)"
                  R"( "$0" report.txt - kroutings)",
                  0, "", kRoutings},
        InputCase{"empty_input", R"("$0" report.txt - kunits < /dev/null)", 0, "", kUnitsAgreed},
        InputCase{"file_named_dash", R"("$0" report.txt ./- kroutings < listing.txt)", 0, "",
                  "\r\nStatus of Routings: \r\n   Databases NOT Synchronized! \r\n"
                  "   Missing in Scheduler:   from the file named -\r\n"
                  "   Missing in Kest:        x\r\n"},
        // Closed, it must not pass for an empty listing, which would mean
        // agreement.
        InputCase{"closed", R"("$0" report.txt - kunits <&-)", 1,
                  "syncstatus: cannot open listing '-': Bad file descriptor\n", ""},
        InputCase{"folder", R"("$0" report.txt - kunits < .)", 1,
                  "syncstatus: cannot read listing '-': Is a directory\n", ""}),
    [](const testing::TestParamInfo<InputCase>& p) { return std::string(p.param.name); });

// --- A report that is its own listing -------------------------------------

struct SameFileCase {
  const char* name;
  std::string script;
  std::string err;
};

void PrintTo(const SameFileCase& c, std::ostream* os) {
  *os << c.name;
}

class SameFile : public Edges, public testing::WithParamInterface<SameFileCase> {};

TEST_P(SameFile, IsRefusedAndLeftAlone) {
  const SameFileCase& c = GetParam();
  write_file(file("report.txt"), kEarlier + "< a line that looks like an item\n");
  fs::create_symlink("report.txt", file("link.txt"));
  fs::create_hard_link(file("report.txt"), file("hard.txt"));
  const ProcessResult r = run_bash(c.script);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, c.err);
  EXPECT_EQ(read_file(file("report.txt")), kEarlier + "< a line that looks like an item\n");
  EXPECT_FALSE(fs::exists(file("report.txt.syncstatus-rollback")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SameFile,
    testing::Values(
        SameFileCase{"symbolic_link", R"("$0" report.txt link.txt kunits)",
                     "syncstatus: report 'report.txt' and listing 'link.txt' are the same file\n"},
        SameFileCase{"hard_link", R"("$0" report.txt hard.txt kunits)",
                     "syncstatus: report 'report.txt' and listing 'hard.txt' are the same file\n"},
        SameFileCase{"same_name_another_way", R"("$0" report.txt ./report.txt kunits)",
                     "syncstatus: report 'report.txt' and listing './report.txt' are the same "
                     "file\n"},
        SameFileCase{"standard_input", R"("$0" hard.txt - kunits < report.txt)",
                     "syncstatus: report 'hard.txt' and listing '-' are the same file\n"}),
    [](const testing::TestParamInfo<SameFileCase>& p) { return std::string(p.param.name); });

// --- A close that fails ---------------------------------------------------

// A network file system can report at close that its write-back failed. The
// shim makes every close of the report fail so, after closing it: the run
// learns of it while it holds the lock, and the report stays as it was.
TEST_F(Edges, FailedCloseLeavesReportAsItWas) {
  write_file(file("report.txt"), kEarlier);
  write_file(file("listing.txt"), kListing);
  ProcessOptions options;
  options.environment = {{"LD_PRELOAD", SYNCSTATUS_FAIL_CLOSE_SHIM},
                         {"SYNCSTATUS_FAIL_CLOSE", utf8(fs::canonical(file("report.txt")))},
                         // The sanitizers' runtime insists on coming first.
                         {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"}};
  const ProcessResult r =
      Process(program_under_test(), {arg("report.txt"), arg("listing.txt"), "kroutings"},
              dir_.path(), options)
          .wait();
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(r.err,
            "syncstatus: cannot close report '" + arg("report.txt") + "': Input/output error\n");
  EXPECT_EQ(read_file(file("report.txt")), kEarlier);
  EXPECT_FALSE(fs::exists(file("report.txt.syncstatus-rollback")));
}

// --- Too little memory ------------------------------------------------------

// Under an address-space limit the run either does its whole work, or says
// that memory ran out and does not even create the report; a limit too low
// for the program to start at all leaves it alone too. Some limit in the range must
// hit the case in between.
TEST_F(Edges, TooLittleMemoryLeavesReportAlone) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers' shadow memory needs far more address space";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the sanitizers' shadow memory needs far more address space";
#endif
#endif
  write_file(file("listing.txt"), kListing);
  int out_of_memory = 0;
  for (std::uint64_t mib = 1; mib <= 40; ++mib) {
    fs::remove(file("report.txt"));
    ProcessOptions options;
    options.address_space_limit = mib << 20;
    const ProcessResult r =
        Process(program_under_test(), {arg("report.txt"), arg("listing.txt"), "kroutings"},
                dir_.path(), options)
            .wait();
    if (r.exit_status == 0) {
      EXPECT_EQ(read_file(file("report.txt")), kRoutings) << mib << " MiB";
      continue;
    }
    EXPECT_FALSE(fs::exists(file("report.txt")))
        << mib << " MiB: status " << r.exit_status << ": " << r.err;
    if (r.err == "syncstatus: out of memory\n") {
      EXPECT_EQ(r.exit_status, 1);
      ++out_of_memory;
    }
  }
  EXPECT_GT(out_of_memory, 0) << "no limit let the program start but not finish";
}

}  // namespace
}  // namespace syncstatus::test
