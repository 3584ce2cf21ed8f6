#include "cli/options.h"

#include <gtest/gtest.h>

namespace lumvet {
namespace {

using Args = std::vector<std::string>;

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

TEST(LongOptions, Errors) {
  const std::pair<Args, const char*> cases[] = {
      {{"--bogus=1"}, "unknown option --bogus"},
      {{"--seed"}, "option --seed needs a value"},
      {{"--seed="}, "invalid value for --seed: ''"},
      {{"--seed=12x"}, "invalid value for --seed: '12x'"},
      {{"--seed=+5"}, "invalid value for --seed: '+5'"},
      {{"--seed= 5"}, "invalid value for --seed: ' 5'"},
      {{"--seed=2147483648"}, "invalid value for --seed: '2147483648'"},
      {{"--threshold=ten"}, "invalid value for --threshold: 'ten'"},
      {{"--format=TSV"}, "invalid value for --format: 'TSV'"},
      {{"--help=yes"}, "option --help takes no value"},
      // Problems are reported in command-line order.
      {{"--seed=x", "--bogus"}, "invalid value for --seed: 'x'"},
      {{"--bogus", "--seed=x"}, "unknown option --bogus"},
  };
  for (const auto& [args, message] : cases) {
    Args argv = {"lumvet"}, rest;
    argv.insert(argv.end(), args.begin(), args.end());
    LongOptions options;
    std::string error;
    EXPECT_FALSE(parse_long_options(argv, options, rest, error)) << args[0];
    EXPECT_EQ(error, message);
  }
}

}  // namespace
}  // namespace lumvet
