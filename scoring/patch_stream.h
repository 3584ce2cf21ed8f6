// Fast patch statistics, bit-identical to measure_patches.
//
// Patches are independent, and every patch of an image has the same side, so
// the running-statistics recurrence can advance for many patches side by side
// in vector lanes (twenty, or twelve where each division is a true division):
// each lane performs exactly the operations of the reference walk, in the same
// order, on its own patch's pixels. The chains of different lanes then overlap
// instead of each waiting for its predecessor.
//
// Rows can be fed as a decoder produces them, top to bottom: each patch's
// luminances are collected (16 bits per pixel) until its last row has arrived,
// and completed patches are measured a group at a time. No full-frame bitmap
// is needed; the peak holds the luminances of the patches in progress.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/imaging.h"
#include "platform/cpu_features.h"
#include "scoring/constants.h"
#include "scoring/features.h"

namespace lumvet {

// Luminance buffers that outlive one feeder, so that a thread scoring one image
// after another allocates (and the system zero-fills) them only once.
struct LuminanceBuffers {
  std::vector<std::vector<std::uint16_t>> free;
};

class PatchRowFeeder {
 public:
  // REQUIRES: every placement was drawn for an image of `width` x `height`.
  // Buffers are taken from, and given back to, `pool` when one is given.
  PatchRowFeeder(std::int32_t width, std::int32_t height,
                 const std::vector<PatchPlacement>& placements, LuminanceBuffers* pool = nullptr);
  ~PatchRowFeeder();
  PatchRowFeeder(const PatchRowFeeder&) = delete;
  PatchRowFeeder& operator=(const PatchRowFeeder&) = delete;

  // True when row y belongs to at least one patch; other rows need not be fed.
  bool row_needed(std::int32_t y) const;

  // The columns of row y that the patches read, as ascending disjoint spans
  // (none when the row is not needed); only these columns of a fed row are
  // read.
  void column_spans(std::int32_t y, std::vector<ColumnSpan>& spans) const;

  // Feeds row y; rows come in ascending order (unneeded ones may be skipped).
  // A BGRX row holds `width` four-byte pixels, an RGB row three-byte pixels.
  void add_bgrx_row(std::int32_t y, const std::uint8_t* bgrx);
  void add_rgb_row(std::int32_t y, const std::uint8_t* rgb);

  // Measures whatever is still pending. Call once, after the last row.
  void finish();

  // The FeatureVector of placement i. REQUIRES: finish() was called.
  void features(std::size_t i, FeatureVector& out) const;

 private:
  template <bool kBgrx>
  void add_row(std::int32_t y, const std::uint8_t* row);
  void measure_ready(bool all);
  std::vector<std::uint16_t> take_buffer();

  std::int32_t side_ = 0;
  std::size_t pixels_per_patch_ = 0;
  std::size_t patch_count_ = 0;
  std::vector<std::int32_t> x_, y_;
  std::vector<double> result_;                   // per patch
  std::vector<std::vector<std::uint16_t>> lum_;  // per patch, while in progress
  LuminanceBuffers own_pool_;                    // used when no pool is given
  LuminanceBuffers* pool_;
  std::vector<std::int32_t> ready_;  // complete, not yet measured
  // Patches sorted by first row; `next_` is the first one not yet started.
  std::vector<std::int32_t> by_start_;
  std::size_t next_ = 0;
  std::vector<std::int32_t> open_;  // started, not yet complete
  std::vector<std::uint8_t> row_covered_;
};

// measure_patches through the fast walk. Bit-identical.
void measure_patches_fast(const Bitmap32& bitmap, const PatchPlacement& placement,
                          FeatureVector& features);

// The luminances 30 R + 59 G + 11 B of `count` BGRX pixels.
void bgrx_luminances(const std::uint8_t* bgrx, std::size_t count, std::uint16_t* out);

// On x86-64 the feeder uses SSSE3 for the luminances, and AVX2 with FMA (or
// else AVX) for the statistics, when the processor has them, chosen at run
// time (scoring/patch_lanes.h; the limit for tests and benchmarks is
// limit_cpu_extensions in platform/cpu_features.h). The results are the same
// bits as those of the SSE2 code that every x86-64 processor runs: integer
// arithmetic, and the reference's IEEE operations in its order, never fused; the
// FMA code's fused multiply-adds only stand in for divisions, with exactly their
// results (see measure_lanes_fma).

}  // namespace lumvet
