// End-to-end runs of the program on what only Windows has: share modes,
// byte-range locks, devices, the system's own reasons, its command line, long
// paths, and the program's version resource and manifest.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_fixture.h"
#include "win32_handle.h"

namespace syncstatus::test {
namespace {

const std::string kBefore = "earlier runs\r\n";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

class RunWin32 : public RunFixture {};

std::string read_through(HANDLE handle) {
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) return "<cannot seek>";
  std::string bytes;
  char buffer[4096];
  DWORD count = 0;
  while (::ReadFile(handle, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    bytes.append(buffer, count);
  }
  return bytes;
}

// Another program has the report open while a run appends to it.
struct HolderCase {
  const char* name;
  DWORD access;
  DWORD share;
  bool lock_existing_bytes;  // the holder also locks what it has read, shared
  int exit_status;
  std::string report_after;
  std::string err_start;  // before the system's reason; empty: no message
};

void PrintTo(const HolderCase& c, std::ostream* os) {
  *os << c.name;
}

class ReportHeldOpen : public RunWin32, public testing::WithParamInterface<HolderCase> {};

TEST_P(ReportHeldOpen, AppendsUnlessTheHolderForbidsWriting) {
  const HolderCase& c = GetParam();
  write_file(file("listing.txt"), kListing);
  write_file(file("report.txt"), kBefore);
  ProcessResult r;
  {
    const Handle holder(::CreateFileW(file("report.txt").c_str(), c.access, c.share, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.valid()) << ::GetLastError();
    if (c.lock_existing_bytes) {
      OVERLAPPED range = {};
      ASSERT_TRUE(::LockFileEx(holder.get(), 0, 0, static_cast<DWORD>(kBefore.size()), 0, &range))
          << ::GetLastError();
    }
    r = run({arg("report.txt"), arg("listing.txt"), "kroutings"});
    // The holder reads the new section through its handle, still open.
    EXPECT_EQ(read_through(holder.get()), c.report_after);
  }
  EXPECT_EQ(r.exit_status, c.exit_status);
  EXPECT_EQ(r.out, "");
  if (c.err_start.empty()) {
    EXPECT_EQ(r.err, "");
  } else {
    const std::string start = c.err_start + arg("report.txt") + "': ";
    EXPECT_EQ(r.err.rfind(start, 0), 0u) << r.err;
    EXPECT_GT(r.err.size(), start.size() + 1) << "no reason given";
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
  }
  EXPECT_EQ(read_file(file("report.txt")), c.report_after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportHeldOpen,
    testing::Values(
        HolderCase{"reader_sharing_read_write", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   false, 0, kBefore + kRoutings, ""},
        HolderCase{"reader_sharing_all", GENERIC_READ, kShareAll, false, 0, kBefore + kRoutings,
                   ""},
        HolderCase{"reader_that_may_delete", GENERIC_READ | DELETE, kShareAll, false, 0,
                   kBefore + kRoutings, ""},
        HolderCase{"reader_locking_what_it_read", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                   true, 0, kBefore + kRoutings, ""},
        HolderCase{"writer_sharing_read_write", GENERIC_READ | GENERIC_WRITE,
                   FILE_SHARE_READ | FILE_SHARE_WRITE, false, 0, kBefore + kRoutings, ""},
        HolderCase{"reader_sharing_read_only", GENERIC_READ, FILE_SHARE_READ, false, 1, kBefore,
                   "syncstatus: cannot open report '"}),
    [](const testing::TestParamInfo<HolderCase>& p) { return std::string(p.param.name); });

TEST_F(RunWin32, ReadOnlyReportIsRefusedAndKept) {
  write_file(file("listing.txt"), kListing);
  write_file(file("report.txt"), kBefore);
  ASSERT_TRUE(::SetFileAttributesW(file("report.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  // Wine keeps the attribute in the Unix mode bits, which root disregards.
  if (Handle(::CreateFileW(file("report.txt").c_str(), FILE_APPEND_DATA, kShareAll, nullptr,
                           OPEN_EXISTING, 0, nullptr))
          .valid()) {
    ::SetFileAttributesW(file("report.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "a read-only file can be written here";
  }
  const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), "kroutings"});
  ::SetFileAttributesW(file("report.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(r.exit_status, 1);
  // Windows' words, and Wine's for the same error.
  const std::string start = "syncstatus: cannot open report '" + arg("report.txt") + "': ";
  EXPECT_TRUE(r.err == start + "Access is denied\n" || r.err == start + "Access denied\n") << r.err;
  EXPECT_EQ(read_file(file("report.txt")), kBefore);
}

// The reason is the system's own text, as one line without its period.
struct ReasonCase {
  const char* name;
  std::string listing;               // in the scratch folder
  std::vector<std::string> reasons;  // Windows' text, then Wine's
};

void PrintTo(const ReasonCase& c, std::ostream* os) {
  *os << c.name;
}

class ListingReason : public RunWin32, public testing::WithParamInterface<ReasonCase> {};

TEST_P(ListingReason, IsTheSystemsText) {
  const ReasonCase& c = GetParam();
  std::filesystem::create_directory(file("folder"));
  const ProcessResult r = run({arg("report.txt"), arg(c.listing), "kroutings"});
  EXPECT_EQ(r.exit_status, 1);
  const std::string start = "syncstatus: cannot open listing '" + arg(c.listing) + "': ";
  bool matched = false;
  for (const std::string& reason : c.reasons) matched = matched || r.err == start + reason + "\n";
  EXPECT_TRUE(matched) << r.err;
  EXPECT_FALSE(std::filesystem::exists(file("report.txt")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListingReason,
    testing::Values(ReasonCase{"missing",
                               "absent.txt",
                               {"The system cannot find the file specified", "File not found"}},
                    ReasonCase{"missing_folder",
                               "nowhere\\listing.txt",
                               {"The system cannot find the path specified", "Path not found"}},
                    ReasonCase{"folder", "folder", {"Access is denied", "Access denied"}}),
    [](const testing::TestParamInfo<ReasonCase>& p) { return std::string(p.param.name); });

// Devices have no size, no locks and cannot be cut back; none of that is an
// error.
TEST_F(RunWin32, NulDeviceAsReportTakesTheSection) {
  write_file(file("listing.txt"), kListing);
  const ProcessResult r = run({"NUL", arg("listing.txt"), "kroutings"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(RunWin32, NulDeviceAsListingIsEmpty) {
  const ProcessResult r = run({arg("report.txt"), "NUL", "kunits"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(file("report.txt")), kUnitsAgreed);
}

// Under Wine, drive Z: reaches the Unix device that refuses every write for
// want of space; Windows itself has no such device.
TEST_F(RunWin32, FailedWriteEndsWithMinusOne) {
  const std::string full = "Z:\\dev\\full";
  if (!Handle(::CreateFileA(full.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, 0,
                            nullptr))
           .valid()) {
    GTEST_SKIP() << "no " << full << " here";
  }
  write_file(file("listing.txt"), kListing);
  const ProcessResult r = run({full, arg("listing.txt"), "kroutings"});
  EXPECT_EQ(r.exit_status, kExitMinusOne);
  EXPECT_EQ(r.exit_status, -1);
  EXPECT_EQ(r.out, "");
  const std::string start = "syncstatus: cannot write report 'Z:\\dev\\full': ";
  EXPECT_TRUE(r.err == start + "There is not enough space on the disk\n" ||
              r.err == start + "Disk full\n")
      << r.err;
}

// As Windows tools do, '/?' alone asks for the help, which then names it.
TEST_F(RunWin32, SlashQuestionAloneShowsTheUsage) {
  const ProcessResult r = run({"/?"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out.rfind("Usage: syncstatus [--] REPORT LISTING KEY\n"
                        "       syncstatus --help\n"
                        "       syncstatus --version\n"
                        "       syncstatus /?\n",
                        0),
            0u)
      << r.out;
}

// Each argument reaches the program as it was given, through the quoting of
// the command line and the conversion from UTF-16; an unknown key is quoted
// back in the warning, control bytes escaped.
struct KeyCase {
  const char* name;
  std::string key;
  std::string shown;  // in the warning
};

void PrintTo(const KeyCase& c, std::ostream* os) {
  *os << c.name;
}

class ArgumentPassing : public RunWin32, public testing::WithParamInterface<KeyCase> {};

TEST_P(ArgumentPassing, KeyArrivesWhole) {
  const KeyCase& c = GetParam();
  write_file(file("listing.txt"), "");
  const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), c.key});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "syncstatus: warning: unknown table key '" + c.shown +
                       "': the heading names no table\n");
  EXPECT_EQ(read_file(file("report.txt")), "\r\nStatus of s: \r\n   Databases Synchronized! \r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArgumentPassing,
    testing::Values(KeyCase{"empty", "", ""}, KeyCase{"blanks", "k routings  ", "k routings  "},
                    KeyCase{"tab", "k\troutings", "k\\troutings"},
                    KeyCase{"quotes", "say \"kroutings\"", "say \"kroutings\""},
                    KeyCase{"lone_quote", "\"", "\""},
                    KeyCase{"backslashes_before_quote", "a\\\\\"b", "a\\\\\"b"},
                    KeyCase{"trailing_backslashes_in_quotes", "a b\\\\", "a b\\\\"},
                    KeyCase{"backslashes_alone", "\\\\server\\share\\", "\\\\server\\share\\"},
                    KeyCase{"cyrillic", "\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87",
                            "\xd0\xba\xd0\xbb\xd1\x8e\xd1\x87"},
                    KeyCase{"beyond_the_basic_plane", "k\xf0\x9f\x93\xa6", "k\xf0\x9f\x93\xa6"}),
    [](const testing::TestParamInfo<KeyCase>& p) { return std::string(p.param.name); });

// Full paths past MAX_PATH open even where long paths are not enabled; `/`,
// `.` and `..` are resolved before the path takes its extended form, which
// would take them literally.
TEST_F(RunWin32, LongPathsOpen) {
  const std::string outer(150, 'o');
  const std::string inner(150, 'i');
  std::filesystem::create_directories(file(outer) / inner);
  write_file(file(outer) / inner / "listing.txt", kListing);
  write_file(file(outer) / inner / "report.txt", kBefore);
  const std::string listing = arg(outer) + "\\" + inner + "\\listing.txt";
  const std::string report = arg(outer) + "/./" + inner + "/../" + inner + "/report.txt";
  ASSERT_GT(listing.size(), 300u);
  const ProcessResult r = run({report, listing, "kroutings"});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(file(outer) / inner / "report.txt"), kBefore + kRoutings);
}

/// The version information of the program under test; empty if it has none.
std::vector<char> version_info() {
  const std::wstring program = program_under_test().wstring();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(program.c_str(), &ignored);
  if (size == 0) return {};
  std::vector<char> info(size);
  if (!::GetFileVersionInfoW(program.c_str(), 0, size, info.data())) return {};
  return info;
}

// The texts that Explorer's Properties dialog shows, in US English.
struct VersionTextCase {
  const char* name;
  std::string value;
};

void PrintTo(const VersionTextCase& c, std::ostream* os) {
  *os << c.name;
}

class VersionText : public testing::TestWithParam<VersionTextCase> {};

TEST_P(VersionText, IsInTheVersionResource) {
  const VersionTextCase& c = GetParam();
  const std::vector<char> info = version_info();
  ASSERT_FALSE(info.empty()) << "no version resource: " << ::GetLastError();
  const std::string name = c.name;
  const std::wstring key = L"\\StringFileInfo\\040904B0\\" + std::wstring(name.begin(), name.end());
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), key.c_str(), &value, &length)) << name;
  EXPECT_EQ(utf8(std::wstring(static_cast<const wchar_t*>(value))), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionText,
    testing::Values(VersionTextCase{"ProductName", "syncstatus"},
                    VersionTextCase{"FileVersion", "1.0.0.0"},
                    VersionTextCase{"ProductVersion", "1.0.0.0"},
                    VersionTextCase{"OriginalFilename", "syncstatus.exe"},
                    VersionTextCase{"InternalName", "syncstatus"},
                    VersionTextCase{"FileDescription",
                                    "Reports whether the Scheduler's and Kest's databases agree, "
                                    "table by table"}),
    [](const testing::TestParamInfo<VersionTextCase>& p) { return std::string(p.param.name); });

TEST(VersionResource, FixedPartHoldsTheVersionNumbers) {
  const std::vector<char> info = version_info();
  ASSERT_FALSE(info.empty()) << "no version resource: " << ::GetLastError();
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", &value, &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  // 1.0 and .0.0, major and minor in the high and low half of each word.
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000000u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
}

TEST(ApplicationManifest, IsResourceOneOfTypeManifest) {
  const HMODULE module =
      ::LoadLibraryExW(program_under_test().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr) << ::GetLastError();
  // Type 24 is RT_MANIFEST; id 1 the one that Windows reads at process start.
  const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  std::string manifest;
  if (found != nullptr) {
    const HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded == nullptr ? nullptr : ::LockResource(loaded);
    if (bytes != nullptr) {
      manifest.assign(static_cast<const char*>(bytes), ::SizeofResource(module, found));
    }
  }
  ::FreeLibrary(module);
  ASSERT_NE(found, nullptr) << "no manifest";
  for (const char* part : {
           R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)",
           R"(<longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">)"
           R"(true</longPathAware>)",
           R"(<supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>)",  // Windows 7
           R"(<supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>)",  // Windows 8
           R"(<supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>)",  // Windows 8.1
           R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)",  // Windows 10, 11
       }) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

}  // namespace
}  // namespace syncstatus::test
