// The rollback record of a report: while a section is being written, a small
// file beside the report says how large it was before, so that a run which
// is killed on the way can be undone by the next run on the report.
#ifndef SYNCSTATUS_RUN_ROLLBACK_H_
#define SYNCSTATUS_RUN_ROLLBACK_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "run/platform.h"

namespace syncstatus {

class RollbackRecord {
 public:
  /// The record of the report at `report_path`: the file
  /// REPORT.syncstatus-rollback beside it.
  explicit RollbackRecord(const std::filesystem::path& report_path);
  RollbackRecord(const RollbackRecord&) = delete;
  RollbackRecord& operator=(const RollbackRecord&) = delete;

  /// Under the report's lock: finds a record that a run which died left
  /// behind (a live run would still hold the lock). One that may be trusted
  /// and that describes this very report cuts the report back to the size it
  /// records; `removed` tells how many bytes went. A trusted record is then
  /// deleted; anything else in its place is left alone. Returns an error only
  /// when cutting the report failed.
  std::error_code recover(ReportFile& report, std::uint64_t& removed);

  /// Under the lock, before the first byte of a section: makes the record of
  /// `report` at `size`. False when it cannot be made (no right to create
  /// files there, something else in its place, no room): the run goes on
  /// without one.
  bool create(ReportFile& report, std::uint64_t size);

  /// Deletes the record that create() made, if any.
  void remove();

  /// The record's path in the host's form while create() made it, else null:
  /// what a stop must delete.
  const std::filesystem::path::value_type* made_path() const {
    return made_ ? path_.c_str() : nullptr;
  }

 private:
  std::filesystem::path path_;
  // The record's text, its room taken before the report is touched.
  std::string content_;
  bool made_ = false;
};

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_ROLLBACK_H_
