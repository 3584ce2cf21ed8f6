#include "scoring/random.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>

namespace lumvet {
namespace {

// Schrage's 32-bit formulation, wrapping as two's-complement hardware does; the
// 64-bit step must agree with it for every state.
std::int32_t schrage_step(std::int32_t s) {
  const std::int32_t hi = s / 127773;
  const std::uint32_t t =
      static_cast<std::uint32_t>(s) * 16807u - static_cast<std::uint32_t>(hi) * 2147483647u;
  const auto v = static_cast<std::int32_t>(t);
  return v < 0 ? v + 2147483647 : v;
}

TEST(Random, StandardSequenceAndExtremeValues) {
  RandomState rs;  // 1
  for (std::int32_t expected : {16807, 282475249, 1622650073, 984943658, 1144108930}) {
    EXPECT_EQ(random_next(rs), expected);
  }
  for (int i = 5; i < 9999; ++i) random_next(rs);
  EXPECT_EQ(random_next(rs), 1043618065);  // Park and Miller's check value

  // The top state maps to exactly 1.0; the state before 1 to the smallest value.
  EXPECT_EQ(std::bit_cast<std::uint64_t>(random_unit_factor()), 0x3E00000000400000u);
  rs.value = 739806647;
  EXPECT_EQ(random_unit(rs), 1.0);
  rs.value = 739806647;
  EXPECT_EQ(random_symmetric(rs), 1.0);
  rs.value = random_jump(1, 2147483645);
  EXPECT_EQ(random_unit(rs), 4.656612877414201e-10);
  EXPECT_EQ(rs.value, 1);
}

TEST(Random, DegenerateAndNegativeStates) {
  for (std::int32_t s : {0, 2147483647, -2147483647}) {
    RandomState rs{s};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(random_next(rs), 0) << s;
    EXPECT_EQ(random_unit(rs), 0.0);
    EXPECT_EQ(random_symmetric(rs), -1.0);
  }
  EXPECT_EQ(random_step(-1), 2147466840);
  EXPECT_EQ(random_step(INT32_MIN), 2147466840);
}

TEST(Random, SixtyFourBitStepMatchesSchrageAndJumpAhead) {
  // A stride through all 2^32 states plus both ends of every sign boundary.
  for (std::uint64_t u = 0; u < (std::uint64_t{1} << 32); u += 65521) {
    const auto s = static_cast<std::int32_t>(static_cast<std::uint32_t>(u));
    ASSERT_EQ(random_step(s), schrage_step(s)) << s;
  }
  for (std::int32_t s : {INT32_MIN, INT32_MIN + 1, -127774, -1, 127773, 127774, INT32_MAX}) {
    EXPECT_EQ(random_step(s), schrage_step(s)) << s;
  }
  for (std::int32_t seed : {1, -5, 123456789, INT32_MIN, 0}) {
    std::int32_t s = seed;
    for (std::uint64_t k = 0; k <= 300; ++k, s = random_step(s)) {
      ASSERT_EQ(random_jump(seed, k), s) << seed << " " << k;
    }
  }
}

}  // namespace
}  // namespace lumvet
