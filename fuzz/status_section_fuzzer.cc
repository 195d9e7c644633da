// libFuzzer target: the section writer over an in-memory listing, read in
// pieces whose sizes come from the input, checked against a plain,
// line-by-line reading of what the section must hold.
//
// Input: an 8-byte header, then the listing.
//   [0]     reader chunk size: one of kChunkSizes
//   [1..4]  the source's read sizes, used in turn: 1 + byte, 255 = no limit
//   [5]     failures: bit 0, the report takes only `limit` bytes;
//           bit 1, reading fails once `limit` bytes have been read;
//           bit 2: no display name, as for an unknown table key
//   [6..7]  limit, little-endian
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>

#include "report/byte_io.h"
#include "report/listing_reader.h"
#include "report/status_section.h"
#include "report/test_streams.h"

namespace {

using syncstatus::ListingReader;
using syncstatus::SectionStatus;

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kChunkSizes[] = {
    1, 2, 3, 4, 5, 7, 8, 13, 16, 31, 64, 100, 256, 1000, 4096, ListingReader::kDefaultChunkSize};
constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "status_section_fuzzer: %s\n", what);
  std::abort();
}

// Serves the listing in reads of the given sizes, in turn; fails every read
// once `fail_at` bytes are served.
class PieceSource final : public syncstatus::ByteSource {
 public:
  PieceSource(std::string_view data, const std::size_t (&sizes)[4], std::size_t fail_at)
      : data_(data), sizes_(sizes), fail_at_(fail_at) {}

  std::size_t read(char* buffer, std::size_t size, std::error_code& error) override {
    if (size == 0) fail("read of 0 bytes");
    if (offset_ >= fail_at_) {
      error = std::make_error_code(std::errc::io_error);
      return 0;
    }
    std::size_t count = std::min(size, sizes_[turn_++ % 4]);
    count = std::min({count, data_.size() - offset_, fail_at_ - offset_});
    std::memcpy(buffer, data_.data() + offset_, count);
    offset_ += count;
    return count;
  }

 private:
  std::string_view data_;
  const std::size_t (&sizes_)[4];
  std::size_t fail_at_;
  std::size_t offset_ = 0;
  std::size_t turn_ = 0;
};

// The section, worked out line by line: one final byte 26 is dropped; the
// heading says the databases agree only when nothing is left; each line that
// starts with '<' or '>' gives an item, the marker replaced by a blank; a line
// ends at LF, a CR just before it belonging to the line end, and the item
// ends with CR LF; a last line without LF gives an item without line end.
std::string expected_section(std::string_view listing, std::string_view heading) {
  if (!listing.empty() && listing.back() == '\x1a') listing.remove_suffix(1);
  std::string section = "\r\nStatus of ";
  section += heading;
  section += ": \r\n   Databases ";
  section += listing.empty() ? "Synchronized! \r\n" : "NOT Synchronized! \r\n";
  while (!listing.empty()) {
    const std::size_t lf = listing.find('\n');
    const bool ended = lf != std::string_view::npos;
    std::string_view line = listing.substr(0, lf);
    listing.remove_prefix(ended ? lf + 1 : listing.size());
    if (line.empty() || (line[0] != '<' && line[0] != '>')) continue;
    if (ended && line.back() == '\r') line.remove_suffix(1);
    section += line[0] == '<' ? "   Missing in Scheduler: " : "   Missing in Kest:      ";
    section += ' ';
    section += line.substr(1);
    if (ended) section += "\r\n";
  }
  return section;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return 0;
  const std::size_t chunk_size = kChunkSizes[data[0] % std::size(kChunkSizes)];
  std::size_t read_sizes[4];
  for (std::size_t i = 0; i < 4; ++i) {
    read_sizes[i] = data[1 + i] == 255 ? kNoLimit : std::size_t{1} + data[1 + i];
  }
  const bool sink_limited = (data[5] & 1) != 0;
  const bool read_fails = (data[5] & 2) != 0;
  // An unknown key's name is empty, with no characters behind it at all.
  const bool named = (data[5] & 4) == 0;
  const std::size_t limit = data[6] | std::size_t{data[7]} << 8;
  const std::string_view listing(reinterpret_cast<const char*>(data) + kHeaderSize,
                                 size - kHeaderSize);

  PieceSource source(listing, read_sizes, read_fails ? limit : kNoLimit);
  ListingReader reader(source, chunk_size);
  syncstatus::StringSink sink(sink_limited ? limit : kNoLimit);
  const syncstatus::SectionResult result =
      write_status_section(reader, sink, named ? std::string_view("Routing") : std::string_view());

  const std::string expected = expected_section(listing, named ? "Routings" : "s");
  // Reading fails if it reaches `limit`, the end of the listing included.
  const bool may_fail_reading = read_fails && limit <= listing.size();
  const bool may_fail_writing = sink_limited && expected.size() > limit;
  switch (result.status) {
    case SectionStatus::kWritten:
      if (may_fail_reading || may_fail_writing) fail("a failure went unreported");
      if (result.error) fail("an error with a written section");
      if (sink.bytes() != expected) fail("the section differs from the listing's");
      return 0;
    case SectionStatus::kListingReadFailed:
      if (!may_fail_reading) fail("a read failure that did not happen");
      if (result.error != std::errc::io_error) fail("the wrong read error");
      break;
    case SectionStatus::kReportWriteFailed:
      if (!may_fail_writing) fail("a write failure that did not happen");
      if (result.error != std::errc::no_space_on_device) fail("the wrong write error");
      break;
  }
  // Whatever reached the report before the failure is the section's start.
  if (std::string_view(expected).substr(0, sink.bytes().size()) != sink.bytes()) {
    fail("what was written before the failure is not the section's start");
  }
  return 0;
}
