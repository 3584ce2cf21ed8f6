#include "platform/program_start.h"

namespace lumvet {

bool invalid_value(std::string_view name, const std::string& value, std::string& error) {
  error = "invalid value for --";
  error += name;
  error += ": '";
  error += value;
  error += "'";
  return false;
}

bool take_seed_value(const std::string& value, std::optional<std::int32_t>& seed,
                     std::string& error) {
  const std::optional<std::int32_t> n = parse_int32(value);
  if (!n) return invalid_value("seed", value, error);
  seed = n;
  return true;
}

bool take_path_value(std::string_view name, const std::string& value, std::string& path,
                     std::string& error) {
  if (value.empty()) return invalid_value(name, value, error);
  path = value;
  return true;
}

void report_problem(std::FILE* out, std::FILE* err, std::string_view program,
                    const std::string& problem) {
  if (out != nullptr) std::fflush(out);
  std::fprintf(err, "%.*s: %s\n", static_cast<int>(program.size()), program.data(),
               problem.c_str());
}

void print_version(std::FILE* out, std::string_view program, std::string_view version) {
  std::fprintf(out, "%.*s %.*s\n", static_cast<int>(program.size()), program.data(),
               static_cast<int>(version.size()), version.data());
}

}  // namespace lumvet
