// --seed-per-photo: each photo's patches are drawn from a state of its own, made
// from the run's seed and the photo's bytes, so that a photo scores the same in
// any folder, order, list, shard or number of jobs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "scoring/file_scoring.h"
#include "scoring/linear_model.h"

namespace lumvet {

// The seed --seed-per-photo uses when --seed is not given.
inline constexpr std::int32_t DEFAULT_PHOTO_SEED = 0;

// The generator state for the photo at `path`: XXH3-64 of the file's bytes with
// the seed (as an unsigned 32-bit number) as the hash's seed, reduced to the
// generator's range: 1 + hash mod (2^31 - 2). Nothing when the path is not a
// readable regular file.
std::optional<std::int32_t> photo_random_state(const std::string& path, std::int32_t seed);

// The contrast score of the photo at `path`, both draws taken from
// photo_random_state: as score_image_file_checked from that state. A file that
// cannot be read scores 0, not decoded.
FileScore score_photo_seeded(const SvmModel& model, const std::string& path, std::int32_t seed,
                             const DecodeOptions& decode = {});

}  // namespace lumvet
