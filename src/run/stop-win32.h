// What the report's writes and the console's control events share on
// Windows, where a control event is handled on a thread of its own.
#ifndef SYNCSTATUS_RUN_STOP_WIN32_H_
#define SYNCSTATUS_RUN_STOP_WIN32_H_

namespace syncstatus {

/// Holds off the handling of a control event while it lives, so that a cut
/// of the report never comes before the end of a write, nor a write after
/// the cut.
class StopTurn {
 public:
  StopTurn();
  ~StopTurn();
  StopTurn(const StopTurn&) = delete;
  StopTurn& operator=(const StopTurn&) = delete;
};

}  // namespace syncstatus

#endif  // SYNCSTATUS_RUN_STOP_WIN32_H_
