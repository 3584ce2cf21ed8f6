// The lumvet command line: which photos of a folder are blurred, or how blurred
// one image is.
#pragma once

#include <cstdio>

#include "platform/exit_codes.h"

namespace lumvet {

// Exit codes (platform/exit_codes.h): EXIT_DONE, EXIT_OUTPUT_FAILED,
// EXIT_BAD_OPTION and EXIT_USAGE.

inline constexpr const char* USAGE_TEXT =
    "USAGE: lumvet [-R] path\n"
    "PATH could be a single image to assess or a whole folder of images\n"
    "Returns a number indicating chances of pic being 'bad' (if >=100)\n"
    "optional -R switch to recurse into subfolders looking for JPG photos\n";

// The entry routine. `argv[0]` is the program name. Results, the usage text and
// "invalid switch" messages go to `out` (to `err` instead for the usage text and
// the messages when a machine-readable format is chosen); option and output
// errors go to `err`. Returns the exit code.
int run_lumvet(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace lumvet
