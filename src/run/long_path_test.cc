#include "run/long_path.h"

#include <gtest/gtest.h>

#include <string>

namespace syncstatus {
namespace {

// Two folder names that together pass the limit: 302 characters.
const std::wstring kDeep = L"\\" + std::wstring(150, L'a') + L"\\" + std::wstring(150, L'b');

/// `head`, then as many `x` as make the whole `length` long, then `tail`.
std::wstring of_length(const std::wstring& head, std::size_t length, const std::wstring& tail) {
  return head + std::wstring(length - head.size() - tail.size(), L'x') + tail;
}

struct FormCase {
  const char* name;
  std::wstring full_path;
  std::wstring expected;
};

void PrintTo(const FormCase& c, std::ostream* os) {
  *os << c.name;
}

class LongPathForm : public testing::TestWithParam<FormCase> {};

TEST_P(LongPathForm, IsExtendedOnlyWhereNeeded) {
  const FormCase& c = GetParam();
  EXPECT_EQ(long_path_form(c.full_path), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LongPathForm,
    testing::Values(
        // Ordinary paths keep the exact form they were given in.
        FormCase{"short_drive_path", L"C:\\reports\\status.txt", L"C:\\reports\\status.txt"},
        FormCase{"short_unc_path", L"\\\\server\\share\\status.txt",
                 L"\\\\server\\share\\status.txt"},
        FormCase{"drive_path_one_short_of_the_limit", of_length(L"C:\\r\\", 259, L".txt"),
                 of_length(L"C:\\r\\", 259, L".txt")},
        FormCase{"unc_path_one_short_of_the_limit", of_length(L"\\\\srv\\sh\\", 259, L".txt"),
                 of_length(L"\\\\srv\\sh\\", 259, L".txt")},
        FormCase{"empty", L"", L""},
        // From the limit on, the extended form.
        FormCase{"drive_path_at_the_limit", of_length(L"C:\\r\\", 260, L".txt"),
                 L"\\\\?\\" + of_length(L"C:\\r\\", 260, L".txt")},
        FormCase{"long_drive_path", L"C:" + kDeep + L"\\report.txt",
                 L"\\\\?\\C:" + kDeep + L"\\report.txt"},
        FormCase{"lower_case_drive", L"d:" + kDeep + L"\\report.txt",
                 L"\\\\?\\d:" + kDeep + L"\\report.txt"},
        FormCase{"unc_path_at_the_limit", of_length(L"\\\\srv\\sh\\", 260, L".txt"),
                 L"\\\\?\\UNC\\" + of_length(L"srv\\sh\\", 258, L".txt")},
        FormCase{"long_unc_path", L"\\\\server\\share" + kDeep + L"\\report.txt",
                 L"\\\\?\\UNC\\server\\share" + kDeep + L"\\report.txt"},
        FormCase{"forward_slashes",
                 L"C:/" + std::wstring(150, L'a') + L"/" + std::wstring(150, L'b') + L"/report.txt",
                 L"\\\\?\\C:" + kDeep + L"\\report.txt"},
        FormCase{"unc_with_forward_slashes", L"//server/share/" + std::wstring(300, L'c'),
                 L"\\\\?\\UNC\\server\\share\\" + std::wstring(300, L'c')},
        FormCase{"device_name_as_a_folder", L"C:" + kDeep + L"\\NUL\\report.txt",
                 L"\\\\?\\C:" + kDeep + L"\\NUL\\report.txt"},
        FormCase{"longer_than_a_device_name", L"C:" + kDeep + L"\\NULL",
                 L"\\\\?\\C:" + kDeep + L"\\NULL"},
        FormCase{"com_with_two_digits", L"C:" + kDeep + L"\\COM10",
                 L"\\\\?\\C:" + kDeep + L"\\COM10"},
        FormCase{"device_name_inside_a_name", L"C:" + kDeep + L"\\CONSOLE.txt",
                 L"\\\\?\\C:" + kDeep + L"\\CONSOLE.txt"},
        FormCase{"dots_inside_names", L"C:" + kDeep + L"\\...x\\.report",
                 L"\\\\?\\C:" + kDeep + L"\\...x\\.report"},
        // Already extended, or a device: as it is.
        FormCase{"already_extended", L"\\\\?\\C:" + kDeep, L"\\\\?\\C:" + kDeep},
        FormCase{"already_extended_unc", L"\\\\?\\UNC\\server\\share" + kDeep,
                 L"\\\\?\\UNC\\server\\share" + kDeep},
        FormCase{"device_namespace", L"\\\\.\\pipe" + kDeep, L"\\\\.\\pipe" + kDeep},
        FormCase{"device_namespace_forward", L"//./pipe" + kDeep, L"//./pipe" + kDeep},
        FormCase{"nt_namespace", L"\\??\\C:" + kDeep, L"\\??\\C:" + kDeep},
        FormCase{"nul_in_a_long_folder", L"C:" + kDeep + L"\\NUL", L"C:" + kDeep + L"\\NUL"},
        FormCase{"con_lower_case", L"C:" + kDeep + L"\\con", L"C:" + kDeep + L"\\con"},
        FormCase{"com1_with_an_extension", L"C:" + kDeep + L"\\COM1.txt",
                 L"C:" + kDeep + L"\\COM1.txt"},
        FormCase{"lpt9_with_blanks", L"C:" + kDeep + L"\\LPT9  .log",
                 L"C:" + kDeep + L"\\LPT9  .log"},
        FormCase{"conout", L"C:" + kDeep + L"\\CONOUT$", L"C:" + kDeep + L"\\CONOUT$"},
        FormCase{"aux_with_a_stream", L"C:" + kDeep + L"\\aux:x", L"C:" + kDeep + L"\\aux:x"},
        // Not full paths: the extended form would take them literally.
        FormCase{"relative", kDeep.substr(1) + L"\\report.txt", kDeep.substr(1) + L"\\report.txt"},
        FormCase{"drive_relative", L"C:" + kDeep.substr(1), L"C:" + kDeep.substr(1)},
        FormCase{"rooted", kDeep + L"\\report.txt", kDeep + L"\\report.txt"},
        FormCase{"with_dot_dot", L"C:" + kDeep + L"\\..\\report.txt",
                 L"C:" + kDeep + L"\\..\\report.txt"},
        FormCase{"with_dot", L"C:" + kDeep + L"\\.\\report.txt",
                 L"C:" + kDeep + L"\\.\\report.txt"},
        FormCase{"ending_in_dot_dot", L"C:" + kDeep + L"\\..", L"C:" + kDeep + L"\\.."},
        FormCase{"three_leading_separators", L"\\\\\\server" + kDeep, L"\\\\\\server" + kDeep}),
    [](const testing::TestParamInfo<FormCase>& p) { return std::string(p.param.name); });

struct PrefixCase {
  const char* name;
  std::wstring path;
  bool device_or_verbatim;
};

void PrintTo(const PrefixCase& c, std::ostream* os) {
  *os << c.name;
}

class DeviceOrVerbatim : public testing::TestWithParam<PrefixCase> {};

TEST_P(DeviceOrVerbatim, IsToldByThePrefix) {
  const PrefixCase& c = GetParam();
  EXPECT_EQ(is_device_or_verbatim(c.path), c.device_or_verbatim);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DeviceOrVerbatim,
    testing::Values(PrefixCase{"extended", L"\\\\?\\C:\\x", true},
                    PrefixCase{"extended_unc", L"\\\\?\\UNC\\server\\share", true},
                    PrefixCase{"device", L"\\\\.\\COM1", true},
                    PrefixCase{"pipe", L"\\\\.\\pipe\\name", true},
                    PrefixCase{"device_forward", L"//./COM1", true},
                    PrefixCase{"device_question_forward", L"//?/C:/x", true},
                    PrefixCase{"device_root", L"\\\\.", true},
                    PrefixCase{"nt", L"\\??\\C:\\x", true},
                    PrefixCase{"unc", L"\\\\server\\share\\x", false},
                    PrefixCase{"unc_server_starting_with_a_dot", L"\\\\.host\\share", false},
                    PrefixCase{"unc_server_named_question", L"\\\\?x\\share", false},
                    PrefixCase{"drive", L"C:\\x", false}, PrefixCase{"rooted", L"\\x", false},
                    PrefixCase{"relative", L"x\\y", false},
                    PrefixCase{"device_name", L"NUL", false}, PrefixCase{"empty", L"", false}),
    [](const testing::TestParamInfo<PrefixCase>& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace syncstatus
