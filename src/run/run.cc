#include "run/run.h"

#include <cstdint>
#include <new>
#include <string_view>
#include <system_error>
#include <variant>

#include "catalogue/catalogue.h"
#include "report/listing_reader.h"
#include "report/status_section.h"
#include "run/command_line.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/rollback.h"

#ifndef SYNCSTATUS_VERSION
#define SYNCSTATUS_VERSION "unknown"
#endif

namespace syncstatus {

namespace {

// Help and version: output that cannot be written fails the run, with the
// reason on standard error.
int show(std::string_view text) {
  std::error_code error;
  if (write_stdout(text, error)) return kExitSuccess;
  write_stderr("syncstatus: cannot write standard output: " + error.message() + "\n");
  return kExitFailure;
}

void complain(std::string_view what, const Argument& file, const std::error_code& reason) {
  write_stderr("syncstatus: " + std::string(what) + " '" + escape_for_message(file.text) +
               "': " + reason.message() + "\n");
}

/// What undoes a run's section: the report's size before it, and its
/// rollback record.
class Undo {
 public:
  Undo(ReportFile& report, RollbackRecord& record) : report_(report), record_(record) {}

  void arm(std::uint64_t size) {
    size_ = size;
    armed_ = true;
    if (report_.is_disk_file()) arm_stops(report_, size, record_.made_path());
  }

  /// Puts the report back to its size before the run and removes the record;
  /// says so if even that fails.
  void roll_back(const Argument& report_path) {
    if (!armed_) return;
    if (const std::error_code error = report_.truncate(size_)) {
      complain("cannot remove the partial section from report", report_path, error);
    }
    finish();
  }

  /// The section is in place: nothing is to be undone any more.
  void finish() {
    record_.remove();
    disarm_stops();
    armed_ = false;
  }

 private:
  ReportFile& report_;
  RollbackRecord& record_;
  std::uint64_t size_ = 0;
  bool armed_ = false;
};

int append_section(const Argument& report_path, const Argument& listing_path,
                   std::string_view display_name) {
  // Everything the run needs is allocated before the report is touched, so
  // that a lack of memory leaves the report alone.
  SectionBuffer buffer;
  RollbackRecord record(report_path.native);
  ListingFile listing_file;
  const std::error_code opened = listing_path.text == "-" ? listing_file.open_standard_input()
                                                          : listing_file.open(listing_path.native);
  if (opened) {
    complain("cannot open listing", listing_path, opened);
    return kExitFailure;
  }
  // The first read happens before the report is touched, so that a listing
  // that cannot be read leaves the report exactly as it was.
  ListingReader listing(listing_file);
  if (listing.at_end() && listing.error()) {
    complain("cannot read listing", listing_path, listing.error());
    return kExitFailure;
  }

  ReportFile report;
  if (const std::error_code error = report.open(report_path.native)) {
    complain("cannot open report", report_path, error);
    return kExitFailure;
  }
  // A report read as its own listing would take its own growing output.
  if (report.is_disk_file()) {
    const std::optional<FileIdentity> listing_id = listing_file.identity();
    if (listing_id && listing_id == report.identity()) {
      write_stderr("syncstatus: report '" + escape_for_message(report_path.text) +
                   "' and listing '" + escape_for_message(listing_path.text) +
                   "' are the same file\n");
      return kExitFailure;
    }
  }
  bool locked = false;
  const std::string notice = "syncstatus: waiting for another run on report '" +
                             escape_for_message(report_path.text) + "'\n";
  if (const std::error_code error = report.lock(locked, notice)) {
    complain("cannot lock report", report_path, error);
    return kExitFailure;
  }
  // Only under the lock may a record be taken for the trace of a run that
  // died: a live writer would hold the lock.
  if (locked) {
    std::uint64_t removed = 0;
    if (const std::error_code error = record.recover(report, removed)) {
      complain("cannot remove the unfinished section of a stopped run from report", report_path,
               error);
      return kExitReportFailed;
    }
    if (removed > 0) {
      write_stderr("syncstatus: warning: report '" + escape_for_message(report_path.text) +
                   "': removed " + std::to_string(removed) +
                   " bytes that a stopped run left unfinished\n");
    }
  }
  // Under the lock, the size is where this run's section will start.
  std::uint64_t restore_size = 0;
  if (const std::error_code error = report.size(restore_size)) {
    complain("cannot find the size of report", report_path, error);
    return kExitFailure;
  }
  if (locked) record.create(report, restore_size);

  Undo undo(report, record);
  undo.arm(restore_size);
  try {
    const SectionResult result = write_status_section(listing, report, display_name, buffer);
    switch (result.status) {
      case SectionStatus::kWritten:
        break;
      case SectionStatus::kListingReadFailed:
        undo.roll_back(report_path);
        complain("cannot read listing", listing_path, result.error);
        return kExitFailure;
      case SectionStatus::kReportWriteFailed:
        undo.roll_back(report_path);
        complain("cannot write report", report_path, result.error);
        return kExitReportFailed;
    }
    // Closing can still fail (a network file system writes back then): that
    // is learnt while the lock is held, and undone like a failed write.
    if (const std::error_code error = report.settle()) {
      undo.roll_back(report_path);
      complain("cannot close report", report_path, error);
      return kExitReportFailed;
    }
  } catch (const std::bad_alloc&) {
    undo.roll_back(report_path);
    throw;
  }
  undo.finish();
  if (const std::error_code error = report.close()) {
    complain("cannot close report", report_path, error);
    return kExitReportFailed;
  }
  return kExitSuccess;
}

}  // namespace

int run(const std::vector<Argument>& args, bool windows_conventions) {
  try {
    const CommandLine command = parse_command_line(args, windows_conventions);
    if (std::holds_alternative<ShowHelp>(command)) return show(usage_text(windows_conventions));
    if (std::holds_alternative<ShowVersion>(command)) {
      return show("syncstatus " SYNCSTATUS_VERSION "\n");
    }
    if (const auto* usage_error = std::get_if<UsageError>(&command)) {
      write_stderr(usage_error->message + "\n" + usage_text(windows_conventions));
      return kExitUsage;
    }
    const RunRequest& request = std::get<RunRequest>(command);
    const Argument& report_path = request.report;
    const Argument& listing_path = request.listing;
    const Argument& table_key = request.key;

    catch_stops("syncstatus: interrupted: report '" + escape_for_message(report_path.text) +
                "' left as it was\n");
    const int table_index = resolve_table_index(table_key.text);
    if (table_index == 0) {
      write_stderr("syncstatus: warning: unknown table key '" + escape_for_message(table_key.text) +
                   "': the heading names no table\n");
    }
    return append_section(report_path, listing_path,
                          load_display_names()[static_cast<std::size_t>(table_index)]);
  } catch (const std::bad_alloc&) {
    write_stderr("syncstatus: out of memory\n");
    return kExitFailure;
  }
}

}  // namespace syncstatus
