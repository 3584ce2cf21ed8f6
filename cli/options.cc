#include "cli/options.h"

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

bool take_model(const std::string& value, LongOptions& options, std::string& error) {
  return take_path_value("model", value, options.model_file, error);
}

constexpr OptionRow<LongOptions> OPTIONS[] = {
    {{"seed", true}, take_seed<LongOptions>},
    {{"format", true}, take_format},
    {{"threshold", true}, take_threshold},
    {{"model", true}, take_model},
    {{"jobs", true}, take_jobs},
    {{"decode-memory", true}, take_decode_memory},
    {{"assessor", true}, take_assessor},
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
  return true;
}

}  // namespace lumvet
