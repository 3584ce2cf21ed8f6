#include "platform/long_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumvet {
namespace {

using Args = std::vector<std::string>;

constexpr LongOption TABLE[] = {{"seed", true}, {"model-dir", true}, {"help", false}};

// What a split took ("index=value" per option) and left, and its problem.
struct Split {
  bool ok = false;
  Args taken;
  Args rest;
  std::string error;
};

// `refuse`: a value that the taker refuses, as programs refuse malformed values.
Split split(const Args& args, std::string_view quote = "", const std::string& refuse = "bad") {
  Split s;
  const auto take = [&](std::size_t index, const std::string& value, std::string& error) {
    if (value == refuse) {
      error = "refused " + value;
      return false;
    }
    s.taken.push_back(std::to_string(index) + "=" + value);
    return true;
  };
  s.ok = split_long_options(args, TABLE, quote, take, s.rest, s.error);
  return s;
}

TEST(SplitLongOptions, BothSpellingsAndTheRestInOrder) {
  const Split s = split(
      {"prog", "a", "--seed=7", "-R", "--model-dir", "x=y", "-", "--help", "--seed=a=b", "b"});
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.taken, (Args{"0=7", "1=x=y", "2=", "0=a=b"}));
  EXPECT_EQ(s.rest, (Args{"a", "-R", "-", "b"}));
}

TEST(SplitLongOptions, RepeatsAreTakenAgain) {
  const Split s = split({"prog", "--seed=1", "--help", "--seed", "2", "--help"});
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.taken, (Args{"0=1", "2=", "0=2", "2="}));
  EXPECT_TRUE(s.rest.empty());
}

TEST(SplitLongOptions, DoubleDashEndsThemAndIsDropped) {
  Split s = split({"prog", "--seed=1", "x", "--", "--seed=2", "--", "--bogus", "-R"});
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.taken, (Args{"0=1"}));
  EXPECT_EQ(s.rest, (Args{"x", "--seed=2", "--", "--bogus", "-R"}));
  s = split({"prog", "--"});
  ASSERT_TRUE(s.ok);
  EXPECT_TRUE(s.taken.empty());
  EXPECT_TRUE(s.rest.empty());
}

TEST(SplitLongOptions, AValueIsTakenWhateverItLooksLike) {
  const Split s = split({"prog", "--seed", "--help", "--model-dir", "--", "p"});
  ASSERT_TRUE(s.ok) << s.error;
  EXPECT_EQ(s.taken, (Args{"0=--help", "1=--"}));
  EXPECT_EQ(s.rest, (Args{"p"}));
}

TEST(SplitLongOptions, NothingButTheProgramName) {
  EXPECT_TRUE(split({"prog"}).ok);
  EXPECT_TRUE(split({"prog"}).rest.empty());
  EXPECT_TRUE(split({}).ok);
  EXPECT_TRUE(split({}).rest.empty());
}

TEST(SplitLongOptions, ProblemsStopTheSplit) {
  const struct {
    Args args;
    const char* error;
  } cases[] = {
      {{"prog", "--bogus"}, "unknown option --bogus"},
      {{"prog", "--bogus=1"}, "unknown option --bogus"},
      {{"prog", "--=1"}, "unknown option --"},
      {{"prog", "--Help"}, "unknown option --Help"},
      {{"prog", "--seed"}, "option --seed needs a value"},
      {{"prog", "--help=yes"}, "option --help takes no value"},
      {{"prog", "--help="}, "option --help takes no value"},
      {{"prog", "--seed=bad"}, "refused bad"},
      {{"prog", "--seed", "bad"}, "refused bad"},
  };
  for (const auto& c : cases) {
    const Split s = split(c.args);
    EXPECT_FALSE(s.ok) << c.args[1];
    EXPECT_EQ(s.error, c.error) << c.args[1];
    EXPECT_TRUE(s.taken.empty()) << c.args[1];
  }
  // The options before the problem are taken; nothing after it is looked at.
  Split s = split({"prog", "p", "--seed=1", "--bogus", "--seed=bad", "q", "--help=1"});
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.error, "unknown option --bogus");
  EXPECT_EQ(s.taken, (Args{"0=1"}));
  s = split({"prog", "--seed=bad", "--bogus"});
  EXPECT_EQ(s.error, "refused bad");
  // "--name value" at the very end.
  s = split({"prog", "--help", "--model-dir"});
  EXPECT_FALSE(s.ok);
  EXPECT_EQ(s.error, "option --model-dir needs a value");
  EXPECT_EQ(s.taken, (Args{"2="}));
}

TEST(SplitLongOptions, QuotedNames) {
  EXPECT_EQ(split({"prog", "--bogus=1"}, "'").error, "unknown option '--bogus'");
  EXPECT_EQ(split({"prog", "--seed"}, "'").error, "option '--seed' needs a value");
  EXPECT_EQ(split({"prog", "--help=1"}, "'").error, "option '--help' takes no value");
}

TEST(ParseInt32, WholeNumbersInRangeOnly) {
  EXPECT_EQ(parse_int32("0"), 0);
  EXPECT_EQ(parse_int32("-0"), 0);
  EXPECT_EQ(parse_int32("007"), 7);
  EXPECT_EQ(parse_int32("2147483647"), 2147483647);
  EXPECT_EQ(parse_int32("-2147483648"), -2147483647 - 1);
  for (const char* bad : {"", "-", "+1", " 1", "1 ", "2147483648", "-2147483649", "1e3", "0x10"}) {
    EXPECT_FALSE(parse_int32(bad)) << "'" << bad << "'";
  }
}

}  // namespace
}  // namespace lumvet
