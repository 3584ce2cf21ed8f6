// lumvet-train's command line: the self-test report, help, version, usage errors
// and output failures, through the real program.
#include "train/train_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_photos.h"
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

// Under a file-size limit (ulimit -f) a write that passes it fails like any other
// instead of ending the program with SIGXFSZ: standard output redirected to a
// file gives exit code 1 with one line, and a model or network file that
// cannot be written gives exit code 1, leaves the earlier file as it was and
// no temporary file beside it.
TEST(Programs, FileSizeLimitIsAWriteFailure) {
  testing::ScopedTempDir dir;
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 2, 120, 90);
  testing::make_dir(dir.file("m"));
  const std::string out = dir.file("out.txt");
  // Only the program runs under the limit; its standard error reaches r.out
  // through a pipe.
  const auto limited = [&](const std::string& command) {
    return testing::run_program("/bin/bash", {"-c", "cd '" + dir.path() +
                                                        "' && set -o pipefail && (ulimit -f 0 && "
                                                        "exec " +
                                                        command + ") 2>&1 | cat"});
  };
  const std::string train = testing::built_program("train/lumvet-train");
  for (const std::string& command :
       {train + " --selftest", testing::built_program("nn/lumqet") + " --seed=1 /dev/null",
        testing::built_program("cli/lumvet") + " --seed=1 --format=tsv -R " + dir.path()}) {
    const RunResult r = limited(command + " > " + out);
    EXPECT_EQ(r.exit_code, 1) << command;
    EXPECT_NE(r.out.find("cannot write output"), std::string::npos) << command << ": " << r.out;
  }

  const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
  const std::string model = dir.file("m/test_30-10_0.75-0.0001=15-1-12000=e10.svm");
  const std::string network = dir.file("m/test_30-15-1_0.5-0.05-1=15-1-12000=e15.nn");
  for (const std::string& file : {model, network}) testing::write_bytes(file, old);
  for (const char* mode : {"", "--network "}) {
    const RunResult r = limited(train + " " + mode + "--seed=3 --model-dir=m > /dev/null");
    EXPECT_EQ(r.exit_code, 1) << mode << r.out;
  }
  for (const std::string& file : {model, network})
    EXPECT_EQ(testing::read_bytes(file), old) << file;
  for (const auto& e : std::filesystem::directory_iterator(dir.file("m"))) {
    EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
  }
}

}  // namespace
}  // namespace lumvet
