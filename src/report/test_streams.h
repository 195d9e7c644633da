// In-memory byte streams for tests of the section writer.
#ifndef SYNCSTATUS_REPORT_TEST_STREAMS_H_
#define SYNCSTATUS_REPORT_TEST_STREAMS_H_

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "report/byte_io.h"

namespace syncstatus {

/// Serves `data` in reads of at most `max_read` bytes, like a pipe that
/// delivers little at a time; fails once `fail_at` bytes have been served.
class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string data,
                        std::size_t max_read = std::numeric_limits<std::size_t>::max(),
                        std::size_t fail_at = std::numeric_limits<std::size_t>::max())
      : data_(std::move(data)), max_read_(max_read), fail_at_(fail_at) {}

  std::size_t read(char* buffer, std::size_t size, std::error_code& error) override {
    if (offset_ >= fail_at_) {
      error = std::make_error_code(std::errc::io_error);
      return 0;
    }
    const std::size_t count =
        std::min({size, max_read_, data_.size() - offset_, fail_at_ - offset_});
    std::memcpy(buffer, data_.data() + offset_, count);
    offset_ += count;
    return count;
  }

 private:
  std::string data_;
  std::size_t offset_ = 0;
  std::size_t max_read_;
  std::size_t fail_at_;
};

/// Collects what is written; refuses writes once `capacity` bytes are full,
/// keeping what fitted, as a full disk does.
class StringSink : public ByteSink {
 public:
  explicit StringSink(std::size_t capacity = std::numeric_limits<std::size_t>::max())
      : capacity_(capacity) {}

  bool write(const char* data, std::size_t size, std::error_code& error) override {
    ++writes_;
    const std::size_t room = capacity_ - bytes_.size();
    bytes_.append(data, std::min(size, room));
    if (size > room) {
      error = std::make_error_code(std::errc::no_space_on_device);
      return false;
    }
    return true;
  }

  const std::string& bytes() const { return bytes_; }
  int writes() const { return writes_; }

 private:
  std::string bytes_;
  std::size_t capacity_;
  int writes_ = 0;
};

}  // namespace syncstatus

#endif  // SYNCSTATUS_REPORT_TEST_STREAMS_H_
