// End-to-end runs of the program where POSIX hosts make things go wrong: full
// disks, file-size limits, pipes that close, FIFOs that trickle, files that
// cannot be opened or read, and listings no diff would write. A run either
// appends its whole section or leaves the report byte for byte as it was.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "run_fixture.h"

namespace syncstatus::test {
namespace {

using namespace std::literals;

const std::string kAgreed = "\r\nStatus of Items: \r\n   Databases Synchronized! \r\n";
const std::string kDiffer = "\r\nStatus of Items: \r\n   Databases NOT Synchronized! \r\n";
// The item prefixes; in the cases, the blank that replaces the marker follows.
const std::string kSched = "   Missing in Scheduler: ";
const std::string kKest = "   Missing in Kest:      ";

const std::string kEarlier = "earlier section\r\nkept as it is\r\n";

// A listing of `count` change lines and the section it gives, about 50 bytes
// of section per line.
struct Records {
  std::string listing;
  std::string section;
};

Records records(int count) {
  Records r{"1," + std::to_string(count) + "d0\n", kDiffer};
  for (int i = 0; i < count; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%06d", i);
    r.listing += "< item "s + number + " bolt M8 zinc plated\n";
    r.section += kSched + "  item " + number + " bolt M8 zinc plated\r\n";
  }
  return r;
}

class Reliability : public RunFixture {
 protected:
  // Runs `script` in bash with the program as "$0" and `args` as "$1"...,
  // for what only a shell sets up, such as process substitution.
  ProcessResult run_bash(const std::string& script, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-c", script, utf8(program_under_test())};
    all.insert(all.end(), args.begin(), args.end());
    return Process("/bin/bash", all, dir_.path()).wait();
  }
};

// --- Writes that fail ---------------------------------------------------

// A file-size limit placed relative to the report's size before the run or
// to the end of the whole section: every failing write, first or last,
// leaves the report as it was; a limit the section just fits is no failure.
struct LimitCase {
  const char* name;
  bool from_section_end;
  std::int64_t offset;
  bool written;
};

void PrintTo(const LimitCase& c, std::ostream* os) {
  *os << c.name;
}

class FileSizeLimit : public Reliability, public testing::WithParamInterface<LimitCase> {};

TEST_P(FileSizeLimit, SectionIsWholeOrAbsent) {
  const LimitCase& c = GetParam();
  // Several output buffers' worth, so that some writes succeed first.
  const Records r = records(12000);
  ASSERT_GT(r.section.size(), 700'000u);
  write_file(file("listing.txt"), r.listing);
  // The limit holds for the program's standard error too, a file here: the
  // report must be larger than the message.
  std::string earlier;
  while (earlier.size() < 8192) earlier += kEarlier;
  write_file(file("report.txt"), earlier);
  const std::int64_t base =
      static_cast<std::int64_t>(earlier.size() + (c.from_section_end ? r.section.size() : 0));
  ProcessOptions options;
  options.file_size_limit = static_cast<std::uint64_t>(base + c.offset);

  const ProcessResult result = run({arg("report.txt"), arg("listing.txt"), "kitems"}, options);
  EXPECT_EQ(result.out, "");
  if (c.written) {
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(read_file(file("report.txt")) == earlier + r.section);
  } else {
    EXPECT_EQ(result.exit_status, 255);
    EXPECT_EQ(result.err,
              "syncstatus: cannot write report '" + arg("report.txt") + "': File too large\n");
    EXPECT_TRUE(read_file(file("report.txt")) == earlier);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FileSizeLimit,
                         testing::Values(LimitCase{"at_report_size", false, 0, false},
                                         LimitCase{"one_byte_past_report", false, 1, false},
                                         LimitCase{"after_two_buffers", false, 600'000, false},
                                         LimitCase{"one_byte_short", true, -1, false},
                                         LimitCase{"exactly_enough", true, 0, true}),
                         [](const testing::TestParamInfo<LimitCase>& p) {
                           return std::string(p.param.name);
                         });

TEST_F(Reliability, FullDeviceFailsTheRun) {
  write_file(file("listing.txt"), records(12000).listing);
  write_file(file("empty.txt"), "");
  for (const char* listing : {"listing.txt", "empty.txt"}) {
    const ProcessResult r = run({"/dev/full", arg(listing), "kitems"});
    EXPECT_EQ(r.exit_status, 255) << listing;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "syncstatus: cannot write report '/dev/full': No space left on device\n");
  }
}

// A report that is a pipe whose reader leaves early: the write fails, and the
// run says so and ends with -1 instead of dying of SIGPIPE without a word.
TEST_F(Reliability, ReportPipeClosedByReader) {
  write_file(file("listing.txt"), records(20000).listing);
  const ProcessResult r =
      run_bash(R"(exec "$0" >(head -c 1 >/dev/null) "$1" kitems)", {arg("listing.txt")});
  EXPECT_EQ(r.exit_status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("syncstatus: cannot write report '/dev/fd/", 0), 0u) << r.err;
  EXPECT_TRUE(r.err.ends_with("': Broken pipe\n")) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";
}

// Help and version that cannot reach standard output fail the run and say
// why, instead of ending with 0 as though they had been shown.
TEST_F(Reliability, HelpAndVersionOnFullDeviceFail) {
  for (const char* option : {"--help", "--version"}) {
    const ProcessResult r = run_bash(R"(exec "$0" "$1" >/dev/full)", {option});
    EXPECT_EQ(r.exit_status, 1) << option;
    EXPECT_EQ(r.err, "syncstatus: cannot write standard output: No space left on device\n")
        << option;
  }
}

// --- Files that cannot be opened or read --------------------------------

// In the scratch folder: listing.txt, kept.txt (an earlier report), folder/,
// symbolic links dangling, loop and dangling-report (into a missing folder),
// read-only.txt and unreadable.txt. A name starting with '/' is taken as it
// is; @R and @L in the message stand for the report's and listing's paths.
struct OpenCase {
  const char* name;
  std::string report;
  std::string listing;
  std::string message;
  bool needs_permissions = false;
};

void PrintTo(const OpenCase& c, std::ostream* os) {
  *os << c.name;
}

class OpenFailure : public Reliability, public testing::WithParamInterface<OpenCase> {
 protected:
  void SetUp() override {
    write_file(file("listing.txt"), "1c1\n< a\n---\n> b\n");
    write_file(file("kept.txt"), kEarlier);
    write_file(file("read-only.txt"), kEarlier);
    write_file(file("unreadable.txt"), "< a\n");
    std::filesystem::permissions(file("read-only.txt"), std::filesystem::perms::owner_read |
                                                            std::filesystem::perms::group_read |
                                                            std::filesystem::perms::others_read);
    std::filesystem::permissions(file("unreadable.txt"), std::filesystem::perms::none);
    std::filesystem::create_directory(file("folder"));
    std::filesystem::create_symlink("absent.txt", file("dangling"));
    std::filesystem::create_symlink("loop", file("loop"));
    std::filesystem::create_symlink("nowhere/report.txt", file("dangling-report"));
  }
  std::string path_of(const std::string& name) const {
    return name.empty() || name[0] == '/' ? name : arg(name);
  }
};

TEST_P(OpenFailure, SaysWhyAndLeavesReportAlone) {
  const OpenCase& c = GetParam();
  // Root is exempt from file permissions: such a case runs the program as
  // nobody instead.
  const bool as_nobody = c.needs_permissions && ::geteuid() == 0;
  if (as_nobody && !std::filesystem::exists("/usr/bin/setpriv")) {
    GTEST_SKIP() << "root ignores file permissions, and there is no setpriv";
  }
  if (c.listing.starts_with("/proc/") && !std::filesystem::exists(c.listing)) {
    GTEST_SKIP() << "no " << c.listing;
  }
  const std::filesystem::path report_file = c.report.empty() ? "" : file(c.report);
  std::error_code no_file;  // a link loop has no status
  const bool existed = !c.report.empty() && std::filesystem::is_regular_file(report_file, no_file);
  const std::string before = existed ? read_file(report_file) : "";
  const std::string report = path_of(c.report);
  const std::string listing = path_of(c.listing);

  const ProcessResult r = as_nobody
                              ? Process("/usr/bin/setpriv",
                                        {"--reuid=65534", "--regid=65534", "--clear-groups",
                                         utf8(program_under_test()), report, listing, "kitems"},
                                        dir_.path())
                                    .wait()
                              : run({report, listing, "kitems"});
  std::string message = c.message;
  for (const auto& [from, to] : {std::pair{"@R", report}, std::pair{"@L", listing}}) {
    if (const auto at = message.find(from); at != std::string::npos) message.replace(at, 2, to);
  }
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, message);
  if (existed) {
    EXPECT_EQ(read_file(report_file), before);
  } else if (!c.report.empty()) {
    EXPECT_FALSE(std::filesystem::is_regular_file(report_file, no_file));
  }
  EXPECT_FALSE(std::filesystem::exists(file("absent.txt")));
  EXPECT_FALSE(std::filesystem::exists(file("nowhere")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailure,
    testing::Values(
        OpenCase{"missing_listing", "new.txt", "absent.txt",
                 "syncstatus: cannot open listing '@L': No such file or directory\n"},
        OpenCase{"listing_is_folder", "kept.txt", "folder",
                 "syncstatus: cannot open listing '@L': Is a directory\n"},
        OpenCase{"dangling_listing", "kept.txt", "dangling",
                 "syncstatus: cannot open listing '@L': No such file or directory\n"},
        OpenCase{"listing_link_loop", "new.txt", "loop",
                 "syncstatus: cannot open listing '@L': Too many levels of symbolic links\n"},
        OpenCase{"empty_listing_path", "kept.txt", "",
                 "syncstatus: cannot open listing '': No such file or directory\n"},
        OpenCase{"listing_under_a_file", "kept.txt", "kept.txt/listing.txt",
                 "syncstatus: cannot open listing '@L': Not a directory\n"},
        OpenCase{"unreadable_listing", "kept.txt", "unreadable.txt",
                 "syncstatus: cannot open listing '@L': Permission denied\n", true},
        // Opens, but its first read fails: the report is never touched.
        OpenCase{"first_read_fails", "new.txt", "/proc/self/mem",
                 "syncstatus: cannot read listing '/proc/self/mem': Input/output error\n"},
        OpenCase{"first_read_fails_existing_report", "kept.txt", "/proc/self/mem",
                 "syncstatus: cannot read listing '/proc/self/mem': Input/output error\n"},
        OpenCase{"report_in_missing_folder", "nowhere/report.txt", "listing.txt",
                 "syncstatus: cannot open report '@R': No such file or directory\n"},
        OpenCase{"report_under_a_file", "kept.txt/report.txt", "listing.txt",
                 "syncstatus: cannot open report '@R': Not a directory\n"},
        OpenCase{"dangling_report_into_missing_folder", "dangling-report", "listing.txt",
                 "syncstatus: cannot open report '@R': No such file or directory\n"},
        OpenCase{"report_link_loop", "loop", "listing.txt",
                 "syncstatus: cannot open report '@R': Too many levels of symbolic links\n"},
        OpenCase{"report_is_folder", "folder", "listing.txt",
                 "syncstatus: cannot open report '@R': Is a directory\n"},
        OpenCase{"empty_report_path", "", "listing.txt",
                 "syncstatus: cannot open report '': No such file or directory\n"},
        OpenCase{"read_only_report", "read-only.txt", "listing.txt",
                 "syncstatus: cannot open report '@R': Permission denied\n", true}),
    [](const testing::TestParamInfo<OpenCase>& p) { return std::string(p.param.name); });

// --- Listings from pipes and FIFOs --------------------------------------

TEST_F(Reliability, PipeListingGivesTheSameReportAsAFile) {
  // Long enough for many short pipe reads, lines split between them.
  const Records r = records(30000);
  write_file(file("listing.txt"), r.listing);
  const ProcessResult piped =
      run_bash(R"(exec "$0" "$1" <(cat "$2") kitems)", {arg("report.txt"), arg("listing.txt")});
  EXPECT_EQ(piped.exit_status, 0) << piped.err;
  EXPECT_EQ(piped.err, "");
  EXPECT_TRUE(read_file(file("report.txt")) == r.section);
}

// A FIFO fed in pieces that split a marker from its line, a CR from its LF
// and a byte 26 from what follows it: the pieces read as one listing.
TEST_F(Reliability, FifoFilledInPieces) {
  ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
  // Held open for reading and writing, so that neither side's open blocks
  // and the writes never wait, whatever the program does.
  const int fifo = ::open(file("fifo").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fifo, 0);
  write_file(file("report.txt"), kEarlier);
  Process process(program_under_test(), {arg("report.txt"), arg("fifo"), "kitems"}, dir_.path());
  for (const std::string_view piece :
       {"1,2c1,2\n<"sv, " a\r"sv, "\n< b\x1a"sv, "\x1a\n---\n>"sv, " c\r\n> d\x1a"sv, "\x1a"sv}) {
    // No ASSERT while the program runs: the FIFO must be closed for it to end.
    EXPECT_EQ(::write(fifo, piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
    // Gives the program the chance to read each piece on its own; the result
    // must not depend on whether it does.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::close(fifo);
  const ProcessResult r = process.wait();
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file(file("report.txt")), kEarlier + kDiffer + kSched + "  a\r\n" + kSched +
                                               "  b\x1a\x1a\r\n" + kKest + "  c\r\n" + kKest +
                                               "  d\x1a");
}

// --- Listings that no diff would write ----------------------------------

struct BytesCase {
  const char* name;
  std::string listing;
  std::string section;
};

void PrintTo(const BytesCase& c, std::ostream* os) {
  *os << c.name;
}

class HostileListing : public Reliability, public testing::WithParamInterface<BytesCase> {};

TEST_P(HostileListing, GivesExactSection) {
  const BytesCase& c = GetParam();
  write_file(file("listing.txt"), c.listing);
  const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), "kitems"});
  EXPECT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(read_file(file("report.txt")) == c.section) << read_file(file("report.txt"));
}

// A byte 26 as the last byte of a 256 KiB read is held back and must still
// come out as data when more follows.
const std::string kFiller(262141, 'f');

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileListing,
    testing::Values(
        BytesCase{"eof_mark_alone_is_empty", "\x1a", kAgreed},
        BytesCase{"two_eof_marks_are_not_empty", "\x1a\x1a", kDiffer},
        BytesCase{"nul_alone_is_not_empty", "\0"s, kDiffer},
        BytesCase{"lone_cr_is_not_empty", "\r", kDiffer},
        BytesCase{"crlf_alone_is_not_empty", "\r\n", kDiffer},
        BytesCase{"eof_mark_after_newline", "\n\x1a", kDiffer},
        BytesCase{"marker_then_eof_mark", "<\x1a", kDiffer + kSched + " "},
        BytesCase{"control_bytes_after_markers", "<\0\r\n>\xff\r\r\n\x1a<x\n\n\r<\n<\x1a\x1a"s,
                  kDiffer + kSched + " \0\r\n"s + kKest + " \xff\r\r\n" + kSched + " \x1a"},
        BytesCase{"eof_mark_at_end_of_a_read", "< " + kFiller + "\x1a\n> y\n",
                  kDiffer + kSched + "  " + kFiller + "\x1a\r\n" + kKest + "  y\r\n"},
        BytesCase{"eof_mark_at_end_of_a_read_and_last", "< " + kFiller + "\x1a",
                  kDiffer + kSched + "  " + kFiller}),
    [](const testing::TestParamInfo<BytesCase>& p) { return std::string(p.param.name); });

// The section of `listing` as the plain reading of the rules gives it, line
// by line: one final byte 26 is dropped; each line starting with a marker
// gives an item with the marker replaced by a blank; LF or CR LF ends a line
// and becomes CR LF; a last line without LF gets no line end.
std::string expected_section(std::string_view listing) {
  if (listing.ends_with('\x1a')) listing.remove_suffix(1);
  std::string section = listing.empty() ? kAgreed : kDiffer;
  while (!listing.empty()) {
    const std::size_t lf = listing.find('\n');
    const bool ended = lf != std::string_view::npos;
    std::string_view line = listing.substr(0, lf);
    listing.remove_prefix(ended ? lf + 1 : listing.size());
    if (!line.starts_with('<') && !line.starts_with('>')) continue;
    if (ended && line.ends_with('\r')) line.remove_suffix(1);
    section += line[0] == '<' ? kSched : kKest;
    section += ' ';
    section += line.substr(1);
    if (ended) section += "\r\n";
  }
  return section;
}

// Random bytes, heavy in line ends, markers and the bytes that trip up text
// handling; the same every run.
std::string random_listing(std::mt19937& random, std::size_t size) {
  static constexpr char kAlphabet[] = {'\0', '\r', '\n', '\x1a', '\xff', '<', '>', ' ', 'a', '\t'};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
  std::string listing(size, ' ');
  for (char& byte : listing) byte = kAlphabet[pick(random)];
  return listing;
}

TEST_F(Reliability, RandomListingsGiveOneItemPerMarkerLine) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> size(0, 3000);
  for (int i = 0; i < 40; ++i) {
    const std::string listing =
        random_listing(random, i < 10 ? static_cast<std::size_t>(i) : size(random));
    write_file(file("listing.txt"), listing);
    std::filesystem::remove(file("report.txt"));
    const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), "kitems"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    ASSERT_TRUE(read_file(file("report.txt")) == expected_section(listing)) << "listing " << i;
  }
}

// Several MiB, with bytes 26 and CRs wherever a 256 KiB or 64 KiB read ends,
// read from a file and from a pipe.
TEST_F(Reliability, LargeRandomListingFromFileAndPipe) {
  std::mt19937 random(7);
  std::string listing = random_listing(random, 3 << 20);
  for (std::size_t at = 64 * 1024; at < listing.size(); at += 64 * 1024) {
    listing[at - 1] = (at / (64 * 1024)) % 2 ? '\x1a' : '\r';
  }
  listing.back() = '\x1a';
  write_file(file("listing.txt"), listing);
  const std::string expected = expected_section(listing);
  const ProcessResult from_file = run({arg("file.txt"), arg("listing.txt"), "kitems"});
  const ProcessResult from_pipe =
      run_bash(R"(exec "$0" "$1" <(cat "$2") kitems)", {arg("pipe.txt"), arg("listing.txt")});
  EXPECT_EQ(from_file.exit_status, 0) << from_file.err;
  EXPECT_EQ(from_pipe.exit_status, 0) << from_pipe.err;
  EXPECT_TRUE(read_file(file("file.txt")) == expected);
  EXPECT_TRUE(read_file(file("pipe.txt")) == expected);
}

// One 256 MiB marker line: it comes out whole, in order, without the program
// ever holding it in memory. Neither the test nor the program keeps a copy.
TEST_F(Reliability, QuarterGibibyteLine) {
  constexpr std::uint64_t kListingSize = std::uint64_t{256} << 20;
  // The line's text repeats with a period that no buffer size divides, so a
  // lost, doubled or reordered piece shows; each block holds whole periods.
  constexpr std::size_t kPeriod = 23;
  std::string block(kPeriod * 45591, ' ');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % kPeriod);
  const std::uint64_t text_size = kListingSize - 2;  // after the marker, before the LF
  {
    std::ofstream out(file("listing.txt"), std::ios::binary);
    out << '<';
    for (std::uint64_t left = text_size; left > 0;) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
      out.write(block.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
    out << '\n';
    ASSERT_TRUE(out.good());
  }
  ASSERT_EQ(std::filesystem::file_size(file("listing.txt")), kListingSize);

  const ProcessResult r = run({arg("report.txt"), arg("listing.txt"), "kitems"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_LT(r.peak_memory, std::uint64_t{128} << 20);
  std::filesystem::remove(file("listing.txt"));

  const std::string head = kDiffer + kSched + " ";
  ASSERT_EQ(std::filesystem::file_size(file("report.txt")), head.size() + text_size + 2);
  std::ifstream in(file("report.txt"), std::ios::binary);
  std::string got(head.size(), '\0');
  in.read(got.data(), static_cast<std::streamsize>(got.size()));
  ASSERT_EQ(got, head);
  for (std::uint64_t left = text_size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
    got.resize(n);
    in.read(got.data(), static_cast<std::streamsize>(n));
    ASSERT_TRUE(in.good());
    ASSERT_TRUE(std::string_view(got) == std::string_view(block).substr(0, n))
        << "at text byte " << text_size - left;
    left -= n;
  }
  got.resize(3);
  in.read(got.data(), 3);
  EXPECT_EQ(in.gcount(), 2);
  EXPECT_EQ(got.substr(0, 2), "\r\n");
}

}  // namespace
}  // namespace syncstatus::test
