// The real lumvet program on a WebP and a HEIC file: a single file is recognised
// by its content and scored like any image, whatever its name.
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

}  // namespace
}  // namespace lumvet
