// Runs the real lumvet program and compares its exact output and exit code; expected
// scores come from scoring the same files in the same order from the same seed.
#include "cli/lumvet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <tuple>

#include "scoring/model_file.h"
#include "tests/cli/cli_support.h"

namespace lumvet {
namespace {

// "lumvet -R" in this process: exits with 0 when it gave the usage exit without
// starting the imaging library.
void usage_exit_in_process() {
  char prog[] = "lumvet", sw[] = "-R";
  char* argv[] = {prog, sw, nullptr};
  std::FILE* null_out = std::fopen("/dev/null", "w");
  const int code = run_lumvet(2, argv, null_out, null_out);
  std::exit(code == 100 && imaging_library().state == ImagingState::not_started ? 0 : 1);
}

TEST(CommandLine, UsageExitStartsNothing) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: others start the library
  EXPECT_EXIT(usage_exit_in_process(), ::testing::ExitedWithCode(0), "");
}

TEST(CommandLine, SwitchesPathsAndUsage) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("root"), a = root + "/a.jpg";
  const std::string photo = tmp.file("my holiday photo.jpg"), notes = tmp.file("notes.txt");
  testing::make_dir(root + "/sub");
  write_photo(a, 0);
  write_photo(root + "/sub/b.jpg", 255);
  write_photo(photo, 255, 3);
  testing::write_text(notes, "not a picture\n");
  ASSERT_EQ(::symlink("nowhere.jpg", tmp.file("ghost.jpg").c_str()), 0);
  // No usable path: the usage text and 100.
  const std::tuple<Args, std::string, std::string> cases[] = {
      {{}, USAGE, ""},
      {{tmp.file("ghost.jpg")}, USAGE, ""},  // a dangling link as the single path
      // "-x <photo>" as one path does not exist.
      {{"-x", a}, "invalid switch x\n" + USAGE, ""},
      // With a recurse switch the blanks of an unquoted path are not tried.
      {{"-R", tmp.file("my"), "holiday", "photo.jpg"}, USAGE, ""},
      // In a machine format the messages go to standard error.
      {{"--format=jsonl", "-x", a}, "", "invalid switch x\n" + USAGE},
  };
  for (const auto& [args, out, err] : cases) {
    const RunResult r = lumvet(args);
    EXPECT_TRUE(testing::ran(r, 100, out, err)) << ::testing::PrintToString(args);
  }

  // An invalid switch ends the argument scan: the later -R is not seen.
  RunResult r = lumvet({"--seed=9", root, "-x", "-R"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "invalid switch x\n" + chained(9, {a}));
  // A lone '-' is an invalid switch too, shown as itself (no NUL byte); in a pipe
  // a control character after '-' is kept as it is.
  EXPECT_EQ(lumvet({a, "-"}).out, "invalid switch -\n304\n");
  EXPECT_EQ(lumvet({a, "-\x1b"}).out, "invalid switch \x1b\n304\n");
  const std::string recursive = chained(9, {a, root + "/sub/b.jpg"});
  for (const Args& args : {Args{"--seed=9", "-R", root}, Args{"--seed=9", "-rxyz", root},
                           Args{"--seed=9", root, "-R"}}) {
    EXPECT_EQ(lumvet(args).out, recursive) << ::testing::PrintToString(args);
  }
  // '/' begins a path, never a switch: "/R" is a later path and ignored. A trailing
  // '/' is kept, giving "//".
  EXPECT_EQ(lumvet({"--seed=9", root, "/R"}).out, chained(9, {a}));
  EXPECT_EQ(lumvet({"--seed=9", root + "/"}).out, chained(9, {root + "//a.jpg"}));

  // An unquoted path with blanks is tried whole, long options anywhere left out of it;
  // TSV gives a score below 0 as it is, the text as 0. Only the first of two paths counts.
  const std::string tsv = chained(4, {photo}, OutputFormat::tsv);
  EXPECT_NE(tsv.find("\n-"), std::string::npos);
  EXPECT_EQ(lumvet({"--format=tsv", tmp.file("my"), "--seed", "4", "holiday", "photo.jpg"}).out,
            tsv);
  EXPECT_EQ(lumvet({"--seed=4", photo, a}).out, "0\n");
  // Any existing file is scored, whatever its name.
  r = lumvet({"--format=tsv", notes});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "score\tstatus\tpath\n0\tundecodable\t" + notes + "\n");
}

// Files first in byte order (unsigned bytes, case kept), then sub-folders depth
// first. ".a" is not entered, ".abc" and a folder named x.jpg are; a folder is
// scanned once, through the first path that reaches it (here sub through the link
// alias, not again as dir.jpg or sub, nor through its links back). Any number
// of threads writes the bytes of one, undecodable photos among the others
// shifting every later photo's patches.
TEST(FolderScan, OrderFormatsAndJobCounts) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("root");
  for (const char* d : {"/x.jpg", "/.a", "/.abc", "/sub/deep", "/empty"})
    testing::make_dir(root + d);
  const Args top = {
      "/A.JPG",     "/b.jpg",    "/back\\slash.jpg", "/bad\xff\xfe.jpg", "/c.Jpg",
      "/ghost.jpg", "/link.jpg", "/new\nline.jpg",   "/tab\there.jpg",   "/\xc3\xa9t\xc3\xa9.jpg"};
  for (std::uint32_t i = 0; i < top.size(); ++i) {  // ghost.jpg and link.jpg: links below
    if (i != 5 && i != 6) write_photo(root + top[i], 255 * (i % 2), i);
  }
  Args sub;
  for (int i = 0; i < 12; ++i) {
    sub.push_back(std::to_string(10 + i) + ".jpg");
    write_photo(root + "/sub/" + sub.back(), i % 4 == 3 ? 0 : 40 + 19 * i, std::uint32_t(i));
  }
  for (int i : {1, 6, 11}) testing::write_text(root + "/sub/" + sub[i], "not a photo");
  sub.push_back("deep/d.jpg");
  for (const char* f :
       {"/d.jpeg", "/.a/hidden.jpg", "/.abc/seen.jpg", "/x.jpg/inner.jpg", "/sub/deep/d.jpg"})
    write_photo(root + f, 0);
  testing::write_text(root + "/notes.txt", "x");
  // Links: sub/loop back to root, sub/self to sub itself, alias a second way into sub,
  // dir.jpg a folder and not a photo.
  for (const auto& [target, name] : {std::pair{"..", "/sub/loop"},
                                     {".", "/sub/self"},
                                     {"sub", "/alias"},
                                     {"sub", "/dir.jpg"},
                                     {"nowhere.jpg", "/ghost.jpg"},
                                     {"b.jpg", "/link.jpg"}}) {
    ASSERT_EQ(::symlink(target, (root + name).c_str()), 0);
  }
  std::vector<Entry> all;
  for (const auto& f : top) all.push_back(root + f);
  all.push_back(root + "/.abc/seen.jpg");
  for (const auto& f : sub) all.push_back(root + "/alias/" + f);
  all.push_back(root + "/x.jpg/inner.jpg");

  // Relative paths are listed as given.
  std::string relative = chained(21, all);
  for (std::size_t at; (at = relative.find(tmp.path() + "/")) != std::string::npos;)
    relative.erase(at, tmp.path().size() + 1);
  RunResult r = lumvet({"--seed=21", "-R", "root"}, tmp.path());
  EXPECT_TRUE(testing::ran(r, 0, relative, ""));
  for (const auto& [flag, format] : {std::pair{"--format=text", OutputFormat::text},
                                     {"--format=tsv", OutputFormat::tsv},
                                     {"--format=jsonl", OutputFormat::jsonl}}) {
    const std::string want = chained(-123456, all, format, -50);
    for (int jobs = 1; jobs <= 8; ++jobs) {
      const std::string j = "--jobs=" + std::to_string(jobs);
      EXPECT_EQ(lumvet({"--seed=-123456", j, "--threshold=-50", flag, "-R", root}).out, want)
          << flag << " " << j;
    }
    EXPECT_EQ(lumvet({flag, "-R", root + "/empty"}).out, chained(1, {}, format)) << flag;
  }
  // A dangling link counts as an undecodable photo.
  r = lumvet({"--format=tsv", root});
  EXPECT_NE(r.out.find("0\tundecodable\t" + root + "/ghost.jpg\n"), std::string::npos);
  // A single file's record too is valid JSON giving a non-UTF-8 name back exactly.
  r = lumvet({"--seed=2", "--format=jsonl", root + top[3]});
  EXPECT_EQ(r.out, chained(2, {root + top[3]}, OutputFormat::jsonl));
  EXPECT_EQ(nlohmann::json::parse(r.out)["path_bytes"], base64_encode(root + top[3]));
}

TEST(LongOptions, ModelFilesAndThreshold) {
  ScopedTempDir tmp;
  const std::string p0 = tmp.file("p0.jpg"), p1 = tmp.file("p1.jpg");
  write_photo(p0, 96, 0);
  write_photo(p1, 255, 1);
  SvmModel model;
  init_embedded_model(model);
  const std::vector<std::uint8_t> embedded = encode_svm_model(model);
  testing::write_bytes(tmp.file("embedded.svm"), embedded);
  testing::write_bytes(tmp.file("short.svm"), {embedded.begin(), embedded.end() - 8});
  model.weights.assign(30, 0.0);  // no weights: every photo scores 100 x the bias, truncated
  model.bias = 0.105;
  testing::write_bytes(tmp.file("10.svm"), encode_svm_model(model));
  model.bias = 0.115;
  testing::write_bytes(tmp.file("11.svm"), encode_svm_model(model));
  release_svm_model(model);
  // The embedded weights from a file change nothing.
  EXPECT_EQ(
      lumvet({"--model=" + tmp.file("embedded.svm"), "--seed=12", "--format=jsonl", tmp.path()})
          .out,
      chained(12, {p0, p1}, OutputFormat::jsonl));
  // Listed are the photos scoring above the threshold, 10 unless set.
  const std::string none = "BLUR\tPATH\n0/2 are somewhat blurred\n";
  EXPECT_EQ(lumvet({"--model", tmp.file("11.svm"), tmp.path()}).out,
            "BLUR\tPATH\n11\t" + p0 + "\n11\t" + p1 + "\n2/2 are somewhat blurred\n");
  EXPECT_EQ(lumvet({"--model=" + tmp.file("10.svm"), tmp.path()}).out, none);
  EXPECT_EQ(lumvet({"--model=" + tmp.file("11.svm"), "--threshold=11", tmp.path()}).out, none);

  // Unusable options and model files: one line and exit 2, nothing else done
  // (no usage text, "invalid switch" or score), with or without a path. The
  // wording shared by every program is checked in train_tests.
  const std::pair<Args, std::string> cases[] = {
      {{"-x", p0, "--seed"}, "option --seed needs a value"},
      {{"--threshold=ten"}, "invalid value for --threshold: 'ten'"},
      {{"--format=TSV", p0}, "invalid value for --format: 'TSV'"},
      {{"--jobs=0", tmp.path()}, "invalid value for --jobs: '0'"},
      {{"--jobs=1025"}, "invalid value for --jobs: '1025'"},
      {{"--model=" + tmp.file("short.svm")},
       "model file " + tmp.file("short.svm") +
           " is not a model file: it must be exactly 252 bytes long"},
      {{"--model=" + tmp.file("none.svm"), p0}, "cannot read model file " + tmp.file("none.svm")},
      {{"--model="}, "invalid value for --model: ''"},
  };
  for (const auto& [bad, message] : cases) {
    const RunResult r = lumvet(bad);
    EXPECT_TRUE(testing::ran(r, 2, "", "lumvet: " + message + "\n")) << message;
  }
  // Help and version: ProgramStart in train_tests.
}

// A reader that leaves mid-run stops the scan quietly, on any number of threads
// (a closed pipe from the start: see train_tests); a full device is a failure.
TEST(Output, ClosedPipeEndsQuietlyAndWriteFailureIsReported) {
  ScopedTempDir tmp;
  for (int i = 100; i < 140; ++i) write_photo(tmp.file(std::to_string(i) + ".jpg"), 0);
  for (const char* jobs : {"--jobs=1", "--jobs=8"}) {
    const RunResult r =
        shell("trap '' PIPE; \"$0\" $1 --format=tsv -R \"$2\" | head -3", {jobs, tmp.path()});
    EXPECT_EQ(r.err, "") << jobs;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << jobs;
  }
  const RunResult r = shell("\"$0\" \"$1\" > /dev/full", {tmp.file("100.jpg")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "lumvet: cannot write output: No space left on device\n");
}

// Under AddressSanitizer freed memory waits in a quarantine and still counts:
// without it the resident size shows what the program holds.
void without_quarantine() {
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string options = std::string(asan != nullptr ? asan : "") +
                              ":quarantine_size_mb=0:thread_local_quarantine_size_kb=0";
  ::setenv("ASAN_OPTIONS", options.c_str(), 1);
}

// Workers share one decoding-memory budget: four 1-bit BMPs of 4096 x 4096 (2 MiB
// files, 64 MiB bitmaps) on four threads with a budget of 100 MiB are decoded one
// at a time instead of four at once, and the output is that of one thread.
TEST(FolderScan, DecodingMemoryIsSharedByTheWorkers) {
  ScopedTempDir tmp;
  constexpr std::uint32_t SIDE = 4096, ROW = SIDE / 8;
  std::vector<std::uint8_t> bmp = {'B', 'M'};
  for (std::uint32_t v : {62 + ROW * SIDE, 0u, 62u, 40u, SIDE, SIDE, 1u | 1u << 16, 0u, ROW * SIDE,
                          0u, 0u, 0u, 0u, 0u, 0x00FFFFFFu}) {
    for (int i = 0; i < 4; ++i) bmp.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  for (std::uint32_t i = 0; i < ROW * SIDE; ++i) bmp.push_back(static_cast<std::uint8_t>(i * 167));
  for (const char* name : {"/1.jpg", "/2.jpg", "/3.jpg", "/4.jpg"}) {
    testing::write_bytes(tmp.path() + name, bmp);
  }
  const RunResult one_thread =
      testing::run_program(program(), {"--seed=3", "--format=tsv", "--jobs=1", tmp.path()});
  const RunResult shared = testing::run_program(
      program(), {"--seed=3", "--format=tsv", "--jobs=4", "--decode-memory=100", tmp.path()}, "",
      without_quarantine);
  ASSERT_EQ(one_thread.exit_code, 0);
  ASSERT_EQ(shared.exit_code, 0);
  EXPECT_LT(shared.peak_kib, 200 * 1024);
  EXPECT_EQ(shared.out, one_thread.out);
}

}  // namespace
}  // namespace lumvet
