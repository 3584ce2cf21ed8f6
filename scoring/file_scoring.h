// Scoring and measuring image files: decode once, then draw patches.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "imaging/imaging.h"
#include "scoring/constants.h"
#include "scoring/linear_model.h"
#include "scoring/random.h"

namespace lumvet {

// What a visual report keeps of one photo, besides its score: made by the
// report writer (report/), opaque here. Scoring never reads it.
struct PhotoEvidence;

struct FileScore {
  std::int32_t score = 0;  // (draw 1 + draw 2) / 2, truncated; 0 when not decoded
  bool decoded = false;
  // For a camera raw file, which of its pictures was scored (set by
  // score_image_file_checked as far as the decode got); image otherwise.
  DecodeSource source = DecodeSource::image;
  // Null unless a report is being written.
  std::shared_ptr<const PhotoEvidence> evidence = nullptr;
};

// Where a contrast score was measured: both draws' patches (draw 1's
// FEATURE_COUNT, then draw 2's), their common side, and the standard deviation
// of the luminance measured in each: the very values that went into the score.
struct PatchEvidence {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t side = 0;
  std::array<std::int32_t, 2 * FEATURE_COUNT> x{};
  std::array<std::int32_t, 2 * FEATURE_COUNT> y{};
  std::array<double, 2 * FEATURE_COUNT> deviation{};
};

// The score of an image from its two draw scores: (s1 + s2) / 2 with the quotient
// truncated toward zero (99 and 100 give 99; -3 and 0 give -1).
inline std::int32_t average_draw_scores(std::int32_t s1, std::int32_t s2) {
  return static_cast<std::int32_t>((std::int64_t{s1} + s2) / 2);
}

// Generator steps of one draw: FEATURE_COUNT patches, two steps (x, then y) each.
inline constexpr int STEPS_PER_DRAW = 2 * FEATURE_COUNT;
// Generator steps of a scored file that decodes: two draws. One that does not
// decode takes none, so the state a photo starts from is known in advance.
inline constexpr int STEPS_PER_SCORED_FILE = 2 * STEPS_PER_DRAW;
static_assert(STEPS_PER_SCORED_FILE == 120);

// Scores an image file with two draws (STEPS_PER_SCORED_FILE steps) and returns
// average_draw_scores. A file that cannot be decoded, or whose patches cannot fit
// (image_is_measurable), scores 0, has `decoded` false and draws nothing.
// Bit for bit the result and the final RandomState of the plain path
// (score_image_file_reference), but a JPEG is never held as a full-frame bitmap:
// both draws' patches are placed as soon as its size is known and measured from
// its rows as the decoder produces them.
FileScore score_image_file_checked(const SvmModel& model, const std::string& path, double scale,
                                   RandomState& rs);
// The same with decode options (how a camera raw file is read); `info`, when
// given, receives what the decode reported (format, and which raw path).
FileScore score_image_file_checked(const SvmModel& model, const std::string& path, double scale,
                                   RandomState& rs, const DecodeOptions& options, DecodeInfo* info);
// score_image_file_checked that also fills `evidence` when the photo decodes:
// the same score, the same draws. With `frame`, the decoded frame is kept there
// where the decoder can keep it (ImageRowSink::frame_to_keep).
FileScore score_image_file_with_evidence(const SvmModel& model, const std::string& path,
                                         double scale, RandomState& rs, PatchEvidence& evidence,
                                         const DecodeOptions& options = {},
                                         KeptFrame* frame = nullptr);
std::int32_t score_image_file(const SvmModel& model, const std::string& path, double scale,
                              RandomState& rs);

// One FeatureVector of a file (60 draws). Returns false, with `features` untouched
// and nothing drawn, when the file cannot be decoded or measured. Streams like
// score_image_file_checked; bit for bit extract_file_features_reference.
bool extract_file_features(const std::string& path, FeatureVector& features, RandomState& rs);

// `draws` FeatureVectors of a file into features[0 ... draws - 1], drawn one after
// another from `rs` (60 steps each), from a single decode that hands its rows to
// the patch statistics. `rs` advances only when the decode succeeds and the image
// is measurable; otherwise false, with nothing drawn and `features` untouched.
bool measure_image_file(const std::string& path, int draws, RandomState& rs,
                        FeatureVector* features);
bool measure_image_file(const std::string& path, int draws, RandomState& rs,
                        FeatureVector* features, const DecodeOptions& options, DecodeInfo* info);

// The plain path, kept as the reference that the fast one is tested and timed
// against: load_bitmap32 decodes the whole image, then score_bitmap measures
// each draw on the full-frame bitmap with the one-patch-at-a-time walk.
FileScore score_image_file_reference(const SvmModel& model, const std::string& path, double scale,
                                     RandomState& rs);
bool extract_file_features_reference(const std::string& path, FeatureVector& features,
                                     RandomState& rs);

// Scores every entry of `folder` whose name ends in .jpg (any letter case), in
// ascending byte order, whatever kind of entry it is, with `score` (given
// "FOLDER/NAME"). Prints "%d\t%s\n" (score, "FOLDER/NAME") for each score above
// LIST_THRESHOLD, then "%d/%d are blurred\n" (listed, entries scored). Prints
// nothing at all when the folder cannot be listed or nothing matches.
void report_blurred_in_folder(const std::string& folder,
                              const std::function<std::int32_t(const std::string&)>& score,
                              std::FILE* out);

}  // namespace lumvet
