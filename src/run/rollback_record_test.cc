#include "run/rollback_record.h"

#include <gtest/gtest.h>

#include <string>

namespace syncstatus {
namespace {

const RollbackData kRecord = {2049, 131, 1796994450895876310, 8, "before\r\n"};

TEST(RollbackRecord, TextIsFixed) {
  EXPECT_EQ(encode_rollback(kRecord),
            "syncstatus rollback record 1\n"
            "device 2049\n"
            "file 131\n"
            "born 1796994450895876310\n"
            "size 8\n"
            "tail 6265666f72650d0a\n"
            "end\n");
  EXPECT_EQ(decode_rollback(encode_rollback(kRecord)), kRecord);
  const RollbackData empty_report = {1, 2, 0, 0, ""};
  EXPECT_EQ(encode_rollback(empty_report),
            "syncstatus rollback record 1\ndevice 1\nfile 2\nborn 0\nsize 0\ntail \nend\n");
  EXPECT_EQ(decode_rollback(encode_rollback(empty_report)), empty_report);
}

// A record that a run died writing, or that is no record at all, is never
// taken for one.
struct BadCase {
  const char* name;
  std::string content;
};

class UndecodableRecord : public testing::TestWithParam<BadCase> {};

TEST_P(UndecodableRecord, IsRefused) {
  EXPECT_FALSE(decode_rollback(GetParam().content).has_value());
}

const std::string kGood = encode_rollback(kRecord);

INSTANTIATE_TEST_SUITE_P(
    Cases, UndecodableRecord,
    testing::Values(
        BadCase{"empty", ""}, BadCase{"cut_before_end", kGood.substr(0, kGood.size() - 4)},
        BadCase{"cut_in_end", kGood.substr(0, kGood.size() - 1)},
        BadCase{"other_version", "syncstatus rollback record 2\n" + kGood.substr(29)},
        BadCase{"garbage_after_end", kGood + "x"},
        BadCase{"negative_size",
                "syncstatus rollback record 1\ndevice 1\nfile 2\nborn 0\nsize -8\ntail "
                "6265666f72650d0a\nend\n"},
        BadCase{"size_beyond_64_bits",
                "syncstatus rollback record 1\ndevice 1\nfile 2\nborn 0\nsize "
                "18446744073709551616\ntail \nend\n"},
        BadCase{"tail_not_hex",
                "syncstatus rollback record 1\ndevice 1\nfile 2\nborn 0\nsize 1\ntail zz\nend\n"},
        BadCase{"tail_upper_case_hex",
                "syncstatus rollback record 1\ndevice 1\nfile 2\nborn 0\nsize 1\ntail 0A\nend\n"},
        BadCase{"tail_odd_length",
                "syncstatus rollback record 1\ndevice 1\nfile 2\nborn 0\nsize 1\ntail 0\nend\n"},
        BadCase{"tail_shorter_than_size",
                "syncstatus rollback record 1\ndevice 1\nfile 2\nborn 0\nsize 2\ntail 0a\nend\n"},
        BadCase{"fields_out_of_order",
                "syncstatus rollback record 1\nfile 2\ndevice 1\nborn 0\nsize 0\ntail \nend\n"},
        BadCase{"crlf_lines",
                "syncstatus rollback record 1\r\ndevice 1\r\nfile 2\r\nborn 0\r\nsize 0\r\ntail "
                "\r\nend\r\n"}),
    [](const testing::TestParamInfo<BadCase>& p) { return std::string(p.param.name); });

// When a record may cut the report as it is now.
struct FitCase {
  const char* name;
  RollbackData now;   // the report now, with its bytes before the record's size
  std::string after;  // what follows the record's size now
  bool fits;
};

class RecordFit : public testing::TestWithParam<FitCase> {};

TEST_P(RecordFit, DependsOnFileSizeAndBytes) {
  EXPECT_EQ(record_fits(kRecord, GetParam().now, GetParam().after), GetParam().fits);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordFit,
    testing::Values(
        FitCase{"torn_section",
                {2049, 131, 1796994450895876310, 9000, "before\r\n"},
                "\r\nStatus of ",
                true},
        FitCase{"torn_within_its_first_bytes",
                {2049, 131, 1796994450895876310, 13, "before\r\n"},
                "\r\nSta",
                true},
        FitCase{"nothing_written_yet", {2049, 131, 1796994450895876310, 8, "before\r\n"}, "", true},
        FitCase{"other_device",
                {2050, 131, 1796994450895876310, 9000, "before\r\n"},
                "\r\nStatus of ",
                false},
        FitCase{"other_file",
                {2049, 132, 1796994450895876310, 9000, "before\r\n"},
                "\r\nStatus of ",
                false},
        FitCase{"same_number_made_anew",
                {2049, 131, 1796994450895876311, 9000, "before\r\n"},
                "\r\nStatus of ",
                false},
        FitCase{"smaller_than_recorded", {2049, 131, 1796994450895876310, 7, ""}, "", false},
        FitCase{"other_bytes_before",
                {2049, 131, 1796994450895876310, 9000, "BEFORE\r\n"},
                "\r\nStatus of ",
                false},
        FitCase{"no_section_after",
                {2049, 131, 1796994450895876310, 9000, "before\r\n"},
                "some text h",
                false},
        FitCase{"after_shorter_than_what_is_there",
                {2049, 131, 1796994450895876310, 9000, "before\r\n"},
                "\r\nSta",
                false}),
    [](const testing::TestParamInfo<FitCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace syncstatus
