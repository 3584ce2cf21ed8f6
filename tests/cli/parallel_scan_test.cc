// The folder scan on several threads against the scan on one: the same records,
// counters and final RandomState, whatever the timing. A stand-in scorer makes
// the timing vary (and makes photos fail late, so that guesses go wrong and
// photos are scored again); the real program is run with --jobs=1 to 8.
#include "cli/parallel_scan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cli/folder_scan.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::capture_output;
using testing::make_dir;
using testing::ScopedTempDir;
using testing::write_text;

// A photo named "*bad*" does not decode (those named "*slowbad*" only after a
// while); every other one draws 120 values and scores a number that depends on
// its path and on the state it starts from. Each takes a time that depends on
// its name.
struct StandInScorer {
  std::atomic<int> calls{0};

  FileScore operator()(const std::string& path, RandomState& rs) {
    ++calls;
    std::uint32_t h = 2166136261u;
    for (char c : path) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    std::this_thread::sleep_for(std::chrono::microseconds(h % 1500));
    FileScore s;
    if (path.find("bad") != std::string::npos) {
      if (path.find("slowbad") != std::string::npos) {
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
      }
      return s;
    }
    const std::int32_t start = rs.value;
    rs.value = random_jump(rs.value, 120);
    s.decoded = true;
    s.score = static_cast<std::int32_t>((static_cast<std::uint32_t>(start) ^ h) % 600) - 300;
    return s;
  }
};

struct ScanResult {
  std::string out;
  std::int32_t examined = 0, listed = 0, final_state = 0;
};

ScanResult run_scan(const std::string& root, int jobs, std::int32_t seed, OutputFormat format,
                    StandInScorer& scorer) {
  ScanResult r;
  RandomState rs{seed};
  const PhotoScorer score = [&scorer](const std::string& p, RandomState& s) {
    return scorer(p, s);
  };
  r.out = capture_output([&](std::FILE* out) {
    ScoreSink sink;
    sink.out = out;
    sink.format = format;
    std::string path = root;
    if (jobs == 1) {
      scan_photos(path, true, score, r.examined, r.listed, rs, sink);
    } else {
      scan_photos_in_parallel(path, true, jobs, score, r.examined, r.listed, rs, sink);
    }
    EXPECT_EQ(path, root);
  });
  r.final_state = rs.value;
  return r;
}

// 60 photos in three folders; failures alone, in runs, first and last, fast and slow.
std::string make_tree(const ScopedTempDir& tmp) {
  const std::string root = tmp.file("tree");
  for (const char* d : {"", "/a", "/a/b", "/c"}) make_dir(root + d);
  const char* folders[] = {"", "/a", "/a/b", "/c"};
  for (int i = 0; i < 60; ++i) {
    char name[32];
    const bool bad = i == 0 || i == 59 || i % 7 == 3 || (i >= 20 && i <= 22);
    std::snprintf(name, sizeof name, "/%02d%s.jpg", i, !bad ? "" : (i % 2 ? "slowbad" : "bad"));
    write_text(root + folders[i % 4] + name, "");
  }
  return root;
}

TEST(ParallelScan, SameOutputCountersAndStateAsOneThread) {
  ScopedTempDir tmp;
  const std::string root = make_tree(tmp);
  int rescored = 0;
  for (OutputFormat format : {OutputFormat::text, OutputFormat::tsv, OutputFormat::jsonl}) {
    for (std::int32_t seed : {-5, 2147483646}) {
      StandInScorer serial_scorer;
      const ScanResult expected = run_scan(root, 1, seed, format, serial_scorer);
      EXPECT_EQ(expected.examined, 60);
      EXPECT_EQ(serial_scorer.calls, 60);
      for (int jobs : {2, 3, 8}) {
        StandInScorer scorer;
        const ScanResult got = run_scan(root, jobs, seed, format, scorer);
        EXPECT_EQ(got.out, expected.out) << jobs << " jobs, seed " << seed;
        EXPECT_EQ(got.examined, expected.examined);
        EXPECT_EQ(got.listed, expected.listed);
        EXPECT_EQ(got.final_state, expected.final_state);
        EXPECT_GE(scorer.calls, 60);
        rescored += scorer.calls - 60;
      }
    }
  }
  // Photos after a slow failure were guessed wrong and scored again.
  EXPECT_GT(rescored, 0);
}

TEST(ParallelScan, StopsWhenTheOutputBreaks) {
  ScopedTempDir tmp;
  const std::string root = make_tree(tmp);
  StandInScorer scorer;
  std::int32_t examined = 0, listed = 0;
  RandomState rs{1};
  std::FILE* out = std::fopen("/dev/null", "w");
  ASSERT_NE(out, nullptr);
  ScoreSink sink;
  sink.out = out;
  sink.format = OutputFormat::tsv;
  sink.write_errno = 32;  // already broken: nothing more is written or scored
  std::string path = root;
  scan_photos_in_parallel(
      path, true, 4, [&](const std::string& p, RandomState& s) { return scorer(p, s); }, examined,
      listed, rs, sink);
  std::fclose(out);
  EXPECT_EQ(examined, 0);
  EXPECT_LE(scorer.calls, 4 * PHOTOS_IN_FLIGHT_PER_JOB);
}

}  // namespace
}  // namespace lumvet
