// lumvet-train's command line, and what all three programs share: their start
// (help, version, malformed options) and their output failures, run for real.
#include "train/train_command.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "build_config.h"
#include "tests/support/test_photos.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::RunResult;

// Usage errors are one line and exit 2 (the option splitter has its own tests:
// here, this program's messages). The self-test's report of seed 1 is the manual
// page's example.
TEST(TrainProgram, UsageErrors) {
  const std::string program = testing::built_program("train/lumvet-train");
  const std::pair<std::vector<std::string>, std::string> errors[] = {
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

// Problems go to the error sink handed in, never to the process's stderr.
TEST(TrainProgram, ProblemsGoToTheErrorSink) {
  std::string argv0 = "lumvet-train", bogus = "--bogus";
  char* argv[] = {argv0.data(), bogus.data()};
  int code = -1;
  std::string out;
  const std::string err = testing::capture_output([&](std::FILE* e) {
    out = testing::capture_output([&](std::FILE* o) { code = run_train_main(2, argv, o, e); });
  });
  EXPECT_EQ(code, EXIT_BAD_OPTION);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "lumvet-train: unknown option --bogus\n");
}

// The three programs start the same way: the same mistake is worded the same, and
// ends the program with the same exit code before anything else is done; --help
// and --version win over what else is given (lumvet's help begins with its
// usage text of old).
TEST(ProgramStart, SameMistakeSameWordsInEveryProgram) {
  const std::tuple<std::string, std::string, std::string> programs[] = {
      {"cli/lumvet", "lumvet", "USAGE: lumvet [-R] path\n"},
      {"train/lumvet-train", "lumvet-train", "usage: lumvet-train "},
      {"nn/lumqet", "lumqet", "usage: lumqet "}};
  const std::pair<std::vector<std::string>, std::string> mistakes[] = {
      {{"--seed=12x", "."}, "invalid value for --seed: '12x'"},
      {{"--seed=2147483648", "."}, "invalid value for --seed: '2147483648'"},
      {{"--bogus", "."}, "unknown option --bogus"},
      {{".", "--seed"}, "option --seed needs a value"},
      {{"--help=yes"}, "option --help takes no value"}};
  for (const auto& [path, name, help] : programs) {
    const RunResult r = testing::run_program(testing::built_program(path), {"-x", "--version"});
    EXPECT_TRUE(testing::ran(r, 0, name + " " + LUMVET_VERSION + "\n", ""));
    EXPECT_EQ(testing::run_program(testing::built_program(path), {"--help"}).out.rfind(help, 0), 0u)
        << name;
    for (const auto& [args, message] : mistakes) {
      const RunResult r = testing::run_program(testing::built_program(path), args);
      EXPECT_TRUE(testing::ran(r, EXIT_BAD_OPTION, "", name + ": " + message + "\n"))
          << name << " " << message;
    }
  }
}

// Every training mode checks its folders and its model file before it reads a
// single photo: one line, exit code 1, nothing printed, nothing written.
TEST(TrainProgram, FailsBeforeReadingAPhoto) {
  testing::ScopedTempDir dir;
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 1, 64, 64);
  testing::write_text(dir.file("file"), "");
  const std::string program = testing::built_program("train/lumvet-train");
  const std::vector<std::string> modes[] = {{}, {"--network"}, {"--assessor=sharpness"}};
  for (const std::vector<std::string>& mode : modes) {
    const std::string name = mode.empty() ? "contrast" : mode.front();
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--model-dir=none"}, "cannot write model file none/"},
        {{"--model-dir=file"}, "cannot write model file file/"},
        {{"--good=none"}, "cannot read folder none: No such file or directory"},
        {{"--blur=file"}, "cannot read folder file: Not a directory"}};
    for (auto [args, message] : cases) {
      args.insert(args.begin(), mode.begin(), mode.end());
      const RunResult r = testing::run_program(program, args, dir.path());
      EXPECT_EQ(r.exit_code, EXIT_NOT_TRAINED) << name << " " << message;
      EXPECT_EQ(r.out, "") << name << " " << message;
      EXPECT_EQ(r.err.rfind("lumvet-train: " + message, 0), 0u) << name << " " << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << name << " " << r.err;
    }
  }
  std::vector<std::uint8_t> none;
  EXPECT_EQ(testing::read_bytes(dir.file("sharpness.lvsm")), none);
}

// Without --model-dir a trained model goes into the current directory, never
// into the installation (for the sharpness model: the README's example); the
// default good/ and blur/ may still be missing.
TEST(TrainProgram, WritesIntoTheCurrentDirectory) {
  testing::ScopedTempDir dir;
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 2, 96, 96);
  const std::string program = testing::built_program("train/lumvet-train");
  // The contrast model, then the evaluation of ./blur and ./good.
  const RunResult svm = testing::run_program(program, {"--seed=1"}, dir.path());
  EXPECT_EQ(svm.exit_code, 0) << svm.err;
  EXPECT_EQ(testing::read_bytes(dir.file("test_30-10_0.75-0.0001=15-1-12000=e10.svm")).size(),
            252u);
  EXPECT_NE(svm.out.find("/2 are blurred\n"), std::string::npos) << svm.out;

  testing::ScopedTempDir only_blur;
  testing::write_photo_folders(only_blur.file("x"), only_blur.file("blur"), 1, 64, 64);
  const RunResult one_class =
      testing::run_program(program, {"--assessor=sharpness"}, only_blur.path());
  EXPECT_EQ(one_class.err.find("cannot read folder"), std::string::npos) << one_class.err;
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

// A reader that has gone away ends every program with exit code 1 and without a
// word, never with SIGPIPE (exit 141), in every mode that writes.
TEST(Programs, ClosedPipeIsExitCodeOne) {
  testing::ScopedTempDir dir;
  testing::write_photo_folders(dir.file("good"), dir.file("blur"), 1, 120, 90);
  const std::string photo = std::filesystem::directory_iterator(dir.file("good"))->path().string();
  const std::string lumvet = testing::built_program("cli/lumvet");
  const std::pair<std::string, std::vector<std::string>> runs[] = {
      {lumvet, {"--format=jsonl", photo}},
      {lumvet, {photo}},
      {lumvet, {"--format=tsv", "-R", dir.path()}},
      {lumvet, {"-R", dir.path()}},
      {testing::built_program("nn/lumqet"), {photo}},
      {testing::built_program("train/lumvet-train"), {"--selftest"}},
  };
  // Standard output a pipe whose reading end is closed before the program starts;
  // SIGPIPE as a shell leaves it.
  const auto closed_pipe = [] {
    int fds[2];
    if (::pipe(fds) != 0) ::_exit(127);
    ::close(fds[0]);
    ::dup2(fds[1], 1);
    ::signal(SIGPIPE, SIG_DFL);
  };
  for (const auto& [program, args] : runs) {
    const RunResult r = testing::run_program(program, args, "", closed_pipe);
    EXPECT_EQ(r.exit_code, 1) << program << " " << ::testing::PrintToString(args);
    EXPECT_EQ(r.err, "") << program;
  }
}

// The usage text answers a path that names nothing with exit code 100, also when
// the text cannot be written.
TEST(Programs, UsageExitCodeStandsWhenTheTextCannotBeWritten) {
  for (const std::string& program :
       {testing::built_program("nn/lumqet"), testing::built_program("cli/lumvet")}) {
    const RunResult r =
        testing::run_program("/bin/sh", {"-c", program + " /nonexistent/x.jpg > /dev/full"});
    EXPECT_EQ(r.exit_code, 100) << program;
  }
}

}  // namespace
}  // namespace lumvet
