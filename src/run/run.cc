#include "run/run.h"

#include <cstdint>
#include <new>
#include <string_view>
#include <system_error>

#include "catalogue/catalogue.h"
#include "report/listing_reader.h"
#include "report/status_section.h"
#include "run/platform.h"
#include "run/rollback.h"

#ifndef SYNCSTATUS_VERSION
#define SYNCSTATUS_VERSION "unknown"
#endif

namespace syncstatus {

namespace {

std::string usage() {
  std::string text =
      "Usage: syncstatus REPORT LISTING KEY\n"
      "Append the synchronization status of one table to REPORT, made from LISTING,\n"
      "the output of 'diff KEST-EXPORT SCHEDULER-EXPORT' for the table named by KEY.\n"
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
      "Exit status: 0 when the section was appended; 1 when the listing or the\n"
      "report could not be opened or read (the report is left as it was); 2 for\n"
      "a usage error; -1 (255) when writing or closing the report failed.\n";
  return text;
}

// A path or key as a message shows it: one line, whatever it holds.
std::string shown(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) {
      out += c;
      continue;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    }
  }
  return out;
}

void complain(std::string_view what, const Argument& file, const std::error_code& reason) {
  write_stderr("syncstatus: " + std::string(what) + " '" + shown(file.text) +
               "': " + reason.message() + "\n");
}

// Told once when a run has waited about a second for another run's lock.
void say_waiting(void* report_path) {
  const auto& path = *static_cast<const Argument*>(report_path);
  write_stderr("syncstatus: waiting for another run on report '" + shown(path.text) + "'\n");
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
  const std::error_code opened = listing_path.text == "-"
                                     ? listing_file.open_standard_input()
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
      write_stderr("syncstatus: report '" + shown(report_path.text) + "' and listing '" +
                   shown(listing_path.text) + "' are the same file\n");
      return kExitFailure;
    }
  }
  bool locked = false;
  if (const std::error_code error =
          report.lock(locked, say_waiting, const_cast<Argument*>(&report_path))) {
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
      write_stderr("syncstatus: warning: report '" + shown(report_path.text) + "': removed " +
                   std::to_string(removed) + " bytes that a stopped run left unfinished\n");
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

int run(const std::vector<Argument>& args) {
  try {
    if (args.size() == 1 && args[0].text == "--help") {
      return write_stdout(usage()) ? kExitFailure : kExitSuccess;
    }
    if (args.size() == 1 && args[0].text == "--version") {
      return write_stdout("syncstatus " SYNCSTATUS_VERSION "\n") ? kExitFailure : kExitSuccess;
    }
    if (args.size() < 3) {
      write_stderr("syncstatus: expected REPORT, LISTING and KEY\n" + usage());
      return kExitUsage;
    }
    const Argument& report_path = args[0];
    const Argument& listing_path = args[1];
    const Argument& table_key = args[2];

    catch_stops("syncstatus: interrupted: report '" + shown(report_path.text) +
                "' left as it was\n");
    const int table_index = resolve_table_index(table_key.text);
    if (table_index == 0) {
      write_stderr("syncstatus: warning: unknown table key '" + shown(table_key.text) +
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
