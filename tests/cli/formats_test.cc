// The real lumvet program on WebP, HEIC and camera raw files: a single file is
// recognised by its content and scored like any image, whatever its name.
#include <gtest/gtest.h>

#include "cli/output.h"
#include "imaging/imaging.h"
#include "scoring/file_scoring.h"
#include "scoring/model_file.h"
#include "tests/support/format_files.h"
#include "tests/support/image_files.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

TEST(Formats, SingleWebpAndHeifFilesAreScored) {
  testing::ScopedTempDir tmp;
  const Bitmap32 picture = testing::make_test_bitmap(160, 120, [](int i, int j, std::uint8_t* p) {
    p[0] = p[1] = p[2] = static_cast<std::uint8_t>(((i / 6 + j / 6) % 2) * 150 + (i * j) % 40);
  });
  const testing::RgbaImage rgba = testing::rgba_of(picture, false);
  testing::write_bytes(tmp.file("photo.webp"), testing::webp_bytes(rgba, false, false));
  testing::write_bytes(tmp.file("photo"),
                       testing::heif_bytes(rgba, false, testing::HeifCodec::hevc));
  start_imaging_library();
  SvmModel model;
  init_embedded_model(model);
  for (const char* name : {"photo.webp", "photo"}) {
    const std::string path = tmp.file(name);
    RandomState rs{21};
    const FileScore expected = score_image_file_checked(model, path, FEATURE_SCALE, rs);
    ASSERT_TRUE(expected.decoded) << name;
    const testing::RunResult r = testing::run_program(testing::built_program("cli/lumvet"),
                                                      {"--seed=21", "--format=tsv", path});
    EXPECT_EQ(r.exit_code, 0) << name;
    EXPECT_EQ(r.out, std::string(TSV_HEADER) + tsv_record(path, expected)) << name;
    EXPECT_EQ(r.err, "") << name;
  }
  release_svm_model(model);
}

// --raw chooses the picture of a camera raw file, and a JSON Lines record says
// which was scored; other files' records are as they always were.
TEST(Formats, RawOptionAndItsJsonlField) {
  testing::ScopedTempDir tmp;
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

  start_imaging_library();
  SvmModel model;
  init_embedded_model(model);
  const auto lumvet = [](const std::vector<std::string>& args) {
    return testing::run_program(testing::built_program("cli/lumvet"), args);
  };
  // What the scorer gives from one seed, each file after the other.
  const auto records = [&](RawMode mode, const std::vector<std::string>& paths) {
    RandomState rs{3};
    std::string out;
    for (const std::string& path : paths) {
      out += json_record(path, score_image_file_checked(model, path, FEATURE_SCALE, rs,
                                                        DecodeOptions{mode}, nullptr));
    }
    return out;
  };
  for (const RawMode mode : {RawMode::preview, RawMode::develop}) {
    const std::string name = raw_mode_name(mode);
    std::vector<std::string> args = {"--seed=3", "--format=jsonl", dng};
    if (mode == RawMode::develop) args.push_back("--raw=develop");
    testing::RunResult r = lumvet(args);
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
  const testing::RunResult r = lumvet({"--raw=full", dng});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "lumvet: invalid value for --raw: 'full'\n");
  release_svm_model(model);
}

}  // namespace
}  // namespace lumvet
