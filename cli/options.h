// Long options of the lumvet command line ("--name=value" or "--name value").
// They are taken out of the argument list before the short switches and the path
// are looked at, and never change what a short switch does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/decode_budget.h"
#include "platform/program_start.h"
#include "scoring/constants.h"

namespace lumvet {

enum class OutputFormat { text, tsv, jsonl };

// Which assessor scores the photos: the patch-contrast model (the default) or
// the sharpness assessor (edge steepness; a 0-100 chance of blur).
enum class Assessor { contrast, sharpness };

// --seed, --help and --version come from StartOptions.
struct LongOptions : StartOptions {
  OutputFormat format = OutputFormat::text;  // --format=text|tsv|jsonl
  std::int32_t threshold = LIST_THRESHOLD;   // --threshold=N: list scores above N
  bool threshold_given = false;              // --threshold appeared (else the assessor's default)
  Assessor assessor = Assessor::contrast;    // --assessor=contrast|sharpness
  std::string model_file;                    // --model=FILE: score with this model file
  std::int32_t jobs = 0;                     // --jobs=N: threads scoring a folder; 0 = every core
  // --decode-memory=MIB: the decoding-memory budget that all threads share, in
  // bytes (0: no limit).
  std::uint64_t decode_memory = DEFAULT_DECODE_MEMORY_BUDGET;
};

// Largest --decode-memory, in MiB (1 TiB).
inline constexpr std::int32_t MAX_DECODE_MEMORY_MIB = 1 << 20;

// Most threads --jobs accepts.
inline constexpr std::int32_t MAX_JOBS = 1024;

// Splits `args` (argv[0] included) into the long options and the remaining
// arguments (argv[0] first, order kept). An argument "--" ends the long options:
// it is dropped and everything after it is kept as it stands. A repeated option
// takes its last value.
// On failure returns false and sets `error` to one line naming the problem, without
// the program name or a newline; `options` and `rest` are then unspecified.
bool parse_long_options(const std::vector<std::string>& args, LongOptions& options,
                        std::vector<std::string>& rest, std::string& error);

}  // namespace lumvet
