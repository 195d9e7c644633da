// End-to-end runs of the program that are stopped part-way: by a signal it
// can catch (it cuts the report back, says so and dies of the same signal),
// by SIGKILL (the next run removes the torn part through the rollback
// record), or while it waits for another run's lock. Records that do not
// belong to the report, or that someone else could have planted, must never
// make a run cut a report.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "run_fixture.h"

namespace syncstatus::test {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

const std::string kEarlier = "\r\nStatus of Units: \r\n   Databases Synchronized! \r\n";
const std::string kRecordSuffix = ".syncstatus-rollback";

// A listing whose section takes several of the program's 256 KiB writes.
std::string long_listing() {
  std::string listing = "1,20000d0\n";
  for (int i = 0; i < 20000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "< item %06d bolt M8 zinc plated\n", i);
    listing += line;
  }
  return listing;
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written <= 0) throw std::runtime_error("cannot feed the FIFO");
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

// Waits until `path` is larger than `size`; false after a minute.
bool wait_for_growth(const fs::path& path, std::uintmax_t size) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  std::error_code error;
  while (std::chrono::steady_clock::now() < deadline) {
    const std::uintmax_t now = fs::file_size(path, error);
    if (!error && now > size) return true;
    std::this_thread::sleep_for(1ms);
  }
  return false;
}

class Stops : public RunFixture {
 protected:
  void SetUp() override {
    // SIGQUIT and SIGXCPU dump core by default: not here.
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    write_file(file("report.txt"), kEarlier);
  }

  void TearDown() override {
    if (fifo_ >= 0) ::close(fifo_);
  }

  std::string report() const { return arg("report.txt"); }
  fs::path record() const { return file("report.txt" + kRecordSuffix); }

  /// Starts a run that reads its listing from a FIFO, feeds it most of a
  /// long listing and returns once the run has written part of its section;
  /// the run then waits for the rest of the listing, holding the lock.
  Process start_torn_run() {
    if (fifo_ < 0) {
      EXPECT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
      // Held open for reading too, so that neither side's open blocks.
      fifo_ = ::open(file("fifo").c_str(), O_RDWR | O_CLOEXEC);
    }
    const std::uintmax_t before = fs::file_size(file("report.txt"));
    Process process(program_under_test(), {report(), arg("fifo"), "kitems"}, dir_.path());
    write_all(fifo_, long_listing());
    EXPECT_TRUE(wait_for_growth(file("report.txt"), before)) << "the run wrote nothing";
    return process;
  }

  int fifo_ = -1;
};

std::string interrupted(const std::string& report) {
  return "syncstatus: interrupted: report '" + report + "' left as it was\n";
}

std::string removed(const std::string& report, std::uintmax_t bytes) {
  return "syncstatus: warning: report '" + report + "': removed " + std::to_string(bytes) +
         " bytes that a stopped run left unfinished\n";
}

// --- Signals the run can catch -------------------------------------------

struct SignalCase {
  const char* name;
  int signal;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
  *os << c.name;
}

class CaughtSignal : public Stops, public testing::WithParamInterface<SignalCase> {};

TEST_P(CaughtSignal, WhileWaitingForThePipeLeavesReportAsItWas) {
  Process run = start_torn_run();
  ASSERT_GT(fs::file_size(file("report.txt")), kEarlier.size());
  ASSERT_TRUE(fs::exists(record()));
  ::kill(static_cast<pid_t>(run.native_handle()), GetParam().signal);
  const ProcessResult r = run.wait();
  EXPECT_EQ(r.exit_status, 128 + GetParam().signal);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, interrupted(report()));
  EXPECT_EQ(read_file(file("report.txt")), kEarlier);
  EXPECT_FALSE(fs::exists(record()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CaughtSignal,
    testing::Values(SignalCase{"sigint", SIGINT}, SignalCase{"sigterm", SIGTERM},
                    SignalCase{"sighup", SIGHUP}, SignalCase{"sigquit", SIGQUIT},
                    SignalCase{"sigalrm", SIGALRM}, SignalCase{"sigusr1", SIGUSR1},
                    SignalCase{"sigusr2", SIGUSR2}, SignalCase{"sigxcpu", SIGXCPU},
                    SignalCase{"sigvtalrm", SIGVTALRM}, SignalCase{"sigprof", SIGPROF}),
    [](const testing::TestParamInfo<SignalCase>& p) { return std::string(p.param.name); });

// The run is busy reading and writing, not waiting, when the signal comes.
TEST_F(Stops, SigtermWhileBusyOnALargeListing) {
  {
    std::string block;
    for (int i = 0; block.size() < (1 << 20); ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "> order %07d line 10 qty 250\n", i);
      block += line;
    }
    std::ofstream out(file("listing.txt"), std::ios::binary);
    for (int i = 0; i < 400; ++i)
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    ASSERT_TRUE(out.good());
  }
  Process run(program_under_test(), {report(), arg("listing.txt"), "kitems"}, dir_.path());
  ASSERT_TRUE(wait_for_growth(file("report.txt"), kEarlier.size()));
  ::kill(static_cast<pid_t>(run.native_handle()), SIGTERM);
  const ProcessResult r = run.wait();
  fs::remove(file("listing.txt"));
  EXPECT_EQ(r.exit_status, 128 + SIGTERM) << "the run finished before the signal came";
  EXPECT_EQ(r.err, interrupted(report()));
  EXPECT_EQ(fs::file_size(file("report.txt")), kEarlier.size());
  EXPECT_EQ(read_file(file("report.txt")), kEarlier);
  EXPECT_FALSE(fs::exists(record()));
}

// A run that waits for another run's lock says so after about a second, and
// a signal then ends it without touching what the other run writes.
TEST_F(Stops, WaitingRunSaysSoAndCanBeInterrupted) {
  Process holder = start_torn_run();
  write_file(file("units.txt"), "");
  Process waiting(program_under_test(), {report(), arg("units.txt"), "kunits"}, dir_.path());
  Process patient(program_under_test(), {report(), arg("units.txt"), "kunits"}, dir_.path());
  // Long enough for the notice, which comes after about a second.
  std::this_thread::sleep_for(3s);
  ::kill(static_cast<pid_t>(waiting.native_handle()), SIGINT);
  const ProcessResult stopped = waiting.wait();
  EXPECT_EQ(stopped.exit_status, 128 + SIGINT);
  const std::string notice = "syncstatus: waiting for another run on report '" + report() + "'\n";
  EXPECT_EQ(stopped.err, notice + interrupted(report()));

  // The holder finishes its section; the patient run follows it.
  ::close(fifo_);
  fifo_ = -1;
  const ProcessResult held = holder.wait();
  EXPECT_EQ(held.exit_status, 0) << held.err;
  EXPECT_EQ(held.err, "");
  const ProcessResult followed = patient.wait();
  EXPECT_EQ(followed.exit_status, 0);
  EXPECT_EQ(followed.err, notice);

  std::string section = "\r\nStatus of Items: \r\n   Databases NOT Synchronized! \r\n";
  for (int i = 0; i < 20000; ++i) {
    char line[80];
    std::snprintf(line, sizeof line, "   Missing in Scheduler:   item %06d bolt M8 zinc plated\r\n",
                  i);
    section += line;
  }
  EXPECT_TRUE(read_file(file("report.txt")) == kEarlier + section + kUnitsAgreed);
  EXPECT_FALSE(fs::exists(record()));
}

// --- SIGKILL: the next run removes the torn part ---------------------------

TEST_F(Stops, KilledRunIsUndoneByTheNextRun) {
  Process run = start_torn_run();
  ::kill(static_cast<pid_t>(run.native_handle()), SIGKILL);
  EXPECT_EQ(run.wait().exit_status, 128 + SIGKILL);
  const std::uintmax_t torn = fs::file_size(file("report.txt")) - kEarlier.size();
  ASSERT_GT(torn, 0u);
  ASSERT_TRUE(fs::exists(record()));

  write_file(file("listing.txt"), kListing);
  const ProcessResult next = run_program({report(), arg("listing.txt"), "kroutings"}, dir_.path());
  EXPECT_EQ(next.exit_status, 0);
  EXPECT_EQ(next.err, removed(report(), torn));
  EXPECT_EQ(read_file(file("report.txt")), kEarlier + kRoutings);
  EXPECT_FALSE(fs::exists(record()));

  // Nothing is left to undo: the run after that appends as usual.
  const ProcessResult after = run_program({report(), arg("listing.txt"), "kroutings"}, dir_.path());
  EXPECT_EQ(after.err, "");
  EXPECT_EQ(read_file(file("report.txt")), kEarlier + kRoutings + kRoutings);
}

TEST_F(Stops, RunsWaitingWhileTheWriterIsKilledLandWhole) {
  Process run = start_torn_run();
  write_file(file("listing.txt"), kListing);
  write_file(file("units.txt"), "");
  Process routings(program_under_test(), {report(), arg("listing.txt"), "kroutings"}, dir_.path());
  Process units(program_under_test(), {report(), arg("units.txt"), "kunits"}, dir_.path());
  std::this_thread::sleep_for(200ms);
  const std::uintmax_t torn = fs::file_size(file("report.txt")) - kEarlier.size();
  ::kill(static_cast<pid_t>(run.native_handle()), SIGKILL);
  EXPECT_EQ(run.wait().exit_status, 128 + SIGKILL);
  const ProcessResult first = routings.wait();
  const ProcessResult second = units.wait();
  EXPECT_EQ(first.exit_status, 0);
  EXPECT_EQ(second.exit_status, 0);
  // Whichever got the lock first removed the torn part; either may have said
  // that it waited.
  const std::string notice = "syncstatus: waiting for another run on report '" + report() + "'\n";
  std::string said = first.err + second.err;
  for (std::size_t at; (at = said.find(notice)) != std::string::npos;)
    said.erase(at, notice.size());
  EXPECT_EQ(said, removed(report(), torn));
  const std::string report_now = read_file(file("report.txt"));
  EXPECT_TRUE(report_now == kEarlier + kRoutings + kUnitsAgreed ||
              report_now == kEarlier + kUnitsAgreed + kRoutings)
      << report_now.size() << " bytes";
  EXPECT_FALSE(fs::exists(record()));
}

// --- Records that must not cut ----------------------------------------------

class Records : public Stops {
 protected:
  /// Leaves the report with the torn part of a killed run and its record.
  void kill_a_run() {
    Process run = start_torn_run();
    ::kill(static_cast<pid_t>(run.native_handle()), SIGKILL);
    run.wait();
    ASSERT_TRUE(fs::exists(record()));
  }
};

// A record left from an earlier report of the same name describes another
// file, even when the new one holds the same bytes up to the recorded size
// and a section starts there.
TEST_F(Records, StaleRecordBesideAReportMadeAnew) {
  kill_a_run();
  const std::string torn = read_file(file("report.txt"));
  fs::remove(file("report.txt"));
  write_file(file("report.txt"), torn);

  write_file(file("listing.txt"), kListing);
  const ProcessResult r = run_program({report(), arg("listing.txt"), "kroutings"}, dir_.path());
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(read_file(file("report.txt")) == torn + kRoutings);
  EXPECT_FALSE(fs::exists(record()));
}

// With standard output and error closed by the caller, the report would take
// descriptor 2, and the notice of the removed torn part would land in it.
TEST_F(Records, ClosedStandardStreamsTakeNoMessage) {
  kill_a_run();
  write_file(file("listing.txt"), kListing);
  ProcessOptions options;
  options.working_directory = dir_.path();
  const ProcessResult r = Process("/bin/bash",
                                  {"-c", R"(exec "$0" report.txt listing.txt kroutings 1>&- 2>&-)",
                                   utf8(program_under_test())},
                                  dir_.path(), options)
                              .wait();
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(read_file(file("report.txt")), kEarlier + kRoutings);
}

// A user who may write the report but not create files beside it gets the
// section appended all the same, without a record.
TEST_F(Records, NoRightToMakeARecordStillAppends) {
  if (::geteuid() != 0 || !fs::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "needs root and setpriv to run as another user";
  }
  fs::permissions(dir_.path(), fs::perms::owner_all | fs::perms::group_read |
                                   fs::perms::group_exec | fs::perms::others_read |
                                   fs::perms::others_exec);
  fs::permissions(
      file("report.txt"),
      fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
  write_file(file("listing.txt"), kListing);
  const ProcessResult r =
      Process("/usr/bin/setpriv",
              {"--reuid=65534", "--regid=65534", "--clear-groups", utf8(program_under_test()),
               report(), arg("listing.txt"), "kroutings"},
              dir_.path())
          .wait();
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(file("report.txt")), kEarlier + kRoutings);
  EXPECT_FALSE(fs::exists(record()));
}

// Something in the record's place that this run may not trust: it is neither
// followed nor removed, and the report is not cut; the run goes on without a
// record of its own.
struct PlantCase {
  const char* name;
  void (*plant)(const fs::path& record, const fs::path& real_record);
  bool needs_root;
};

void PrintTo(const PlantCase& c, std::ostream* os) {
  *os << c.name;
}

class PlantedRecord : public Records, public testing::WithParamInterface<PlantCase> {};

TEST_P(PlantedRecord, NeverCutsTheReport) {
  const PlantCase& c = GetParam();
  if (c.needs_root && ::geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  kill_a_run();
  const std::string torn = read_file(file("report.txt"));
  // The real record, which fits the report, moves aside; the plant stands in
  // its place.
  const fs::path real = file("real-record");
  fs::rename(record(), real);
  c.plant(record(), real);

  write_file(file("listing.txt"), kListing);
  const ProcessResult r = run_program({report(), arg("listing.txt"), "kroutings"}, dir_.path());
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(read_file(file("report.txt")) == torn + kRoutings);
  EXPECT_TRUE(fs::exists(fs::symlink_status(record()))) << "the plant was removed";
  EXPECT_TRUE(fs::exists(real));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlantedRecord,
    testing::Values(PlantCase{"owned_by_another_user",
                              [](const fs::path& record, const fs::path& real) {
                                fs::copy_file(real, record);
                                ASSERT_EQ(::chown(record.c_str(), 65534, 65534), 0);
                              },
                              true},
                    PlantCase{"symbolic_link_to_a_fitting_record",
                              [](const fs::path& record, const fs::path& real) {
                                fs::create_symlink(real, record);
                              },
                              false},
                    PlantCase{"fifo",
                              [](const fs::path& record, const fs::path&) {
                                ASSERT_EQ(::mkfifo(record.c_str(), 0600), 0);
                              },
                              false},
                    PlantCase{"folder",
                              [](const fs::path& record, const fs::path& real) {
                                fs::create_directory(record);
                                fs::copy_file(real, record / "inside");
                              },
                              false}),
    [](const testing::TestParamInfo<PlantCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace syncstatus::test
