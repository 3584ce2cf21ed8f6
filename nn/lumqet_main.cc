// lumqet: the network-based blur assessor.
#include <cstdio>

#include "nn/lumqet_command.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  lumvet::platform::ignore_write_signals();
  const int code = lumvet::run_network_assessor(argc, argv, stdout, stderr);
  return lumvet::platform::finish_output(stdout, stderr, "lumqet", code);
}
