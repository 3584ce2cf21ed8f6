// The probes that let a program fail before its work: could a file be replaced,
// could a folder be listed.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace lumvet::platform {
namespace {

TEST(FileProbes, ReplaceFileProblemLeavesNothingBehind) {
  testing::ScopedTempDir dir;
  EXPECT_EQ(replace_file_problem(dir.file("new.bin")), "");
  testing::write_text(dir.file("old.bin"), "kept");
  EXPECT_EQ(replace_file_problem(dir.file("old.bin")), "");
  EXPECT_EQ(testing::read_bytes(dir.file("old.bin")).size(), 4u);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_directory(dir.path(), entries));
  ASSERT_EQ(entries.size(), 1u);  // no temporary file left, no new file made
  EXPECT_EQ(entries[0].name, "old.bin");

  EXPECT_EQ(replace_file_problem(dir.file("no/such/x.bin")), "No such file or directory");
  EXPECT_EQ(replace_file_problem(dir.path()), "Is a directory");
  EXPECT_EQ(replace_file_problem(dir.file("old.bin/x.bin")), "Not a directory");
  EXPECT_EQ(replace_file_problem("/dev/null"), "");  // written in place
}

TEST(FileProbes, ListDirectoryProblem) {
  testing::ScopedTempDir dir;
  testing::write_text(dir.file("file"), "");
  EXPECT_EQ(list_directory_problem(dir.path()), "");
  EXPECT_EQ(list_directory_problem(dir.file("none")), "No such file or directory");
  EXPECT_EQ(list_directory_problem(dir.file("file")), "Not a directory");
}

}  // namespace
}  // namespace lumvet::platform
