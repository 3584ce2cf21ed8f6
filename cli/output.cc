#include "cli/output.h"

#include <cerrno>

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

void write_record(ScoreSink& sink, const std::string& path, const FileScore& score) {
  if (sink.format == OutputFormat::tsv) {
    put(sink, tsv_record(path, score));
  } else {
    put(sink, json_record(path, score));
  }
}

}  // namespace

void write_single_result(ScoreSink& sink, const std::string& path, const FileScore& score) {
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

bool sink_broken(ScoreSink& sink) {
  if (sink.write_errno == 0 && platform::output_reader_gone(sink.out)) sink.write_errno = EPIPE;
  return sink.write_errno != 0;
}

std::string tsv_record(const std::string& path, const FileScore& score) {
  std::string line = std::to_string(score.score);
  line += score.decoded ? "\tok\t" : "\tundecodable\t";
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
  return line;
}

std::string json_record(const std::string& path, const FileScore& score) {
  nlohmann::ordered_json record;
  record["path"] = path;
  record["score"] = score.score;
  record["decoded"] = score.decoded;
  if (!is_valid_utf8(path)) record["path_bytes"] = base64_encode(path);
  // The replacing error handler never throws: invalid UTF-8 becomes U+FFFD.
  std::string line = record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  line += '\n';
  return line;
}

bool is_valid_utf8(const std::string& text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;  // no overlong forms
      if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;  // no overlong forms
      if (c == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (n - i < len || s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k) {
      if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
    }
    i += len;
  }
  return true;
}

std::string base64_encode(const std::string& bytes) {
  static constexpr char ALPHABET[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v = (std::uint32_t{s[i]} << 16) | (std::uint32_t{s[i + 1]} << 8) | s[i + 2];
    encoded += ALPHABET[(v >> 18) & 63];
    encoded += ALPHABET[(v >> 12) & 63];
    encoded += ALPHABET[(v >> 6) & 63];
    encoded += ALPHABET[v & 63];
  }
  const std::size_t left = bytes.size() - i;
  if (left > 0) {
    std::uint32_t v = std::uint32_t{s[i]} << 16;
    if (left == 2) v |= std::uint32_t{s[i + 1]} << 8;
    encoded += ALPHABET[(v >> 18) & 63];
    encoded += ALPHABET[(v >> 12) & 63];
    encoded += left == 2 ? ALPHABET[(v >> 6) & 63] : '=';
    encoded += '=';
  }
  return encoded;
}

}  // namespace lumvet
