#include "report/listing_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "report/test_streams.h"

namespace syncstatus {
namespace {

std::string read_all(ListingReader& reader) {
  std::string bytes;
  while (!reader.at_end()) bytes += reader.take();
  return bytes;
}

struct ReaderCase {
  std::string input;
  std::string expected;
};

class ListingReaderBytes : public testing::TestWithParam<ReaderCase> {};

// Whatever the sizes of reads and chunks, the same bytes come out.
TEST_P(ListingReaderBytes, GivesEveryByteButAFinalEofMark) {
  for (std::size_t chunk : {1u, 2u, 3u, 5u, 64u}) {
    for (std::size_t max_read : {1u, 2u, 7u, 1000u}) {
      StringSource source(GetParam().input, max_read);
      ListingReader reader(source, chunk);
      EXPECT_EQ(read_all(reader), GetParam().expected) << "chunk " << chunk << " read " << max_read;
      EXPECT_FALSE(reader.error());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ListingReaderBytes,
                         testing::Values(ReaderCase{"", ""}, ReaderCase{"\x1a", ""},
                                         ReaderCase{"a\x1a", "a"}, ReaderCase{"\x1a\x1a", "\x1a"},
                                         ReaderCase{"\x1a"
                                                    "a",
                                                    "\x1a"
                                                    "a"},
                                         ReaderCase{"<a\n\x1a>b\n", "<a\n\x1a>b\n"},
                                         ReaderCase{"<a\n\x1a\x1a\x1a", "<a\n\x1a\x1a"},
                                         ReaderCase{std::string("\0\xff\r\n\0", 5),
                                                    std::string("\0\xff\r\n\0", 5)}));

TEST(ListingReader, ReadErrorEndsTheListingAndIsKept) {
  StringSource source("<a\n>b\n", 2, 4);
  ListingReader reader(source, 16);
  EXPECT_EQ(read_all(reader), "<a\n>");
  EXPECT_EQ(reader.error(), std::make_error_code(std::errc::io_error));
}

TEST(ListingReader, LookAheadRereadsNothing) {
  StringSource source("<a\n", 1);
  ListingReader reader(source, 8);
  EXPECT_FALSE(reader.at_end());
  EXPECT_FALSE(reader.at_end());
  EXPECT_EQ(reader.take(), "<");
  EXPECT_EQ(reader.take(), "a");
}

}  // namespace
}  // namespace syncstatus
