// The folder scan on several threads against the scan on one: the same records,
// counters and final RandomState, whatever the timing.
#include "cli/parallel_scan.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

// A photo named "*bad*" does not decode ("*slowbad*" only after a while, so that
// guesses go wrong and photos are scored again); every other one draws 120 values
// and scores a number that depends on its path and on the state it starts from.
struct StandInScorer {
  std::atomic<int> calls{0};

  FileScore operator()(const std::string& path, RandomState& rs) {
    ++calls;
    std::uint32_t h = 2166136261u;
    for (char c : path) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
    const bool slow = path.find("slowbad") != std::string::npos;
    std::this_thread::sleep_for(std::chrono::microseconds(slow ? 15000 : h % 1500));
    if (path.find("bad") != std::string::npos) return {};
    const auto start = static_cast<std::uint32_t>(rs.value);
    rs.value = random_jump(rs.value, 120);
    return {static_cast<std::int32_t>((start ^ h) % 600) - 300, true};
  }
};

struct ScanResult {
  std::string out;
  std::int32_t examined = 0, listed = 0;
  RandomState state{-5};
};

// Scans `root` with `jobs` threads (1: scan_photos) in the text format.
ScanResult run_scan(const std::string& root, int jobs, StandInScorer& scorer, int write_errno = 0) {
  ScanResult r;
  ScoreSink sink{.write_errno = write_errno};
  const PhotoScorer score = std::ref(scorer);
  std::string path = root;
  r.out = testing::capture_output([&](std::FILE* out) {
    sink.out = out;
    if (jobs == 1) {
      scan_photos(path, true, score, r.examined, r.listed, r.state, sink);
    } else {
      scan_photos_in_parallel(path, true, jobs, score, r.examined, r.listed, r.state, sink);
    }
  });
  EXPECT_EQ(path, root);
  return r;
}

// 60 photos in four folders; failures alone, in runs, first and last, fast and slow.
std::string make_tree(const testing::ScopedTempDir& tmp) {
  const std::string root = tmp.file("tree");
  const char* folders[] = {"", "/a", "/a/b", "/c"};
  for (const char* d : folders) testing::make_dir(root + d);
  for (int i = 0; i < 60; ++i) {
    const bool bad = i == 0 || i == 59 || i % 7 == 3 || (i >= 20 && i <= 22);
    const std::string name = std::to_string(10 + i) + (!bad ? "" : i % 2 ? "slowbad" : "bad");
    testing::write_text(root + folders[i % 4] + "/" + name + ".jpg", "");
  }
  return root;
}

TEST(ParallelScan, SameOutputCountersAndStateAsOneThread) {
  testing::ScopedTempDir tmp;
  const std::string root = make_tree(tmp);
  StandInScorer serial_scorer;
  const ScanResult expected = run_scan(root, 1, serial_scorer);
  EXPECT_EQ(expected.examined, 60);
  int rescored = 0;
  for (int jobs : {2, 3, 8}) {
    StandInScorer scorer;
    const ScanResult got = run_scan(root, jobs, scorer);
    EXPECT_EQ(got.out, expected.out) << jobs << " jobs";
    EXPECT_EQ(got.examined, expected.examined);
    EXPECT_EQ(got.listed, expected.listed);
    EXPECT_EQ(got.state.value, expected.state.value);
    rescored += scorer.calls - 60;
  }
  // Photos after a slow failure were guessed wrong and scored again.
  EXPECT_GT(rescored, 0);
}

TEST(ParallelScan, StopsWhenTheOutputBreaks) {
  testing::ScopedTempDir tmp;
  StandInScorer scorer;
  // Already broken: nothing more is written or scored.
  const ScanResult r = run_scan(make_tree(tmp), 4, scorer, EPIPE);
  EXPECT_EQ(r.examined, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_LE(scorer.calls, 4 * PHOTOS_IN_FLIGHT_PER_JOB);
}

}  // namespace
}  // namespace lumvet
