#include "scoring/linear_model.h"

#include <bit>

#include "scoring/features.h"

namespace lumvet {

// Trained offline on sharp and blurred photographs; weight k multiplies feature k.
// Only the weights of features 8 and 22 are positive.
const std::uint64_t EMBEDDED_WEIGHT_BITS[FEATURE_COUNT] = {
    0xBFEA9E024DC6BCDA,  //  0: -0.831788207919
    0xBFEB7BF80B574C06,  //  1: -0.858882925177
    0xBFDA50EC7BA6C193,  //  2: -0.411189194444
    0xBFDEF3AEC4E31F00,  //  3: -0.483623211167
    0xBFEC8EC447579303,  //  4: -0.892427577343
    0xBFE1D40752FC32FC,  //  5: -0.557132398682
    0xBFD66B35677B82F5,  //  6: -0.350293494279
    0xBFDEA10B81266B48,  //  7: -0.478579403041
    0x3F99BDCF0DDC08F3,  //  8:  0.0251381256303
    0xBFEA53A1B0F18BF0,  //  9: -0.822708936303
    0xBFE4C5FA9811939C,  // 10: -0.649167344102
    0xBFDD19CF407CDBAE,  // 11: -0.454700291611
    0xBFD52A5D872F4E2E,  // 12: -0.330710775391
    0xBFE1C30B6798998A,  // 13: -0.555059149109
    0xBFE65BA3C64E9C86,  // 14: -0.69868649227
    0xBFD951F448E435CF,  // 15: -0.395627089675
    0xBFE0196C8B858E01,  // 16: -0.503103516105
    0xBFECB5232B01F460,  // 17: -0.897111495971
    0xBFF08647B02D85D0,  // 18: -1.03278321094
    0xBFE5C064E4FAB34F,  // 19: -0.679735610223
    0xBFE80396FE190018,  // 20: -0.750438209805
    0xBFE2C7D800DDBBF0,  // 21: -0.586894990627
    0x3FC0378E5C61F340,  // 22:  0.126695437535
    0xBFC79510DE6A9E1F,  // 23: -0.18423663006
    0xBFE25BA79F8A31EF,  // 24: -0.573688327409
    0xBFE8CBCE5DDE8060,  // 25: -0.774878676737
    0xBFD4E06E92584AA6,  // 26: -0.326198237338
    0xBFCF53755F2B63BE,  // 27: -0.244734450788
    0xBFD2696D857B11E2,  // 28: -0.287684803345
    0xBFDA7CB1007BD50D,  // 29: -0.413860559914
};

double embedded_weight(int k) { return std::bit_cast<double>(EMBEDDED_WEIGHT_BITS[k]); }
double embedded_bias() { return std::bit_cast<double>(EMBEDDED_BIAS_BITS); }

void init_embedded_model(SvmModel& model) {
  model.sample_count = 0;
  model.samples.clear();
  model.labels.clear();
  model.alphas.clear();
  model.kernel_cache.reset();
  model.dims = FEATURE_COUNT;
  model.bias = embedded_bias();
  model.weights.resize(FEATURE_COUNT);
  for (int k = 0; k < FEATURE_COUNT; ++k) model.weights[k] = embedded_weight(k);
}

void release_svm_model(SvmModel& model) {
  if (model.sample_count != 0) {
    std::vector<double>().swap(model.samples);
    std::vector<std::int8_t>().swap(model.labels);
    std::vector<double>().swap(model.alphas);
    model.kernel_cache.reset();
  }
  std::vector<double>().swap(model.weights);
}

std::int32_t score_features(const SvmModel& model, const FeatureVector& features, double scale) {
  // Multiplication by the rounded reciprocal, not division by the scale: the two
  // differ in the last bit for many values.
  const double r = 1.0 / scale;
  double acc = model.bias;
  for (int k = 0; k < model.dims; ++k) {
    const double g = features[k] * r;
    acc = acc + model.weights[k] * g;
  }
  return static_cast<std::int32_t>(acc * 100.0);
}

std::int32_t score_bitmap(const SvmModel& model, const Bitmap32& bitmap, double scale,
                          RandomState& rs) {
  FeatureVector features;
  if (!extract_patch_features(bitmap, features, rs)) return 0;
  return score_features(model, features, scale);
}

}  // namespace lumvet
