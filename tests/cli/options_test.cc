#include "cli/options.h"

#include <gtest/gtest.h>

namespace lumvet {
namespace {

using Args = std::vector<std::string>;

struct Parsed {
  bool ok = false;
  LongOptions options;
  Args rest;
  std::string error;
};

Parsed parse(const Args& args) {
  Parsed p;
  p.ok = parse_long_options(args, p.options, p.rest, p.error);
  return p;
}

TEST(LongOptions, TakenOutBeforeTheScanInBothSpellings) {
  const Parsed p =
      parse({"lumvet", "--seed=7", "My", "-R", "--format", "tsv", "Photos", "--threshold", "-3"});
  ASSERT_TRUE(p.ok) << p.error;
  EXPECT_EQ(p.rest, (Args{"lumvet", "My", "-R", "Photos"}));
  EXPECT_EQ(p.options.seed, 7);
  EXPECT_EQ(p.options.format, OutputFormat::tsv);
  EXPECT_EQ(p.options.threshold, -3);
  EXPECT_FALSE(p.options.help);
}

TEST(LongOptions, RepeatsTakeTheLastValue) {
  const Parsed p = parse({"lumvet", "--format=jsonl", "--format=text", "--seed=-2147483648"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.format, OutputFormat::text);
  EXPECT_EQ(p.options.seed, -2147483647 - 1);
}

TEST(LongOptions, DoubleDashEndsThem) {
  const Parsed p = parse({"lumvet", "--seed=1", "--", "--seed=2", "x"});
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.options.seed, 1);
  EXPECT_EQ(p.rest, (Args{"lumvet", "--seed=2", "x"}));
}

TEST(LongOptions, Errors) {
  const struct {
    Args args;
    const char* error;
  } cases[] = {
      {{"lumvet", "--bogus"}, "unknown option --bogus"},
      {{"lumvet", "--bogus=1"}, "unknown option --bogus"},
      {{"lumvet", "--seed"}, "option --seed needs a value"},
      {{"lumvet", "--seed="}, "invalid value for --seed: ''"},
      {{"lumvet", "--seed=12x"}, "invalid value for --seed: '12x'"},
      {{"lumvet", "--seed=+5"}, "invalid value for --seed: '+5'"},
      {{"lumvet", "--seed= 5"}, "invalid value for --seed: ' 5'"},
      {{"lumvet", "--seed=2147483648"}, "invalid value for --seed: '2147483648'"},
      {{"lumvet", "--threshold=ten"}, "invalid value for --threshold: 'ten'"},
      {{"lumvet", "--format=xml"}, "invalid value for --format: 'xml'"},
      {{"lumvet", "--format=TSV"}, "invalid value for --format: 'TSV'"},
      {{"lumvet", "--help=yes"}, "option --help takes no value"},
      // Problems are reported in command-line order.
      {{"lumvet", "--seed=x", "--bogus"}, "invalid value for --seed: 'x'"},
      {{"lumvet", "--bogus", "--seed=x"}, "unknown option --bogus"},
  };
  for (const auto& c : cases) {
    const Parsed p = parse(c.args);
    EXPECT_FALSE(p.ok) << c.args[1];
    EXPECT_EQ(p.error, c.error);
  }
}

}  // namespace
}  // namespace lumvet
