#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "subprocess.h"
#include "test_files.h"

extern char** environ;

namespace syncstatus::test {

const int kExitMinusOne = 255;

namespace {

std::atomic<int> next_id{0};

// The test's environment with `changes` applied, as NAME=value entries.
std::vector<std::string> environment_with(
    const std::vector<std::pair<std::string, std::string>>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = std::strchr(*entry, '=');
    const std::size_t name_length = equals ? static_cast<std::size_t>(equals - *entry) : 0;
    bool replaced = false;
    for (const auto& [name, value] : changes) {
      if (name.size() == name_length && name.compare(0, name_length, *entry, name_length) == 0) {
        replaced = true;
      }
    }
    if (!replaced) entries.emplace_back(*entry);
  }
  for (const auto& [name, value] : changes) entries.push_back(name + "=" + value);
  return entries;
}

}  // namespace

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::filesystem::path& scratch, const ProcessOptions& options) {
  const int id = next_id++;
  out_path_ = scratch / ("out-" + std::to_string(id));
  err_path_ = scratch / ("err-" + std::to_string(id));
  std::vector<char*> argv;
  std::string program_name = program.string();
  argv.push_back(program_name.data());
  std::vector<std::string> copies(args);
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  // Built before the fork: the child only calls what is safe after one.
  std::vector<std::string> env_entries = environment_with(options.environment);
  std::vector<char*> envp;
  for (std::string& entry : env_entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const std::string directory = options.working_directory.string();
  const std::string input =
      options.standard_input.empty() ? "/dev/null" : options.standard_input.string();

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = ::open(input.c_str(), O_RDONLY);
    const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (options.file_size_limit) {
      const rlimit limit{*options.file_size_limit, *options.file_size_limit};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.address_space_limit) {
      const rlimit limit{*options.address_space_limit, *options.address_space_limit};
      ::setrlimit(RLIMIT_AS, &limit);
    }
    if (!directory.empty() && ::chdir(directory.c_str()) != 0) ::_exit(126);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  handle_ = pid;
}

Process::Process(Process&& other) noexcept
    : handle_(other.handle_), out_path_(other.out_path_), err_path_(other.err_path_) {
  other.handle_ = -1;
}

Process::~Process() {
  if (handle_ >= 0) wait();
}

ProcessResult Process::wait() {
  int status = 0;
  rusage usage{};
  while (::wait4(static_cast<pid_t>(handle_), &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  }
  handle_ = -1;
  ProcessResult result;
  // Linux counts ru_maxrss in KiB.
  result.peak_memory = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else {
    result.exit_status = 128 + WTERMSIG(status);
  }
  result.out = read_file(out_path_);
  result.err = read_file(err_path_);
  return result;
}

std::string Process::err_so_far() const {
  return read_file(err_path_);
}

std::filesystem::path program_under_test() {
  const char* program = std::getenv("SYNCSTATUS_PROGRAM");
  if (program == nullptr) throw std::runtime_error("SYNCSTATUS_PROGRAM is not set");
  return program;
}

ProcessResult run_program(const std::vector<std::string>& args,
                          const std::filesystem::path& scratch, const ProcessOptions& options) {
  return Process(program_under_test(), args, scratch, options).wait();
}

}  // namespace syncstatus::test
