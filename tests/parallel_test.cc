// Concurrent runs appending to one report: each section lands whole, never
// interleaved with another, whatever order the runs take their turns in.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "subprocess.h"
#include "test_files.h"

namespace syncstatus::test {
namespace {

struct Table {
  const char* key;
  const char* heading;  // the plural, as the section names it
};

const Table kTables[] = {
    {"kemployee", "Employees"},
    {"kunits", "Units"},
    {"ksetupstates", "Setup States"},
    {"kqteams", "Qualified Teams"},
    {"kmachines", "Machines"},
    {"kitems", "Items"},
    {"kcustitems", "Customized Items"},
    {"kroutings", "Routings"},
    {"kcustroutings", "Customized Routings"},
    {"kmpsorders", "MPS Orders"},
    {"kprporders", "PRP Orders"},
    {"kmrporders", "MRP Orders"},
    {"ksfcorders", "SFC Orders"},
    {"kitemstock", "Item Stock Levels"},
    {"kcustitemstock", "Customized Item Stock Levels"},
    {"kpurorders", "Purchase Orders"},
};

TEST(Parallel, SixteenRunsEachAppendOneWholeSection) {
  ScratchDir dir;
  // Well over one output buffer per section, so that each run writes several
  // times and only the report's lock keeps the sections apart.
  constexpr int kRecords = 16000;
  std::vector<std::string> sections;
  for (const Table& table : kTables) {
    std::string listing = "1," + std::to_string(kRecords) + "c1," + std::to_string(kRecords) + "\n";
    std::string section =
        "\r\nStatus of " + std::string(table.heading) + ": \r\n   Databases NOT Synchronized! \r\n";
    for (int i = 0; i < kRecords; ++i) {
      char number[16];
      std::snprintf(number, sizeof number, "%05d", i);
      const std::string record = std::string(table.key) + " record " + number + " of this run";
      if (i % 3 == 0) {
        listing += "> " + record + "\n";
        section += "   Missing in Kest:        " + record + "\r\n";
      } else {
        listing += "< " + record + "\r\n";
        section += "   Missing in Scheduler:   " + record + "\r\n";
      }
    }
    write_file(dir / (std::string(table.key) + ".txt"), listing);
    sections.push_back(std::move(section));
  }
  ASSERT_GT(sections.front().size(), 400'000u);

  // All runs start before any is waited for.
  std::vector<Process> runs;
  runs.reserve(std::size(kTables));
  for (const Table& table : kTables) {
    runs.emplace_back(program_under_test(),
                      std::vector<std::string>{dir.arg("report.txt"),
                                               dir.arg(std::string(table.key) + ".txt"), table.key},
                      dir.path());
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const ProcessResult r = runs[i].wait();
    EXPECT_EQ(r.exit_status, 0) << kTables[i].key << ": " << r.err;
    // A run that waited long for its turn says so, and nothing else.
    if (!r.err.empty()) {
      EXPECT_EQ(r.err, "syncstatus: waiting for another run on report '" + dir.arg("report.txt") +
                           "'\n")
          << kTables[i].key;
    }
  }

  // The report must be the sixteen sections back to back, in some order.
  const std::string report = read_file(dir / "report.txt");
  std::vector<bool> found(sections.size(), false);
  std::size_t at = 0;
  while (at < report.size()) {
    std::size_t i = 0;
    while (i < sections.size() &&
           (found[i] || report.compare(at, sections[i].size(), sections[i]) != 0)) {
      ++i;
    }
    ASSERT_LT(i, sections.size()) << "no whole section starts at byte " << at << ": "
                                  << report.substr(at, 120);
    found[i] = true;
    at += sections[i].size();
  }
  for (std::size_t i = 0; i < sections.size(); ++i) {
    EXPECT_TRUE(found[i]) << "no section for " << kTables[i].key;
  }
}

}  // namespace
}  // namespace syncstatus::test
