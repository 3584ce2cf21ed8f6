#include "sharpness/assess.h"

#include <memory>
#include <optional>
#include <vector>

#include "imaging/imaging.h"

namespace lumvet {
namespace {

// Hands the decoder's luminance rows to an EdgeSlopeMeter.
class SlopeSink : public ImageRowSink {
 public:
  SlopeSink(bool keep_map, KeptFrame* keep) : keep_map_(keep_map), keep_(keep) {}
  bool wants_luma() const override { return true; }
  KeptFrame* frame_to_keep() override { return keep_; }
  bool begin(std::int32_t width, std::int32_t height) override {
    width_ = width;
    height_ = height;
    // A decoder may write BGRX or CMYK pixels before turning them into luminance.
    storage_.resize(static_cast<std::size_t>(IMAGE_ROW_BATCH) * 4 *
                    static_cast<std::size_t>(width));
    meter_.emplace(width, height, keep_map_);
    return true;
  }
  std::uint8_t* row_storage(std::int32_t y) override {
    return storage_.data() +
           static_cast<std::size_t>(y % IMAGE_ROW_BATCH) * 4 * static_cast<std::size_t>(width_);
  }
  void take_rows(std::int32_t, std::int32_t count, std::uint8_t* const* rows) override {
    for (std::int32_t i = 0; i < count; ++i) meter_->add_row(rows[i]);
  }

  bool keep_map_ = false;
  KeptFrame* keep_ = nullptr;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::vector<std::uint8_t> storage_;
  std::optional<EdgeSlopeMeter> meter_;
};

}  // namespace

SharpnessMeasure measure_sharpness_file(const std::string& path, bool& decoded, std::int32_t& width,
                                        std::int32_t& height, const DecodeOptions& options,
                                        DecodeInfo* info, SlopeMap* map, KeptFrame* frame) {
  SlopeSink sink(map != nullptr, frame);
  decoded = decode_image_rows(path, sink, options, info) && sink.meter_.has_value();
  width = decoded ? sink.width_ : 0;
  height = decoded ? sink.height_ : 0;
  if (map != nullptr) *map = decoded ? sink.meter_->slope_map() : SlopeMap{};
  return decoded ? sink.meter_->finish() : SharpnessMeasure{};
}

SharpnessResult assess_sharpness_file(const std::string& path, const SharpnessModel& model,
                                      const DecodeOptions& options, SlopeMap* map,
                                      KeptFrame* frame) {
  SharpnessResult r;
  DecodeInfo info;
  r.measure =
      measure_sharpness_file(path, r.decoded, r.width, r.height, options, &info, map, frame);
  r.source = info.source;
  r.score = r.decoded ? sharpness_score(model, r.measure) : 0;
  return r;
}

}  // namespace lumvet
