#include "cli/options.h"

#include <gtest/gtest.h>

namespace lumvet {
namespace {

using Args = std::vector<std::string>;

// The messages for malformed options are checked through the program.
TEST(LongOptions, TakenOutInBothSpellingsTheLastValueWinning) {
  LongOptions options;
  Args rest;
  std::string error;
  ASSERT_TRUE(parse_long_options({"lumvet", "--seed=7", "My", "-R", "--format", "tsv", "Photos",
                                  "--threshold", "-3", "--seed=-2147483648", "--", "--seed=2"},
                                 options, rest, error))
      << error;
  EXPECT_EQ(rest, (Args{"lumvet", "My", "-R", "Photos", "--seed=2"}));
  EXPECT_EQ(options.seed, -2147483647 - 1);
  EXPECT_EQ(options.format, OutputFormat::tsv);
  EXPECT_EQ(options.threshold, -3);
  EXPECT_FALSE(options.help);
}

}  // namespace
}  // namespace lumvet
