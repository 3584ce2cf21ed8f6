// Training the linear blur model: photographs of a sharp and a blurred folder,
// ten readings each, the SMO solver, the model file, and the evaluation of the
// model directory's blur/ and good/ folders with the trained model.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/exit_codes.h"
#include "scoring/linear_model.h"
#include "scoring/random.h"
#include "scoring/training_photos.h"

namespace lumvet {

// Readings of every photograph: each draws fresh patches, so each gives another sample.
inline constexpr std::int32_t TRAIN_REPETITIONS = 10;
// The box constant of the solver.
inline constexpr double TRAIN_C = 0.75;
// The n x n kernel cache is allocated only when it takes at most this many bytes
// (1 GiB: up to 11,585 samples, i.e. 1,158 photographs). Beyond that the solver
// computes every kernel value afresh, with the same results.
inline constexpr std::uint64_t KERNEL_CACHE_MAX_BYTES = std::uint64_t{1} << 30;

struct SvmTrainingOptions {
  std::string good_dir = "good";  // sharp photos: the -1 class
  std::string blur_dir = "blur";  // blurred photos: the +1 class
  std::string model_dir;          // empty: the default model directory
};

// The training samples in the order the solver sees them.
struct SvmTrainingSet {
  std::vector<double> samples;       // FEATURE_COUNT scaled values per sample, row after row
  std::vector<std::int8_t> labels;   // -1 for a sharp photo, +1 for a blurred one
  std::vector<std::string> skipped;  // photos that could not be decoded (first reading)
  std::int32_t count() const { return static_cast<std::int32_t>(labels.size()); }
};

// Reads the photos TRAIN_REPETITIONS times over with read_training_photos (each
// repetition prints "." to `progress`; nothing when null): one sample for every
// good photo and then one for every blur photo, in list order, through
// extract_file_features, each value multiplied by 1.0 / FEATURE_SCALE. A photo
// that cannot be decoded gives no sample and no label.
// REQUIRES: at most max_training_photos(TRAIN_REPETITIONS) photos, so that the
// count fits in 32 bits.
SvmTrainingSet collect_svm_training_set(const TrainingPhotos& photos, RandomState& rs,
                                        std::FILE* progress);

// True when an n x n kernel cache fits within KERNEL_CACHE_MAX_BYTES.
bool kernel_cache_fits(std::int64_t sample_count);

// The model to train on `set`: its samples and labels, multipliers and bias 0.0,
// dims FEATURE_COUNT, no weights, and a zero-filled kernel cache when
// kernel_cache_fits (absent when it does not, or cannot be allocated).
SvmModel make_svm_training_model(SvmTrainingSet set);

// The name of the model file, "test_30-10_0.75-0.0001=15-1-12000=e10.svm", formatted
// from the feature count, the repetitions, the box constant, the solver tolerance,
// 15, 1, the feature scale and the repetitions again.
std::string svm_model_file_name();

// Writes the model file (see scoring/model_file.h) at `path`, computing the
// weights first if the model has none. The file is written beside its final name
// and then renamed over it, so a failed write leaves any earlier file as it was.
// False when the file could not be written.
bool save_svm_model(SvmModel& model, const std::string& path);

// Scores every entry of `folder` whose name ends in .jpg (any letter case), in
// ascending byte order, whatever kind of entry it is, with score_image_file at
// FEATURE_SCALE. Prints "%d\t%s\n" (score, "FOLDER/NAME") for each score above
// LIST_THRESHOLD, then "%d/%d are blurred\n" (listed, entries scored). Prints
// nothing at all when the folder cannot be listed or nothing matches.
// REQUIRES: model weights present, dims == FEATURE_COUNT.
void evaluate_folder(const std::string& folder, const SvmModel& model, RandomState& rs,
                     std::FILE* out);

// The whole run of `lumvet-train` on an already seeded `rs`: starts the imaging
// library, reads the training set (the dots, then "reading pics took %d secs\n"),
// trains with smo_solve and TRAIN_C, prints "support vectors=%d\n", "correct
// classification = %d%%\n" and "training on %d samples complete in %d secs\n",
// writes svm_model_file_name() into the model directory, then evaluates the model
// directory's "blur" and "good" folders. Reports go to `out`; problems to `err`,
// one line each:
//   - no photo to train on, or more than max_training_photos(TRAIN_REPETITIONS):
//     nothing is trained or written, EXIT_NOT_TRAINED;
//   - photos that cannot be decoded: named and skipped, the run goes on;
//   - a model file that cannot be written: the evaluations still run, then
//     EXIT_NOT_TRAINED.
int run_svm_training(const SvmTrainingOptions& options, RandomState& rs, std::FILE* out,
                     std::FILE* err);

}  // namespace lumvet
