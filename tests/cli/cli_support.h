// What the program tests share: running lumvet, made-up photos, and the output a
// run should print, its photos scored in-process one after another.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/lumvet.h"
#include "cli/output.h"
#include "imaging/imaging.h"
#include "scoring/file_scoring.h"
#include "tests/support/image_files.h"
#include "tests/support/test_support.h"

namespace lumvet {

using testing::RunResult;
using testing::ScopedTempDir;
using Args = std::vector<std::string>;

inline const std::string USAGE = USAGE_TEXT;
inline const std::string MISSING = "No such file or directory";

inline std::string program() { return testing::built_program("cli/lumvet"); }

inline RunResult lumvet(const Args& args, const std::string& cwd = "") {
  return testing::run_program(program(), args, cwd);
}

// `script` run by /bin/sh with $0 the program and $1 ... `args`.
inline RunResult shell(const std::string& script, const Args& args = {},
                       const std::string& cwd = "") {
  Args all = {"-c", script, program()};
  all.insert(all.end(), args.begin(), args.end());
  return testing::run_program("/bin/sh", all, cwd);
}

// A 96 x 64 grey JPEG with pseudo-random noise of `amplitude`. A flat picture
// (amplitude 0) scores 304 with every seed; noise of amplitude 255 scores below 0.
inline void write_photo(const std::string& path, int amplitude, std::uint32_t seed = 1) {
  std::uint32_t state = seed * 2654435761u + 1;
  ASSERT_TRUE(testing::write_jpeg(
      path, testing::make_test_bitmap(96, 64, [&](int, int, std::uint8_t* p) {
        state = state * 1664525u + 1013904223u;
        const int noise = static_cast<int>((state >> 24) % (amplitude + 1u)) - amplitude / 2;
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(std::clamp(128 + noise, 0, 255));
      })));
}

// One entry of a run as the program should see it.
struct Entry {
  Entry(std::string p, bool m = false) : path(std::move(p)), missing(m) {}  // NOLINT: implicit
  std::string path;
  bool missing;
};

// What a run over `entries` writes, each photo scored by `score` in order.
inline std::string expected(const std::vector<Entry>& entries, OutputFormat format,
                            const std::function<FileScore(const std::string&)>& score,
                            int threshold = 10) {
  std::string out = format == OutputFormat::tsv    ? TSV_HEADER
                    : format == OutputFormat::text ? "BLUR\tPATH\n"
                                                   : "";
  int listed = 0, examined = 0;
  for (const auto& e : entries) {
    if (e.missing) {
      if (format == OutputFormat::tsv) out += "0\tmissing\t" + tsv_record(e.path, {}).substr(14);
      if (format == OutputFormat::jsonl) {
        nlohmann::ordered_json record;
        record["path"] = e.path;
        record["score"] = 0;
        record["decoded"] = false;
        record["status"] = "missing";
        out += record.dump() + "\n";
      }
      continue;
    }
    const FileScore s = score(e.path);
    ++examined;
    if (format == OutputFormat::tsv) out += tsv_record(e.path, s);
    if (format == OutputFormat::jsonl) out += json_record(e.path, s);
    if (s.score > threshold) {
      ++listed;
      if (format == OutputFormat::text) out += std::to_string(s.score) + "\t" + e.path + "\n";
      if (format == OutputFormat::print0) out += e.path + '\0';
    }
  }
  if (format == OutputFormat::text) {
    out += std::to_string(listed) + "/" + std::to_string(examined) + " are somewhat blurred\n";
  }
  return out;
}

// Contrast scores drawn one photo after another from one state.
struct ChainedScorer {
  explicit ChainedScorer(std::int32_t seed) : rs{seed} {
    start_imaging_library();
    init_embedded_model(model);
  }
  ~ChainedScorer() { release_svm_model(model); }
  FileScore operator()(const std::string& path) {
    return score_image_file_checked(model, path, FEATURE_SCALE, rs);
  }
  SvmModel model;
  RandomState rs;
};

inline std::string chained(std::int32_t seed, const std::vector<Entry>& entries,
                           OutputFormat format = OutputFormat::text, int threshold = 10) {
  ChainedScorer scorer(seed);
  return expected(entries, format, std::ref(scorer), threshold);
}

}  // namespace lumvet
