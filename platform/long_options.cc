#include "platform/long_options.h"

#include <charconv>

namespace lumvet {

namespace {

const LongOption* find_option(std::span<const LongOption> table, std::string_view name) {
  for (const LongOption& option : table) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

std::string option_problem(std::string_view before, std::string_view name, std::string_view quote,
                           std::string_view after) {
  std::string line(before);
  line += quote;
  line += "--";
  line += name;
  line += quote;
  line += after;
  return line;
}

bool split_options(const std::vector<std::string>& args, std::span<const LongOption> table,
                   std::string_view quote, const LongOptionTaker& take,
                   std::vector<std::string>& rest, std::string& error) {
  rest.clear();
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-' || arg[1] != '-') {
      rest.push_back(arg);
      continue;
    }
    if (arg.size() == 2) {  // "--": the rest is not options
      rest.insert(rest.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    const std::string_view body = std::string_view(arg).substr(2);
    const std::size_t eq = body.find('=');
    const std::string_view name = body.substr(0, eq);
    const LongOption* option = find_option(table, name);
    if (option == nullptr) {
      error = option_problem("unknown option ", name, quote, "");
      return false;
    }
    std::string value;
    if (eq != std::string_view::npos) {
      if (!option->takes_value) {
        error = option_problem("option ", name, quote, " takes no value");
        return false;
      }
      value = std::string(body.substr(eq + 1));
    } else if (option->takes_value) {
      if (i + 1 >= args.size()) {
        error = option_problem("option ", name, quote, " needs a value");
        return false;
      }
      value = args[++i];
    }
    if (!take(static_cast<std::size_t>(option - table.data()), value, error)) return false;
  }
  return true;
}

}  // namespace

bool split_long_options(const std::vector<std::string>& args, std::span<const LongOption> table,
                        std::string_view quote, const LongOptionTaker& take,
                        std::vector<std::string>& rest, std::string& error) {
  if (split_options(args, table, quote, take, rest, error)) return true;
  // The line quotes what was typed: a control character in it (a newline, an
  // escape sequence) is shown as '?', so the error stays one plain line.
  for (char& c : error) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return false;
}

std::optional<std::int32_t> parse_int32(const std::string& text) {
  std::int32_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  // from_chars takes an optional '-' and decimal digits only: no '+', no blanks.
  const auto [ptr, ec] = std::from_chars(first, last, value, 10);
  if (text.empty() || ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

}  // namespace lumvet
