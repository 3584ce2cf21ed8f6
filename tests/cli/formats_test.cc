// The real lumvet program on camera raw files: --raw chooses the picture, and a
// JSON Lines record says which was scored; other files' records are as they
// always were.
#include <gtest/gtest.h>

#include "tests/cli/cli_support.h"
#include "tests/support/format_files.h"

namespace lumvet {
namespace {

TEST(Formats, RawOptionAndItsJsonlField) {
  ScopedTempDir tmp;
  const Bitmap32 picture = testing::make_test_bitmap(120, 90, [](int i, int j, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(40 + (i * 3 + j) % 150);
    p[1] = static_cast<std::uint8_t>(60 + ((i / 8 + j / 8) % 2) * 120);
    p[2] = static_cast<std::uint8_t>(30 + (j * 5) % 200);
  });
  ASSERT_TRUE(testing::write_jpeg(tmp.file("preview.jpg"), picture));
  const std::string dng = tmp.file("shot.dng");
  ASSERT_TRUE(testing::write_dng(dng, 120, 90, testing::cfa_mosaic(picture, 4095), 4095,
                                 testing::read_bytes(tmp.file("preview.jpg")), 120, 90));
  testing::make_dir(tmp.file("folder"));
  testing::write_bytes(tmp.file("folder/a.jpg"), testing::read_bytes(dng));
  testing::write_bytes(tmp.file("folder/b.jpg"), testing::read_bytes(tmp.file("preview.jpg")));

  // What the scorer gives from one seed, each file after the other.
  const auto records = [&](RawMode mode, const std::vector<Entry>& paths) {
    ChainedScorer scorer(3);
    return expected(paths, OutputFormat::jsonl, [&](const std::string& path) {
      return score_image_file_checked(scorer.model, path, FEATURE_SCALE, scorer.rs,
                                      DecodeOptions{mode}, nullptr);
    });
  };
  for (const RawMode mode : {RawMode::preview, RawMode::develop}) {
    const std::string name = raw_mode_name(mode);
    Args args = {"--seed=3", "--format=jsonl", dng};
    if (mode == RawMode::develop) args.push_back("--raw=develop");
    RunResult r = lumvet(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, records(mode, {dng}));
    EXPECT_NE(r.out.find("\"decoded\":true,\"raw\":\"" + name + "\"}"), std::string::npos) << r.out;
    // A folder on two threads; the JPEG's record has no raw field.
    r = lumvet({"--seed=3", "--format=jsonl", "--jobs=2", "--raw=" + name, tmp.file("folder")});
    EXPECT_EQ(r.out, records(mode, {tmp.file("folder/a.jpg"), tmp.file("folder/b.jpg")}));
    EXPECT_EQ(r.out.find("\"raw\"", r.out.find('\n')), std::string::npos);
    // The sharpness assessor reads the same picture.
    r = lumvet({"--assessor=sharpness", "--format=jsonl", "--raw=" + name, dng});
    EXPECT_NE(r.out.find("\"raw\":\"" + name + "\"}"), std::string::npos) << r.out;
  }
  const RunResult r = lumvet({"--raw=full", dng});
  EXPECT_TRUE(testing::ran(r, 2, "", "lumvet: invalid value for --raw: 'full'\n"));
}

}  // namespace
}  // namespace lumvet
