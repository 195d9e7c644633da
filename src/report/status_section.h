// The status section: what one run appends to the report for one table.
#ifndef SYNCSTATUS_REPORT_STATUS_SECTION_H_
#define SYNCSTATUS_REPORT_STATUS_SECTION_H_

#include <cstddef>
#include <memory>
#include <string_view>
#include <system_error>

#include "report/byte_io.h"
#include "report/listing_reader.h"

namespace syncstatus {

/// The memory that writing a section takes, allocated up front so that a run
/// can have it before it touches the report.
class SectionBuffer {
 public:
  static constexpr std::size_t kSize = 256 * 1024;
  SectionBuffer();
  char* data() const { return data_.get(); }

 private:
  std::unique_ptr<char[]> data_;
};

/// How writing a section ended.
enum class SectionStatus {
  kWritten,            ///< the whole section went to the sink
  kListingReadFailed,  ///< reading the listing failed part-way
  kReportWriteFailed,  ///< the sink refused a write
};

struct SectionResult {
  SectionStatus status = SectionStatus::kWritten;
  std::error_code error;  ///< the failure's reason, unless kWritten
};

/// Writes to `report` the status section of one table, made from the
/// difference listing read through `listing`, headed with the plural of
/// `display_name`.
///
/// An empty listing gives the agreement heading alone. Any other listing
/// gives the disagreement heading and, for each line that starts with '<' or
/// '>', one item line: the item prefix, then the whole line with its marker
/// replaced by a blank. Every newline written is CR LF; a listing line ends at
/// LF, and a CR just before that LF belongs to the line end. A last line
/// without a line end gives an item without one. Lines may be of any length:
/// memory does not grow with them.
///
/// On failure the section may be incomplete; the caller discards it.
SectionResult write_status_section(ListingReader& listing, ByteSink& report,
                                   std::string_view display_name, SectionBuffer& buffer);

/// The same, with a buffer of its own.
SectionResult write_status_section(ListingReader& listing, ByteSink& report,
                                   std::string_view display_name);

}  // namespace syncstatus

#endif  // SYNCSTATUS_REPORT_STATUS_SECTION_H_
