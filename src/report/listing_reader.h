// Buffered reading of a difference listing with a look-ahead that never
// repositions the input, so pipes and FIFOs read like files.
#ifndef SYNCSTATUS_REPORT_LISTING_READER_H_
#define SYNCSTATUS_REPORT_LISTING_READER_H_

#include <cstddef>
#include <memory>
#include <string_view>
#include <system_error>

#include "report/byte_io.h"

namespace syncstatus {

/// Reads a listing in large chunks. Every byte is data except a byte 26
/// (Ctrl-Z) that is the very last byte of the input: DOS-era tools end files
/// with it, and it is dropped.
class ListingReader {
 public:
  static constexpr std::size_t kDefaultChunkSize = 256 * 1024;

  /// Reads from `source`, at most `chunk_size` (> 0) bytes per read.
  explicit ListingReader(ByteSource& source, std::size_t chunk_size = kDefaultChunkSize);

  /// The look-ahead: true when no byte of the listing remains, or when reading
  /// failed (see error()). Reads further input only when the buffer is empty.
  bool at_end();

  /// Returns all buffered bytes and consumes them; empty only when at_end().
  std::string_view take();

  /// The failure of the last read, if any.
  const std::error_code& error() const { return error_; }

 private:
  void fill();

  ByteSource& source_;
  std::size_t chunk_size_;
  // One byte in front of each chunk keeps room for a held-back byte 26.
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool holding_eof_mark_ = false;
  bool exhausted_ = false;
  std::error_code error_;
};

}  // namespace syncstatus

#endif  // SYNCSTATUS_REPORT_LISTING_READER_H_
