// How the programs start: one style of option table, the options every program
// shares, and one wording for each mistake on a command line.
//
// A program lists its long options as OptionRow records (name, whether a value
// follows, and the function that takes it) and hands them to
// parse_program_options together with its option record, which derives from
// StartOptions. A problem is one line, "<program>: <problem>", on the error sink,
// and the exit code EXIT_BAD_OPTION.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exit_codes.h"
#include "platform/long_options.h"

namespace lumvet {

// The options of every program.
struct StartOptions {
  std::optional<std::int32_t> seed;  // --seed=N: start the random state at N
  bool help = false;                 // --help
  bool version = false;              // --version
};

// One row of a program's option table.
template <class Options>
struct OptionRow {
  LongOption option;
  // Stores the value (empty for a flag); false, with `error` set, to refuse it.
  bool (*take)(const std::string& value, Options& options, std::string& error);
};

// The one wording of an unusable value: "invalid value for --NAME: 'VALUE'".
// Always returns false, so that a taker can return it.
bool invalid_value(std::string_view name, const std::string& value, std::string& error);

// --seed: a whole number in the signed 32-bit range.
bool take_seed_value(const std::string& value, std::optional<std::int32_t>& seed,
                     std::string& error);
// A file or folder name: anything but empty.
bool take_path_value(std::string_view name, const std::string& value, std::string& path,
                     std::string& error);

template <class Options>
bool take_seed(const std::string& value, Options& options, std::string& error) {
  return take_seed_value(value, options.seed, error);
}
template <class Options>
bool take_help(const std::string&, Options& options, std::string&) {
  options.help = true;
  return true;
}
template <class Options>
bool take_version(const std::string&, Options& options, std::string&) {
  options.version = true;
  return true;
}

// Splits args[1 ...] with split_long_options into the options of `rows` and the
// other arguments (`rest`, in order). On a problem returns false with `error` set
// to one line without the program name: "unknown option --name", "option --name
// needs a value", "option --name takes no value", or what a taker says.
template <class Options, std::size_t N>
bool parse_program_options(const std::vector<std::string>& args,
                           const OptionRow<Options> (&rows)[N], Options& options,
                           std::vector<std::string>& rest, std::string& error) {
  std::array<LongOption, N> table;
  for (std::size_t i = 0; i < N; ++i) table[i] = rows[i].option;
  const auto take = [&](std::size_t index, const std::string& value, std::string& problem) {
    return rows[index].take(value, options, problem);
  };
  return split_long_options(args, table, "", take, rest, error);
}

// One line "<program>: <problem>" on `err`, after flushing `out` so that the two
// keep their order on a shared terminal.
void report_problem(std::FILE* out, std::FILE* err, std::string_view program,
                    const std::string& problem);

// "<program> <version>" on `out`, as --version prints it.
void print_version(std::FILE* out, std::string_view program, std::string_view version);

}  // namespace lumvet
