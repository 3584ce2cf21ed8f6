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
using testing::ScopedTempDir;

constexpr const char* USAGE =
    "USAGE: lumqet path\nPATH could be a single image to assess or a whole folder of images\n";

RunResult lumqet(const std::vector<std::string>& args) {
  return testing::run_program(testing::built_program("nn/lumqet"), args);
}

bool one_line(const std::string& text) {
  return !text.empty() && text.back() == '\n' && std::count(text.begin(), text.end(), '\n') == 1;
}

// A 30-0-1 network whose output rises with the summed contrast: sharp pictures
// come out near 1 (score -100), blurred ones near 0 (score 100).
void save_contrast_net(const std::string& model_dir) {
  RandomState rs;
  auto net = net_create(FEATURE_COUNT, 0, 1, 0.0, rs);
  const std::size_t row = FEATURE_COUNT + 1;
  net->input_weights[row] = -6.0;  // bias
  for (std::size_t k = 1; k < row; ++k) net->input_weights[row + k] = 1.0;
  testing::make_dir(model_dir);
  ASSERT_EQ(net_save(*net, model_dir + "/" + NETWORK_FILE_NAME, stdout), 1);
}

class Lumqet : public ::testing::Test {
 protected:
  void SetUp() override {
    model_dir_ = dir_.file("models");
    save_contrast_net(model_dir_);
    sharp_ = testing::make_textured_bitmap(200, 150, 1);
    blurred_ = testing::box_blurred(sharp_, 3, 3);
  }
  std::string model_option() const { return "--model-dir=" + model_dir_; }

  ScopedTempDir dir_;
  std::string model_dir_;
  Bitmap32 sharp_;
  Bitmap32 blurred_;
};

TEST_F(Lumqet, SingleFilePrintsScoreOrZero) {
  ASSERT_TRUE(testing::write_jpeg(dir_.file("blurred.jpg"), blurred_));
  ASSERT_TRUE(testing::write_jpeg(dir_.file("sharp.jpg"), sharp_));
  testing::write_text(dir_.file("broken.jpg"), "no picture");

  RunResult r = lumqet({model_option(), dir_.file("blurred.jpg")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "100\n");
  EXPECT_EQ(r.err, "");
  // -100 is printed as 0, as is a file that does not decode.
  EXPECT_EQ(lumqet({model_option(), dir_.file("sharp.jpg")}).out, "0\n");
  EXPECT_EQ(lumqet({model_option(), dir_.file("broken.jpg")}).out, "0\n");
  // The value may follow the option as its own argument; later arguments are ignored.
  r = lumqet({"--model-dir", model_dir_, "--seed", "-5", dir_.file("blurred.jpg"), "extra"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "100\n");
}

TEST_F(Lumqet, FolderListsBlurredEntriesInSortedOrder) {
  const std::string photos = dir_.file("photos");
  testing::make_dir(photos);
  ASSERT_TRUE(testing::write_jpeg(photos + "/b_blur.JPG", blurred_));
  ASSERT_TRUE(testing::write_jpeg(photos + "/a_blur.jpg", blurred_));
  ASSERT_TRUE(testing::write_jpeg(photos + "/sharp.Jpg", sharp_));
  ASSERT_TRUE(testing::write_jpeg(photos + "/other.png", blurred_));  // not matched
  testing::write_text(photos + "/notes.txt", "x");
  // A folder whose name matches is assessed like any entry: it scores 0 and counts.
  testing::make_dir(photos + "/folder.jpg");
  // Not recursive.
  testing::make_dir(photos + "/sub");
  ASSERT_TRUE(testing::write_jpeg(photos + "/sub/deep.jpg", blurred_));

  RunResult r = lumqet({model_option(), photos});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "100\t" + photos + "/a_blur.jpg\n100\t" + photos + "/b_blur.JPG\n2/4 are blurred\n");
  EXPECT_EQ(r.err, "");

  // A trailing '/' gives two in a row, as the paths are built by joining.
  r = lumqet({model_option(), photos + "/"});
  EXPECT_EQ(r.out, "100\t" + photos + "//a_blur.jpg\n100\t" + photos + "//b_blur.JPG\n2/4 are blurred\n");
}

TEST_F(Lumqet, FolderWithoutMatchesPrintsNothing) {
  const std::string empty = dir_.file("empty");
  testing::make_dir(empty);
  testing::write_text(empty + "/readme.txt", "x");
  const RunResult r = lumqet({model_option(), empty});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(Lumqet, PathThatNamesNothingGivesUsage) {
  // Checked before the network is looked for.
  const RunResult r = lumqet({"--model-dir=" + dir_.file("none"), dir_.file("missing.jpg")});
  EXPECT_EQ(r.exit_code, 100);
  EXPECT_EQ(r.out, USAGE);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(lumqet({"-R"}).out, USAGE);  // no switches: "-R" is a path that does not exist
}

TEST_F(Lumqet, NoArgumentDoesNothing) {
  const RunResult r = lumqet({"--model-dir=" + dir_.file("none")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
}

TEST_F(Lumqet, UnusableNetworkIsAnErrorNotAScore) {
  ASSERT_TRUE(testing::write_jpeg(dir_.file("p.jpg"), blurred_));
  const std::string photo = dir_.file("p.jpg");

  // Missing.
  RunResult r = lumqet({"--model-dir=" + dir_.file("none"), photo});
  EXPECT_EQ(r.exit_code, ASSESSOR_EXIT_BAD_NETWORK);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(one_line(r.err)) << r.err;
  EXPECT_NE(r.err.find("not found"), std::string::npos) << r.err;

  // Shorter than its header announces: the reader's message, then the error.
  const std::string bad = dir_.file("bad");
  testing::make_dir(bad);
  testing::write_bytes(bad + "/" + NETWORK_FILE_NAME, {30, 0, 0, 0, 15, 0, 0, 0, 1, 0, 0, 0, 7});
  r = lumqet({"--model-dir=" + bad, photo});
  EXPECT_EQ(r.exit_code, ASSESSOR_EXIT_BAD_NETWORK);
  EXPECT_EQ(r.out, "*** read ERROR!\n");
  EXPECT_TRUE(one_line(r.err)) << r.err;

  // A folder in place of the file.
  testing::make_dir(dir_.file("dir") + "/" + NETWORK_FILE_NAME);
  r = lumqet({"--model-dir=" + dir_.file("dir"), photo});
  EXPECT_EQ(r.exit_code, ASSESSOR_EXIT_BAD_NETWORK);
  EXPECT_TRUE(one_line(r.err)) << r.err;

  // More inputs than there are features.
  RandomState rs;
  const std::string wide = dir_.file("wide");
  testing::make_dir(wide);
  ASSERT_EQ(net_save(*net_create(31, 2, 1, 0.1, rs), wide + "/" + NETWORK_FILE_NAME, stdout), 1);
  r = lumqet({"--model-dir=" + wide, photo});
  EXPECT_EQ(r.exit_code, ASSESSOR_EXIT_BAD_NETWORK);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(one_line(r.err)) << r.err;
}

TEST_F(Lumqet, LongOptions) {
  RunResult r = lumqet({"--frobnicate", dir_.path()});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(one_line(r.err)) << r.err;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--seed=12x", dir_.path()}, {"--seed=2147483648"}, {"--seed"},
        {"--model-dir="}, {"--help=yes"}}) {
    r = lumqet(args);
    EXPECT_EQ(r.exit_code, 2) << args[0];
    EXPECT_TRUE(one_line(r.err)) << r.err;
  }

  r = lumqet({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("usage: lumqet", 0), 0u) << r.out;
  r = lumqet({"--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, std::string("lumqet ") + LUMVET_VERSION + "\n");

  // "--" ends the options: what follows is the path.
  testing::make_dir(dir_.file("--odd"));
  r = testing::run_program(testing::built_program("nn/lumqet"), {model_option(), "--", "--odd"},
                           dir_.path());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "");
}

TEST_F(Lumqet, FindsTheShippedNetworkAndIsReproducibleFromASeed) {
  const std::string photos = dir_.file("photos");
  testing::make_dir(photos);
  for (int i = 0; i < 3; ++i) {
    const Bitmap32 sharp = testing::make_textured_bitmap(240, 180, static_cast<std::uint32_t>(i));
    ASSERT_TRUE(testing::write_jpeg(photos + "/s" + std::to_string(i) + ".jpg", sharp));
    ASSERT_TRUE(testing::write_jpeg(photos + "/b" + std::to_string(i) + ".jpg",
                                         testing::box_blurred(sharp, 4, 3)));
  }
  // No --model-dir: the build tree's copy of the network in models/.
  const RunResult first = lumqet({"--seed=2024", photos});
  EXPECT_EQ(first.exit_code, 0) << first.err;
  EXPECT_EQ(first.err, "");
  EXPECT_NE(first.out.find("/6 are blurred\n"), std::string::npos) << first.out;
  const RunResult again = lumqet({"--seed=2024", photos});
  EXPECT_EQ(again.out, first.out);
}

}  // namespace
}  // namespace lumvet
