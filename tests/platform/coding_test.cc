#include "platform/coding.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <vector>

namespace lumvet {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Coding, LeastSignificantByteFirstAndEveryBitPatternBack) {
  Bytes b;
  put_fixed32(b, 0xFF030201u);  // a high byte with its top bit set: no sign extension
  put_fixed64(b, 0x0807060504030201u);
  put_double(b, 1.0);  // 0x3FF0000000000000
  EXPECT_EQ(b, (Bytes{1, 2, 3, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(decode_fixed32(b.data()), 0xFF030201u);
  EXPECT_EQ(decode_fixed64(b.data() + 4), 0x0807060504030201u);
  for (const double d : {-0.0, -1.5, std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::denorm_min(),
                         std::bit_cast<double>(std::uint64_t{0x7FF8000000000123})}) {
    Bytes e;
    put_double(e, d);
    ASSERT_EQ(e.size(), 8u);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(decode_double(e.data())),
              std::bit_cast<std::uint64_t>(d));
  }
}

}  // namespace
}  // namespace lumvet
