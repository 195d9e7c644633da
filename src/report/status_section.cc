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

constexpr std::size_t kOutputBufferSize = SectionBuffer::kSize;
// Runs of at least this many bytes (pieces of long lines) are written from
// where they lie instead of being copied into the buffer first.
constexpr std::size_t kWriteThroughSize = 64 * 1024;

// Collects output and hands it to the sink in whole buffers, so that the
// cost of a write call is paid per buffer, never per line.
class OutputBuffer {
 public:
  OutputBuffer(ByteSink& sink, char* data) : sink_(sink), data_(data) {}

  void put(const char* bytes, std::size_t size) {
    // An empty view may have no data at all, and memcpy must not see null.
    if (size == 0) return;
    if (size <= kOutputBufferSize - used_ && size < kWriteThroughSize) {
      std::memcpy(data_ + used_, bytes, size);
      used_ += size;
      return;
    }
    put_slow(bytes, size);
  }
  void put(std::string_view bytes) { put(bytes.data(), bytes.size()); }

  /// Puts `prefix`, `body` and a CR LF: one item line.
  void put_line(std::string_view prefix, const char* body, std::size_t size) {
    // Most lines fit in what is left of the buffer: one room check for all three parts.
    if (prefix.size() + size + kNewline.size() <= kOutputBufferSize - used_) {
      char* out = data_ + used_;
      std::memcpy(out, prefix.data(), prefix.size());
      out += prefix.size();
      std::memcpy(out, body, size);
      out += size;
      std::memcpy(out, kNewline.data(), kNewline.size());
      used_ += prefix.size() + size + kNewline.size();
      return;
    }
    put(prefix);
    put(body, size);
    put(kNewline);
  }

  bool flush() {
    if (used_ > 0) write(data_, used_);
    used_ = 0;
    return !failed();
  }

  bool failed() const { return static_cast<bool>(error_); }
  const std::error_code& error() const { return error_; }

 private:
  void put_slow(const char* bytes, std::size_t size) {
    if (size >= kWriteThroughSize) {
      // Copying a long run would only delay the same bytes to the same write:
      // what is buffered goes first, then the run from the listing's buffer.
      flush();
      write(bytes, size);
      return;
    }
    const std::size_t room = kOutputBufferSize - used_;
    std::memcpy(data_ + used_, bytes, room);
    used_ += room;
    flush();
    std::memcpy(data_, bytes + room, size - room);
    used_ = size - room;
  }

  void write(const char* bytes, std::size_t size) {
    if (!failed() && !sink_.write(bytes, size, error_) && !error_) {
      error_ = std::make_error_code(std::errc::io_error);
    }
  }

  ByteSink& sink_;
  char* const data_;
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
    if (state_ != LineState::kStart) p = continue_line(p, end);
    // The lines that start and end in this chunk, each found with one memchr.
    while (p < end) {
      const char* const newline = find_newline(p, end);
      if (newline == nullptr) {
        begin_line(p, end);
        return;
      }
      if (*p == '<' || *p == '>') {
        const char* const body = p + 1;
        auto size = static_cast<std::size_t>(newline - body);
        if (size > 0 && newline[-1] == '\r') --size;
        out_.put_line(prefix_for(*p), body, size);
      }
      p = newline + 1;
    }
  }

 private:
  static const char* find_newline(const char* p, const char* end) {
    return static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
  }

  static std::string_view prefix_for(char marker) {
    return marker == '<' ? kMissingInScheduler : kMissingInKest;
  }

  // Starts a line that goes on in the next chunk: [p, end) holds no newline.
  void begin_line(const char* p, const char* end) {
    if (*p == '<' || *p == '>') {
      out_.put(prefix_for(*p));
      state_ = LineState::kItem;
      last_was_cr_ = false;
      ++p;
    } else {
      state_ = LineState::kSkip;
    }
    continue_line(p, end);
  }

  // Goes on with a line begun in an earlier chunk; returns where the next
  // line starts, or `end`.
  const char* continue_line(const char* p, const char* end) {
    const char* const newline = find_newline(p, end);
    if (state_ == LineState::kSkip) {
      if (newline == nullptr) return end;
      state_ = LineState::kStart;
      return newline + 1;
    }
    if (newline == nullptr) {
      if (p == end) return end;
      out_.put(p, static_cast<std::size_t>(end - p));
      last_was_cr_ = end[-1] == '\r';
      return end;
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
    state_ = LineState::kStart;
    return newline + 1;
  }

  OutputBuffer& out_;
  LineState state_ = LineState::kStart;
  bool last_was_cr_ = false;
};

}  // namespace

SectionBuffer::SectionBuffer() : data_(std::make_unique_for_overwrite<char[]>(kSize)) {}

SectionResult write_status_section(ListingReader& listing, ByteSink& report,
                                   std::string_view display_name) {
  SectionBuffer buffer;
  return write_status_section(listing, report, display_name, buffer);
}

SectionResult write_status_section(ListingReader& listing, ByteSink& report,
                                   std::string_view display_name, SectionBuffer& buffer) {
  OutputBuffer out(report, buffer.data());
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
