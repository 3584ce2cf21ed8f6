#include "cli/output.h"

#include <cerrno>
#include <cstring>

#include <nlohmann/json.hpp>

#include "platform/platform.h"

namespace lumvet {

namespace {

// Each line is flushed as soon as it is complete: a reader sees results while a
// long scan runs, and a closed pipe is noticed at the next line rather than a
// buffer later.
// REQUIRES: errno was set to 0 before the line was written, so that a failure
// is reported with its own cause.
void finish_line(ScoreSink& sink) {
  const bool failed = std::fflush(sink.out) != 0 || std::ferror(sink.out) != 0;
  if (failed && sink.write_errno == 0) sink.write_errno = errno != 0 ? errno : EIO;
}

void put(ScoreSink& sink, const std::string& text) {
  errno = 0;
  std::fwrite(text.data(), 1, text.size(), sink.out);
  finish_line(sink);
}

// The path with tab, newline, carriage return and backslash written as \t, \n,
// \r and \\, and a newline.
void append_tsv_path(std::string& line, const std::string& path) {
  for (const char c : path) {
    switch (c) {
      case '\t':
        line += "\\t";
        break;
      case '\n':
        line += "\\n";
        break;
      case '\r':
        line += "\\r";
        break;
      case '\\':
        line += "\\\\";
        break;
      default:
        line += c;
    }
  }
  line += '\n';
}

void write_record(ScoreSink& sink, const std::string& path, const FileScore& score) {
  if (sink.format == OutputFormat::print0) {
    if (is_listed(sink, score)) put(sink, path + '\0');
  } else if (sink.format == OutputFormat::tsv) {
    put(sink, tsv_record(path, score));
  } else {
    put(sink, json_record(path, score));
  }
}

}  // namespace

void write_single_result(ScoreSink& sink, const std::string& path, const FileScore& score) {
  if (sink.report != nullptr) add_report_photo(*sink.report, path, score);
  switch (sink.format) {
    case OutputFormat::text:
      errno = 0;
      std::fprintf(sink.out, "%d\n", score.score < 1 ? 0 : score.score);
      finish_line(sink);
      break;
    case OutputFormat::tsv:
      put(sink, TSV_HEADER);
      write_record(sink, path, score);
      break;
    case OutputFormat::jsonl:
    case OutputFormat::print0:
      write_record(sink, path, score);
      break;
  }
}

void write_folder_header(ScoreSink& sink) {
  if (sink.format == OutputFormat::text) {
    errno = 0;
    std::fprintf(sink.out, "BLUR\tPATH\n");
    finish_line(sink);
  } else if (sink.format == OutputFormat::tsv) {
    put(sink, TSV_HEADER);
  }
}

void write_folder_photo(ScoreSink& sink, const std::string& path, const FileScore& score) {
  if (sink.report != nullptr) add_report_photo(*sink.report, path, score);
  if (sink.format != OutputFormat::text) {
    write_record(sink, path, score);
  } else if (is_listed(sink, score)) {
    errno = 0;
    const std::string shown = sink.terminal ? platform::control_characters_shown(path) : path;
    std::fprintf(sink.out, "%d\t%s\n", score.score, shown.c_str());
    finish_line(sink);
  }
}

void write_folder_summary(ScoreSink& sink, std::int32_t listed_count, std::int32_t examined_count) {
  if (sink.format != OutputFormat::text) return;
  errno = 0;
  std::fprintf(sink.out, "%d/%d are somewhat blurred\n", listed_count, examined_count);
  finish_line(sink);
}

void write_missing_entry(ScoreSink& sink, const std::string& path, int error) {
  if (sink.format == OutputFormat::tsv) {
    std::string line = "0\tmissing\t";
    append_tsv_path(line, path);
    put(sink, line);
  } else if (sink.format == OutputFormat::jsonl) {
    nlohmann::ordered_json record;
    record["path"] = path;
    record["score"] = 0;
    record["decoded"] = false;
    record["status"] = "missing";
    if (!is_valid_utf8(path)) record["path_bytes"] = base64_encode(path);
    std::string line =
        record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    put(sink, line + '\n');
  } else if (sink.err != nullptr) {
    std::fflush(sink.out);
    std::fprintf(sink.err, "lumvet: %s: %s\n", platform::shown_on(sink.err, path).c_str(),
                 std::strerror(error));
    std::fflush(sink.err);
  }
}

bool sink_broken(ScoreSink& sink) {
  if (sink.write_errno == 0 && platform::output_reader_gone(sink.out)) sink.write_errno = EPIPE;
  return sink.write_errno != 0;
}

std::string tsv_record(const std::string& path, const FileScore& score) {
  std::string line = std::to_string(score.score);
  line += score.decoded ? "\tok\t" : "\tundecodable\t";
  append_tsv_path(line, path);
  return line;
}

std::string json_record(const std::string& path, const FileScore& score) {
  nlohmann::ordered_json record;
  record["path"] = path;
  record["score"] = score.score;
  record["decoded"] = score.decoded;
  // A camera raw file's record says which of its pictures was scored.
  if (score.source == DecodeSource::raw_preview) record["raw"] = "preview";
  if (score.source == DecodeSource::raw_develop) record["raw"] = "develop";
  if (!is_valid_utf8(path)) record["path_bytes"] = base64_encode(path);
  // The replacing error handler never throws: invalid UTF-8 becomes U+FFFD.
  std::string line = record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  line += '\n';
  return line;
}

}  // namespace lumvet
