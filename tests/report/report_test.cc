// The report without a browser: evidence that leaves every score and draw as
// it was, the same folder for every --jobs, a data block that no name can break
// out of, the images' geometry, and the folder's failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <nlohmann/json.hpp>

#include "cli/parallel_scan.h"
#include "imaging/imaging.h"
#include "platform/platform.h"
#include "platform/text_coding.h"
#include "report/evidence.h"
#include "report/report.h"
#include "scoring/file_scoring.h"
#include "scoring/linear_model.h"
#include "sharpness/sharpness_model.h"
#include "tests/report/report_support.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::RunResult;
using testing::ScopedTempDir;

TEST(ReportEvidence, ContrastScoresAndDrawsAreUnchanged) {
  SvmModel model;
  init_embedded_model(model);
  for (const std::string& photo : sample_photos()) {
    RandomState plain_rs{12345}, report_rs{12345}, patch_rs{12345};
    const FileScore plain = score_contrast_photo(model, photo, plain_rs, false);
    const FileScore with = score_contrast_photo(model, photo, report_rs, true);
    EXPECT_EQ(with.score, plain.score) << photo;
    EXPECT_EQ(report_rs.value, plain_rs.value) << photo;
    EXPECT_EQ(plain.evidence, nullptr);
    ASSERT_NE(with.evidence, nullptr) << photo;
    EXPECT_FALSE(with.evidence->thumbnail_jpeg.empty());
    EXPECT_FALSE(with.evidence->crop_jpeg.empty());

    // The evidence holds the very deviations that made the score, and the
    // deciding patch is the one with the highest.
    PatchEvidence patches;
    const FileScore again =
        score_image_file_with_evidence(model, photo, FEATURE_SCALE, patch_rs, patches);
    FeatureVector draw[2];
    for (int k = 0; k < 2 * FEATURE_COUNT; ++k) {
      draw[k / FEATURE_COUNT][static_cast<std::size_t>(k % FEATURE_COUNT)] =
          patches.deviation[static_cast<std::size_t>(k)];
    }
    EXPECT_EQ(average_draw_scores(score_features(model, draw[0], FEATURE_SCALE),
                                  score_features(model, draw[1], FEATURE_SCALE)),
              again.score);
    const auto best = std::max_element(patches.deviation.begin(), patches.deviation.end()) -
                      patches.deviation.begin();
    const PhotoRect& k = with.evidence->deciding;
    EXPECT_EQ(k.x, patches.x[static_cast<std::size_t>(best)]);
    EXPECT_EQ(k.y, patches.y[static_cast<std::size_t>(best)]);
    EXPECT_EQ(k.width, patches.side);
    // Pictures from the frame the scoring decode kept: the crop is the very
    // pixels that a partial decode of the file gives.
    const auto decoded = contrast_evidence(photo, patches, nullptr);
    EXPECT_EQ(with.evidence->crop_jpeg, decoded->crop_jpeg) << photo;
    EXPECT_NEAR(with.evidence->thumbnail_width, decoded->thumbnail_width, 1) << photo;
  }
  release_svm_model(model);
}

TEST(ReportEvidence, SharpnessScoresAreUnchangedAndTheSteepestTileDecides) {
  const SharpnessModel model = embedded_sharpness_model();
  for (const std::string& photo : sample_photos()) {
    const FileScore plain = score_sharpness_photo(model, photo, false);
    const FileScore with = score_sharpness_photo(model, photo, true);
    EXPECT_EQ(with.score, plain.score) << photo;
    ASSERT_NE(with.evidence, nullptr) << photo;
    const SharpnessResult r = assess_sharpness_file(photo, model);
    const PhotoRect& k = with.evidence->deciding;
    EXPECT_EQ(k.x, r.measure.sharpest.x);
    EXPECT_EQ(k.y, r.measure.sharpest.y);
    EXPECT_EQ(k.width, SLOPE_TILE);
    // The crop contains the tile.
    const PhotoRect& c = with.evidence->crop;
    EXPECT_LE(c.x, k.x);
    EXPECT_LE(c.y, k.y);
    EXPECT_GE(c.x + c.width, k.x + k.width);
    EXPECT_GE(c.y + c.height, k.y + k.height);
    EXPECT_LE(with.evidence->regions_json.size(), 6000u) << "bounded per photo";
    SlopeMap map;
    const auto decoded =
        sharpness_evidence(photo, assess_sharpness_file(photo, model, {}, &map), map, nullptr);
    EXPECT_EQ(with.evidence->crop_jpeg, decoded->crop_jpeg) << photo;
    EXPECT_NEAR(with.evidence->thumbnail_height, decoded->thumbnail_height, 1) << photo;
  }
}

TEST(ReportEvidence, SlopeMapIsBoundedAndKeepsTheSteepestTile) {
  const SharpnessModel model = embedded_sharpness_model();
  const std::string photo = sample_photos().front();
  SlopeMap map;
  const SharpnessResult r = assess_sharpness_file(photo, model, {}, &map);
  EXPECT_EQ(r.score, assess_sharpness_file(photo, model).score);
  ASSERT_GT(map.cols, 0);
  EXPECT_LE(map.cols, SLOPE_MAP_MAX_CELLS);
  EXPECT_LE(map.rows, SLOPE_MAP_MAX_CELLS);
  EXPECT_GE(map.cols * map.cell_width, r.width - 2 - SLOPE_TILE);
  const TileRegion& t = r.measure.sharpest;
  const float at = map.value[static_cast<std::size_t>(t.y / map.cell_height * map.cols +
                                                      (t.x - map.origin_x) / map.cell_width)];
  EXPECT_EQ(at, *std::max_element(map.value.begin(), map.value.end()));
}

TEST(ReportImages, CropIsCentredOnTheRegionAndStaysInTheFrame) {
  const PhotoRect corner = crop_around({3990, 2990, 10, 10}, 4000, 3000);
  EXPECT_EQ(corner.x, 4000 - CROP_SIZE);
  EXPECT_EQ(corner.y, 3000 - CROP_SIZE);
  const PhotoRect small = crop_around({5, 5, 10, 10}, 100, 300);
  EXPECT_EQ(small.x, 0);
  EXPECT_EQ(small.width, 100);
  EXPECT_EQ(small.height, CROP_SIZE);
  const PhotoRect none = crop_around({}, 1000, 1000);
  EXPECT_EQ(none.x, 500 - CROP_SIZE / 2);
  EXPECT_EQ(none.y, 500 - CROP_SIZE / 2);
}

// The crop comes from a partial decode (libjpeg skips the rows above and the
// columns beside it): its pixels are the full decode's.
TEST(ReportImages, RegionDecodeEqualsTheFullDecode) {
  for (const std::string& photo : sample_photos()) {
    const std::optional<Bitmap32> full = load_bitmap32(photo);
    ASSERT_TRUE(full.has_value());
    for (const PhotoRect r : {PhotoRect{0, 0, 256, 256}, PhotoRect{333, 517, 256, 200},
                              PhotoRect{full->width - 100, full->height - 50, 256, 256}}) {
      const std::optional<Bitmap32> part = decode_image_region(photo, r.x, r.y, r.width, r.height);
      ASSERT_TRUE(part.has_value()) << photo;
      const std::int32_t w = std::min(r.width, full->width - r.x);
      const std::int32_t h = std::min(r.height, full->height - r.y);
      ASSERT_EQ(part->width, w);
      ASSERT_EQ(part->height, h);
      for (std::int32_t y = 0; y < h; ++y) {
        ASSERT_EQ(0, std::memcmp(part->row(y), full->row(r.y + y) + 4 * r.x, part->stride()))
            << photo << " row " << r.y + y;
      }
    }
  }
  EXPECT_FALSE(decode_image_region(sample_photos().front(), 1 << 20, 0, 10, 10).has_value());
}

TEST(ReportImages, PreviewFitsTheBoxAndKeepsTheShape) {
  for (const std::string& photo : sample_photos()) {
    ImageSize full;
    const std::optional<Bitmap32> small = decode_image_preview(photo, 256, 256, full);
    ASSERT_TRUE(small.has_value()) << photo;
    const std::optional<Bitmap32> whole = load_bitmap32(photo);
    EXPECT_EQ(full.width, whole->width);
    EXPECT_EQ(full.height, whole->height);
    // Shrunk from a scaled decode, whose own rounding may move a side by one.
    const ImageSize fitted = shrink_geometry(full.width, full.height, 256, 256);
    EXPECT_LE(small->width, 256);
    EXPECT_LE(small->height, 256);
    EXPECT_NEAR(small->width, fitted.width, 1) << photo;
    EXPECT_NEAR(small->height, fitted.height, 1) << photo;
  }
}

TEST(ReportPage, DataBlockCannotEndTheScriptAndKeepsTheExactBytes) {
  ReportWriter report;
  report.assessor = "sharpness";
  report.threshold = 50;
  const std::vector<std::string> paths = {
      "a b/\"quoted\" 'single'.jpg",  "x</script><script>window.pwned=1</script>.jpg",
      "<!-- & &amp; <b>bold</b>.jpg", "line\xe2\x80\xa8sep\xe2\x80\xa9.jpg",
      "bad\xff\xfe utf8 \xc3.jpg",    "caf\xc3\xa9 \xf0\x9f\x93\xb7.jpg"};
  for (const std::string& p : paths) report.entries.push_back({p, 60, true, false, {}});
  const std::string json = report_data_json(report);
  for (const char c : json) {
    EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "only printable ASCII in the block";
    EXPECT_TRUE(c != '<' && c != '>' && c != '&');
  }
  const nlohmann::json data = nlohmann::json::parse(json);
  ASSERT_EQ(data["photos"].size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const nlohmann::json& p = data["photos"][i];
    if (is_valid_utf8(paths[i])) {
      EXPECT_EQ(p["p"], paths[i]);
      EXPECT_FALSE(p.contains("b"));
    } else {
      EXPECT_EQ(p["b"], base64_encode(paths[i]));
      EXPECT_NE(p["p"].get<std::string>().find("\xef\xbf\xbd"), std::string::npos);
    }
  }
  // The page is the template with the marker replaced, nothing else.
  const std::string page = report_page(report);
  const std::string_view tmpl = report_page_template();
  const std::size_t at = tmpl.find("/*LUMVET-DATA*/");
  ASSERT_NE(at, std::string_view::npos);
  EXPECT_EQ(tmpl.find("/*LUMVET-DATA*/", at + 1), std::string_view::npos);
  EXPECT_EQ(page, std::string(tmpl.substr(0, at)) + json + std::string(tmpl.substr(at + 15)));
}

TEST(ReportPage, FetchesNothingFromTheNetwork) {
  const std::string_view page = report_page_template();
  for (const char* needle : {"http:", "https:", "//cdn", "@import", "url(", "fetch(", "XMLHttp"}) {
    EXPECT_EQ(page.find(needle), std::string_view::npos) << needle;
  }
}

// The report is made of the sink's records: the same folder for every --jobs,
// and the program's own output as without it.
TEST(ReportRun, SameReportForEveryJobCountAndTheSameOutput) {
  for (const std::vector<std::string>& assessor :
       {std::vector<std::string>{"--seed=42"}, std::vector<std::string>{"--assessor=sharpness"}}) {
    ScopedTempDir tmp;
    std::vector<std::string> base = assessor;
    base.push_back("--jobs=1");
    base.push_back(SAMPLES_DIR);
    const RunResult plain = lumvet(base);
    std::map<std::string, std::vector<std::uint8_t>> first;
    for (const char* jobs : {"--jobs=1", "--jobs=3"}) {
      std::vector<std::string> args = assessor;
      args.push_back(jobs);
      args.push_back("--report=" + tmp.file(jobs));
      args.push_back(SAMPLES_DIR);
      const RunResult r = lumvet(args);
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_EQ(r.out, plain.out);
      const auto files = folder_files(tmp.file(jobs));
      EXPECT_EQ(files.size(), 1 + 3 * sample_photos().size());
      if (first.empty()) {
        first = files;
      } else {
        EXPECT_TRUE(files == first) << "the report differs between job counts";
      }
    }
    // A few tens of kilobytes per photo.
    std::size_t bytes = 0;
    for (const auto& [name, content] : first) bytes += content.size();
    EXPECT_LT(bytes / sample_photos().size(), 60u * 1024);
  }
}

TEST(ReportRun, OneFileAndEveryFormat) {
  ScopedTempDir tmp;
  const std::string photo = sample_photos().front();
  const RunResult plain = lumvet({"--seed=5", "--format=jsonl", photo});
  const RunResult r = lumvet({"--seed=5", "--format=jsonl", "--report=" + tmp.file("r"), photo});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, plain.out);
  const nlohmann::json data = report_data(tmp.file("r"));
  ASSERT_EQ(data["photos"].size(), 1u);
  EXPECT_EQ(data["photos"][0]["p"], photo);
  EXPECT_EQ(data["photos"][0]["s"], nlohmann::json::parse(r.out)["score"]);
  EXPECT_EQ(data["assessor"], "contrast");
  EXPECT_EQ(data["threshold"], 10);
}

TEST(ReportRun, UndecodablePhotosAreListedWithoutPictures) {
  ScopedTempDir tmp;
  testing::make_dir(tmp.file("in"));
  testing::write_text(tmp.file("in/broken.jpg"), "not a photo");
  const RunResult r = lumvet({"--report=" + tmp.file("r"), tmp.file("in")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const nlohmann::json photo = report_data(tmp.file("r"))["photos"][0];
  EXPECT_EQ(photo["d"], false);
  EXPECT_FALSE(photo.contains("t"));
  EXPECT_EQ(folder_files(tmp.file("r")).size(), 1u);
}

TEST(ReportRun, AFolderThatCannotBeMadeStopsBeforeScoring) {
  ScopedTempDir tmp;
  testing::write_text(tmp.file("file"), "x");
  const RunResult r = lumvet({"--report=" + tmp.file("file") + "/sub", SAMPLES_DIR});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("lumvet: cannot create report folder"), std::string::npos) << r.err;
  const RunResult missing = lumvet({"--report", SAMPLES_DIR});
  EXPECT_EQ(missing.exit_code, 100);  // the folder became the option's value
}

}  // namespace
}  // namespace lumvet
