#include "svm_train/train_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::built_program;
using testing::run_program;

const std::string SEED_1_REPORT =
    "correct classification = 100%\n"
    "y=-0.4*x + (9.00572)\n"
    "support vectors: 3 6 8 14\n";

bool parse(std::vector<std::string> args, TrainOptions& options, std::string& error) {
  args.insert(args.begin(), "lumvet-train");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  return parse_train_options(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(TrainOptions, BothValueForms) {
  TrainOptions a, b;
  std::string error;
  ASSERT_TRUE(parse({"--seed=-5", "--selftest"}, a, error));
  ASSERT_TRUE(parse({"--selftest", "--seed", "-5"}, b, error));
  EXPECT_EQ(a.seed, -5);
  EXPECT_EQ(b.seed, -5);
  EXPECT_EQ(a.mode, TrainMode::self_test);
  EXPECT_EQ(b.mode, TrainMode::self_test);

  TrainOptions c;
  ASSERT_TRUE(parse({"x", "--", "--seed=1"}, c, error));
  EXPECT_FALSE(c.seed);
  EXPECT_EQ(c.positional, std::vector<std::string>({"x", "--seed=1"}));
}

TEST(TrainOptions, Errors) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--bogus=1"}, "unknown option '--bogus'"},
      {{"--seed"}, "option '--seed' needs a value"},
      {{"--seed=x7"}, "invalid value 'x7' for --seed"},
      {{"--seed", "--selftest"}, "invalid value '--selftest' for --seed"},
      {{"--selftest=yes"}, "option '--selftest' takes no value"},
      {{"--good="}, "option '--good' needs a folder"},
      {{"--seed=x7", "--bogus"}, "invalid value 'x7' for --seed"},
  };
  for (const auto& [args, message] : cases) {
    TrainOptions options;
    std::string error;
    EXPECT_FALSE(parse(args, options, error));
    EXPECT_EQ(error.rfind(message, 0), 0u) << error;
  }
}

TEST(TrainProgram, SelfTest) {
  const std::string program = built_program("svm_train/lumvet-train");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--selftest", "--seed=1"}, {"--seed", "1", "--selftest"}}) {
    const auto r = run_program(program, args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, SEED_1_REPORT);
    EXPECT_EQ(r.err, "");
  }
  // Seeded from the clock: three lines of the same shape.
  const auto r = run_program(program, {"--selftest"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.rfind("correct classification = ", 0), 0u);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3);
}

TEST(TrainProgram, HelpAndVersion) {
  const std::string program = built_program("svm_train/lumvet-train");
  const auto help = run_program(program, {"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("usage: lumvet-train", 0), 0u);
  EXPECT_NE(help.out.find("--selftest"), std::string::npos);
  EXPECT_NE(help.out.find("--seed=N"), std::string::npos);
  const auto version = run_program(program, {"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out.rfind("lumvet-train ", 0), 0u);
}

TEST(TrainProgram, ErrorsAreOneLineAndExitTwo) {
  const std::string program = built_program("svm_train/lumvet-train");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--selftest", "--seed"}, {"--seed=99999999999", "--selftest"},
           {"--selftest", "extra"}, {"extra"}}) {
    const auto r = run_program(program, args);
    EXPECT_EQ(r.exit_code, TRAIN_EXIT_USAGE_ERROR);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_EQ(r.err.rfind("lumvet-train: ", 0), 0u) << r.err;
  }
  // Training where there is nothing to train on.
  testing::ScopedTempDir empty;
  const auto r = run_program(program, {"--model-dir=" + empty.path()}, empty.path());
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "lumvet-train: no photos to train on in good/ and blur/\n");
}

// Output that cannot be written is a failure, reported once; a reader that has
// gone away (a closed pipe) ends the program without a message.
TEST(TrainProgram, OutputFailuresAreReported) {
  for (const char* program : {"svm_train/lumvet-train", "nn/lumqet"}) {
    const std::string command = built_program(program) +
                                (std::string(program) == "nn/lumqet" ? " /dev/null" : " --selftest");
    const auto full = run_program("/bin/sh", {"-c", command + " > /dev/full"});
    EXPECT_EQ(full.exit_code, 1) << program;
    EXPECT_NE(full.err.find("cannot write output"), std::string::npos) << program;
    const auto closed = run_program("/bin/sh", {"-c", "trap '' PIPE; " + command + " | true; true"});
    EXPECT_EQ(closed.err, "") << program;
  }
}

}  // namespace
}  // namespace lumvet
