// Every input that ever made a fuzz target fail, run through that target again:
// fuzz/regressions/<target>/<name>. A broken promise aborts the suite.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/targets.h"
#include "tests/support/test_support.h"

namespace lumvet::fuzz {
namespace {

const std::filesystem::path REGRESSIONS =
    std::filesystem::path(LUMVET_SOURCE_DIR) / "fuzz/regressions";

TEST(FuzzRegressions, EveryFolderNamesATarget) {
  for (const auto& entry : std::filesystem::directory_iterator(REGRESSIONS)) {
    EXPECT_NE(find_fuzz_target(entry.path().filename().string()), nullptr) << entry.path();
  }
}

TEST(FuzzRegressions, EveryInputPassesItsTarget) {
  int inputs = 0;
  for (const FuzzTarget& target : fuzz_targets()) {
    const std::filesystem::path folder = REGRESSIONS / std::string(target.name);
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::vector<std::uint8_t> bytes = testing::read_bytes(entry.path().string());
      SCOPED_TRACE(entry.path().string());
      EXPECT_EQ(target.run(bytes.data(), bytes.size()), 0);
      ++inputs;
    }
  }
  EXPECT_GT(inputs, 0);
}

}  // namespace
}  // namespace lumvet::fuzz
