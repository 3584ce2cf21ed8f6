#include "scoring/random.h"

#include <bit>

#include "platform/platform.h"

namespace lumvet {

double random_unit_factor() { return std::bit_cast<double>(std::uint64_t{0x3E00000000400000}); }

double random_unit(RandomState& rs) {
  // The conversion of the state is exact; only the product rounds.
  return static_cast<double>(random_next(rs)) * random_unit_factor();
}

double random_symmetric(RandomState& rs) {
  const double u = random_unit(rs);
  return (u + u) - 1.0;
}

std::int32_t seed_random_from_time(RandomState& rs) {
  rs.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(platform::calendar_time()));
  return rs.value;
}

void seed_random_from_ticks(RandomState& rs) {
  rs.value = static_cast<std::int32_t>(platform::tick_count_ms());
  platform::yield_thread();
}

std::int32_t random_jump(std::int32_t s, std::uint64_t steps) {
  // Steps from a negative state first reduce it into [0, 2^31 - 2]; after that the
  // generator is plain multiplication modulo a prime, so powers compose.
  if (steps == 0) return s;
  std::int64_t x = random_step(s);
  --steps;
  std::int64_t mult = 1;
  std::int64_t base = RANDOM_MULTIPLIER;
  while (steps != 0) {
    if (steps & 1) mult = (mult * base) % RANDOM_MODULUS;
    base = (base * base) % RANDOM_MODULUS;
    steps >>= 1;
  }
  return static_cast<std::int32_t>((x * mult) % RANDOM_MODULUS);
}

}  // namespace lumvet
