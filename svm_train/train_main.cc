// lumvet-train: the SVM trainer and the solver self-test.
#include <cstdio>

#include "svm_train/train_command.h"

int main(int argc, char** argv) { return lumvet::run_train_main(argc, argv, stdout); }
