// Runs the real lumvet program in temporary folder trees and compares its exact
// output and exit code. Expected scores come from scoring the same files in the
// same order with a RandomState started at the same seed.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "build_config.h"
#include "cli/lumvet.h"
#include "cli/output.h"
#include "imaging/imaging.h"
#include "scoring/file_scoring.h"
#include "tests/cli/test_jpeg.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::built_program;
using testing::make_dir;
using testing::run_program;
using testing::RunResult;
using testing::ScopedTempDir;
using testing::write_flat_jpeg;
using testing::write_noise_jpeg;
using testing::write_text;
using Args = std::vector<std::string>;

const std::string USAGE = USAGE_TEXT;

Args operator+(Args a, const Args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

RunResult lumvet(const Args& args, const std::string& cwd = "") {
  return run_program(built_program("cli/lumvet"), args, cwd);
}

// Scores files the way lumvet does: one RandomState, in the order asked.
class Scorer {
 public:
  explicit Scorer(std::int32_t seed) {
    start_imaging_library();
    rs_.value = seed;
    init_embedded_model(model_);
  }
  ~Scorer() { release_svm_model(model_); }
  FileScore next(const std::string& path) {
    return score_image_file_checked(model_, path, FEATURE_SCALE, rs_);
  }

 private:
  RandomState rs_;
  SvmModel model_;
};

// Text output of a folder scan reaching `photos` in this order.
std::string expected_text(std::int32_t seed, const Args& photos, int threshold = 10) {
  Scorer scorer(seed);
  std::string text = "BLUR\tPATH\n";
  int listed = 0;
  for (const auto& p : photos) {
    const FileScore s = scorer.next(p);
    if (s.score > threshold) {
      text += std::to_string(s.score) + "\t" + p + "\n";
      ++listed;
    }
  }
  return text + std::to_string(listed) + "/" + std::to_string(photos.size()) +
         " are somewhat blurred\n";
}

std::string expected_tsv(std::int32_t seed, const Args& photos) {
  Scorer scorer(seed);
  std::string text = TSV_HEADER;
  for (const auto& p : photos) text += tsv_record(p, scorer.next(p));
  return text;
}

std::string expected_jsonl(std::int32_t seed, const Args& photos) {
  Scorer scorer(seed);
  std::string text;
  for (const auto& p : photos) text += json_record(p, scorer.next(p));
  return text;
}

std::string single_score(std::int32_t seed, const std::string& path) {
  const FileScore s = Scorer(seed).next(path);
  return std::to_string(s.score < 1 ? 0 : s.score) + "\n";
}

// ---------------------------------------------------------------- usage and switches

TEST(Usage, NoPathGivesUsageAnd100) {
  ScopedTempDir tmp;
  for (const Args& args : {Args{}, Args{"-R"}, Args{"-r"}, Args{"-R", "-R"},
                           Args{tmp.file("missing.jpg")}, Args{"-R", tmp.file("missing")}}) {
    const RunResult r = lumvet(args);
    EXPECT_EQ(r.exit_code, 100) << ::testing::PrintToString(args);
    EXPECT_EQ(r.out, USAGE);
    EXPECT_EQ(r.err, "");
  }
}

// Runs the entry routine for "lumvet -R" in this process and exits with 0 when
// it gave the usage exit without starting the imaging library.
void usage_exit_in_process() {
  char prog[] = "lumvet";
  char sw[] = "-R";
  char* argv[] = {prog, sw, nullptr};
  std::FILE* null_out = std::fopen("/dev/null", "w");
  const int code = run_lumvet(2, argv, null_out, null_out);
  std::exit(code == 100 && imaging_library().state == ImagingState::not_started ? 0 : 1);
}

TEST(Usage, UsageExitStartsNothing) {
  EXPECT_EXIT(usage_exit_in_process(), ::testing::ExitedWithCode(0), "");
}

TEST(Switches, InvalidSwitchAfterThePhoto) {
  ScopedTempDir tmp;
  const std::string photo = tmp.file("p.jpg");
  write_flat_jpeg(photo);
  const RunResult r = lumvet({"--seed=5", photo, "-x", "-R"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "invalid switch x\n" + single_score(5, photo));
  EXPECT_EQ(r.err, "");
}

TEST(Switches, InvalidSwitchBeforeThePhotoFallsBackAndFails) {
  ScopedTempDir tmp;
  const std::string photo = tmp.file("p.jpg");
  write_flat_jpeg(photo);
  // "-x <photo>" as one path does not exist.
  const RunResult r = lumvet({"-x", photo});
  EXPECT_EQ(r.exit_code, 100);
  EXPECT_EQ(r.out, "invalid switch x\n" + USAGE);
  // A lone '-' is a switch whose second character is the terminator.
  const RunResult dash = lumvet({photo, "-"});
  EXPECT_EQ(dash.exit_code, 0);
  EXPECT_EQ(dash.out, std::string("invalid switch \0\n", 17) + "304\n");
}

TEST(Switches, RecurseSpellingsAndPositions) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("root");
  make_dir(root + "/sub");
  write_flat_jpeg(root + "/a.jpg");
  write_noise_jpeg(root + "/sub/b.jpg", 1);
  const std::string recursive = expected_text(9, {root + "/a.jpg", root + "/sub/b.jpg"});
  for (const Args& args : {Args{"-R", root}, Args{"-r", root}, Args{"-Rxyz", root},
                           Args{root, "-R"}, Args{"-R", root, "-r"}}) {
    const RunResult r = lumvet(Args{"--seed=9"} + args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, recursive) << ::testing::PrintToString(args);
  }
  // '/' begins a path, never a switch: "/R" is a later path argument and ignored.
  const RunResult flat = lumvet({"--seed=9", root, "/R"});
  EXPECT_EQ(flat.out, expected_text(9, {root + "/a.jpg"}));
  // Recursion changes nothing for a single photo.
  EXPECT_EQ(lumvet({"--seed=9", "-R", root + "/sub/b.jpg"}).out,
            single_score(9, root + "/sub/b.jpg"));
}

// ---------------------------------------------------------------- path resolution

TEST(Fallback, UnquotedPathWithBlanks) {
  ScopedTempDir tmp;
  const std::string photo = tmp.file("my  holiday photo.jpg");
  write_noise_jpeg(photo, 3);
  // The shell collapsed the double blank: only single spaces come back, so the
  // name with two blanks cannot be found that way...
  EXPECT_EQ(lumvet({"--seed=4", tmp.file("my"), "holiday", "photo.jpg"}).exit_code, 100);
  // ...but one with single blanks is, and long options anywhere are left out of it.
  const std::string single = tmp.file("my holiday photo.jpg");
  write_noise_jpeg(single, 3);
  RunResult r = lumvet({tmp.file("my"), "--seed", "4", "holiday", "photo.jpg"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, single_score(4, single));
  // Relative to the working directory too.
  r = lumvet({"--seed=4", "my", "holiday", "photo.jpg"}, tmp.path());
  EXPECT_EQ(r.out, single_score(4, single));
  // With a recurse switch the fallback is not tried.
  r = lumvet({"-R", tmp.file("my"), "holiday", "photo.jpg"});
  EXPECT_EQ(r.exit_code, 100);
  EXPECT_EQ(r.out, USAGE);
  // A folder name with blanks works the same way.
  make_dir(tmp.file("my folder"));
  r = lumvet({"--seed=4", tmp.file("my"), "folder"});
  EXPECT_EQ(r.out, "BLUR\tPATH\n0/0 are somewhat blurred\n");
}

TEST(SingleFile, OnlyTheFirstPathAndAnyFileType) {
  ScopedTempDir tmp;
  write_noise_jpeg(tmp.file("one.jpg"), 7);
  write_flat_jpeg(tmp.file("two.jpg"));
  RunResult r = lumvet({"--seed=11", tmp.file("one.jpg"), tmp.file("two.jpg")});
  EXPECT_EQ(r.out, single_score(11, tmp.file("one.jpg")));
  r = lumvet({"--seed=11", tmp.file("one.jpg"), tmp.file("nowhere")});
  EXPECT_EQ(r.out, single_score(11, tmp.file("one.jpg")));
  // Sharp noise scores below 0: the text shows 0, TSV the score itself.
  EXPECT_EQ(r.out, "0\n");
  EXPECT_EQ(lumvet({"--seed=11", "--format=tsv", tmp.file("one.jpg")}).out,
            expected_tsv(11, {tmp.file("one.jpg")}));
  EXPECT_LT(Scorer(11).next(tmp.file("one.jpg")).score, 0);
  // Any existing file is scored in single-file mode, whatever its name.
  write_text(tmp.file("notes.txt"), "not a picture\n");
  r = lumvet({tmp.file("notes.txt")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "0\n");
  write_flat_jpeg(tmp.file("flat.png"));  // a JPEG under another name
  EXPECT_EQ(lumvet({tmp.file("flat.png")}).out, "304\n");
}

// ---------------------------------------------------------------- folder scan

struct Tree {
  ScopedTempDir tmp;
  std::string root = tmp.file("root");
  Tree() {
    make_dir(root + "/x.jpg");
    make_dir(root + "/.a");
    make_dir(root + "/.abc");
    make_dir(root + "/sub/deep");
    make_dir(root + "/empty");
    write_noise_jpeg(root + "/A.JPG", 1);
    write_flat_jpeg(root + "/b.jpg");
    write_noise_jpeg(root + "/c.Jpg", 2, 60);
    write_flat_jpeg(root + "/d.jpeg");  // not a ".jpg" name
    write_text(root + "/notes.txt", "x");
    write_flat_jpeg(root + "/x.jpg/inner.jpg");
    write_flat_jpeg(root + "/.a/hidden.jpg");
    write_flat_jpeg(root + "/.abc/seen.jpg");
    write_noise_jpeg(root + "/sub/s.jpg", 3);
    write_flat_jpeg(root + "/sub/deep/d.jpg", 30);
    write_flat_jpeg(root + "/sub/t.jpg", 200);
  }
  Args top(const std::string& base) const {
    return {base + "/A.JPG", base + "/b.jpg", base + "/c.Jpg"};
  }
  Args all(const std::string& base) const {
    Args a = top(base);
    for (const char* p :
         {"/.abc/seen.jpg", "/sub/s.jpg", "/sub/t.jpg", "/sub/deep/d.jpg", "/x.jpg/inner.jpg"}) {
      a.push_back(base + p);
    }
    return a;
  }
};

TEST(FolderScan, OrderDotNamesAndJpgFolders) {
  Tree t;
  RunResult r = lumvet({"--seed=21", t.root});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, expected_text(21, t.top(t.root)));
  r = lumvet({"--seed=21", "-R", t.root});
  EXPECT_EQ(r.out, expected_text(21, t.all(t.root)));
  EXPECT_EQ(r.err, "");
  // Relative paths are listed as given.
  r = lumvet({"--seed=21", "-R", "root"}, t.tmp.path());
  const std::string absolute = expected_text(21, t.all(t.root));
  std::string relative = absolute;
  for (std::size_t at; (at = relative.find(t.tmp.path() + "/")) != std::string::npos;) {
    relative.erase(at, t.tmp.path().size() + 1);
  }
  EXPECT_EQ(r.out, relative);
}

TEST(FolderScan, TrailingSlashDoubles) {
  Tree t;
  const RunResult r = lumvet({"--seed=21", t.root + "/"});
  EXPECT_EQ(r.out, expected_text(21, t.top(t.root + "/")));
  EXPECT_NE(r.out.find(t.root + "//b.jpg"), std::string::npos);
}

TEST(FolderScan, EmptyFolder) {
  ScopedTempDir tmp;
  for (const Args& args : {Args{tmp.path()}, Args{"-R", tmp.path()}}) {
    const RunResult r = lumvet(args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "BLUR\tPATH\n0/0 are somewhat blurred\n");
  }
}

TEST(FolderScan, ThresholdIsGreaterThan) {
  ScopedTempDir tmp;
  const std::string photo = tmp.file("p.jpg");
  write_flat_jpeg(photo);  // scores 304 with every seed
  RunResult r = lumvet({"--threshold=304", tmp.path()});
  EXPECT_EQ(r.out, "BLUR\tPATH\n0/1 are somewhat blurred\n");
  r = lumvet({"--threshold=303", tmp.path()});
  EXPECT_EQ(r.out, "BLUR\tPATH\n304\t" + photo + "\n1/1 are somewhat blurred\n");
}

TEST(FolderScan, DefaultThresholdListsElevenNotTen) {
  // Find seeds with which one picture scores exactly 10 and exactly 11.
  ScopedTempDir tmp;
  const std::string photo = tmp.file("p.jpg");
  testing::write_part_noise_jpeg(photo);
  std::int32_t seed10 = 0, seed11 = 0;
  for (std::int32_t seed = 1; seed < 3000 && (seed10 == 0 || seed11 == 0); ++seed) {
    const std::int32_t s = Scorer(seed).next(photo).score;
    if (s == 10 && seed10 == 0) seed10 = seed;
    if (s == 11 && seed11 == 0) seed11 = seed;
  }
  ASSERT_NE(seed10, 0);
  ASSERT_NE(seed11, 0);
  EXPECT_EQ(lumvet({"--seed=" + std::to_string(seed10), tmp.path()}).out,
            "BLUR\tPATH\n0/1 are somewhat blurred\n");
  EXPECT_EQ(lumvet({"--seed=" + std::to_string(seed11), tmp.path()}).out,
            "BLUR\tPATH\n11\t" + photo + "\n1/1 are somewhat blurred\n");
}

// ---------------------------------------------------------------- links and permissions

TEST(FolderScan, LinkLoopsEndAndDanglingLinksCount) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("root");
  make_dir(root + "/sub");
  write_flat_jpeg(root + "/p.jpg");
  write_noise_jpeg(root + "/sub/q.jpg", 5);
  ASSERT_EQ(::symlink("..", (root + "/sub/loop").c_str()), 0);  // back to root
  ASSERT_EQ(::symlink(".", (root + "/sub/self").c_str()), 0);   // sub itself
  ASSERT_EQ(::symlink("sub", (root + "/alias").c_str()), 0);    // a second way in
  ASSERT_EQ(::symlink("nowhere.jpg", (root + "/ghost.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("p.jpg", (root + "/link.jpg").c_str()), 0);
  ASSERT_EQ(::symlink("sub", (root + "/dir.jpg").c_str()), 0);  // a folder, not a photo
  // Sorted: alias, dir.jpg, ghost.jpg, link.jpg, p.jpg, sub. A folder reached
  // through a link is scanned unless it is on the current descent path.
  const Args order = {root + "/ghost.jpg",   root + "/link.jpg",      root + "/p.jpg",
                      root + "/alias/q.jpg", root + "/dir.jpg/q.jpg", root + "/sub/q.jpg"};
  RunResult r = lumvet({"--seed=3", "-R", root});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, expected_text(3, order));
  r = lumvet({"--seed=3", "--format=tsv", "-R", root});
  EXPECT_EQ(r.out, expected_tsv(3, order));
  EXPECT_NE(r.out.find("0\tundecodable\t" + root + "/ghost.jpg\n"), std::string::npos);
  // A dangling link named as the single path does not exist: usage.
  EXPECT_EQ(lumvet({root + "/ghost.jpg"}).exit_code, 100);
}

TEST(FolderScan, UnreadableSubFolderContributesNothing) {
  ScopedTempDir tmp;
  ASSERT_EQ(::chmod(tmp.path().c_str(), 0755), 0);
  const std::string root = tmp.file("root");
  make_dir(root + "/locked");
  make_dir(root + "/open");
  write_flat_jpeg(root + "/locked/a.jpg");
  write_flat_jpeg(root + "/open/b.jpg");
  ASSERT_EQ(::chmod(root.c_str(), 0755), 0);
  ASSERT_EQ(::chmod((root + "/open").c_str(), 0755), 0);
  ASSERT_EQ(::chmod((root + "/open/b.jpg").c_str(), 0644), 0);
  ASSERT_EQ(::chmod((root + "/locked").c_str(), 0), 0);
  Args command = {built_program("cli/lumvet"), "-R", root};
  std::string program = command[0];
  if (::geteuid() == 0) {  // root reads everything: run as nobody instead
    program = "/usr/bin/setpriv";
    command.insert(command.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups"});
  } else {
    command.erase(command.begin());
  }
  const RunResult r = run_program(program, command);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "BLUR\tPATH\n304\t" + root + "/open/b.jpg\n1/1 are somewhat blurred\n");
}

// ---------------------------------------------------------------- names and formats

struct OddNames {
  ScopedTempDir tmp;
  // Sorted byte order.
  Args names = {"back\\slash.jpg", "bad\xff\xfe.jpg", "new\nline.jpg",
                "tab\there.jpg",   "with space.jpg",  "\xc3\xa9t\xc3\xa9.jpg"};
  Args paths;
  OddNames() {
    for (std::size_t i = 0; i < names.size(); ++i) {
      paths.push_back(tmp.file(names[i]));
      if (i % 2 == 0) {
        write_flat_jpeg(paths.back());
      } else {
        write_noise_jpeg(paths.back(), static_cast<std::uint32_t>(i));
      }
    }
  }
};

TEST(Formats, OddNamesInEveryMode) {
  OddNames t;
  RunResult r = lumvet({"--seed=17", t.tmp.path()});
  EXPECT_EQ(r.out, expected_text(17, t.paths));
  r = lumvet({"--seed=17", "--format=tsv", t.tmp.path()});
  EXPECT_EQ(r.out, expected_tsv(17, t.paths));
  EXPECT_NE(r.out.find("/new\\nline.jpg\n"), std::string::npos);
  r = lumvet({"--seed=17", "--format", "jsonl", t.tmp.path()});
  EXPECT_EQ(r.out, expected_jsonl(17, t.paths));
  // Every line is JSON; the non-UTF-8 name comes back exactly from path_bytes.
  std::size_t start = 0;
  for (const auto& p : t.paths) {
    const std::size_t end = r.out.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const auto j = nlohmann::json::parse(r.out.substr(start, end - start));
    if (is_valid_utf8(p)) {
      EXPECT_EQ(j["path"], p);
      EXPECT_FALSE(j.contains("path_bytes"));
    } else {
      EXPECT_EQ(j["path_bytes"], base64_encode(p));
    }
    start = end + 1;
  }
  EXPECT_EQ(start, r.out.size());
  for (const auto& p : t.paths) {
    EXPECT_EQ(lumvet({"--seed=2", p}).out, single_score(2, p));
    EXPECT_EQ(lumvet({"--seed=2", "--format=tsv", p}).out, expected_tsv(2, {p}));
    EXPECT_EQ(lumvet({"--seed=2", "--format=jsonl", p}).out, expected_jsonl(2, {p}));
  }
}

TEST(Formats, MachineFormatsRecordEveryImageWithRawScores) {
  Tree t;
  const RunResult tsv = lumvet({"--seed=8", "--format=tsv", "-R", t.root});
  EXPECT_EQ(tsv.exit_code, 0);
  EXPECT_EQ(tsv.out, expected_tsv(8, t.all(t.root)));
  // Records the text listing leaves out are there, with negative scores as they are.
  Scorer scorer(8);
  bool negative = false;
  for (const auto& p : t.all(t.root)) negative |= scorer.next(p).score < 0;
  EXPECT_TRUE(negative) << "the noise pictures should score below 0";
  const RunResult jsonl = lumvet({"--seed=8", "--format=jsonl", "-R", t.root});
  EXPECT_EQ(jsonl.out, expected_jsonl(8, t.all(t.root)));
  EXPECT_EQ(lumvet({"--format=jsonl", t.tmp.file("root/empty")}).out, "");
  EXPECT_EQ(lumvet({"--format=tsv", t.tmp.file("root/empty")}).out, "score\tstatus\tpath\n");
  // An undecodable file in single-file mode.
  const RunResult bad = lumvet({"--format=tsv", t.root + "/notes.txt"});
  EXPECT_EQ(bad.out, "score\tstatus\tpath\n0\tundecodable\t" + t.root + "/notes.txt\n");
}

TEST(Formats, MessagesGoToStandardErrorInMachineFormats) {
  ScopedTempDir tmp;
  const std::string photo = tmp.file("p.jpg");
  write_flat_jpeg(photo);
  RunResult r = lumvet({"--format=tsv", photo, "-x"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "score\tstatus\tpath\n304\tok\t" + photo + "\n");
  EXPECT_EQ(r.err, "invalid switch x\n");
  r = lumvet({"--format=jsonl", "-x", photo});
  EXPECT_EQ(r.exit_code, 100);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "invalid switch x\n" + USAGE);
}

TEST(Determinism, SameSeedSameBytes) {
  Tree t;
  for (const char* format : {"--format=text", "--format=tsv", "--format=jsonl"}) {
    const RunResult a = lumvet({"--seed=-123456", format, "-R", t.root});
    const RunResult b = lumvet({"--seed", "-123456", format, "-R", t.root});
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.exit_code, 0);
  }
  // The TSV scores equal score_image_file called in scan order.
  start_imaging_library();
  SvmModel model;
  init_embedded_model(model);
  RandomState rs;
  rs.value = -123456;
  std::vector<std::string> expected;
  for (const auto& p : t.all(t.root)) {
    expected.push_back(std::to_string(score_image_file(model, p, FEATURE_SCALE, rs)));
  }
  release_svm_model(model);
  const std::string tsv = lumvet({"--seed=-123456", "--format=tsv", "-R", t.root}).out;
  std::vector<std::string> scores;
  for (std::size_t at = tsv.find('\n') + 1; at < tsv.size(); at = tsv.find('\n', at) + 1) {
    scores.push_back(tsv.substr(at, tsv.find('\t', at) - at));
  }
  EXPECT_EQ(scores, expected);
}

// Any number of threads writes the bytes of one, undecodable photos among the
// others shifting every later photo's patches.
TEST(Determinism, EveryJobCountSameBytes) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("root");
  make_dir(root + "/sub");
  Args photos;
  for (int i = 0; i < 24; ++i) {
    const std::string p = root + (i % 3 == 2 ? "/sub/" : "/") + std::to_string(10 + i) + ".jpg";
    if (i % 5 == 1) {
      write_text(p, "not a photo");
    } else if (i % 7 == 4) {
      write_flat_jpeg(p, static_cast<std::uint8_t>(i * 9));
    } else {
      write_noise_jpeg(p, static_cast<std::uint32_t>(i), 40 + 9 * i);
    }
  }
  for (int i = 0; i < 24; ++i) {
    if (i % 3 != 2) photos.push_back(root + "/" + std::to_string(10 + i) + ".jpg");
  }
  for (int i = 0; i < 24; ++i) {
    if (i % 3 == 2) photos.push_back(root + "/sub/" + std::to_string(10 + i) + ".jpg");
  }
  for (std::int32_t seed : {77, -2}) {
    const std::string s = "--seed=" + std::to_string(seed);
    const std::string text = expected_text(seed, photos, -50);
    const std::string tsv = expected_tsv(seed, photos);
    const std::string jsonl = expected_jsonl(seed, photos);
    for (int jobs = 1; jobs <= 8; ++jobs) {
      const std::string j = "--jobs=" + std::to_string(jobs);
      EXPECT_EQ(lumvet({s, j, "--threshold=-50", "-R", root}).out, text) << jobs;
      EXPECT_EQ(lumvet({s, j, "--format=tsv", "-R", root}).out, tsv) << jobs;
      EXPECT_EQ(lumvet({s, j, "--format=jsonl", "-R", root}).out, jsonl) << jobs;
    }
  }
  for (const char* bad : {"--jobs=0", "--jobs=-1", "--jobs=x", "--jobs=1025"}) {
    EXPECT_EQ(lumvet({bad, root}).exit_code, 2) << bad;
  }
}

// ---------------------------------------------------------------- long options

TEST(LongOptions, ErrorsAreOneLineAndExit2) {
  ScopedTempDir tmp;
  write_flat_jpeg(tmp.file("p.jpg"));
  // Nothing else is done: no usage text, no "invalid switch", no score.
  for (const Args& args : {Args{"--bogus", tmp.file("p.jpg")},
                           Args{"-x", tmp.file("p.jpg"), "--seed"}, Args{"--format=csv"}}) {
    const RunResult r = lumvet(args);
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(r.err.substr(0, 8), "lumvet: ");
  }
}

TEST(LongOptions, HelpAndVersion) {
  RunResult r = lumvet({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.substr(0, USAGE.size()), USAGE);
  EXPECT_NE(r.out.find("--format=FORMAT"), std::string::npos);
  EXPECT_EQ(r.err, "");
  r = lumvet({"-x", "--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, std::string("lumvet ") + LUMVET_VERSION + "\n");
}

// ---------------------------------------------------------------- output that goes away

TEST(Output, ClosedPipeEndsQuietly) {
  ScopedTempDir tmp;
  for (int i = 100; i < 140; ++i) write_flat_jpeg(tmp.file(std::to_string(i) + ".jpg"));
  const std::string lumvet_path = built_program("cli/lumvet");
  for (const char* script :
       {"\"$0\" -R \"$1\" | head -3", "trap '' PIPE; \"$0\" -R \"$1\" | head -3",
        "\"$0\" --format=jsonl -R \"$1\" | head -1", "\"$0\" --jobs=1 -R \"$1\" | head -3",
        "trap '' PIPE; \"$0\" --jobs=8 -R \"$1\" | head -3"}) {
    const RunResult r = run_program("/bin/sh", {"-c", script, lumvet_path, tmp.path()});
    EXPECT_EQ(r.exit_code, 0) << script;
    EXPECT_EQ(r.err, "") << script;
    const std::size_t lines =
        static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n'));
    EXPECT_EQ(lines, std::string(script).find("head -1") != std::string::npos ? 1u : 3u);
  }
}

TEST(Output, WriteFailureIsReported) {
  ScopedTempDir tmp;
  write_flat_jpeg(tmp.file("p.jpg"));
  const RunResult r = run_program("/bin/sh", {"-c", "\"$0\" \"$1\" > /dev/full",
                                              built_program("cli/lumvet"), tmp.file("p.jpg")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "lumvet: cannot write output: No space left on device\n");
}

}  // namespace
}  // namespace lumvet
