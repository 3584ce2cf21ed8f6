// The exit codes of lumvet, lumvet-train and lumqet: one meaning per number, the
// same in every program.
#pragma once

namespace lumvet {

// Done, whatever the scores; also --help and --version.
inline constexpr int EXIT_DONE = 0;
// Standard output could not be written (see platform::finish_output).
inline constexpr int EXIT_OUTPUT_FAILED = 1;
// lumvet-train: no photo to train on, or the model or network file could not be
// written.
inline constexpr int EXIT_NOT_TRAINED = 1;
// An unknown or malformed long option, an unusable file named by one, or an
// argument the program does not take: one line on standard error.
inline constexpr int EXIT_BAD_OPTION = 2;
// lumqet: the network file is missing, unreadable or invalid, or cannot be applied.
inline constexpr int EXIT_BAD_NETWORK = 3;
// No usable path: the usage text was printed.
inline constexpr int EXIT_USAGE = 100;

}  // namespace lumvet
