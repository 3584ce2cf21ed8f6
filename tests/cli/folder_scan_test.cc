#include "cli/folder_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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

// Every real folder is scanned once however many links lead to it: a chain of 16
// folders, each holding two links to the next, once took 2^16 scans of the
// deepest; eight folders that each link to all the others, 8! orders of them.
TEST(WalkPhotos, EachRealFolderOnce) {
  testing::ScopedTempDir tmp;
  std::string deepest = tmp.file("chain");
  for (int i = 0; i < 16; ++i) {
    testing::make_dir(deepest + "/r");
    for (const char* name : {"/a", "/b"}) {
      ASSERT_EQ(::symlink("r", (deepest + name).c_str()), 0);
    }
    deepest += "/r";
  }
  testing::write_text(deepest + "/x.jpg", "");
  const auto visits = [](std::string path) {
    std::vector<std::string> seen;
    walk_photos(path, true, [&](const std::string& p) {
      seen.push_back(p);
      return true;
    });
    return seen;
  };
  const std::vector<std::string> chain = visits(tmp.file("chain"));
  ASSERT_EQ(chain.size(), 1u);
  std::string first_path = tmp.file("chain");
  for (int i = 0; i < 16; ++i) first_path += "/a";
  EXPECT_EQ(chain[0], first_path + "/x.jpg");

  const std::string clique = tmp.file("clique");
  for (int i = 0; i < 8; ++i) {
    testing::make_dir(clique + "/f" + std::to_string(i));
    testing::write_text(clique + "/f" + std::to_string(i) + "/p.jpg", "");
  }
  for (int i = 0; i < 8; ++i) {
    for (int j = 0; j < 8; ++j) {
      if (i == j) continue;
      const std::string target = "../f" + std::to_string(j);
      const std::string link = clique + "/f" + std::to_string(i) + "/to" + std::to_string(j);
      ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    }
  }
  EXPECT_EQ(visits(clique).size(), 8u);
}

// A folder beyond the path-length limit cannot be scanned, and says so.
TEST(WalkPhotos, FolderBeyondThePathLimitIsNamed) {
  testing::ScopedTempDir tmp;
  // Made one level at a time from the folder above, as no single path may be
  // that long.
  const std::string name(200, 'd');
  int fd = ::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY);
  for (std::size_t length = tmp.path().size(); length < 4400; length += name.size() + 1) {
    ASSERT_EQ(::mkdirat(fd, name.c_str(), 0700), 0);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    ASSERT_GE(fd, 0);
  }
  ::close(fd);
  // Both ways in: the notes stream given, or the walk options' (a run's folders).
  for (const bool with_options : {false, true}) {
    std::string root = tmp.path();
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* notes = ::open_memstream(&text, &size);
    const auto visit = [](const std::string&) { return true; };
    if (with_options) {
      WalkOptions options;
      options.notes = notes;
      walk_photos(root, true, options, visit);
    } else {
      walk_photos(root, true, visit, notes);
    }
    std::fclose(notes);
    const std::string said(text, size);
    std::free(text);
    EXPECT_NE(said.find("path too long, folder not scanned: " + tmp.path() + "/"),
              std::string::npos)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1);
  }
}

}  // namespace
}  // namespace lumvet
