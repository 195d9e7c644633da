#include "run/message.h"

#include <gtest/gtest.h>

#include <string>

namespace syncstatus {
namespace {

using namespace std::string_literals;

struct EscapeCase {
  const char* name;
  std::string text;
  std::string shown;
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
  *os << c.name;
}

class EscapeForMessage : public testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeForMessage, KeepsTheMessageOnOneLine) {
  const EscapeCase& c = GetParam();
  EXPECT_EQ(escape_for_message(c.text), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EscapeForMessage,
    testing::Values(EscapeCase{"empty", "", ""}, EscapeCase{"plain", "report.txt", "report.txt"},
                    EscapeCase{"blanks_and_quotes", " a 'b' \"c\" ", " a 'b' \"c\" "},
                    EscapeCase{"windows_path", "C:\\exports\\kest\\", "C:\\exports\\kest\\"},
                    EscapeCase{"utf8", "r\xc3\xa9port \xe6\x97\xa5 \xf0\x9f\x93\xa6",
                               "r\xc3\xa9port \xe6\x97\xa5 \xf0\x9f\x93\xa6"},
                    EscapeCase{"bytes_from_0x80", "\x80\xfe\xff", "\x80\xfe\xff"},
                    EscapeCase{"newline", "k\nx", "k\\nx"},
                    EscapeCase{"carriage_return_line_feed", "a\r\n", "a\\r\\n"},
                    EscapeCase{"tab", "\tk", "\\tk"}, EscapeCase{"nul", "a\0b"s, "a\\x00b"},
                    EscapeCase{"other_controls", "\x01\x08\x0b\x0c\x1a\x1b\x1f",
                               "\\x01\\x08\\x0b\\x0c\\x1a\\x1b\\x1f"},
                    EscapeCase{"delete", "a\x7f", "a\\x7f"},
                    EscapeCase{"edges_of_printable", " ~", " ~"},
                    EscapeCase{"backslash_before_control", "\\\n", "\\\\n"}),
    [](const testing::TestParamInfo<EscapeCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace syncstatus
