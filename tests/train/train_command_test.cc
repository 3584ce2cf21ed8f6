// lumvet-train's command line: the self-test report, help, version, usage errors
// and output failures, through the real program.
#include "train/train_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::RunResult;

// The self-test report of seed 1, help and version; usage errors are one line and
// exit 2 (the option splitter has its own tests: here, this program's messages).
TEST(TrainProgram, SelfTestHelpVersionAndUsageErrors) {
  const std::string program = testing::built_program("train/lumvet-train");
  const RunResult r = testing::run_program(program, {"--seed", "1", "--selftest"});
  EXPECT_EQ(r.exit_code, 0);
  // Sample 8 keeps a multiplier of about 7e-18: above 0.0, so it is listed.
  EXPECT_EQ(r.out + r.err,
            "correct classification = 100%\ny=-0.4*x + (9.00572)\nsupport vectors: 3 6 8 14\n");
  EXPECT_EQ(testing::run_program(program, {"--help"}).out.rfind("usage: lumvet-train", 0), 0u);
  EXPECT_EQ(testing::run_program(program, {"--version"}).out.rfind("lumvet-train ", 0), 0u);
  const std::pair<std::vector<std::string>, std::string> errors[] = {
      {{"--bogus=1"}, "unknown option --bogus"},
      {{"--seed=99999999999", "--selftest"}, "invalid value for --seed: '99999999999'"},
      {{"--good="}, "invalid value for --good: ''"},
      {{"--selftest", "extra"}, "unexpected argument 'extra'"}};
  for (const auto& [args, message] : errors) {
    const RunResult e = testing::run_program(program, args);
    EXPECT_EQ(e.exit_code, EXIT_BAD_OPTION) << message;
    EXPECT_EQ(e.out, "");
    EXPECT_EQ(e.err.rfind("lumvet-train: " + message, 0), 0u) << e.err;
    EXPECT_EQ(std::count(e.err.begin(), e.err.end(), '\n'), 1) << e.err;
  }
}

// The three programs start the same way: the same mistake is worded the same, and
// ends the program with the same exit code before anything else is done.
TEST(ProgramStart, SameMistakeSameWordsInEveryProgram) {
  const std::pair<std::string, std::string> programs[] = {
      {"cli/lumvet", "lumvet"}, {"train/lumvet-train", "lumvet-train"}, {"nn/lumqet", "lumqet"}};
  const std::pair<std::vector<std::string>, std::string> mistakes[] = {
      {{"--seed=12x", "."}, "invalid value for --seed: '12x'"},
      {{"--seed=2147483648", "."}, "invalid value for --seed: '2147483648'"},
      {{"--bogus", "."}, "unknown option --bogus"},
      {{".", "--seed"}, "option --seed needs a value"},
      {{"--help=yes"}, "option --help takes no value"}};
  for (const auto& [path, name] : programs) {
    for (const auto& [args, message] : mistakes) {
      const RunResult r = testing::run_program(testing::built_program(path), args);
      EXPECT_EQ(r.exit_code, EXIT_BAD_OPTION) << name << " " << message;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, name + ": " + message + "\n");
    }
  }
}

// Output that cannot be written is a failure (both programs once exited 0); a
// reader that has gone away (a closed pipe) ends the program without a message.
TEST(TrainProgram, OutputFailuresAreReported) {
  for (const std::string& command : {testing::built_program("train/lumvet-train") + " --selftest",
                                     testing::built_program("nn/lumqet") + " /dev/null"}) {
    const auto full = testing::run_program("/bin/sh", {"-c", command + " > /dev/full"});
    EXPECT_EQ(full.exit_code, 1) << command;
    EXPECT_NE(full.err.find("cannot write output"), std::string::npos) << command;
    const auto closed =
        testing::run_program("/bin/sh", {"-c", "trap '' PIPE; " + command + " | true; true"});
    EXPECT_EQ(closed.err, "") << command;
  }
}

}  // namespace
}  // namespace lumvet
