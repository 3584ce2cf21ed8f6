#include "cli/options.h"

#include <optional>
#include <algorithm>
#include <string_view>

namespace lumvet {

namespace {

bool take_threshold(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n) return invalid_value("threshold", value, error);
  options.threshold = *n;
  options.threshold_given = true;
  return true;
}

bool take_jobs(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n || *n < 1 || *n > MAX_JOBS) return invalid_value("jobs", value, error);
  options.jobs = *n;
  return true;
}

bool take_decode_memory(const std::string& value, LongOptions& options, std::string& error) {
  const auto n = parse_int32(value);
  if (!n || *n < 0 || *n > MAX_DECODE_MEMORY_MIB)
    return invalid_value("decode-memory", value, error);
  options.decode_memory = static_cast<std::uint64_t>(*n) << 20;
  return true;
}

bool take_format(const std::string& value, LongOptions& options, std::string& error) {
  if (value == "text") {
    options.format = OutputFormat::text;
  } else if (value == "tsv") {
    options.format = OutputFormat::tsv;
  } else if (value == "jsonl") {
    options.format = OutputFormat::jsonl;
  } else {
    return invalid_value("format", value, error);
  }
  options.format_given = true;
  return true;
}

bool take_assessor(const std::string& value, LongOptions& options, std::string& error) {
  if (value == "contrast") {
    options.assessor = Assessor::contrast;
  } else if (value == "sharpness") {
    options.assessor = Assessor::sharpness;
  } else {
    return invalid_value("assessor", value, error);
  }
  return true;
}

bool take_raw(const std::string& value, LongOptions& options, std::string& error) {
  const std::optional<RawMode> mode = parse_raw_mode(value);
  if (!mode) return invalid_value("raw", value, error);
  options.raw = *mode;
  return true;
}

bool take_model(const std::string& value, LongOptions& options, std::string& error) {
  return take_path_value("model", value, options.model_file, error);
}

bool take_files_from(const std::string& value, LongOptions& options, std::string& error) {
  return take_path_value("files-from", value, options.files_from, error);
}

bool take_ext(const std::string& value, LongOptions& options, std::string& error) {
  if (!parse_extension_list(value, options.extensions)) return invalid_value("ext", value, error);
  return true;
}

template <bool LongOptions::*Flag>
bool take_flag(const std::string&, LongOptions& options, std::string&) {
  options.*Flag = true;
  return true;
}

bool take_report(const std::string& value, LongOptions& options, std::string& error) {
  return take_path_value("report", value, options.report_dir, error);
}

constexpr OptionRow<LongOptions> OPTIONS[] = {
    {{"seed", true}, take_seed<LongOptions>},
    {{"format", true}, take_format},
    {{"threshold", true}, take_threshold},
    {{"model", true}, take_model},
    {{"jobs", true}, take_jobs},
    {{"decode-memory", true}, take_decode_memory},
    {{"assessor", true}, take_assessor},
    {{"raw", true}, take_raw},
    {{"all-paths", false}, take_flag<&LongOptions::all_paths>},
    {{"files-from", true}, take_files_from},
    {{"null", false}, take_flag<&LongOptions::null_separated>},
    {{"ext", true}, take_ext},
    {{"print0", false}, take_flag<&LongOptions::print0>},
    {{"quiet", false}, take_flag<&LongOptions::quiet>},
    {{"seed-per-photo", false}, take_flag<&LongOptions::seed_per_photo>},
    {{"report", true}, take_report},
    {{"help", false}, take_help<LongOptions>},
    {{"version", false}, take_version<LongOptions>},
};

}  // namespace

bool parse_long_options(const std::vector<std::string>& args, LongOptions& options,
                        std::vector<std::string>& rest, std::string& error) {
  rest.clear();
  if (args.empty()) return true;
  if (!parse_program_options(args, OPTIONS, options, rest, error)) return false;
  rest.insert(rest.begin(), args[0]);
  if (!options.files_from.empty()) {
    const auto zero = std::remove(rest.begin() + 1, rest.end(), std::string("-0"));
    if (zero != rest.end()) options.null_separated = true;
    rest.erase(zero, rest.end());
  }
  if (options.null_separated && options.files_from.empty()) {
    error = "option --null needs --files-from";
    return false;
  }
  if (options.print0) {
    if (options.format_given) {
      error = "option --print0 cannot be used with --format";
      return false;
    }
    options.format = OutputFormat::print0;
  }
  return true;
}

bool parse_extension_list(const std::string& value, std::vector<std::string>& extensions) {
  extensions.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = std::min(value.find(',', start), value.size());
    std::string name = value.substr(start, comma - start);
    if (!name.empty() && name[0] == '.') name.erase(0, 1);
    if (name.empty() || name.find('/') != std::string::npos) return false;
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (std::find(extensions.begin(), extensions.end(), name) == extensions.end()) {
      extensions.push_back(std::move(name));
    }
    if (comma == value.size()) return true;
    start = comma + 1;
  }
}

}  // namespace lumvet
