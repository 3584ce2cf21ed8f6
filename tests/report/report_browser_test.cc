// The report in a real browser: Debian's Chromium, headless, driven by
// tests/report/browser_check.py through chromedriver. The page must load
// without console errors, show one card per photo in score order, follow the
// threshold, and save the selected paths' exact bytes.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdlib>

#include "tests/report/report_support.h"

namespace lumvet {
namespace {

using testing::RunResult;
using testing::ScopedTempDir;

constexpr int SKIPPED = 77;  // browser_check.py: no Chromium or chromedriver

// Writes a report of `folder` with `options` and checks it in the browser.
void check_in_browser(std::vector<std::string> options, const std::string& folder, int threshold,
                      const std::vector<std::string>& extra = {}) {
  if (::access("/usr/bin/chromium", X_OK) != 0 || ::access("/usr/bin/chromedriver", X_OK) != 0) {
    GTEST_SKIP() << "Chromium is not installed: scripts/setup.sh installs the Debian packages "
                    "chromium and chromium-driver that this test needs";
  }
  ScopedTempDir tmp;
  options.push_back("--format=tsv");
  options.push_back("--report=" + tmp.file("report"));
  options.push_back(folder);
  const RunResult run = lumvet(options);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  testing::write_text(tmp.file("scores.tsv"), run.out);
  std::vector<std::string> args = {LUMVET_SOURCE_DIR "/tests/report/browser_check.py",
                                   tmp.file("report"), tmp.file("scores.tsv"),
                                   std::to_string(threshold)};
  args.insert(args.end(), extra.begin(), extra.end());
  const RunResult check = testing::run_program("/usr/bin/python3", args);
  if (check.exit_code == SKIPPED) GTEST_SKIP() << check.out;
  EXPECT_EQ(check.exit_code, 0) << check.out << check.err;
}

TEST(ReportBrowser, SamplesWithTheSharpnessAssessor) {
  // The page as the README shows it.
  const std::string shot = testing::built_program("report-screenshot.png");
  check_in_browser({"--assessor=sharpness", "--jobs=2"}, SAMPLES_DIR, 50, {"--screenshot", shot});
}

TEST(ReportBrowser, SamplesWithTheContrastAssessor) {
  check_in_browser({"--seed=3"}, SAMPLES_DIR, 10);
}

TEST(ReportBrowser, AwkwardNamesNeitherInjectNorLoseBytes) {
  ScopedTempDir tmp;
  write_awkward_folder(tmp.file("in"));
  check_in_browser({"--assessor=sharpness"}, tmp.file("in"), 50, {"--awkward"});
}

}  // namespace
}  // namespace lumvet
