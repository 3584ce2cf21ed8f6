#include "scoring/file_scoring.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "imaging/imaging.h"
#include "platform/platform.h"
#include "scoring/features.h"
#include "scoring/patch_stream.h"

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

// What one thread keeps from image to image: the patch luminance buffers and the
// rolling row buffer, allocated (and zero-filled by the system) once rather than
// for every image.
struct MeasureScratch {
  LuminanceBuffers luminances;
  std::vector<std::uint8_t> rows;
};

// Rows of a decode go straight into the patch statistics. The placements are
// drawn, from a copy of the caller's RandomState, once the size is known, and the
// rows live in a rolling buffer of IMAGE_ROW_BATCH rows.
//
// Every row of that buffer starts 16 bytes past a 32-byte boundary. libjpeg-turbo
// writes colour-converted rows that start on a 32-byte boundary with
// non-temporal stores, which send them past the caches to memory; the patch
// statistics read them back at once, and from memory that takes several times
// longer than from the cache.
class PatchMeasuringSink : public ImageRowSink {
 public:
  PatchMeasuringSink(RandomState start, int draws, MeasureScratch& scratch,
                     KeptFrame* keep = nullptr)
      : rs_(start), draws_(draws), scratch_(scratch), keep_(keep) {}

  bool begin(std::int32_t width, std::int32_t height) override {
    // Refused exactly where the plain path refuses after its decode.
    if (!image_is_measurable(width, height)) return false;
    width_ = width;
    height_ = height;
    for (int d = 0; d < draws_; ++d) {
      placements_.push_back(draw_patch_placement(width, height, rs_));
    }
    feeder_.emplace(width, height, placements_, &scratch_.luminances);
    pitch_ = (static_cast<std::size_t>(width) * 4 + 31) / 32 * 32;
    const std::size_t size = pitch_ * IMAGE_ROW_BATCH + 48;
    if (scratch_.rows.size() < size) scratch_.rows.resize(size);
    const auto address = reinterpret_cast<std::uintptr_t>(scratch_.rows.data());
    first_row_ = scratch_.rows.data() + (48 - address % 32) % 32;
    return true;
  }

  std::uint8_t* row_storage(std::int32_t y) override {
    return first_row_ + pitch_ * static_cast<std::size_t>(y % IMAGE_ROW_BATCH);
  }

  void take_rows(std::int32_t first, std::int32_t count, std::uint8_t* const* rows) override {
    for (std::int32_t i = 0; i < count; ++i) {
      if (feeder_->row_needed(first + i)) feeder_->add_bgrx_row(first + i, rows[i]);
    }
  }

  // Only the patches' columns are read, so a JPEG decoder may convert only
  // those.
  bool wants_column_spans() const override { return true; }
  KeptFrame* frame_to_keep() override { return keep_; }
  const std::vector<ColumnSpan>& column_spans(std::int32_t y) override {
    feeder_->column_spans(y, spans_);
    return spans_;
  }

  // After a successful decode: the vectors, and the state after all draws.
  void finish(FeatureVector* features, RandomState& rs) {
    feeder_->finish();
    for (int d = 0; d < draws_; ++d) feeder_->features(static_cast<std::size_t>(d), features[d]);
    rs = rs_;
  }

  // After finish, with two draws: where the patches lay and what they measured.
  void evidence(const FeatureVector* features, PatchEvidence& out) const {
    out.width = width_;
    out.height = height_;
    out.side = placements_.front().side;
    for (int d = 0; d < 2; ++d) {
      for (int k = 0; k < FEATURE_COUNT; ++k) {
        const std::size_t i = static_cast<std::size_t>(d * FEATURE_COUNT + k);
        out.x[i] = placements_[static_cast<std::size_t>(d)].x[k];
        out.y[i] = placements_[static_cast<std::size_t>(d)].y[k];
        out.deviation[i] = features[d][static_cast<std::size_t>(k)];
      }
    }
  }

 private:
  RandomState rs_;
  int draws_;
  MeasureScratch& scratch_;
  KeptFrame* keep_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::vector<PatchPlacement> placements_;
  std::optional<PatchRowFeeder> feeder_;
  std::vector<ColumnSpan> spans_;
  std::size_t pitch_ = 0;              // bytes from one row to the next, a multiple of 32
  std::uint8_t* first_row_ = nullptr;  // 16 bytes past a 32-byte boundary
};

// One per thread, shared by every way of scoring a file.
MeasureScratch& thread_scratch() {
  thread_local MeasureScratch scratch;
  return scratch;
}

}  // namespace

bool measure_image_file(const std::string& path, int draws, RandomState& rs,
                        FeatureVector* features) {
  return measure_image_file(path, draws, rs, features, DecodeOptions{}, nullptr);
}

bool measure_image_file(const std::string& path, int draws, RandomState& rs,
                        FeatureVector* features, const DecodeOptions& options, DecodeInfo* info) {
  PatchMeasuringSink sink(rs, draws, thread_scratch());
  if (!decode_image_rows(path, sink, options, info)) return false;
  sink.finish(features, rs);
  return true;
}

FileScore score_image_file_checked(const SvmModel& model, const std::string& path, double scale,
                                   RandomState& rs) {
  return score_image_file_checked(model, path, scale, rs, DecodeOptions{}, nullptr);
}

FileScore score_image_file_checked(const SvmModel& model, const std::string& path, double scale,
                                   RandomState& rs, const DecodeOptions& options,
                                   DecodeInfo* info) {
  FileScore result;
  FeatureVector features[2];
  DecodeInfo local;
  DecodeInfo& decode = info != nullptr ? *info : local;
  const bool measured = measure_image_file(path, 2, rs, features, options, &decode);
  result.source = decode.source;
  if (!measured) return result;
  result.score = average_draw_scores(score_features(model, features[0], scale),
                                     score_features(model, features[1], scale));
  result.decoded = true;
  return result;
}

FileScore score_image_file_with_evidence(const SvmModel& model, const std::string& path,
                                         double scale, RandomState& rs, PatchEvidence& evidence,
                                         const DecodeOptions& options, KeptFrame* frame) {
  FileScore result;
  FeatureVector features[2];
  PatchMeasuringSink sink(rs, 2, thread_scratch(), frame);
  DecodeInfo info;
  const bool decoded = decode_image_rows(path, sink, options, &info);
  result.source = info.source;
  if (!decoded) return result;
  sink.finish(features, rs);
  sink.evidence(features, evidence);
  result.score = average_draw_scores(score_features(model, features[0], scale),
                                     score_features(model, features[1], scale));
  result.decoded = true;
  return result;
}

std::int32_t score_image_file(const SvmModel& model, const std::string& path, double scale,
                              RandomState& rs) {
  return score_image_file_checked(model, path, scale, rs).score;
}

bool extract_file_features(const std::string& path, FeatureVector& features, RandomState& rs) {
  return measure_image_file(path, 1, rs, &features);
}

FileScore score_image_file_reference(const SvmModel& model, const std::string& path, double scale,
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

bool extract_file_features_reference(const std::string& path, FeatureVector& features,
                                     RandomState& rs) {
  const std::optional<Bitmap32> bitmap = load_measurable_bitmap(path);
  return bitmap && extract_patch_features(*bitmap, features, rs);
}

void report_blurred_in_folder(const std::string& folder,
                              const std::function<std::int32_t(const std::string&)>& score,
                              std::FILE* out) {
  std::vector<platform::DirEntry> entries;
  if (!platform::list_directory(folder, entries)) return;
  std::int32_t listed = 0;
  std::int32_t total = 0;
  // Every matching entry counts, whatever it is: one that cannot be decoded (a
  // folder named x.jpg, say) scores 0 and is not listed.
  for (const platform::DirEntry& entry : entries) {
    if (!platform::has_jpg_suffix(entry.name)) continue;
    ++total;
    const std::string path = folder + "/" + entry.name;
    const std::int32_t s = score(path);
    if (s > LIST_THRESHOLD) {
      std::fprintf(out, "%d\t%s\n", s, platform::shown_on(out, path).c_str());
      ++listed;
    }
  }
  if (total > 0) std::fprintf(out, "%d/%d are blurred\n", listed, total);
}

}  // namespace lumvet
