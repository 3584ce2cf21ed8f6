// The sharpness assessor through the real programs: lumvet --assessor=sharpness
// on folders of made-up photos, its model files, lumvet-train's sharpness
// model, and the default assessor's output, which the new option leaves alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "sharpness/sharpness_model.h"
#include "tests/sharpness/synthetic.h"
#include "tests/support/image_files.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::RunResult;
using testing::ScopedTempDir;
using Args = std::vector<std::string>;

RunResult lumvet(const Args& args, const std::string& cwd = "") {
  return testing::run_program(testing::built_program("cli/lumvet"), args, cwd);
}

RunResult lumvet_train(const Args& args) {
  return testing::run_program(testing::built_program("train/lumvet-train"), args);
}

// Score per path of a TSV listing, with the status appended to undecodable ones.
std::map<std::string, std::string> tsv_scores(const std::string& tsv) {
  std::map<std::string, std::string> scores;
  std::istringstream lines(tsv);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "score\tstatus\tpath");
  while (std::getline(lines, line)) {
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = line.find('\t', tab1 + 1);
    const std::string status = line.substr(tab1 + 1, tab2 - tab1 - 1);
    scores[line.substr(tab2 + 1)] = line.substr(0, tab1) + (status == "ok" ? "" : " " + status);
  }
  return scores;
}

int score_of(const std::map<std::string, std::string>& scores, const std::string& path) {
  const auto it = scores.find(path);
  EXPECT_NE(it, scores.end()) << path;
  return it == scores.end() ? -1 : std::stoi(it->second);
}

// Three textured photos and their blurred copies, a flat picture and a file
// that is not a picture.
void write_mixed_folder(const std::string& dir) {
  testing::make_dir(dir);
  for (std::uint32_t i = 0; i < 3; ++i) {
    const Bitmap32 sharp = testing::make_textured_bitmap(160 + 16 * i, 120, i + 1);
    ASSERT_TRUE(testing::write_jpeg(dir + "/sharp_" + std::to_string(i) + ".jpg", sharp));
    ASSERT_TRUE(testing::write_jpeg(dir + "/blur_" + std::to_string(i) + ".jpg",
                                    testing::box_blurred(sharp, 2, 2)));
  }
  ASSERT_TRUE(testing::write_jpeg(dir + "/flat.jpg",
                                  testing::luma_to_bitmap(testing::make_flat(160, 120, 140))));
  testing::write_text(dir + "/broken.jpg", "not a picture\n");
}

// A photo's score depends on its pixels only: the same for every number of
// jobs, in any folder, among any other photos, and scanned alone.
TEST(SharpnessProgram, ScoresDependOnThePhotoAlone) {
  ScopedTempDir tmp;
  const std::string a = tmp.file("a");
  write_mixed_folder(a);

  const Args tsv = {"--assessor=sharpness", "--format=tsv"};
  auto run = [](Args args, const Args& more = {}) {
    args.insert(args.end(), more.begin(), more.end());
    const RunResult r = lumvet(args);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    return r;
  };
  const RunResult one = run(tsv, {"--jobs=1", a});
  EXPECT_EQ(one.err, "");
  EXPECT_EQ(run(tsv, {"--jobs=3", a}).out, one.out);
  EXPECT_EQ(run(tsv, {a}).out, one.out);

  const std::map<std::string, std::string> scores = tsv_scores(one.out);
  ASSERT_EQ(scores.size(), 8u) << one.out;
  EXPECT_EQ(scores.at(a + "/broken.jpg"), "0 undecodable");
  EXPECT_EQ(scores.at(a + "/flat.jpg"), "50");
  for (int i = 0; i < 3; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_LT(score_of(scores, a + "/sharp_" + n + ".jpg"), SHARPNESS_LIST_THRESHOLD) << n;
    EXPECT_GT(score_of(scores, a + "/blur_" + n + ".jpg"), SHARPNESS_LIST_THRESHOLD) << n;
  }

  // The same photos under other names, in another order, among other photos,
  // one folder down: the same scores, and -R reaches them on any number of jobs.
  const std::string b = tmp.file("b");
  testing::make_dir(b);
  testing::make_dir(b + "/inner");
  const std::pair<std::string, std::string> moves[] = {{"sharp_0.jpg", "/inner/zz.jpg"},
                                                       {"blur_1.jpg", "/aa.jpg"},
                                                       {"sharp_2.jpg", "/inner/0.jpg"},
                                                       {"blur_2.jpg", "/mm.jpg"}};
  for (const auto& [from, to] : moves) {
    testing::write_bytes(b + to, testing::read_bytes(a + "/" + from));
  }
  ASSERT_TRUE(
      testing::write_jpeg(b + "/inner/other.jpg", testing::make_textured_bitmap(200, 150, 9)));
  const RunResult recursive = run(tsv, {"--jobs=1", "-R", b});
  EXPECT_EQ(run(tsv, {"--jobs=3", "-R", b}).out, recursive.out);
  const std::map<std::string, std::string> moved = tsv_scores(recursive.out);
  for (const auto& [from, to] : moves) {
    EXPECT_EQ(moved.at(b + to), scores.at(a + "/" + from)) << from;
    // Scanned alone, the photo prints the same score.
    EXPECT_EQ(run(tsv, {b + to}).out,
              "score\tstatus\tpath\n" + moved.at(b + to) + "\tok\t" + b + to + "\n");
  }

  // The file that does not decode counts as examined, as with the default
  // assessor (the text listing itself: the README's and manual's examples).
  const RunResult everything = run({"--assessor=sharpness", "--threshold=-1", a});
  EXPECT_NE(everything.out.find("8/8 are somewhat blurred\n"), std::string::npos) << everything.out;
}

// Model files for the sharpness assessor: a file that is not one is refused
// with one line and exit 2 before anything is scored (every reason's wording:
// model_file_test); so is a sharpness model given to the contrast assessor.
TEST(SharpnessProgram, UnusableModelFilesAreRefused) {
  ScopedTempDir tmp;
  const std::string photo = tmp.file("photo.jpg");
  ASSERT_TRUE(testing::write_jpeg(photo, testing::make_textured_bitmap(160, 120, 3)));
  const std::vector<std::uint8_t> model = encode_sharpness_model(embedded_sharpness_model());
  testing::write_bytes(tmp.file("short.lvsm"), {model.begin(), model.begin() + 10});
  testing::write_bytes(tmp.file("contrast.svm"), std::vector<std::uint8_t>(252, 0));
  testing::write_bytes(tmp.file("good.lvsm"), model);

  const std::pair<Args, std::string> cases[] = {
      {{"--assessor=sharpness", "--model=" + tmp.file("short.lvsm"), photo},
       "model file " + tmp.file("short.lvsm") + " is not a sharpness model file"},
      {{"--assessor=sharpness", "--model=" + tmp.file("contrast.svm"), tmp.path()},
       "model file " + tmp.file("contrast.svm") + " is not a sharpness model file"},
      {{"--assessor=sharpness", "--model=" + tmp.file("none.lvsm"), photo},
       "cannot read model file " + tmp.file("none.lvsm")},
      {{"--assessor=blur", photo}, "invalid value for --assessor: 'blur'"},
  };
  for (const auto& [args, message] : cases) {
    const RunResult r = lumvet(args);
    EXPECT_TRUE(testing::ran(r, 2, "", "lumvet: " + message + "\n")) << message;
  }
  // A sharpness model is no model for the contrast assessor.
  const RunResult contrast = lumvet({"--model=" + tmp.file("good.lvsm"), photo});
  EXPECT_EQ(contrast.exit_code, 2);
  EXPECT_EQ(contrast.out, "");
  EXPECT_EQ(contrast.err.rfind("lumvet: model file " + tmp.file("good.lvsm") + " ", 0), 0u);
  EXPECT_EQ(std::count(contrast.err.begin(), contrast.err.end(), '\n'), 1) << contrast.err;
  // The shipped model from a file scores as the built-in one.
  EXPECT_EQ(lumvet({"--assessor=sharpness", "--model=" + tmp.file("good.lvsm"), photo}).out,
            lumvet({"--assessor=sharpness", photo}).out);
}

// lumvet-train --assessor=sharpness writes a model that lumvet takes and that
// tells the photos it learnt from apart; a photo without edges is named and left
// out. (The report's wording: the README's example; the same bytes from the same
// photos: training_test.)
TEST(SharpnessProgram, TrainedModelIsAccepted) {
  ScopedTempDir tmp;
  const std::string good = tmp.file("good"), blur = tmp.file("blur");
  testing::write_photo_folders(good, blur, 4, 144, 112);
  ASSERT_TRUE(testing::write_jpeg(good + "/sky.jpg",
                                  testing::luma_to_bitmap(testing::make_flat(144, 112, 200))));
  testing::make_dir(tmp.file("m"));
  const RunResult r = lumvet_train({"--assessor=sharpness", "--seed=1", "--good=" + good,
                                    "--blur=" + blur, "--model-dir=" + tmp.file("m")});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "lumvet-train: " + good + "/sky.jpg shows too few edges to measure; skipped\n");
  const RunResult scored = lumvet({"--assessor=sharpness", "--format=tsv",
                                   "--model=" + tmp.file("m/sharpness.lvsm"), "-R", tmp.path()});
  ASSERT_EQ(scored.exit_code, 0) << scored.err;
  const std::map<std::string, std::string> scores = tsv_scores(scored.out);
  for (int i = 0; i < 4; ++i) {
    const std::string n = std::to_string(i);
    EXPECT_LT(score_of(scores, good + "/sharp_" + n + ".jpg"), SHARPNESS_LIST_THRESHOLD) << n;
    EXPECT_GT(score_of(scores, blur + "/blur_" + n + ".jpg"), SHARPNESS_LIST_THRESHOLD) << n;
  }
}

// The option changes nothing for the default assessor: with and without
// --assessor=contrast the bundled samples print the same, draw for draw.
TEST(SharpnessProgram, DefaultAssessorIsUnchanged) {
  const std::string source = LUMVET_SOURCE_DIR;
  for (const Args& args :
       {Args{"--seed=1", "--format=tsv", "samples"}, Args{"--seed=7", "--jobs=2", "samples"},
        Args{"--seed=1", "samples/wine_room.jpg"}}) {
    const RunResult plain = lumvet(args, source);
    ASSERT_EQ(plain.exit_code, 0) << plain.err;
    Args contrast = args;
    contrast.insert(contrast.begin(), "--assessor=contrast");
    EXPECT_EQ(lumvet(contrast, source).out, plain.out) << args.front();
    Args last_wins = args;
    last_wins.insert(last_wins.begin(), {"--assessor=sharpness", "--assessor=contrast"});
    EXPECT_EQ(lumvet(last_wins, source).out, plain.out) << args.front();
  }
}

}  // namespace
}  // namespace lumvet
