#include "cli/folder_scan.h"

#include <gtest/gtest.h>

#include "imaging/imaging.h"
#include "tests/cli/test_jpeg.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::capture_output;
using testing::make_dir;
using testing::ScopedTempDir;
using testing::write_flat_jpeg;
using testing::write_text;

TEST(WalkPhotos, DepthFirstSortedAndPathRestored) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("r");
  for (const char* d : {"/b/z", "/b/a", "/a", "/.x", "/..y", "/c.JPG"}) make_dir(root + d);
  for (const char* f : {"/b/z/1.jpg", "/b/a/2.jpg", "/b/3.jpg", "/a/4.JPG", "/.x/5.jpg",
                        "/..y/6.jpg", "/c.JPG/7.jpg", "/8.jPg", "/9.jpg.txt", "/B.jpg"}) {
    write_text(root + f, "");
  }
  std::string path = root;
  std::vector<std::string> seen;
  EXPECT_TRUE(walk_photos(path, true, [&](const std::string& p) {
    seen.push_back(p.substr(root.size()));
    return true;
  }));
  EXPECT_EQ(path, root);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"/8.jPg", "/B.jpg", "/..y/6.jpg", "/a/4.JPG", "/b/3.jpg",
                                      "/b/a/2.jpg", "/b/z/1.jpg", "/c.JPG/7.jpg"}));
  // Without recursion only the folder's own files; a stop ends the walk at once.
  seen.clear();
  EXPECT_TRUE(walk_photos(path, false, [&](const std::string& p) {
    seen.push_back(p.substr(root.size()));
    return true;
  }));
  EXPECT_EQ(seen.size(), 2u);
  int visits = 0;
  EXPECT_FALSE(walk_photos(path, true, [&](const std::string&) { return ++visits < 3; }));
  EXPECT_EQ(visits, 3);
  EXPECT_EQ(path, root);
  // A folder that cannot be listed contributes nothing.
  std::string missing = tmp.file("missing");
  EXPECT_TRUE(walk_photos(missing, true, [&](const std::string&) { return false; }));
}

TEST(ScanFolder, CountersOnlyGrow) {
  ScopedTempDir tmp;
  make_dir(tmp.file("s"));
  write_flat_jpeg(tmp.file("a.jpg"));
  write_text(tmp.file("b.jpg"), "not a picture");
  write_flat_jpeg(tmp.file("s/c.jpg"));
  start_imaging_library();
  SvmModel model;
  init_embedded_model(model);
  RandomState rs;
  std::int32_t examined = 5, listed = 7;
  std::string path = tmp.path() + "/";
  const std::string text = capture_output([&](std::FILE* out) {
    ScoreSink sink;
    sink.out = out;
    scan_folder(path, model, examined, listed, true, rs, sink);
    scan_folder(path, model, examined, listed, false, rs, sink);
  });
  release_svm_model(model);
  EXPECT_EQ(path, tmp.path() + "/");
  EXPECT_EQ(examined, 5 + 3 + 2);
  EXPECT_EQ(listed, 7 + 2 + 1);
  const std::string a = tmp.path() + "//a.jpg";
  EXPECT_EQ(text, "304\t" + a + "\n304\t" + tmp.path() + "//s/c.jpg\n304\t" + a + "\n");
}

}  // namespace
}  // namespace lumvet
