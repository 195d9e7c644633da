// Stops on POSIX: the signals whose default action ends the process and that
// a program may catch. The handler does the whole rollback itself, with
// async-signal-safe calls only, and then dies of the same signal: whatever
// the run was doing (a read blocked on a pipe, a wait for the lock, a write)
// has either happened or not, and nothing of it runs after the cut.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "run/platform.h"

namespace syncstatus {

namespace {

constexpr int kStops[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT,   SIGALRM,
                          SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF};

// What the handler reads; all of it is set before `armed` says so.
std::string stop_message;
int armed_fd = -1;
off_t armed_size = 0;
const char* armed_record = nullptr;
std::atomic<bool> armed{false};
// Set once the run's outcome no longer depends on the handler.
std::atomic<bool> finished{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void on_stop(int signal) {
  const int saved_errno = errno;
  if (armed.load()) {
    while (::ftruncate(armed_fd, armed_size) != 0 && errno == EINTR) {
    }
    if (armed_record != nullptr) ::unlink(armed_record);
  }
  const char* text = stop_message.data();
  std::size_t left = finished.load() ? 0 : stop_message.size();
  while (left > 0) {
    const ssize_t written = ::write(STDERR_FILENO, text, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    text += written;
    left -= static_cast<std::size_t>(written);
  }
  // Die of the same signal, so that the caller sees what stopped the run (a
  // shell stops its loop on SIGINT, and shows 130).
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t only;
  ::sigemptyset(&only);
  ::sigaddset(&only, signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  errno = saved_errno;
}

}  // namespace

void catch_stops(std::string message) {
  stop_message = std::move(message);
  struct sigaction action = {};
  action.sa_handler = on_stop;
  // While one stop is handled, the others wait: they would only do the same.
  ::sigemptyset(&action.sa_mask);
  for (const int signal : kStops) ::sigaddset(&action.sa_mask, signal);
  for (const int signal : kStops) {
    struct sigaction before;
    // A signal ignored by whoever started the run (nohup, a background job
    // of a shell without job control) stays ignored, as the caller wants.
    if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    ::sigaction(signal, &action, nullptr);
  }
}

void arm_stops(ReportFile& report, std::uint64_t size,
               const std::filesystem::path::value_type* record_path) {
  armed_fd = static_cast<int>(report.native_handle());
  armed_size = static_cast<off_t>(size);
  armed_record = record_path;
  armed.store(true);
}

void disarm_stops() {
  armed.store(false);
  finished.store(true);
}

}  // namespace syncstatus
