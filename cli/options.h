// Long options of the lumvet command line ("--name=value" or "--name value").
// They are taken out of the argument list before the short switches and the path
// are looked at, and never change what a short switch does.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "imaging/decode_budget.h"
#include "imaging/imaging.h"
#include "platform/program_start.h"
#include "scoring/constants.h"

namespace lumvet {

// print0: the paths of the listed photos, each followed by a NUL byte (--print0).
enum class OutputFormat { text, tsv, jsonl, print0 };

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
  RawMode raw = RawMode::preview;            // --raw=preview|develop: how camera raw files are read
  bool format_given = false;                 // --format appeared
  bool all_paths = false;                    // --all-paths: score every path given
  std::string files_from;                    // --files-from=FILE: paths from FILE ("-": stdin)
  bool null_separated = false;               // --null or -0: the list is NUL-separated
  std::vector<std::string> extensions;       // --ext=a,b: lower case, no dot; empty = jpg
  bool print0 = false;                       // --print0: NUL-terminated paths of listed photos
  bool quiet = false;                        // --quiet: no progress and no hints
  bool seed_per_photo = false;               // --seed-per-photo
  std::string report_dir;                    // --report=DIR: also write a visual report there
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
// With --files-from, an argument "-0" is taken as --null (without it, "-0" stays
// a switch for the argument scan). --print0 sets the format to print0 and cannot
// be given with --format; --null needs --files-from.
// On failure returns false and sets `error` to one line naming the problem, without
// the program name or a newline; `options` and `rest` are then unspecified.
// Splits "jpg,.JPEG,png" into {"jpg", "jpeg", "png"} (lower case, leading dot
// dropped, repeats removed, order kept). False for an empty list or name, or a
// name holding '/'.
bool parse_extension_list(const std::string& value, std::vector<std::string>& extensions);

bool parse_long_options(const std::vector<std::string>& args, LongOptions& options,
                        std::vector<std::string>& rest, std::string& error);

}  // namespace lumvet
