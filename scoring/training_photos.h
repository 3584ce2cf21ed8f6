// The photographs a trainer learns from, read the same way by every trainer: a
// folder of sharp photos and a folder of blurred ones, every photo read several
// times over, each reading drawing fresh random patches.
//
// The reader decides which photos are read, in what order and how often; the
// trainer decides what a reading measures (a FeatureVector, or features of its
// own) through the function it hands in. So every trainer sees the same photos
// in the same order and names the photos it skips in the same words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace lumvet {

// The photos of the two class folders, as paths "DIR/NAME": names ending in .jpg in
// any letter case, folders left out, in ascending byte order. A folder that cannot
// be listed has none.
struct TrainingPhotos {
  std::vector<std::string> good;  // sharp
  std::vector<std::string> blur;  // blurred
  std::size_t count() const { return good.size() + blur.size(); }
};
TrainingPhotos list_training_photos(const std::string& good_dir, const std::string& blur_dir);

// The cap on the photos of one run: every reading of a photo gives one sample, and
// sample counts are signed 32-bit, so a run reading each photo `readings` times
// takes at most 2147483647 / readings photos (214,748,364 at ten readings). A
// trainer refuses a larger set before reading anything (training_photos_problem).
constexpr std::size_t max_training_photos(std::int32_t readings) {
  return static_cast<std::size_t>(2147483647 / readings);
}

enum class PhotoClass { good, blur };

// Reads one photo for a trainer, drawing from the trainer's RandomState; false when
// the photo cannot be decoded, and then nothing may have been drawn.
using TrainingPhotoReader = std::function<bool(const std::string& path, PhotoClass photo_class)>;

struct TrainingReadings {
  TrainingPhotos decoded;            // the photos that decoded in the first reading, in order
  std::vector<std::string> skipped;  // those that did not, in reading order
};

// Reads the photos `readings` times over: in each reading every good photo and then
// every blur photo, in list order, through `read`. Each reading first prints "."
// to `progress` (no line break; nothing when null). Every reading tries every
// photo, so the draws are those of reading each listed photo in turn; a photo
// that fails in the first reading is recorded in `skipped` (one that does not
// decode once does not decode later either).
TrainingReadings read_training_photos(const TrainingPhotos& photos, std::int32_t readings,
                                      const TrainingPhotoReader& read, std::FILE* progress);

// "too many photos to train on in GOOD/ and BLUR/" when `photos` exceed
// max_training_photos(readings); empty when the set can be read.
std::string training_photos_problem(const TrainingPhotos& photos, std::int32_t readings,
                                    const std::string& good_dir, const std::string& blur_dir);

// "<program>: cannot decode PATH; skipped" on `err` for every skipped photo, after
// flushing `out` so that report and problems keep their order.
void report_skipped_photos(const std::vector<std::string>& skipped, std::string_view program,
                           std::FILE* out, std::FILE* err);

}  // namespace lumvet
