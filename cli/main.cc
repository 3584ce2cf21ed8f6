// The lumvet program. A write to a closed pipe fails instead of raising SIGPIPE,
// so `lumvet -R big | head` stops at the next photo, silently, with exit code 1.
#include <cstdio>

#include "cli/lumvet.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  lumvet::platform::ignore_write_signals();
  return lumvet::run_lumvet(argc, argv, stdout, stderr);
}
