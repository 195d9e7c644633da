// Stops on Windows: the console's control events (Ctrl-C, Ctrl-Break, the
// console window closed, log-off, shutdown). The handler runs on a thread of
// its own while the main thread may be writing: the two take turns (see
// StopTurn), and the handler never gives its turn back, so that no write
// follows the cut. It ends the process with the status of a console program
// stopped by Ctrl-C.
#include <windows.h>

#include <atomic>

#include "run/platform.h"
#include "run/stop-win32.h"

namespace syncstatus {

namespace {

SRWLOCK turn = SRWLOCK_INIT;

std::string stop_message;
ReportFile* armed_report = nullptr;
std::uint64_t armed_size = 0;
const wchar_t* armed_record = nullptr;
bool armed = false;     // guarded by `turn`
bool finished = false;  // likewise

BOOL WINAPI on_control_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      break;
    default:
      return FALSE;
  }
  ::AcquireSRWLockExclusive(&turn);
  if (armed) {
    armed_report->truncate(armed_size);
    if (armed_record != nullptr) ::DeleteFileW(armed_record);
  }
  if (!finished) write_stderr(stop_message);
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
  return TRUE;
}

}  // namespace

StopTurn::StopTurn() {
  ::AcquireSRWLockExclusive(&turn);
}

StopTurn::~StopTurn() {
  ::ReleaseSRWLockExclusive(&turn);
}

void catch_stops(std::string message) {
  stop_message = std::move(message);
  ::SetConsoleCtrlHandler(on_control_event, TRUE);
}

void arm_stops(ReportFile& report, std::uint64_t size,
               const std::filesystem::path::value_type* record_path) {
  const StopTurn hold;
  armed_report = &report;
  armed_size = size;
  armed_record = record_path;
  armed = true;
}

void disarm_stops() {
  const StopTurn hold;
  armed = false;
  finished = true;
}

}  // namespace syncstatus
