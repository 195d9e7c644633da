// Starting the program under test, one file per host.
#ifndef SYNCSTATUS_TESTS_SUBPROCESS_H_
#define SYNCSTATUS_TESTS_SUBPROCESS_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace syncstatus::test {

/// What a finished process left behind.
struct ProcessResult {
  int exit_status = 0;  ///< as a script on this host sees it
  std::string out;      ///< standard output
  std::string err;      ///< standard error
  /// The process's peak resident memory in bytes, where the host tells it,
  /// else 0. On POSIX it counts from the fork, so it includes what the test
  /// itself held then.
  std::uint64_t peak_memory = 0;
};

/// The exit status that the program's -1 becomes on this host.
extern const int kExitMinusOne;

struct ProcessOptions {
  /// A file-size limit (RLIMIT_FSIZE) for the process, in bytes; POSIX only.
  std::optional<std::uint64_t> file_size_limit;
  /// A limit of its address space (RLIMIT_AS), in bytes; POSIX only.
  std::optional<std::uint64_t> address_space_limit;
  /// The file that standard input reads; empty: the null device.
  std::filesystem::path standard_input;
  /// The folder the process starts in; empty: the test's own.
  std::filesystem::path working_directory;
  /// Variables set in the process's environment (name, UTF-8 value), over
  /// those it inherits from the test.
  std::vector<std::pair<std::string, std::string>> environment;
  /// Windows: the process leads a process group of its own
  /// (CREATE_NEW_PROCESS_GROUP), so that a console event can be sent to it
  /// alone. Ignored on POSIX.
  bool new_process_group = false;
};

/// A process started with `args` (UTF-8), its output going to files in
/// `scratch`; standard input is empty unless `options` name a file.
class Process {
 public:
  Process(const std::filesystem::path& program, const std::vector<std::string>& args,
          const std::filesystem::path& scratch, const ProcessOptions& options = {});
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  Process(Process&& other) noexcept;
  ~Process();

  /// Waits for the process to end and collects its output.
  ProcessResult wait();

  /// What the process has written to standard error so far.
  std::string err_so_far() const;

  /// The host's handle of the running process: its pid on POSIX, its process
  /// handle on Windows; for tests that stop it.
  std::intptr_t native_handle() const { return handle_; }

 private:
  std::intptr_t handle_ = -1;
  std::filesystem::path out_path_;
  std::filesystem::path err_path_;
};

/// The program under test, from the environment variable SYNCSTATUS_PROGRAM.
std::filesystem::path program_under_test();

/// Runs the program under test with `args` and waits for it.
ProcessResult run_program(const std::vector<std::string>& args,
                          const std::filesystem::path& scratch, const ProcessOptions& options = {});

}  // namespace syncstatus::test

#endif  // SYNCSTATUS_TESTS_SUBPROCESS_H_
