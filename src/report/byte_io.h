// Byte streams that the status section is read from and written to, so that
// the section writer never touches files itself.
#ifndef SYNCSTATUS_REPORT_BYTE_IO_H_
#define SYNCSTATUS_REPORT_BYTE_IO_H_

#include <cstddef>
#include <system_error>

namespace syncstatus {

/// A source of bytes, such as an open difference listing.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  /// Reads up to `size` (> 0) bytes into `buffer` and returns how many were
  /// read. Returns 0 at the end of the input, and 0 with `error` set when
  /// reading failed.
  virtual std::size_t read(char* buffer, std::size_t size, std::error_code& error) = 0;
};

/// A sink of bytes, such as a report open for appending.
class ByteSink {
 public:
  virtual ~ByteSink() = default;

  /// Writes all `size` bytes of `data`. Returns false with `error` set when
  /// they could not all be written.
  virtual bool write(const char* data, std::size_t size, std::error_code& error) = 0;
};

}  // namespace syncstatus

#endif  // SYNCSTATUS_REPORT_BYTE_IO_H_
