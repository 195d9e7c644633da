// Starting the program under test on Windows (and under Wine).
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <stdexcept>
#include <string_view>

#include "subprocess.h"
#include "test_files.h"

namespace syncstatus::test {

// A process's exit code is a DWORD: the program's -1 stays -1.
const int kExitMinusOne = -1;

namespace {

int next_id = 0;

std::wstring wide_of(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (length <= 0) throw std::runtime_error("argument is not UTF-8: " + text);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length);
  return wide;
}

// Quotes `arg` for a command line as CommandLineToArgvW and the C runtime
// split it.
std::wstring quote_argument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  // Backslashes are literal except in front of a quote, where each one
  // must be doubled; so are those in front of the closing quote.
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      quoted.append(2 * backslashes + 1, L'\\');
    } else {
      quoted.append(backslashes, L'\\');
    }
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  quoted += L'"';
  return quoted;
}

bool same_name(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

// The test's environment with `changes` applied, as a block for
// CreateProcessW: NAME=value entries, each ended by a NUL, then one more.
// Names are compared without regard to case, as Windows does.
std::wstring environment_block(const std::vector<std::pair<std::string, std::string>>& changes) {
  std::wstring block;
  wchar_t* const strings = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring_view text(entry);
    // Entries such as "=C:=C:\" name a drive's folder; their name starts past the first '='.
    const std::size_t equals = text.find(L'=', 1);
    const std::wstring_view name = text.substr(0, equals);
    bool replaced = false;
    for (const auto& change : changes) {
      if (same_name(name, wide_of(change.first))) replaced = true;
    }
    if (!replaced) block.append(text).push_back(L'\0');
  }
  ::FreeEnvironmentStringsW(strings);
  for (const auto& [name, value] : changes) {
    block.append(wide_of(name) + L"=" + wide_of(value)).push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

HANDLE open_inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  const HANDLE handle =
      ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot open for a child process: " + utf8(path));
  }
  return handle;
}

}  // namespace

Process::Process(const std::filesystem::path& program, const std::vector<std::string>& args,
                 const std::filesystem::path& scratch, const ProcessOptions& options) {
  if (options.file_size_limit || options.address_space_limit) {
    throw std::logic_error("resource limits are a POSIX feature; Windows has none");
  }
  const int id = next_id++;
  out_path_ = scratch / ("out-" + std::to_string(id));
  err_path_ = scratch / ("err-" + std::to_string(id));

  // The program's name is taken up to the next quote, without escapes.
  std::wstring command_line = L"\"" + program.wstring() + L"\"";
  for (const std::string& arg : args) command_line += L" " + quote_argument(wide_of(arg));

  const HANDLE in =
      open_inheritable(options.standard_input.empty() ? L"NUL" : options.standard_input.wstring(),
                       GENERIC_READ, OPEN_EXISTING);
  const HANDLE out = open_inheritable(out_path_.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE err = open_inheritable(err_path_.wstring(), GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring environment;
  if (!options.environment.empty()) environment = environment_block(options.environment);
  const std::wstring directory = options.working_directory.wstring();
  DWORD flags = CREATE_UNICODE_ENVIRONMENT;
  if (options.new_process_group) flags |= CREATE_NEW_PROCESS_GROUP;
  PROCESS_INFORMATION process = {};
  BOOL started = FALSE;
  DWORD error = 0;
  // Wine now and then fails a start among many at once with an internal
  // error that the next try does not meet; a few tries keep the tests about
  // the program, not about Wine.
  for (int attempt = 0; attempt < 5; ++attempt) {
    started = ::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, flags,
                               environment.empty() ? nullptr : environment.data(),
                               directory.empty() ? nullptr : directory.c_str(), &startup, &process);
    error = ::GetLastError();
    if (started || error != ERROR_INTERNAL_ERROR) break;
    ::Sleep(100);
  }
  ::CloseHandle(in);
  ::CloseHandle(out);
  ::CloseHandle(err);
  if (!started) {
    throw std::runtime_error("cannot start " + utf8(program) + ": error " + std::to_string(error));
  }
  ::CloseHandle(process.hThread);
  handle_ = reinterpret_cast<std::intptr_t>(process.hProcess);
}

Process::Process(Process&& other) noexcept
    : handle_(other.handle_), out_path_(other.out_path_), err_path_(other.err_path_) {
  other.handle_ = -1;
}

Process::~Process() {
  if (handle_ != -1) wait();
}

ProcessResult Process::wait() {
  const HANDLE process = reinterpret_cast<HANDLE>(handle_);
  handle_ = -1;
  DWORD code = 0;
  const bool ok = ::WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
                  ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  if (!ok) throw std::runtime_error("cannot wait for the program");
  ProcessResult result;
  result.exit_status = static_cast<int>(code);
  result.out = read_file(out_path_);
  result.err = read_file(err_path_);
  return result;
}

std::string Process::err_so_far() const {
  return read_file(err_path_);
}

std::filesystem::path program_under_test() {
  const wchar_t* program = ::_wgetenv(L"SYNCSTATUS_PROGRAM");
  if (program == nullptr) throw std::runtime_error("SYNCSTATUS_PROGRAM is not set");
  std::wstring path = program;
  // Under Wine, CTest hands over the Unix path of the build; Wine's drive Z:
  // is the Unix root.
  if (!path.empty() && path[0] == L'/') {
    for (wchar_t& c : path) {
      if (c == L'/') c = L'\\';
    }
    path = L"Z:" + path;
  }
  return path;
}

ProcessResult run_program(const std::vector<std::string>& args,
                          const std::filesystem::path& scratch, const ProcessOptions& options) {
  return Process(program_under_test(), args, scratch, options).wait();
}

}  // namespace syncstatus::test
