// lumvet-train: the SVM trainer, the network trainer and the solver self-test.
#include <cstdio>

#include "platform/platform.h"
#include "train/train_command.h"

int main(int argc, char** argv) {
  lumvet::platform::ignore_write_signals();
  const int code = lumvet::run_train_main(argc, argv, stdout, stderr);
  return lumvet::platform::finish_output(stdout, stderr, "lumvet-train", code);
}
