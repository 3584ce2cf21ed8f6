#include "cli/options.h"

#include <charconv>
#include <string_view>

namespace lumvet {

namespace {

// Stores one option's value; false (with `error` set) when the value is unusable.
using OptionHandler = bool (*)(const std::string& value, LongOptions& options, std::string& error);

struct OptionSpec {
  std::string_view name;  // without the leading "--"
  bool takes_value;
  OptionHandler handle;
};

bool bad_value(std::string_view name, const std::string& value, std::string& error) {
  error = "invalid value for --";
  error += name;
  error += ": '";
  error += value;
  error += "'";
  return false;
}

bool handle_seed(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n) return bad_value("seed", value, error);
  options.seed = *n;
  return true;
}

bool handle_threshold(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n) return bad_value("threshold", value, error);
  options.threshold = *n;
  return true;
}

bool handle_jobs(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n || *n < 1 || *n > MAX_JOBS) return bad_value("jobs", value, error);
  options.jobs = *n;
  return true;
}

bool handle_format(const std::string& value, LongOptions& options, std::string& error) {
  if (value == "text") {
    options.format = OutputFormat::text;
  } else if (value == "tsv") {
    options.format = OutputFormat::tsv;
  } else if (value == "jsonl") {
    options.format = OutputFormat::jsonl;
  } else {
    return bad_value("format", value, error);
  }
  return true;
}

bool handle_model(const std::string& value, LongOptions& options, std::string& error) {
  if (value.empty()) return bad_value("model", value, error);
  options.model_file = value;
  return true;
}

bool handle_help(const std::string&, LongOptions& options, std::string&) {
  options.help = true;
  return true;
}

bool handle_version(const std::string&, LongOptions& options, std::string&) {
  options.version = true;
  return true;
}

// clang-format off
constexpr OptionSpec OPTIONS[] = {
    {"seed", true, handle_seed},
    {"format", true, handle_format},
    {"threshold", true, handle_threshold},
    {"model", true, handle_model},
    {"jobs", true, handle_jobs},
    {"help", false, handle_help},
    {"version", false, handle_version},
};
// clang-format on

const OptionSpec* find_option(std::string_view name) {
  for (const auto& spec : OPTIONS) {
    if (spec.name == name) return &spec;
  }
  return nullptr;
}

}  // namespace

std::optional<std::int32_t> parse_int32(const std::string& text) {
  std::int32_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  // from_chars takes an optional '-' and decimal digits only: no '+', no blanks.
  const auto [ptr, ec] = std::from_chars(first, last, value, 10);
  if (text.empty() || ec != std::errc() || ptr != last) return std::nullopt;
  return value;
}

bool parse_long_options(const std::vector<std::string>& args, LongOptions& options,
                        std::vector<std::string>& rest, std::string& error) {
  rest.clear();
  if (args.empty()) return true;
  rest.push_back(args[0]);
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
    const OptionSpec* spec = find_option(name);
    if (spec == nullptr) {
      error = "unknown option --" + std::string(name);
      return false;
    }
    std::string value;
    if (eq != std::string_view::npos) {
      if (!spec->takes_value) {
        error = "option --" + std::string(name) + " takes no value";
        return false;
      }
      value = std::string(body.substr(eq + 1));
    } else if (spec->takes_value) {
      if (i + 1 >= args.size()) {
        error = "option --" + std::string(name) + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (!spec->handle(value, options, error)) return false;
  }
  return true;
}

}  // namespace lumvet
