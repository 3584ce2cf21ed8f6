// Fast patch statistics, bit-identical to measure_patches.
//
// Patches are independent, and every patch of an image has the same side, so
// the running-statistics recurrence can advance for eight patches side by side
// in vector lanes: each lane performs exactly the operations of the reference
// walk, in the same order, on its own patch's pixels. The division in the
// recurrence then no longer stalls on its predecessor.
//
// Rows can be fed as a decoder produces them, top to bottom: each patch's
// luminances are collected (16 bits per pixel) until its last row has arrived,
// and completed patches are measured in groups of eight. No full-frame bitmap
// is needed; the peak holds the luminances of the patches in progress.
#pragma once

#include <cstdint>
#include <vector>

#include "scoring/constants.h"
#include "scoring/features.h"

namespace lumvet {

class PatchRowFeeder {
 public:
  // REQUIRES: every placement was drawn for an image of `width` x `height`.
  PatchRowFeeder(std::int32_t width, std::int32_t height,
                 const std::vector<PatchPlacement>& placements);

  // True when row y belongs to at least one patch; other rows need not be fed.
  bool row_needed(std::int32_t y) const;

  // Feeds row y; rows come in ascending order (unneeded ones may be skipped).
  // A BGRX row holds `width` four-byte pixels, an RGB row three-byte pixels.
  void add_bgrx_row(std::int32_t y, const std::uint8_t* bgrx);
  void add_rgb_row(std::int32_t y, const std::uint8_t* rgb);

  // Measures whatever is still pending. Call once, after the last row.
  void finish();

  // The FeatureVector of placement i. REQUIRES: finish() was called.
  void features(std::size_t i, FeatureVector& out) const;

 private:
  template <int kBytes, int kR, int kG, int kB>
  void add_row(std::int32_t y, const std::uint8_t* row);
  void measure_ready(bool all);

  std::int32_t side_ = 0;
  std::size_t pixels_per_patch_ = 0;
  std::size_t patch_count_ = 0;
  std::vector<std::int32_t> x_, y_;
  std::vector<double> result_;                       // per patch
  std::vector<std::vector<std::uint16_t>> lum_;      // per patch, while in progress
  std::vector<std::vector<std::uint16_t>> spare_;    // released buffers, for reuse
  std::vector<std::int32_t> ready_;                  // complete, not yet measured
  // Patches sorted by first row; `next_` is the first one not yet started.
  std::vector<std::int32_t> by_start_;
  std::size_t next_ = 0;
  std::vector<std::int32_t> open_;                   // started, not yet complete
  std::vector<std::uint8_t> row_covered_;
};

// measure_patches through the fast walk. Bit-identical.
void measure_patches_fast(const Bitmap32& bitmap, const PatchPlacement& placement,
                          FeatureVector& features);

}  // namespace lumvet
