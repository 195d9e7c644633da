#include "report/status_section.h"

#include <cstring>
#include <memory>
#include <string>

namespace syncstatus {

namespace {

constexpr std::string_view kNewline = "\r\n";
constexpr std::string_view kHeadingStart = "\r\nStatus of ";
constexpr std::string_view kHeadingEndAgreed = "s: \r\n   Databases Synchronized! \r\n";
constexpr std::string_view kHeadingEndDiffer = "s: \r\n   Databases NOT Synchronized! \r\n";
// Each prefix ends with the blank that takes the marker's place.
constexpr std::string_view kMissingInScheduler = "   Missing in Scheduler:  ";
constexpr std::string_view kMissingInKest = "   Missing in Kest:       ";

constexpr std::size_t kOutputBufferSize = 256 * 1024;

// Collects output and hands it to the sink in whole buffers, so that the
// cost of a write call is paid per buffer, never per line.
class OutputBuffer {
 public:
  explicit OutputBuffer(ByteSink& sink)
      : sink_(sink), data_(std::make_unique_for_overwrite<char[]>(kOutputBufferSize)) {}

  void put(const char* bytes, std::size_t size) {
    if (size <= kOutputBufferSize - used_) {
      std::memcpy(data_.get() + used_, bytes, size);
      used_ += size;
      return;
    }
    put_slow(bytes, size);
  }
  void put(std::string_view bytes) { put(bytes.data(), bytes.size()); }

  bool flush() {
    if (used_ > 0 && !failed()) {
      if (!sink_.write(data_.get(), used_, error_) && !error_) {
        error_ = std::make_error_code(std::errc::io_error);
      }
    }
    used_ = 0;
    return !failed();
  }

  bool failed() const { return static_cast<bool>(error_); }
  const std::error_code& error() const { return error_; }

 private:
  void put_slow(const char* bytes, std::size_t size) {
    const std::size_t room = kOutputBufferSize - used_;
    std::memcpy(data_.get() + used_, bytes, room);
    used_ += room;
    bytes += room;
    size -= room;
    flush();
    // A long run of bytes goes straight from the listing's buffer.
    if (size >= kOutputBufferSize) {
      if (!failed() && !sink_.write(bytes, size, error_) && !error_) {
        error_ = std::make_error_code(std::errc::io_error);
      }
      return;
    }
    std::memcpy(data_.get(), bytes, size);
    used_ = size;
  }

  ByteSink& sink_;
  std::unique_ptr<char[]> data_;
  std::size_t used_ = 0;
  std::error_code error_;
};

// Where the scan stands within the current listing line.
enum class LineState {
  kStart,  // at the first byte of a line
  kItem,   // in a marker line, copying it into its item
  kSkip,   // in any other line
};

// Turns listing lines into item lines, chunk by chunk; a line may span any
// number of chunks.
class ItemWriter {
 public:
  explicit ItemWriter(OutputBuffer& out) : out_(out) {}

  void consume(std::string_view chunk) {
    const char* p = chunk.data();
    const char* const end = p + chunk.size();
    while (p < end) {
      if (state_ == LineState::kStart) {
        if (*p == '<') {
          start_item(kMissingInScheduler);
          ++p;
        } else if (*p == '>') {
          start_item(kMissingInKest);
          ++p;
        } else {
          state_ = LineState::kSkip;
        }
        continue;
      }
      const auto* newline =
          static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (state_ == LineState::kSkip) {
        if (newline == nullptr) return;
        p = newline + 1;
        state_ = LineState::kStart;
        continue;
      }
      if (newline == nullptr) {
        out_.put(p, static_cast<std::size_t>(end - p));
        last_was_cr_ = end[-1] == '\r';
        return;
      }
      const auto length = static_cast<std::size_t>(newline - p);
      if (length > 0) last_was_cr_ = newline[-1] == '\r';
      if (last_was_cr_) {
        // The line's own CR LF (its CR possibly written with an earlier chunk).
        out_.put(p, length + 1);
      } else {
        out_.put(p, length);
        out_.put(kNewline);
      }
      p = newline + 1;
      state_ = LineState::kStart;
    }
  }

 private:
  void start_item(std::string_view prefix) {
    out_.put(prefix);
    state_ = LineState::kItem;
    last_was_cr_ = false;
  }

  OutputBuffer& out_;
  LineState state_ = LineState::kStart;
  bool last_was_cr_ = false;
};

}  // namespace

SectionResult write_status_section(ListingReader& listing, ByteSink& report,
                                   std::string_view display_name) {
  OutputBuffer out(report);
  const bool agreed = listing.at_end();
  if (agreed && listing.error()) return {SectionStatus::kListingReadFailed, listing.error()};
  out.put(kHeadingStart);
  out.put(display_name);
  out.put(agreed ? kHeadingEndAgreed : kHeadingEndDiffer);

  ItemWriter items(out);
  while (!out.failed() && !listing.at_end()) items.consume(listing.take());

  if (out.failed()) return {SectionStatus::kReportWriteFailed, out.error()};
  if (listing.error()) return {SectionStatus::kListingReadFailed, listing.error()};
  if (!out.flush()) return {SectionStatus::kReportWriteFailed, out.error()};
  return {};
}

}  // namespace syncstatus
