// A small diff for the tests of report-all.cmd, where no POSIX diff is at
// hand: `diff_standin --strip-trailing-cr --text KEST SCHEDULER`. It refuses
// any other options, so the script must pass exactly these; it tells equal
// files (after a CR before each LF is dropped) from different ones, and for
// different ones writes one change hunk in diff's normal format that removes
// every line of KEST and adds every line of SCHEDULER. Exit status as diff's:
// 0 equal, 1 different, 2 trouble.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

bool read_lines(const char* path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (end < bytes.size() && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

std::string range(std::size_t count) {
  if (count == 0) return "0";
  if (count == 1) return "1";
  return "1," + std::to_string(count);
}

void put(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 || std::string_view(argv[1]) != "--strip-trailing-cr" ||
      std::string_view(argv[2]) != "--text") {
    std::fputs("diff_standin: usage: diff_standin --strip-trailing-cr --text KEST SCHEDULER\n",
               stderr);
    return 2;
  }
  std::vector<std::string> kest;
  std::vector<std::string> scheduler;
  for (int i = 3; i < 5; ++i) {
    if (!read_lines(argv[i], i == 3 ? kest : scheduler)) {
      std::fprintf(stderr, "diff_standin: %s: cannot read\n", argv[i]);
      return 2;
    }
  }
  if (kest == scheduler) return 0;
  const char op = kest.empty() ? 'a' : scheduler.empty() ? 'd' : 'c';
  put(range(kest.size()) + op + range(scheduler.size()) + "\n");
  for (const std::string& line : kest) put("< " + line + "\n");
  if (op == 'c') put("---\n");
  for (const std::string& line : scheduler) put("> " + line + "\n");
  return std::fflush(stdout) == 0 ? 1 : 2;
}
