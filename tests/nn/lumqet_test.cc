// The lumqet program run for real, in temporary folders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "nn/assessor.h"
#include "nn/lumqet_command.h"
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
    const Bitmap32 sharp = testing::make_textured_bitmap(200, 150, 1);
    ASSERT_TRUE(testing::write_jpeg(sharp_, sharp));
    ASSERT_TRUE(testing::write_jpeg(blurred_, testing::box_blurred(sharp, 3, 3)));
  }

  testing::ScopedTempDir dir_;
  const std::string model_ = "--model-dir=" + dir_.file("models");
  const std::string sharp_ = dir_.file("sharp.jpg");
  const std::string blurred_ = dir_.file("blurred.jpg");
};

TEST_F(Lumqet, ScoresAFileOrAFolder) {
  RunResult r = lumqet({model_, blurred_});
  EXPECT_TRUE(testing::ran(r, 0, "100\n", ""));
  EXPECT_EQ(lumqet({model_, sharp_}).out, "0\n");  // -100: anything below 1 prints as 0
  // The value may follow the option as its own argument; later arguments are ignored.
  r = lumqet({"--model-dir", dir_.file("models"), "--seed", "-5", blurred_, "x"});
  EXPECT_EQ(r.out, "100\n");

  // A folder: its blurred .jpg entries, any letter case, sorted; sub/ is not searched;
  // a folder named like a photo scores 0 and counts.
  const std::string photos = dir_.file("photos");
  testing::make_dir(photos);
  testing::make_dir(photos + "/sub");
  testing::make_dir(photos + "/folder.jpg");
  for (const char* name : {"/b_blur.JPG", "/a_blur.jpg", "/sub/deep.jpg"})
    std::filesystem::copy_file(blurred_, photos + name);
  std::filesystem::copy_file(sharp_, photos + "/sharp.Jpg");
  // A trailing '/' gives two in a row, as the paths are built by joining.
  for (const std::string slash : {"", "/"}) {
    r = lumqet({model_, photos + slash});
    EXPECT_TRUE(testing::ran(r, 0,
                             "100\t" + photos + slash + "/a_blur.jpg\n100\t" + photos + slash +
                                 "/b_blur.JPG\n2/4 are blurred\n",
                             ""));
  }
  // Without --model-dir, the shipped network: the manual page's examples.
}

TEST_F(Lumqet, BadPathsAndNetworks) {
  // A path that names nothing: the usage and 100, before the network is looked for.
  const std::string no_network = "--model-dir=" + dir_.file("none");
  RunResult r = lumqet({no_network, dir_.file("missing.jpg")});
  EXPECT_EQ(r.exit_code, 100);
  EXPECT_EQ(r.out,
            "USAGE: lumqet path\nPATH could be a single image to assess or a whole folder of "
            "images\n");
  EXPECT_EQ(r.err, "");
  // No path at all (the network is not even read), or a folder without a .jpg entry:
  // nothing printed.
  testing::make_dir(dir_.file("empty"));
  testing::write_text(dir_.file("empty/notes.txt"), "x");
  for (const auto& args : {std::vector<std::string>{no_network},
                           std::vector<std::string>{model_, dir_.file("empty")}}) {
    r = lumqet(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out + r.err, "");
  }

  // Malformed options, help and version: ProgramStart in train_tests.
}

// A network file is judged before anything is allocated: one that is missing,
// shorter than its header announces (the reader's message first), with more
// inputs than there are features, a sparse file whose size matches 2^28 inputs
// (34 GB of weights, more than memory holds), or with more hidden units or
// outputs than the assessor takes is refused with one line and exit code 3; the
// largest accepted networks still score.
TEST_F(Lumqet, NetworkFilesAreJudgedBeforeLoading) {
  const auto network = [&](const std::string& name) {
    testing::make_dir(dir_.file(name));
    return dir_.file(name + "/") + NETWORK_FILE_NAME;
  };
  const auto save = [&](const std::string& name, std::int32_t inputs, std::int32_t hidden,
                        std::int32_t outputs) {
    ASSERT_EQ(net_save(*net_alloc(inputs, hidden, outputs), network(name), stdout), 1);
  };
  testing::write_bytes(network("short"), {30, 0, 0, 0, 15, 0, 0, 0, 1, 0, 0, 0, 7});
  save("wide", FEATURE_COUNT + 1, 2, 1);
  testing::write_bytes(network("huge"), {0, 0, 0, 16, 15, 0, 0, 0, 1, 0, 0, 0});  // 2^28 inputs
  const std::uint64_t values = ((std::uint64_t{1} << 28) + 1) * 16 + 16 * 2;
  ASSERT_EQ(::truncate(network("huge").c_str(), static_cast<off_t>(12 + 8 * values)), 0);
  save("hidden", FEATURE_COUNT, NETWORK_MAX_HIDDEN + 1, 1);
  save("outputs", FEATURE_COUNT, 2, NETWORK_MAX_OUTPUTS + 1);
  for (const char* name : {"none", "short", "wide", "huge", "hidden", "outputs"}) {
    const RunResult r = lumqet({"--model-dir=" + dir_.file(name), blurred_});
    EXPECT_EQ(r.exit_code, EXIT_BAD_NETWORK) << name;
    EXPECT_EQ(r.out, std::string(name) == "short" ? "*** read ERROR!\n" : "") << name;
    EXPECT_TRUE(one_line(r.err)) << name << ": " << r.err;
  }
  EXPECT_NE(lumqet({"--model-dir=" + dir_.file("huge"), blurred_}).err.find("268435456 inputs"),
            std::string::npos);
  save("most_hidden", FEATURE_COUNT, NETWORK_MAX_HIDDEN, 1);
  save("most_outputs", FEATURE_COUNT, 0, NETWORK_MAX_OUTPUTS);
  for (const char* name : {"most_hidden", "most_outputs"}) {
    EXPECT_TRUE(
        testing::ran(lumqet({"--model-dir=" + dir_.file(name), blurred_}), EXIT_DONE, "0\n", ""))
        << name;
  }
}

}  // namespace
}  // namespace lumvet
