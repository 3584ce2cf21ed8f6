// The lumvet program. SIGPIPE keeps its default action, so `lumvet -R big | head`
// ends silently as soon as the reader is gone.
#include <cstdio>

#include "cli/lumvet.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  lumvet::platform::ignore_file_size_signal();
  return lumvet::run_lumvet(argc, argv, stdout, stderr);
}
