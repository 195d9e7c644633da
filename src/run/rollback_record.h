// What a rollback record says, and when it may cut a report: the pure part,
// without files.
#ifndef SYNCSTATUS_RUN_ROLLBACK_RECORD_H_
#define SYNCSTATUS_RUN_ROLLBACK_RECORD_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace syncstatus {

/// A report as a rollback record describes it: which file it is and how it
/// ended before the section that was being written.
struct RollbackData {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  std::uint64_t born = 0;  ///< when the file was made; 0 where unknown
  std::uint64_t size = 0;  ///< the report's size before the section
  std::string tail;        ///< the report's last bytes before the section
  friend bool operator==(const RollbackData&, const RollbackData&) = default;
};

/// How many bytes before the section a record keeps.
inline constexpr std::size_t kRecordTailSize = 64;

/// Every section starts with these bytes: a cut must only ever remove
/// something that starts like a section.
inline constexpr std::string_view kSectionStart = "\r\nStatus of ";

/// The record's content: a few lines of text, the same on every host.
std::string encode_rollback(const RollbackData& data);

/// The same into `out`, which keeps its capacity: a run reserves it before it
/// touches the report.
void encode_rollback(const RollbackData& data, std::string& out);

/// The most that encode_rollback() writes.
inline constexpr std::size_t kMaxRecordSize = 512;

/// The record that `content` holds; nothing when it is not a whole, valid
/// record (a run may have died while writing it).
std::optional<RollbackData> decode_rollback(std::string_view content);

/// Whether `record` describes the report `now` (its identity and its size
/// now; `now.tail` being what the report holds before `record.size` now) and
/// may cut it back: the same file, made at the same time, at least as large,
/// the same bytes before the cut, and what follows the cut (`after`: the
/// first kSectionStart.size() bytes of it, or all of it if fewer) starting
/// like a section.
bool record_fits(const RollbackData& record, const RollbackData& now, std::string_view after);

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_ROLLBACK_RECORD_H_
