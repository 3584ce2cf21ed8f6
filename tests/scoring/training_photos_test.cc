// The trainers' photo lists: which photos, in what order, and how many they may
// take (the readings' order and the photos skipped: svm_training_test).
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
