// The lumvet command line: which photos of a folder are blurred, or how blurred
// one image is.
#pragma once

#include <cstdio>

namespace lumvet {

// Exit codes.
inline constexpr int EXIT_DONE = 0;           // scored (whatever the scores are), --help, --version
inline constexpr int EXIT_OUTPUT_FAILED = 1;  // standard output could not be written
inline constexpr int EXIT_BAD_OPTION = 2;     // unknown or malformed long option
inline constexpr int EXIT_USAGE = 100;        // no usable path: the usage text was printed

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
