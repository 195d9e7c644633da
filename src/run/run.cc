#include "run/run.h"

#include <cstdint>
#include <string_view>
#include <system_error>
#include <variant>

#include "catalogue/catalogue.h"
#include "report/listing_reader.h"
#include "report/status_section.h"
#include "run/command_line.h"
#include "run/message.h"
#include "run/platform.h"

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
  std::string message = "syncstatus: ";
  message += what;
  message += " '";
  message += escape_for_message(file.text);
  message += "': ";
  message += reason.message();
  message += '\n';
  write_stderr(message);
}

// Puts the report back to its size before the run, so that a failed run
// leaves no partial section; says so if even that fails.
void restore(ReportFile& report, const Argument& path, std::uint64_t size) {
  if (const std::error_code error = report.truncate(size)) {
    complain("cannot remove the partial section from report", path, error);
  }
}

}  // namespace

int run(const std::vector<Argument>& args, bool windows_conventions) {
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

  const int table_index = resolve_table_index(table_key.text);
  if (table_index == 0) {
    write_stderr("syncstatus: warning: unknown table key '" + escape_for_message(table_key.text) +
                 "': the heading names no table\n");
  }
  const std::string_view display_name = load_display_names()[static_cast<std::size_t>(table_index)];

  ListingFile listing_file;
  if (const std::error_code error = listing_file.open(listing_path.native)) {
    complain("cannot open listing", listing_path, error);
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
  if (const std::error_code error = report.lock()) {
    complain("cannot lock report", report_path, error);
    return kExitFailure;
  }
  // Under the lock, the size is where this run's section will start.
  std::uint64_t restore_size = 0;
  if (const std::error_code error = report.size(restore_size)) {
    complain("cannot find the size of report", report_path, error);
    return kExitFailure;
  }

  const SectionResult result = write_status_section(listing, report, display_name);
  switch (result.status) {
    case SectionStatus::kWritten:
      break;
    case SectionStatus::kListingReadFailed:
      restore(report, report_path, restore_size);
      complain("cannot read listing", listing_path, result.error);
      return kExitFailure;
    case SectionStatus::kReportWriteFailed:
      restore(report, report_path, restore_size);
      complain("cannot write report", report_path, result.error);
      return kExitReportFailed;
  }
  if (const std::error_code error = report.close()) {
    complain("cannot close report", report_path, error);
    return kExitReportFailed;
  }
  return kExitSuccess;
}

}  // namespace syncstatus
