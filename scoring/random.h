// The one pseudo-random source of the program: the Park-Miller "minimal standard"
// Lehmer generator, x' = 16807 x mod (2^31 - 1).
//
// Every random choice (patch positions, solver partners, sample shuffles, network
// weights) draws from one RandomState that the entry routine owns and hands to
// its users; the number and order of draws decide every later result.
#pragma once

#include <cstdint>

namespace lumvet {

struct RandomState {
  // 1 until seeded. After one step it lies in [0, 2147483646]; 0 is a fixed point.
  std::int32_t value = 1;
};

// Multiplier 7^5, a primitive root of the prime modulus 2^31 - 1 (Park & Miller 1988).
inline constexpr std::int32_t RANDOM_MULTIPLIER = 16807;
inline constexpr std::int32_t RANDOM_MODULUS = 2147483647;
// Schrage's decomposition: modulus = 16807 * 127773 + 2836.
inline constexpr std::int32_t RANDOM_QUOTIENT = 127773;

// The double nearest to 1/2147483646 (bit pattern 3E00000000400000,
// 2^-31 + 2^-61): the top state 2147483646 maps to exactly 1.0.
double random_unit_factor();

// One step of the generator from any signed 32-bit state, negative ones included:
// the result is (state * 16807) mod (2^31 - 1), taken non-negative.
inline std::int32_t random_step(std::int32_t s) {
  const std::int64_t t = (static_cast<std::int64_t>(s) * RANDOM_MULTIPLIER) % RANDOM_MODULUS;
  return static_cast<std::int32_t>(t < 0 ? t + RANDOM_MODULUS : t);
}

// One step; returns the new state.
inline std::int32_t random_next(RandomState& rs) {
  rs.value = random_step(rs.value);
  return rs.value;
}

// One step, then the new state times random_unit_factor(): a double in (0, 1].
double random_unit(RandomState& rs);

// random_unit() u, then (u + u) - 1.0: a double in (-1, 1].
double random_symmetric(RandomState& rs);

// Seeds from the calendar time in seconds, truncated to signed 32 bits; returns the seed.
std::int32_t seed_random_from_time(RandomState& rs);

// Seeds from the millisecond tick count since boot, reinterpreted as signed 32
// bits, then yields the rest of the time slice.
void seed_random_from_ticks(RandomState& rs);

// The state after `steps` further steps from `s`, in O(log steps):
// s * 16807^steps mod (2^31 - 1).
std::int32_t random_jump(std::int32_t s, std::uint64_t steps);

}  // namespace lumvet
