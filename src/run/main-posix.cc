// The entry point on POSIX hosts: arguments are bytes, taken as they are.
#include <new>
#include <vector>

#include "run/platform.h"
#include "run/run.h"

int main(int argc, char** argv) {
  syncstatus::prepare_process();
  try {
    std::vector<syncstatus::Argument> args;
    for (int i = 1; i < argc; ++i) args.push_back({argv[i], argv[i]});
    return syncstatus::run(args);
  } catch (const std::bad_alloc&) {
    syncstatus::write_stderr("syncstatus: out of memory\n");
    return syncstatus::kExitFailure;
  }
}
