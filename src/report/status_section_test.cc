#include "report/status_section.h"

#include <gtest/gtest.h>

#include <string>

#include "report/test_streams.h"

namespace syncstatus {
namespace {

using namespace std::string_literals;

// The headings and the 25-character item formats, spelled out once so the
// cases stay readable; in the cases, the blank that replaces the marker follows.
const std::string kAgreed = "\r\nStatus of Routings: \r\n   Databases Synchronized! \r\n";
const std::string kDiffer = "\r\nStatus of Routings: \r\n   Databases NOT Synchronized! \r\n";
const std::string kSched = "   Missing in Scheduler: ";
const std::string kKest = "   Missing in Kest:      ";

struct SectionCase {
  const char* name;
  std::string listing;
  std::string expected;
  std::string display_name = "Routing";
};

void PrintTo(const SectionCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteStatusSection : public testing::TestWithParam<SectionCase> {};

// Each case runs with reads and chunks of many sizes, so that lines and line
// ends split across chunks are covered too.
TEST_P(WriteStatusSection, WritesExactBytes) {
  const SectionCase& c = GetParam();
  for (std::size_t chunk : {1u, 2u, 3u, 4u, 7u, 80u, 4096u}) {
    for (std::size_t max_read : {1u, 5u, 1u << 20}) {
      StringSource source(c.listing, max_read);
      ListingReader reader(source, chunk);
      StringSink sink;
      const SectionResult result = write_status_section(reader, sink, c.display_name);
      ASSERT_EQ(result.status, SectionStatus::kWritten);
      ASSERT_EQ(sink.bytes(), c.expected) << "chunk " << chunk << ", read " << max_read;
    }
  }
}

const std::string kLong(5000, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteStatusSection,
    testing::Values(
        SectionCase{"empty", "", kAgreed}, SectionCase{"only_eof_mark", "\x1a", kAgreed},
        SectionCase{"change_command_only", "3c3\n", kDiffer},
        SectionCase{"separators_only", "---\n---\n", kDiffer},
        SectionCase{"one_empty_line", "\n", kDiffer}, SectionCase{"one_blank", " ", kDiffer},
        SectionCase{"change_hunk", "3c3\n< 8 Drill 10\n---\n> 8 Drill 12\n",
                    kDiffer + kSched + "  8 Drill 10\r\n" + kKest + "  8 Drill 12\r\n"},
        SectionCase{"crlf_listing_same_as_lf", "3c3\r\n< 8 Drill 10\r\n---\r\n> 8 Drill 12\r\n",
                    kDiffer + kSched + "  8 Drill 10\r\n" + kKest + "  8 Drill 12\r\n"},
        SectionCase{"interleaved_in_listing_order",
                    "1,2c1\n< a\n< b\n---\n> c\n4a4\n> d\n6d5\n< e\n",
                    kDiffer + kSched + "  a\r\n" + kSched + "  b\r\n" + kKest + "  c\r\n" + kKest +
                        "  d\r\n" + kSched + "  e\r\n"},
        SectionCase{"marker_not_first_is_no_marker", " < a\n\t> b\n", kDiffer},
        SectionCase{"reported_once", "<>x\n><y\n",
                    kDiffer + kSched + " >x\r\n" + kKest + " <y\r\n"},
        SectionCase{"marker_only_lines", "<\n>\r\n<",
                    kDiffer + kSched + " \r\n" + kKest + " \r\n" + kSched + " "},
        SectionCase{"last_line_without_newline", "1c1\n< a\n---\n> b",
                    kDiffer + kSched + "  a\r\n" + kKest + "  b"},
        SectionCase{"lone_cr_is_data", "< a\rb\n> c\r",
                    kDiffer + kSched + "  a\rb\r\n" + kKest + "  c\r"},
        SectionCase{"cr_before_crlf_is_data", "< a\r\r\n", kDiffer + kSched + "  a\r\r\n"},
        SectionCase{"nul_and_255_are_data", "< a\0b\xff\n\xff<c\n\0>d\n"s,
                    kDiffer + kSched + "  a\0b\xff\r\n"s},
        SectionCase{"eof_mark_inside_is_data", "< a\x1a\n\x1a> b\n> c\x1a",
                    kDiffer + kSched + "  a\x1a\r\n" + kKest + "  c"},
        SectionCase{"long_line_kept_whole", "< " + kLong + "<x>\n> y\n",
                    kDiffer + kSched + "  " + kLong + "<x>\r\n" + kKest + "  y\r\n"},
        SectionCase{"long_skipped_line_has_no_items", "a" + std::string(78, ' ') + "<x\n", kDiffer},
        SectionCase{"unknown_key", "", "\r\nStatus of s: \r\n   Databases Synchronized! \r\n", ""},
        SectionCase{
            "plural_of_long_name", "> z\n",
            "\r\nStatus of Customized Item Stock Levels: \r\n   Databases NOT Synchronized! "
            "\r\n" +
                kKest + "  z\r\n",
            "Customized Item Stock Level"}),
    [](const testing::TestParamInfo<SectionCase>& p) { return std::string(p.param.name); });

// The name of an unknown key is an empty view that may point nowhere.
TEST(WriteStatusSection, NameWithoutData) {
  StringSource source("");
  ListingReader reader(source);
  StringSink sink;
  ASSERT_EQ(write_status_section(reader, sink, std::string_view{}).status, SectionStatus::kWritten);
  EXPECT_EQ(sink.bytes(), "\r\nStatus of s: \r\n   Databases Synchronized! \r\n");
}

TEST(WriteStatusSectionFailure, ReadErrorPartWayIsReported) {
  StringSource source("1c1\n< a\n---\n> b\n", 3, 6);
  ListingReader reader(source, 4);
  StringSink sink;
  const SectionResult result = write_status_section(reader, sink, "Routing");
  EXPECT_EQ(result.status, SectionStatus::kListingReadFailed);
  EXPECT_EQ(result.error, std::make_error_code(std::errc::io_error));
}

TEST(WriteStatusSectionFailure, UnreadableListingWritesNothing) {
  StringSource source("", 1, 0);
  ListingReader reader(source);
  StringSink sink;
  EXPECT_EQ(write_status_section(reader, sink, "Routing").status,
            SectionStatus::kListingReadFailed);
  EXPECT_EQ(sink.bytes(), "");
}

TEST(WriteStatusSectionFailure, FullSinkIsReported) {
  std::string listing;
  for (int i = 0; i < 20000; ++i) listing += "< record " + std::to_string(i) + "\n";
  for (std::size_t capacity : {0u, 10u, 300000u}) {
    StringSource source(listing);
    ListingReader reader(source);
    StringSink sink(capacity);
    const SectionResult result = write_status_section(reader, sink, "Routing");
    EXPECT_EQ(result.status, SectionStatus::kReportWriteFailed) << capacity;
    EXPECT_EQ(result.error, std::make_error_code(std::errc::no_space_on_device));
  }
}

// Long runs of a line are written from the listing's buffer, bypassing the
// output buffer: the bytes and their order must not change at the threshold.
TEST(WriteStatusSection, LongLinesAroundTheWriteThroughSizeKeepTheirBytes) {
  for (std::size_t length : {65535u, 65536u, 65537u, 300000u, 1u << 20}) {
    for (const char* newline : {"\n", "\r\n"}) {
      const std::string body(length, 'b');
      const std::string listing = std::string("> a") + newline + "< " + body + newline + "> c";
      StringSource source(listing);
      ListingReader reader(source);
      StringSink sink;
      ASSERT_EQ(write_status_section(reader, sink, "Routing").status, SectionStatus::kWritten);
      EXPECT_EQ(sink.bytes(),
                kDiffer + kKest + "  a\r\n" + kSched + "  " + body + "\r\n" + kKest + "  c")
          << length << " " << (newline[1] ? "CR LF" : "LF");
    }
  }
}

// Output goes out in large buffers, not a write per line.
TEST(WriteStatusSection, WritesInWholeBuffers) {
  std::string listing;
  for (int i = 0; i < 100000; ++i) listing += "> stock level " + std::to_string(i) + "\n";
  StringSource source(listing);
  ListingReader reader(source);
  StringSink sink;
  ASSERT_EQ(write_status_section(reader, sink, "Item Stock Level").status, SectionStatus::kWritten);
  EXPECT_GT(sink.bytes().size(), 4'000'000u);
  EXPECT_LE(sink.writes(), 20);
}

}  // namespace
}  // namespace syncstatus
