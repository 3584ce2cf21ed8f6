#include "scoring/file_scoring.h"

#include <optional>

#include "imaging/imaging.h"
#include "scoring/features.h"

namespace lumvet {

namespace {

// The scorer's acceptance test on top of load_bitmap32's: an image whose patches
// cannot fit is refused like an undecodable file, before anything is drawn, so
// that it changes no later image's patches.
std::optional<Bitmap32> load_measurable_bitmap(const std::string& path) {
  std::optional<Bitmap32> bitmap = load_bitmap32(path);
  if (bitmap && !image_is_measurable(bitmap->width, bitmap->height)) bitmap.reset();
  return bitmap;
}

}  // namespace

FileScore score_image_file_checked(const SvmModel& model, const std::string& path, double scale,
                                   RandomState& rs) {
  FileScore result;
  const std::optional<Bitmap32> bitmap = load_measurable_bitmap(path);
  if (!bitmap) return result;
  // The second draw continues the generator where the first left it.
  const std::int32_t s1 = score_bitmap(model, *bitmap, scale, rs);
  const std::int32_t s2 = score_bitmap(model, *bitmap, scale, rs);
  result.score = average_draw_scores(s1, s2);
  result.decoded = true;
  return result;
}

std::int32_t score_image_file(const SvmModel& model, const std::string& path, double scale,
                              RandomState& rs) {
  return score_image_file_checked(model, path, scale, rs).score;
}

bool extract_file_features(const std::string& path, FeatureVector& features, RandomState& rs) {
  const std::optional<Bitmap32> bitmap = load_measurable_bitmap(path);
  return bitmap && extract_patch_features(*bitmap, features, rs);
}

}  // namespace lumvet
