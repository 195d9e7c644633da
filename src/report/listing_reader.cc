#include "report/listing_reader.h"

namespace syncstatus {

namespace {
constexpr char kEofMark = 26;
}

ListingReader::ListingReader(ByteSource& source, std::size_t chunk_size)
    : source_(source),
      chunk_size_(chunk_size),
      buffer_(std::make_unique_for_overwrite<char[]>(chunk_size + 1)) {}

bool ListingReader::at_end() {
  if (begin_ == end_) fill();
  return begin_ == end_;
}

std::string_view ListingReader::take() {
  if (begin_ == end_) fill();
  std::string_view bytes(buffer_.get() + begin_, end_ - begin_);
  begin_ = end_;
  return bytes;
}

void ListingReader::fill() {
  while (begin_ == end_ && !exhausted_) {
    std::error_code error;
    const std::size_t count = source_.read(buffer_.get() + 1, chunk_size_, error);
    if (count == 0) {
      // The held-back byte 26 was the last byte after all: drop it.
      exhausted_ = true;
      error_ = error;
      holding_eof_mark_ = false;
      return;
    }
    begin_ = 1;
    end_ = 1 + count;
    if (holding_eof_mark_) {
      // More input followed the byte 26 held back last time: it is data.
      buffer_[0] = kEofMark;
      begin_ = 0;
    }
    // A byte 26 at the end of a chunk may be the end-of-file mark; whether
    // it is shows only on the next read.
    holding_eof_mark_ = buffer_[end_ - 1] == kEofMark;
    if (holding_eof_mark_) --end_;
  }
}

}  // namespace syncstatus
