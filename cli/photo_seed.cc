#include "cli/photo_seed.h"

#include <xxhash.h>

#include <array>
#include <memory>

#include "platform/platform.h"
#include "scoring/constants.h"
#include "scoring/random.h"

namespace lumvet {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
struct HashStateFreer {
  void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};

}  // namespace

std::optional<std::int32_t> photo_random_state(const std::string& path, std::int32_t seed) {
  const std::unique_ptr<std::FILE, FileCloser> file(platform::open_regular_file(path));
  const std::unique_ptr<XXH3_state_t, HashStateFreer> state(XXH3_createState());
  if (!file || !state) return std::nullopt;
  const XXH64_hash_t hash_seed = static_cast<std::uint32_t>(seed);
  if (XXH3_64bits_reset_withSeed(state.get(), hash_seed) != XXH_OK) return std::nullopt;
  std::array<unsigned char, 1 << 16> buffer;
  for (;;) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
    if (got > 0 && XXH3_64bits_update(state.get(), buffer.data(), got) != XXH_OK) {
      return std::nullopt;
    }
    if (got < buffer.size()) break;
  }
  if (std::ferror(file.get())) return std::nullopt;
  const XXH64_hash_t hash = XXH3_64bits_digest(state.get());
  // Park-Miller states are 1 ... 2^31 - 2.
  return static_cast<std::int32_t>(1 + hash % 2147483646u);
}

FileScore score_photo_seeded(const SvmModel& model, const std::string& path, std::int32_t seed,
                             const DecodeOptions& decode) {
  const std::optional<std::int32_t> start = photo_random_state(path, seed);
  if (!start) return FileScore{};
  RandomState rs{*start};
  return score_image_file_checked(model, path, FEATURE_SCALE, rs, decode, nullptr);
}

}  // namespace lumvet
