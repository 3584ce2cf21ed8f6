#include "scoring/training_photos.h"

#include "platform/platform.h"
#include "platform/program_start.h"

namespace lumvet {

namespace {

std::vector<std::string> photo_paths(const std::string& dir) {
  std::vector<std::string> paths = platform::list_jpg_files(dir);
  for (std::string& p : paths) p = dir + "/" + p;
  return paths;
}

}  // namespace

TrainingPhotos list_training_photos(const std::string& good_dir, const std::string& blur_dir) {
  TrainingPhotos photos;
  photos.good = photo_paths(good_dir);
  photos.blur = photo_paths(blur_dir);
  return photos;
}

TrainingReadings read_training_photos(const TrainingPhotos& photos, std::int32_t readings,
                                      const TrainingPhotoReader& read, std::FILE* progress) {
  TrainingReadings result;
  for (std::int32_t r = 0; r < readings; ++r) {
    if (progress != nullptr) {
      std::fputs(".", progress);
      std::fflush(progress);
    }
    for (const PhotoClass photo_class : {PhotoClass::good, PhotoClass::blur}) {
      const bool good = photo_class == PhotoClass::good;
      for (const std::string& path : good ? photos.good : photos.blur) {
        const bool decoded = read(path, photo_class);
        if (r != 0) continue;
        if (decoded) {
          (good ? result.decoded.good : result.decoded.blur).push_back(path);
        } else {
          result.skipped.push_back(path);
        }
      }
    }
  }
  return result;
}

std::string training_photos_problem(const TrainingPhotos& photos, std::int32_t readings,
                                    const std::string& good_dir, const std::string& blur_dir) {
  if (photos.count() <= max_training_photos(readings)) return "";
  return "too many photos to train on in " + good_dir + "/ and " + blur_dir + "/";
}

void report_skipped_photos(const std::vector<std::string>& skipped, std::string_view program,
                           std::FILE* out, std::FILE* err) {
  for (const std::string& path : skipped) {
    report_problem(out, err, program, "cannot decode " + path + "; skipped");
  }
}

}  // namespace lumvet
