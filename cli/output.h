// What lumvet writes on standard output: the text listing, or one record per
// examined image in TSV or JSON Lines. Every record reaches the sink in scan order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/options.h"
#include "platform/text_coding.h"
#include "report/report.h"
#include "scoring/file_scoring.h"

namespace lumvet {

struct ScoreSink {
  std::FILE* out = nullptr;
  OutputFormat format = OutputFormat::text;
  std::int32_t threshold = LIST_THRESHOLD;  // text mode lists scores above this
  int write_errno = 0;                      // errno of the first failed write; 0 if none
  std::FILE* err = nullptr;                 // where text and print0 report missing paths
  std::FILE* notes = nullptr;               // folders not scanned are named here (or nowhere)
  bool terminal = false;  // `out` is a terminal: text-mode names show control characters as '?'
  // --report: every photo written to the sink also goes to the report, in the
  // same order, whatever the format. Null when no report is asked for; the
  // scorers then gather no evidence.
  ReportWriter* report = nullptr;
};

// A photo is listed in the text mode (and counted in `listed_count`) when its
// score is greater than the sink's threshold.
inline bool is_listed(const ScoreSink& sink, const FileScore& score) {
  return score.score > sink.threshold;
}

// Both writers below hand the photo to the sink's report, when there is one.

// Single-file mode: "%d\n" with the score (0 when below 1) in the text mode; the
// header and one record in TSV; one record in JSON Lines; in print0 the path and
// a NUL byte when listed.
void write_single_result(ScoreSink& sink, const std::string& path, const FileScore& score);

// Folder mode. The header is "BLUR\tPATH\n" in the text mode and the TSV header
// in TSV. A photo is written as "%d\t%s\n" in the text mode only when listed, as
// a record in TSV and JSON Lines always, as the path and a NUL byte in print0
// when listed. In the text mode on a terminal (`terminal`), the path's control
// characters are shown as '?'. The summary "%d/%d are somewhat
// blurred\n" belongs to the text mode alone.
void write_folder_header(ScoreSink& sink);
void write_folder_photo(ScoreSink& sink, const std::string& path, const FileScore& score);
void write_folder_summary(ScoreSink& sink, std::int32_t listed_count, std::int32_t examined_count);

// A path named on the command line or in a file list that cannot be found: in
// TSV the record "0\tmissing\tPATH", in JSON Lines a record with "score":0,
// "decoded":false and "status":"missing"; in the text and print0 formats the line
// "lumvet: PATH: REASON" on the sink's `err` (REASON: strerror of `error`), the
// path's control characters shown as '?' when `err` is a terminal.
void write_missing_entry(ScoreSink& sink, const std::string& path, int error);

// True once output cannot reach its reader any more: a write failed, or standard
// output is a pipe whose reading end has been closed. The scan then stops early.
bool sink_broken(ScoreSink& sink);

// One TSV line, newline included: score, "ok" or "undecodable", and the path with
// tab, newline, carriage return and backslash written as \t, \n, \r and \\.
std::string tsv_record(const std::string& path, const FileScore& score);
inline constexpr const char* TSV_HEADER = "score\tstatus\tpath\n";

// One JSON object and a newline: {"path":...,"score":...,"decoded":...}, and for
// a camera raw file "raw":"preview" or "raw":"develop" after "decoded". A path
// that is not valid UTF-8 is written with each invalid byte sequence replaced by
// U+FFFD, and its exact bytes follow, base64-encoded, as "path_bytes".
std::string json_record(const std::string& path, const FileScore& score);

}  // namespace lumvet
