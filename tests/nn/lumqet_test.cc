// The lumqet program run for real, in temporary folders.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "build_config.h"
#include "nn/assessor.h"
#include "nn/network_file.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::RunResult;

RunResult lumqet(const std::vector<std::string>& args) {
  return testing::run_program(testing::built_program("nn/lumqet"), args);
}

bool one_line(const std::string& text) {
  return !text.empty() && text.back() == '\n' && std::count(text.begin(), text.end(), '\n') == 1;
}

class Lumqet : public ::testing::Test {
 protected:
  // A 30-0-1 network whose output rises with the summed contrast: sharp pictures
  // come out near 1 (score -100), blurred ones near 0 (score 100).
  void SetUp() override {
    RandomState rs;
    auto net = net_create(FEATURE_COUNT, 0, 1, 0.0, rs);
    const std::size_t row = FEATURE_COUNT + 1;
    net->input_weights[row] = -6.0;  // bias
    for (std::size_t k = 1; k < row; ++k) net->input_weights[row + k] = 1.0;
    testing::make_dir(dir_.file("models"));
    ASSERT_EQ(net_save(*net, dir_.file("models/") + NETWORK_FILE_NAME, stdout), 1);
    sharp_ = testing::make_textured_bitmap(200, 150, 1);
    blurred_ = testing::box_blurred(sharp_, 3, 3);
  }

  testing::ScopedTempDir dir_;
  const std::string model_ = "--model-dir=" + dir_.file("models");
  Bitmap32 sharp_;
  Bitmap32 blurred_;
};

TEST_F(Lumqet, SingleFilePrintsScoreOrZero) {
  ASSERT_TRUE(testing::write_jpeg(dir_.file("blurred.jpg"), blurred_));
  ASSERT_TRUE(testing::write_jpeg(dir_.file("sharp.jpg"), sharp_));
  testing::write_text(dir_.file("broken.jpg"), "no picture");
  RunResult r = lumqet({model_, dir_.file("blurred.jpg")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "100\n");
  EXPECT_EQ(r.err, "");
  // -100 is printed as 0, as is a file that does not decode.
  EXPECT_EQ(lumqet({model_, dir_.file("sharp.jpg")}).out, "0\n");
  EXPECT_EQ(lumqet({model_, dir_.file("broken.jpg")}).out, "0\n");
  // The value may follow the option as its own argument; later arguments are ignored.
  r = lumqet({"--model-dir", dir_.file("models"), "--seed", "-5", dir_.file("blurred.jpg"), "x"});
  EXPECT_EQ(r.out, "100\n");
}

TEST_F(Lumqet, FolderListsBlurredEntriesInSortedOrder) {
  const std::string photos = dir_.file("photos");
  testing::make_dir(photos);
  ASSERT_TRUE(testing::write_jpeg(photos + "/b_blur.JPG", blurred_));
  ASSERT_TRUE(testing::write_jpeg(photos + "/a_blur.jpg", blurred_));
  ASSERT_TRUE(testing::write_jpeg(photos + "/sharp.Jpg", sharp_));
  ASSERT_TRUE(testing::write_jpeg(photos + "/other.png", blurred_));  // not matched
  // A folder whose name matches is assessed like any entry: it scores 0 and counts.
  testing::make_dir(photos + "/folder.jpg");
  // Not recursive.
  testing::make_dir(photos + "/sub");
  ASSERT_TRUE(testing::write_jpeg(photos + "/sub/deep.jpg", blurred_));
  // A trailing '/' gives two in a row, as the paths are built by joining.
  for (const std::string slash : {"", "/"}) {
    const RunResult r = lumqet({model_, photos + slash});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "100\t" + photos + slash + "/a_blur.jpg\n100\t" + photos + slash +
                         "/b_blur.JPG\n2/4 are blurred\n");
    EXPECT_EQ(r.err, "");
  }
  // A folder without matching entries, and no argument at all: nothing printed.
  testing::make_dir(dir_.file("empty"));
  testing::write_text(dir_.file("empty/readme.txt"), "x");
  for (const auto& args :
       {std::vector<std::string>{model_, dir_.file("empty")}, std::vector<std::string>{model_}}) {
    const RunResult r = lumqet(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out + r.err, "");
  }
}

TEST_F(Lumqet, BadPathsNetworksAndOptions) {
  // A path that names nothing: the usage and 100, before the network is looked for.
  RunResult r = lumqet({"--model-dir=" + dir_.file("none"), dir_.file("missing.jpg")});
  EXPECT_EQ(r.exit_code, 100);
  EXPECT_EQ(r.out,
            "USAGE: lumqet path\nPATH could be a single image to assess or a whole folder of "
            "images\n");
  EXPECT_EQ(r.err, "");

  // A network that is missing, shorter than its header announces (the reader's
  // message first), a folder, or one with more inputs than there are features.
  ASSERT_TRUE(testing::write_jpeg(dir_.file("p.jpg"), blurred_));
  for (const char* name : {"short", "folder", "wide"}) testing::make_dir(dir_.file(name));
  testing::write_bytes(dir_.file("short/") + NETWORK_FILE_NAME,
                       {30, 0, 0, 0, 15, 0, 0, 0, 1, 0, 0, 0, 7});
  testing::make_dir(dir_.file("folder/") + NETWORK_FILE_NAME);
  RandomState rs;
  ASSERT_EQ(
      net_save(*net_create(31, 2, 1, 0.1, rs), dir_.file("wide/") + NETWORK_FILE_NAME, stdout), 1);
  for (const char* name : {"none", "short", "folder", "wide"}) {
    r = lumqet({"--model-dir=" + dir_.file(name), dir_.file("p.jpg")});
    EXPECT_EQ(r.exit_code, ASSESSOR_EXIT_BAD_NETWORK) << name;
    EXPECT_EQ(r.out, std::string(name) == "short" ? "*** read ERROR!\n" : "") << name;
    EXPECT_TRUE(one_line(r.err)) << name << ": " << r.err;
  }

  for (const std::string bad : {"--frobnicate", "--seed=12x", "--seed", "--help=yes"}) {
    r = lumqet({bad, dir_.path()});
    EXPECT_EQ(r.exit_code, 2) << bad;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(one_line(r.err)) << r.err;
  }
  EXPECT_EQ(lumqet({"--help"}).out.rfind("usage: lumqet", 0), 0u);
  EXPECT_EQ(lumqet({"--version"}).out, std::string("lumqet ") + LUMVET_VERSION + "\n");
}

TEST_F(Lumqet, FindsTheShippedNetworkAndIsReproducibleFromASeed) {
  const std::string photos = dir_.file("photos");
  testing::make_dir(photos);
  ASSERT_TRUE(testing::write_jpeg(photos + "/s.jpg", sharp_));
  ASSERT_TRUE(testing::write_jpeg(photos + "/b.jpg", blurred_));
  // No --model-dir: the build tree's copy of the network in models/.
  const RunResult first = lumqet({"--seed=2024", photos});
  EXPECT_EQ(first.exit_code, 0) << first.err;
  EXPECT_EQ(first.err, "");
  EXPECT_NE(first.out.find("/2 are blurred\n"), std::string::npos) << first.out;
  EXPECT_EQ(lumqet({"--seed=2024", photos}).out, first.out);
}

}  // namespace
}  // namespace lumvet
