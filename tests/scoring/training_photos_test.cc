// The photo reader of the trainers: which photos, in what order, how often, and
// what is skipped; the trainer's own reading is a stand-in here.
#include "scoring/training_photos.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using Paths = std::vector<std::string>;

TEST(TrainingPhotos, ListedSortedJpgOnlyFoldersLeftOut) {
  testing::ScopedTempDir dir;
  testing::make_dir(dir.file("good"));
  for (const char* name : {"b.jpg", "A.JPG", "c.png", "a.Jpg"}) {
    testing::write_text(dir.file("good/") + name, "x");
  }
  testing::make_dir(dir.file("good/d.jpg"));
  const TrainingPhotos photos = list_training_photos(dir.file("good"), dir.file("missing"));
  const std::string g = dir.file("good/");
  EXPECT_EQ(photos.good, (Paths{g + "A.JPG", g + "a.Jpg", g + "b.jpg"}));
  EXPECT_TRUE(photos.blur.empty());
  EXPECT_EQ(photos.count(), 3u);
}

// Every reading visits every good photo, then every blur photo; what fails in the
// first reading is skipped, named in reading order, and left out of `decoded`.
TEST(TrainingPhotos, ReadingsInOrderSkippedNamedOnce) {
  const TrainingPhotos photos{{"g/1.jpg", "g/bad.jpg"}, {"b/bad.jpg", "b/2.jpg"}};
  Paths visits;
  const auto read = [&](const std::string& path, PhotoClass photo_class) {
    visits.push_back((photo_class == PhotoClass::good ? "+" : "-") + path);
    return path.find("bad") == std::string::npos;
  };
  TrainingReadings readings;
  const std::string dots = testing::capture_output(
      [&](std::FILE* out) { readings = read_training_photos(photos, 3, read, out); });
  EXPECT_EQ(dots, "...");
  const Paths one = {"+g/1.jpg", "+g/bad.jpg", "-b/bad.jpg", "-b/2.jpg"};
  Paths three = one;
  for (int r = 1; r < 3; ++r) three.insert(three.end(), one.begin(), one.end());
  EXPECT_EQ(visits, three);
  EXPECT_EQ(readings.decoded.good, Paths{"g/1.jpg"});
  EXPECT_EQ(readings.decoded.blur, Paths{"b/2.jpg"});
  EXPECT_EQ(readings.skipped, (Paths{"g/bad.jpg", "b/bad.jpg"}));

  const std::string err = testing::capture_output(
      [&](std::FILE* e) { report_skipped_photos(readings.skipped, "trainer", nullptr, e); });
  EXPECT_EQ(
      err,
      "trainer: cannot decode g/bad.jpg; skipped\ntrainer: cannot decode b/bad.jpg; skipped\n");
}

// Sample counts are 32-bit: at ten readings a photo, 214,748,364 photos at most.
TEST(TrainingPhotos, CapFollowsTheReadings) {
  EXPECT_EQ(max_training_photos(10), 214748364u);
  EXPECT_EQ(max_training_photos(1), 2147483647u);
  TrainingPhotos photos;
  photos.good.assign(3, "g.jpg");
  photos.blur.assign(2, "b.jpg");
  EXPECT_EQ(training_photos_problem(photos, 429496729, "G", "B"), "");  // 5 x 429496729 fits
  EXPECT_EQ(training_photos_problem(photos, 429496730, "G", "B"),
            "too many photos to train on in G/ and B/");
}

}  // namespace
}  // namespace lumvet
