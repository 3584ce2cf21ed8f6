#include "cli/folder_scan.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

// The order and the folders entered are checked through the program (lumvet_test).
TEST(WalkPhotos, StopsWhenAskedAndRestoresThePath) {
  testing::ScopedTempDir tmp;
  const std::string root = tmp.file("r");
  testing::make_dir(root + "/b");
  for (const char* f : {"/1.jpg", "/2.JPG", "/b/3.jpg", "/b/4.jpg"})
    testing::write_text(root + f, "");
  std::string path = root + "/";
  std::vector<std::string> seen;
  EXPECT_FALSE(walk_photos(path, true, [&](const std::string& p) {
    seen.push_back(p);
    return seen.size() < 3;
  }));
  EXPECT_EQ(seen,
            (std::vector<std::string>{root + "//1.jpg", root + "//2.JPG", root + "//b/3.jpg"}));
  EXPECT_EQ(path, root + "/");
  std::string missing = tmp.file("missing");
  EXPECT_TRUE(walk_photos(missing, true, [](const std::string&) { return false; }));
  EXPECT_EQ(missing, tmp.file("missing"));
}

}  // namespace
}  // namespace lumvet
