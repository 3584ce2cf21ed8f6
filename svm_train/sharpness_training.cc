#include "svm_train/sharpness_training.h"

#include <cmath>

#include "sharpness/assess.h"
#include "svm_train/smo.h"
#include "platform/platform.h"
#include "scoring/training_photos.h"
#include "svm_train/svm_training.h"

namespace lumvet {

SharpnessTrainingSet collect_sharpness_training_set(const TrainingPhotos& photos) {
  // The measure is deterministic, so one reading of every photo is all there is.
  SharpnessTrainingSet set;
  const TrainingPhotoReader read = [&set](const std::string& path, PhotoClass photo_class) {
    bool decoded = false;
    std::int32_t w = 0, h = 0;
    const SharpnessMeasure m = measure_sharpness_file(path, decoded, w, h);
    if (!decoded) return false;
    if (!m.measurable) {
      set.unmeasurable.push_back(path);
      return true;
    }
    set.measures.push_back(m);
    set.labels.push_back(photo_class == PhotoClass::blur ? 1 : -1);
    return true;
  };
  set.skipped = read_training_photos(photos, 1, read, nullptr).skipped;
  return set;
}

void fit_calibration(const std::vector<double>& decisions, const std::vector<std::int8_t>& labels,
                     double& a, double& b) {
  double n_pos = 0.0, n_neg = 0.0;
  for (const std::int8_t y : labels) (y > 0 ? n_pos : n_neg) += 1.0;
  // Platt's targets: a little short of 1 and 0, so that classes that separate
  // completely on the training photos do not make every score 0 or 100.
  const double t_pos = (n_pos + 1.0) / (n_pos + 2.0);
  const double t_neg = 1.0 / (n_neg + 2.0);
  const double w_pos = n_pos > 0.0 ? 0.5 / n_pos : 0.0;
  const double w_neg = n_neg > 0.0 ? 0.5 / n_neg : 0.0;
  // Minimise the weighted log loss of q = P(blurred) = 1 / (1 + exp(a s + b))
  // against the targets t: dL/da = sum w (t - q) s, dL/db = sum w (t - q);
  // the Hessian is sum w q (1 - q) [s^2 s; s 1]. A small ridge keeps it regular
  // when the classes separate completely.
  a = -1.0;
  b = 0.0;
  for (int iteration = 0; iteration < 100; ++iteration) {
    double ga = 0.0, gb = 0.0, haa = 1e-6, hab = 0.0, hbb = 1e-6;
    for (std::size_t i = 0; i < decisions.size(); ++i) {
      const double s = decisions[i];
      const double t = labels[i] > 0 ? t_pos : t_neg;
      const double w = labels[i] > 0 ? w_pos : w_neg;
      const double q = 1.0 / (1.0 + std::exp(a * s + b));
      ga += w * (t - q) * s + 1e-6 * a;
      gb += w * (t - q);
      const double v = w * q * (1.0 - q);
      haa += v * s * s;
      hab += v * s;
      hbb += v;
    }
    const double det = haa * hbb - hab * hab;
    if (!(det > 0.0)) break;
    const double da = (hbb * ga - hab * gb) / det;
    const double db = (haa * gb - hab * ga) / det;
    a -= da;
    b -= db;
    if (std::fabs(da) < 1e-12 && std::fabs(db) < 1e-12) break;
  }
}

SharpnessModel fit_sharpness_model(const SharpnessTrainingSet& set, RandomState& rs,
                                   std::int32_t& support_vectors) {
  constexpr std::size_t dims = SHARPNESS_FEATURE_COUNT;
  const std::size_t n = set.measures.size();
  SharpnessModel model;
  model.mean.assign(dims, 0.0);
  model.scale.assign(dims, 1.0);
  for (std::size_t k = 0; k < dims; ++k) {
    double sum = 0.0;
    for (const SharpnessMeasure& m : set.measures) sum += m.features[k];
    const double mean = sum / static_cast<double>(n);
    double squares = 0.0;
    for (const SharpnessMeasure& m : set.measures) {
      squares += (m.features[k] - mean) * (m.features[k] - mean);
    }
    const double sd = std::sqrt(squares / static_cast<double>(n));
    model.mean[k] = mean;
    model.scale[k] = sd > 1e-6 ? sd : 1.0;
  }

  SvmTrainingSet svm_set;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < dims; ++k) {
      svm_set.samples.push_back((set.measures[i].features[k] - model.mean[k]) / model.scale[k]);
    }
    svm_set.labels.push_back(set.labels[i]);
  }
  SvmModel svm = make_svm_training_model(std::move(svm_set));
  svm.dims = static_cast<std::int32_t>(dims);
  smo_solve(svm, SHARPNESS_TRAIN_C, rs);
  svm_compute_weights(svm);
  support_vectors = 0;
  for (const double alpha : svm.alphas) support_vectors += alpha > 0.0 ? 1 : 0;
  model.weights = svm.weights;
  model.bias = svm.bias;

  std::vector<double> decisions;
  for (const SharpnessMeasure& m : set.measures) decisions.push_back(sharpness_decision(model, m));
  fit_calibration(decisions, set.labels, model.calibration_a, model.calibration_b);
  return model;
}

}  // namespace lumvet

namespace lumvet {

int run_sharpness_training(const SharpnessTrainingOptions& options, RandomState& rs,
                           std::FILE* out, std::FILE* err) {
  const TrainingPhotos photos = list_training_photos(options.good_dir, options.blur_dir);
  const std::string problem = training_photos_problem(photos, 1, options.good_dir, options.blur_dir);
  if (!problem.empty()) {
    std::fprintf(err, "lumvet-train: %s\n", problem.c_str());
    return 1;
  }
  const std::int64_t start = platform::elapsed_ms();
  const SharpnessTrainingSet set = collect_sharpness_training_set(photos);
  report_skipped_photos(set.skipped, "lumvet-train", out, err);
  for (const std::string& path : set.unmeasurable) {
    std::fprintf(err, "lumvet-train: %s shows too few edges to measure; skipped\n", path.c_str());
  }
  std::int32_t good = 0, blurred = 0;
  for (const std::int8_t y : set.labels) (y > 0 ? blurred : good) += 1;
  if (good == 0 || blurred == 0) {
    std::fprintf(err, "lumvet-train: need sharp photos in %s and blurred ones in %s\n",
                 options.good_dir.c_str(), options.blur_dir.c_str());
    return 1;
  }
  std::fprintf(out, "measured %d photos (%d sharp, %d blurred) in %d secs\n", good + blurred, good,
               blurred, static_cast<int>((platform::elapsed_ms() - start) / 1000));
  std::int32_t support_vectors = 0;
  const SharpnessModel model = fit_sharpness_model(set, rs, support_vectors);
  std::int32_t correct = 0;
  for (std::size_t i = 0; i < set.measures.size(); ++i) {
    const bool listed = sharpness_score(model, set.measures[i]) > SHARPNESS_LIST_THRESHOLD;
    correct += listed == (set.labels[i] > 0) ? 1 : 0;
  }
  std::fprintf(out, "support vectors=%d\n", support_vectors);
  std::fprintf(out, "correct classification = %d%%\n",
               static_cast<int>(100 * static_cast<std::int64_t>(correct) / (good + blurred)));
  if (platform::replace_file(options.model_path, encode_sharpness_model(model), 0644) !=
      platform::ReplaceStatus::replaced) {
    std::fprintf(err, "lumvet-train: cannot write model file %s\n", options.model_path.c_str());
    return 1;
  }
  std::fprintf(out, "wrote %s\n", options.model_path.c_str());
  return 0;
}

}  // namespace lumvet
