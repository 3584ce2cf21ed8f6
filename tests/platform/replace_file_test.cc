#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace lumvet::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

bool is_link(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A model path that is a symbolic link is written through the link, whether its
// target exists or is still to be made, relative or absolute; the link stays.
TEST(ReplaceFile, WritesThroughSymbolicLinks) {
  testing::ScopedTempDir dir;
  testing::make_dir(dir.file("real"));
  testing::write_bytes(dir.file("real/old.svm"), {'o', 'l', 'd'});
  ASSERT_EQ(::symlink("real/old.svm", dir.file("existing").c_str()), 0);
  ASSERT_EQ(::symlink("real/new.svm", dir.file("dangling").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("dangling").c_str(), dir.file("chain").c_str()), 0);
  const Bytes bytes = {1, 2, 3, 4};
  for (const char* name : {"existing", "dangling", "chain"}) {
    EXPECT_EQ(replace_file(dir.file(name), bytes, 0600), ReplaceStatus::replaced) << name;
    EXPECT_TRUE(is_link(dir.file(name))) << name;
    EXPECT_EQ(testing::read_bytes(dir.file(name)), bytes) << name;
  }
  EXPECT_EQ(testing::read_bytes(dir.file("real/old.svm")), bytes);
  EXPECT_EQ(testing::read_bytes(dir.file("real/new.svm")), bytes);
  // Nothing else appeared: no temporary file, no replaced link.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.file("real"))) {
    ++entries;
  }
  EXPECT_EQ(entries, 2);
  // A link loop is written as the path itself would be: the link is replaced.
  ASSERT_EQ(::symlink("loop", dir.file("loop").c_str()), 0);
  EXPECT_EQ(replace_file(dir.file("loop"), bytes, 0600), ReplaceStatus::replaced);
}

}  // namespace
}  // namespace lumvet::platform
