#include "run/rollback.h"

#include <algorithm>
#include <string>

#include "run/rollback_record.h"

namespace syncstatus {

namespace {

// What the report is now, with the `size` bytes before `at` as its tail.
bool describe(ReportFile& report, std::uint64_t at, RollbackData& data) {
  const std::optional<FileIdentity> identity = report.identity();
  if (!identity || report.size(data.size)) return false;
  data.device = identity->device;
  data.file = identity->file;
  data.born = identity->born;
  if (at > data.size) return true;  // too small: fits no record; tail unused
  const std::size_t tail_size =
      static_cast<std::size_t>(std::min<std::uint64_t>(at, kRecordTailSize));
  data.tail.resize(tail_size);
  std::error_code error;
  return report.read_at(at - tail_size, data.tail.data(), tail_size, error) == tail_size;
}

}  // namespace

RollbackRecord::RollbackRecord(const std::filesystem::path& report_path) : path_(report_path) {
  path_ += ".syncstatus-rollback";
  content_.reserve(kMaxRecordSize);
}

std::error_code RollbackRecord::recover(ReportFile& report, std::uint64_t& removed) {
  removed = 0;
  bool untrusted = false;
  const std::optional<std::string> content = read_record_file(path_, report, untrusted);
  if (!content) return {};
  const std::optional<RollbackData> record = decode_rollback(*content);
  RollbackData now;
  if (record && describe(report, record->size, now)) {
    std::string after(
        static_cast<std::size_t>(std::min<std::uint64_t>(
            now.size >= record->size ? now.size - record->size : 0, kSectionStart.size())),
        '\0');
    std::error_code error;
    if (report.read_at(record->size, after.data(), after.size(), error) == after.size() &&
        record_fits(*record, now, after) && now.size > record->size) {
      if (const std::error_code cut = report.truncate(record->size)) return cut;
      removed = now.size - record->size;
    }
  }
  // A record that fits no report, or one that was just used, is of no more
  // use: it goes, so that this run can make its own.
  remove_record_file(path_);
  return {};
}

bool RollbackRecord::create(ReportFile& report, std::uint64_t size) {
  RollbackData data;
  if (!describe(report, size, data) || data.size != size) return false;
  encode_rollback(data, content_);
  made_ = create_record_file(path_, content_);
  return made_;
}

void RollbackRecord::remove() {
  if (!made_) return;
  remove_record_file(path_);
  made_ = false;
}

}  // namespace syncstatus
