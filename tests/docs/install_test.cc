// `cmake --install` at a prefix of one's choosing: the installed programs find
// the data they ship beside themselves, from any working directory, and go on
// finding it when the whole tree is moved.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::RunResult;

const std::string SOURCE_DIR = LUMVET_SOURCE_DIR;

TEST(Install, ProgramsRunFromAnyPrefixWithTheirShippedData) {
  testing::ScopedTempDir tmp;
  const std::string prefix = tmp.file("first prefix");
  const RunResult install = testing::run_program(
      LUMVET_CMAKE_COMMAND, {"--install", testing::built_program(""), "--prefix", prefix});
  ASSERT_EQ(install.exit_code, 0) << install.out << install.err;
  for (const char* file :
       {"bin/lumvet", "bin/lumvet-train", "bin/lumqet",
        "share/lumvet/test_30-15-1_0.5-0.05-1=15-1-12000=e15.nn", "share/man/man1/lumvet.1.gz",
        "share/man/man1/lumvet-train.1.gz", "share/man/man1/lumqet.1.gz",
        "share/bash-completion/completions/lumvet", "share/zsh/vendor-completions/_lumvet"}) {
    EXPECT_FALSE(testing::read_bytes(prefix + "/" + file).empty()) << file;
  }

  // Another working directory, with one photo of the samples.
  const std::string photos = tmp.file("photos");
  testing::make_dir(photos);
  testing::write_bytes(photos + "/blurred.jpg",
                       testing::read_bytes(SOURCE_DIR + "/samples/mountain_autumn_blur_s4.jpg"));
  const auto run_all = [&](const std::string& root) {
    const RunResult lumqet = testing::run_program(root + "/bin/lumqet", {"--seed=1", "."}, photos);
    EXPECT_EQ(lumqet.exit_code, 0) << lumqet.err;
    EXPECT_EQ(lumqet.out, "29\t./blurred.jpg\n1/1 are blurred\n") << lumqet.err;
    const RunResult lumvet =
        testing::run_program(root + "/bin/lumvet", {"--assessor=sharpness", "blurred.jpg"}, photos);
    EXPECT_EQ(lumvet.out, "100\n") << lumvet.err;
    const RunResult train =
        testing::run_program(root + "/bin/lumvet-train", {"--selftest", "--seed=1"}, photos);
    EXPECT_EQ(train.out.rfind("correct classification = 100%\n", 0), 0u) << train.err;
  };
  run_all(prefix);

  // Moved elsewhere, the tree still works: nothing in it names the prefix.
  const std::string moved = tmp.file("moved/elsewhere");
  testing::make_dir(tmp.file("moved"));
  ASSERT_EQ(std::rename(prefix.c_str(), moved.c_str()), 0);
  run_all(moved);
  // Without its data the network assessor says so and where it looked.
  const std::string network = moved + "/share/lumvet/test_30-15-1_0.5-0.05-1=15-1-12000=e15.nn";
  ASSERT_EQ(std::remove(network.c_str()), 0);
  const RunResult missing = testing::run_program(moved + "/bin/lumqet", {"."}, photos);
  EXPECT_EQ(missing.exit_code, 3);
  EXPECT_EQ(missing.err, "lumqet: network file not found: " + network + "\n");
}

}  // namespace
}  // namespace lumvet
