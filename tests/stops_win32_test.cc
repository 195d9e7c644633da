// End-to-end runs on Windows that end before their section does: killed
// outright, stopped by a console event, or leaving a rollback record behind
// that no longer fits the report. The run to be stopped reads its listing
// from a named pipe that the test feeds, so that it stands part-way through
// its section, with pieces of it written, for as long as the test wants.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run_fixture.h"
#include "win32_handle.h"

namespace syncstatus::test {
namespace {

const std::string kBefore = "earlier runs\r\n";
// What a record keeps of kBefore: its size, and its bytes in hex.
const std::string kBeforeInRecord = "\nsize 14\ntail 6561726c6965722072756e730d0a\nend\n";
const std::string kRecordStart = "syncstatus rollback record 1\ndevice ";

// Polls take turns this often, and give up only after this long.
constexpr DWORD kPollMs = 20;
constexpr ULONGLONG kBoundMs = 60'000;

constexpr int kPipeRecords = 20000;

/// The listing fed through the pipe: far more than one 256 KiB piece of
/// section, so that pieces are written while the run waits for the rest.
std::string pipe_listing() {
  std::string listing = "1,20000d0\n";
  for (int i = 0; i < kPipeRecords; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "< item %06d bolt M8 zinc plated\n", i);
    listing += line;
  }
  return listing;
}

/// The whole section of pipe_listing() for table kitems.
std::string pipe_section() {
  std::string section = "\r\nStatus of Items: \r\n   Databases NOT Synchronized! \r\n";
  for (int i = 0; i < kPipeRecords; ++i) {
    char line[80];
    std::snprintf(line, sizeof line, "   Missing in Scheduler:   item %06d bolt M8 zinc plated\r\n",
                  i);
    section += line;
  }
  return section;
}

/// Polls `done` until it holds; false if it still does not after kBoundMs.
bool eventually(const std::function<bool()>& done) {
  const ULONGLONG until = ::GetTickCount64() + kBoundMs;
  while (!done()) {
    if (::GetTickCount64() > until) return false;
    ::Sleep(kPollMs);
  }
  return true;
}

/// An outbound named pipe that the program opens as its LISTING path.
class ListingPipe {
 public:
  ListingPipe()
      : name_(L"\\\\.\\pipe\\syncstatus-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
              std::to_wstring(next_id_++)),
        pipe_(::CreateNamedPipeW(name_.c_str(), PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_WAIT, 1, 64 * 1024, 0, 0, nullptr)),
        event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  bool valid() const { return pipe_.valid() && event_.valid(); }
  std::string arg() const { return utf8(name_); }

  /// Waits for the program to open the pipe, then hands it `bytes`; false
  /// (with the reason in `error`) when either fails or takes past the bound.
  bool write(const std::string& bytes, std::string& error) {
    OVERLAPPED connect = {};
    connect.hEvent = event_.get();
    if (!::ConnectNamedPipe(pipe_.get(), &connect)) {
      const DWORD code = ::GetLastError();
      if (code == ERROR_IO_PENDING) {
        if (!finish(connect, error, "open")) return false;
      } else if (code != ERROR_PIPE_CONNECTED) {
        error = "cannot wait for the program to open the pipe: " + std::to_string(code);
        return false;
      }
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
      OVERLAPPED at = {};
      at.hEvent = event_.get();
      DWORD written = 0;
      if (!::WriteFile(pipe_.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                       &written, &at)) {
        if (::GetLastError() != ERROR_IO_PENDING) {
          error = "cannot write the pipe: " + std::to_string(::GetLastError());
          return false;
        }
        if (!finish(at, error, "read")) return false;
      }
      if (!::GetOverlappedResult(pipe_.get(), &at, &written, FALSE) || written == 0) {
        error = "cannot write the pipe: " + std::to_string(::GetLastError());
        return false;
      }
      done += written;
    }
    return true;
  }

 private:
  bool finish(OVERLAPPED& pending, std::string& error, const char* what) {
    if (::WaitForSingleObject(event_.get(), static_cast<DWORD>(kBoundMs)) == WAIT_OBJECT_0) {
      return true;
    }
    ::CancelIoEx(pipe_.get(), &pending);
    DWORD ignored = 0;
    ::GetOverlappedResult(pipe_.get(), &pending, &ignored, TRUE);
    error = std::string("the program did not ") + what + " the pipe in time";
    return false;
  }

  static inline int next_id_ = 0;
  std::wstring name_;
  Handle pipe_;
  Handle event_;
};

class StopsWin32 : public RunFixture {
 protected:
  std::filesystem::path report() const { return file("report.txt"); }
  std::filesystem::path record() const { return file("report.txt.syncstatus-rollback"); }

  // A run that a test left part-way (it failed before the kill) would wait
  // for its listing for ever.
  void TearDown() override {
    if (stopped_) ::TerminateProcess(stopped_handle(), 7);
  }

  HANDLE stopped_handle() const { return reinterpret_cast<HANDLE>(stopped_->native_handle()); }

  /// Starts the run `stopped_`, which appends the pipe's section for kitems
  /// to a report holding kBefore, and returns once part of the section is in
  /// the report: the run then waits for the end of its listing, which never
  /// comes.
  void start_part_way(const ProcessOptions& options = {}) {
    write_file(report(), kBefore);
    ASSERT_TRUE(pipe_.valid()) << ::GetLastError();
    stopped_.emplace(program_under_test(),
                     std::vector<std::string>{arg("report.txt"), pipe_.arg(), "kitems"},
                     dir_.path(), options);
    std::string error;
    ASSERT_TRUE(pipe_.write(pipe_listing(), error)) << error;
    ASSERT_TRUE(eventually([&] { return std::filesystem::file_size(report()) > kBefore.size(); }))
        << "no part of the section came";
  }

  /// Kills `stopped_`, part-way through its section.
  void kill() {
    ASSERT_TRUE(::TerminateProcess(stopped_handle(), 7)) << ::GetLastError();
    EXPECT_EQ(stopped_->wait().exit_status, 7);
    stopped_.reset();
  }

  /// Checks that `report` is kBefore and a torn part of the pipe's section.
  void expect_torn(const std::string& report) {
    const std::string section = pipe_section();
    ASSERT_GT(report.size(), kBefore.size());
    ASSERT_LT(report.size(), kBefore.size() + section.size());
    // Not EXPECT_EQ: a failure would show a megabyte of section.
    ASSERT_TRUE(report == kBefore + section.substr(0, report.size() - kBefore.size()))
        << "the report is not the bytes before and a torn section";
  }

  std::string warning(std::size_t removed) const {
    return "syncstatus: warning: report '" + arg("report.txt") + "': removed " +
           std::to_string(removed) + " bytes that a stopped run left unfinished\n";
  }
  /// N when `err` is exactly waiting() and warning(N), for some N > 0.
  std::optional<std::size_t> removed_after_waiting(const std::string& err) const {
    const std::string before =
        waiting() + "syncstatus: warning: report '" + arg("report.txt") + "': removed ";
    if (!err.starts_with(before) || err.size() == before.size()) return std::nullopt;
    const std::size_t removed = std::stoull(err.substr(before.size()));
    if (removed == 0 || err != waiting() + warning(removed)) return std::nullopt;
    return removed;
  }
  std::string waiting() const {
    return "syncstatus: waiting for another run on report '" + arg("report.txt") + "'\n";
  }

  ListingPipe pipe_;
  std::optional<Process> stopped_;
};

// A killed run leaves its torn section and its record; the next run on the
// report cuts the one, removes the other, says so and appends its own.
TEST_F(StopsWin32, KilledRunIsUndoneByTheNextRun) {
  ASSERT_NO_FATAL_FAILURE(start_part_way());
  ASSERT_NO_FATAL_FAILURE(kill());
  const std::string torn = read_file(report());
  ASSERT_NO_FATAL_FAILURE(expect_torn(torn));
  ASSERT_TRUE(std::filesystem::exists(record()));
  const std::string left = read_file(record());
  EXPECT_TRUE(left.starts_with(kRecordStart)) << left;
  EXPECT_TRUE(left.ends_with(kBeforeInRecord)) << left;

  write_file(file("listing.txt"), kListing);
  const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), "kroutings"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, warning(torn.size() - kBefore.size()));
  EXPECT_EQ(read_file(report()), kBefore + kRoutings);
  EXPECT_FALSE(std::filesystem::exists(record()));
}

// Runs that wait for the lock of a run that is killed get it then, one after
// the other; the first of them undoes the killed run's section.
TEST_F(StopsWin32, KilledRunLetsTheWaitingRunsIn) {
  ASSERT_NO_FATAL_FAILURE(start_part_way());
  write_file(file("routings.txt"), kListing);
  write_file(file("units.txt"), "");
  std::vector<Process> waiters;
  waiters.emplace_back(
      program_under_test(),
      std::vector<std::string>{arg("report.txt"), arg("routings.txt"), "kroutings"}, dir_.path());
  waiters.emplace_back(program_under_test(),
                       std::vector<std::string>{arg("report.txt"), arg("units.txt"), "kunits"},
                       dir_.path());
  const bool both_wait = eventually(
      [&] { return waiters[0].err_so_far() == waiting() && waiters[1].err_so_far() == waiting(); });
  const std::string torn = read_file(report());
  // Killed in any case: the waiting runs could not end otherwise.
  ASSERT_NO_FATAL_FAILURE(kill());
  ASSERT_TRUE(both_wait) << "the runs do not wait for the lock";
  ASSERT_NO_FATAL_FAILURE(expect_torn(torn));

  const ProcessResult routings = waiters[0].wait();
  const ProcessResult units = waiters[1].wait();
  EXPECT_EQ(routings.exit_status, 0);
  EXPECT_EQ(units.exit_status, 0);
  // The killed run may still have written a piece after the test last
  // looked, so the warning may tell of any torn size.
  const std::optional<std::size_t> by_routings = removed_after_waiting(routings.err);
  const std::optional<std::size_t> by_units = removed_after_waiting(units.err);
  EXPECT_TRUE((by_routings && units.err == waiting()) || (by_units && routings.err == waiting()))
      << "kroutings: " << routings.err << "kunits: " << units.err;
  for (const std::optional<std::size_t>& removed : {by_routings, by_units}) {
    if (removed) {
      EXPECT_LT(*removed, pipe_section().size());
    }
  }
  const std::string after = read_file(report());
  EXPECT_TRUE(after == kBefore + kRoutings + kUnitsAgreed ||
              after == kBefore + kUnitsAgreed + kRoutings)
      << after;
  EXPECT_FALSE(std::filesystem::exists(record()));
}

// Ctrl-Break reaches a run in a process group of its own. It needs a console
// shared with the test; where none can be had or the event is not delivered
// (Wine 8 refuses to send it), the test is skipped.
TEST_F(StopsWin32, CtrlBreakLeavesTheReportAsItWas) {
  // A test run from a console shares it already; one without gets its own,
  // which the run then inherits.
  ::AllocConsole();
  ProcessOptions options;
  options.new_process_group = true;
  ASSERT_NO_FATAL_FAILURE(start_part_way(options));
  if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, ::GetProcessId(stopped_handle()))) {
    GTEST_SKIP() << "Ctrl-Break cannot be sent here: error " << ::GetLastError();
  }
  if (::WaitForSingleObject(stopped_handle(), static_cast<DWORD>(kBoundMs)) != WAIT_OBJECT_0) {
    GTEST_SKIP() << "Ctrl-Break was sent but never reached the run";
  }
  const ProcessResult r = stopped_->wait();
  stopped_.reset();
  EXPECT_EQ(static_cast<DWORD>(r.exit_status), 0xC000013Au);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "syncstatus: interrupted: report '" + arg("report.txt") + "' left as it was\n");
  EXPECT_EQ(read_file(report()), kBefore);
  EXPECT_FALSE(std::filesystem::exists(record()));
}

// A record that a killed run left, made stale afterwards: a run must neither
// trust it nor cut the report, only remove it and append its section.
struct StaleCase {
  const char* name;
  bool remake_report;  // the report is removed and made anew
  // Changes the report (what the killed run left) and its record.
  void (*make_stale)(std::string& report, std::string& record);
};

void PrintTo(const StaleCase& c, std::ostream* os) {
  *os << c.name;
}

/// Adds `by` to the number on the record's line `name`.
void shift_field(std::string& record, const std::string& name, long long by) {
  const std::size_t line = record.find("\n" + name + " ");
  ASSERT_NE(line, std::string::npos) << record;
  const std::size_t start = line + name.size() + 2;
  const std::size_t end = record.find('\n', start);
  const unsigned long long value = std::stoull(record.substr(start, end - start));
  record.replace(start, end - start, std::to_string(value + static_cast<unsigned long long>(by)));
}

class StaleRecord : public StopsWin32, public testing::WithParamInterface<StaleCase> {};

TEST_P(StaleRecord, IsRemovedAndTheReportKept) {
  const StaleCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(start_part_way());
  ASSERT_NO_FATAL_FAILURE(kill());
  std::string stale_report = read_file(report());
  ASSERT_NO_FATAL_FAILURE(expect_torn(stale_report));
  std::string stale_record = read_file(record());
  ASSERT_TRUE(stale_record.starts_with(kRecordStart)) << stale_record;
  ASSERT_NO_FATAL_FAILURE(c.make_stale(stale_report, stale_record));
  if (c.remake_report) std::filesystem::remove(report());
  write_file(report(), stale_report);
  std::filesystem::remove(record());
  write_file(record(), stale_record);

  write_file(file("listing.txt"), kListing);
  const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), "kroutings"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(report()), stale_report + kRoutings);
  EXPECT_FALSE(std::filesystem::exists(record()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StaleRecord,
    testing::Values(
        // Other bytes before the cut, all else as the record says.
        StaleCase{
            "report_remade_with_other_bytes", true,
            [](std::string& report, std::string&) { report.replace(0, 14, "later runs!!\r\n"); }},
        StaleCase{"report_remade_shorter", true,
                  [](std::string& report, std::string&) { report = "short\r\n"; }},
        // The very report the record was made for, but the record names
        // another file.
        StaleCase{"record_of_another_device", false,
                  [](std::string&, std::string& record) { shift_field(record, "device", 1); }},
        StaleCase{"record_of_another_file", false,
                  [](std::string&, std::string& record) { shift_field(record, "file", 1); }},
        StaleCase{"record_of_a_file_born_later", false,
                  [](std::string&, std::string& record) { shift_field(record, "born", 1); }},
        // A record whose writing was cut short.
        StaleCase{"record_without_its_end", false,
                  [](std::string&, std::string& record) { record.resize(record.size() - 4); }}),
    [](const testing::TestParamInfo<StaleCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace syncstatus::test
