// The lumqet command line: the network-based assessor as a program.
#pragma once

#include <cstdio>

#include "platform/exit_codes.h"

namespace lumvet {

// The lumqet program: long options (--seed=N, --model-dir=DIR, --help,
// --version) first, then the first remaining argument is the path: one image
// (prints its score, 0 for anything below 1) or a folder whose entries ending in
// .jpg are assessed in sorted order (lists scores above 10, then "%d/%d are
// blurred\n"). Results go to `out`, problems as one line to `err`. Returns
// EXIT_DONE, EXIT_USAGE, EXIT_BAD_OPTION or EXIT_BAD_NETWORK (platform/exit_codes.h).
// With no path at all nothing is printed and the network file is not read.
int run_network_assessor(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace lumvet
