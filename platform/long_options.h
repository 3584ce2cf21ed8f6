// Long options ("--name=value" or "--name value") taken out of a command line.
// The splitter knows no program's options: each program hands it a table of
// names and gives meaning to what it finds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace lumvet {

struct LongOption {
  std::string_view name;  // without the leading "--"
  bool takes_value;       // false: a flag, given as "--name" alone
};

// Takes one option found on the command line: its row in the table and its value
// (empty for a flag). Returns false, with `error` set to one line, to refuse it.
using LongOptionTaker =
    std::function<bool(std::size_t index, const std::string& value, std::string& error)>;

// Takes the long options out of args[1 ...] (args[0] is the program name), in
// command-line order, and puts the other arguments into `rest` in their order.
// An argument beginning with "--" is an option of `table`: "--name=value" or
// "--name value" when it takes a value (the next argument is the value, whatever
// it looks like), "--name" alone when it does not; a repeated option is taken
// again. The argument "--" ends the options: it is dropped and everything after
// it goes to `rest` as it stands. Any other argument (a lone '-' too) goes to
// `rest`.
// Stops at the first problem and returns false with `error` set: an option that
// `take` refuses, or else "unknown option --name", "option --name takes no
// value" or "option --name needs a value", the option written between two
// `quote`s. `rest` is then incomplete. Control characters in `error` (from the
// command line or from `take`) are replaced by '?', so that it is one line.
bool split_long_options(const std::vector<std::string>& args, std::span<const LongOption> table,
                        std::string_view quote, const LongOptionTaker& take,
                        std::vector<std::string>& rest, std::string& error);

// A decimal integer in the signed 32-bit range, a leading '-' allowed and nothing
// else around it (no '+', no blanks).
std::optional<std::int32_t> parse_int32(const std::string& text);

}  // namespace lumvet
