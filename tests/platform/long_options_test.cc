#include "platform/long_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumvet {
namespace {

using Args = std::vector<std::string>;

constexpr LongOption TABLE[] = {{"seed", true}, {"model-dir", true}, {"help", false}};

// What a split took ("index=value" per option) and left, and its problem. The
// taker refuses the value "bad", as programs refuse malformed values.
struct Split {
  bool ok = false;
  Args taken, rest;
  std::string error;
};

Split split(const Args& args, std::string_view quote = "") {
  Split s;
  const auto take = [&](std::size_t index, const std::string& value, std::string& error) {
    if (value == "bad") error = "refused bad";
    if (error.empty()) s.taken.push_back(std::to_string(index) + "=" + value);
    return error.empty();
  };
  s.ok = split_long_options(args, TABLE, quote, take, s.rest, s.error);
  return s;
}

TEST(SplitLongOptions, SpellingsValuesDoubleDashAndProblems) {
  const struct {
    Args args, taken, rest;
    std::string error = "";  // empty: the split succeeds
  } cases[] = {
      {{"prog", "a", "--seed=7", "-R", "--model-dir", "x=y", "-", "--help", "--seed=a=b", "b"},
       {"0=7", "1=x=y", "2=", "0=a=b"},
       {"a", "-R", "-", "b"}},
      // Repeats are taken again; a value is taken whatever it looks like.
      {{"prog", "--seed=1", "--seed", "--help", "--model-dir", "--", "p"},
       {"0=1", "0=--help", "1=--"},
       {"p"}},
      // "--" ends the options and is dropped.
      {{"prog", "--seed=1", "x", "--", "--seed=2", "--", "-R"},
       {"0=1"},
       {"x", "--seed=2", "--", "-R"}},
      {{}, {}, {}},
      // A problem stops the split: the options before it are taken, nothing after it.
      {{"prog", "--seed=1", "p", "--bogus", "--seed=bad", "--help=1"},
       {"0=1"},
       {},
       "unknown option --bogus"},
      {{"prog", "--=1"}, {}, {}, "unknown option --"},
      {{"prog", "--help="}, {}, {}, "option --help takes no value"},
      {{"prog", "--seed", "bad", "--bogus"}, {}, {}, "refused bad"},
      {{"prog", "--help", "--model-dir"}, {"2="}, {}, "option --model-dir needs a value"},
  };
  for (const auto& c : cases) {
    const Split s = split(c.args);
    EXPECT_EQ(s.ok, c.error.empty()) << s.error;
    EXPECT_EQ(s.error, c.error);
    EXPECT_EQ(s.taken, c.taken);
    if (s.ok) {
      EXPECT_EQ(s.rest, c.rest);
    }
  }
  EXPECT_EQ(split({"prog", "--seed"}, "'").error, "option '--seed' needs a value");
}

// An error quotes what was typed; control characters in it (a newline would make
// two lines, an escape sequence would reach the terminal) are shown as '?'.
TEST(SplitLongOptions, ErrorIsOnePlainLine) {
  EXPECT_EQ(split({"prog", "--see\nd\x1b[2J=1"}).error, "unknown option --see?d?[2J");
  EXPECT_EQ(split({"prog", "--help=\r"}, "'").error, "option '--help' takes no value");
  const auto take = [](std::size_t, const std::string& value, std::string& error) {
    error = "invalid value '" + value + "'";
    return false;
  };
  std::vector<std::string> rest;
  std::string error;
  EXPECT_FALSE(split_long_options({"prog", "--seed=a\nb\x7f"}, TABLE, "", take, rest, error));
  EXPECT_EQ(error, "invalid value 'a?b?'");
}

TEST(ParseInt32, WholeNumbersInRangeOnly) {
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
