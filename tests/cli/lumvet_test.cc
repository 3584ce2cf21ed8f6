// Runs the real lumvet program in temporary folder trees and compares its exact
// output and exit code. Expected scores come from scoring the same files in the
// same order with a RandomState started at the same seed.
#include "cli/lumvet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "build_config.h"
#include "cli/output.h"
#include "imaging/imaging.h"
#include "scoring/file_scoring.h"
#include "scoring/model_file.h"
#include "tests/support/image_files.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::make_dir;
using testing::RunResult;
using testing::ScopedTempDir;
using testing::write_text;
using Args = std::vector<std::string>;

const std::string USAGE = USAGE_TEXT;

RunResult lumvet(const Args& args, const std::string& cwd = "") {
  return testing::run_program(testing::built_program("cli/lumvet"), args, cwd);
}

// A 96 x 64 grey JPEG: `grey` everywhere, plus in the first `noisy_columns`
// columns pseudo-random noise of `amplitude` around it. A flat picture (amplitude
// 0) scores 304 with every seed; noise of amplitude 255 scores below 0.
void write_photo(const std::string& path, int amplitude, std::uint32_t seed = 1, int grey = 128,
                 int noisy_columns = 96) {
  std::uint32_t state = seed * 2654435761u + 1;
  ASSERT_TRUE(testing::write_jpeg(
      path, testing::make_test_bitmap(96, 64, [&](int, int j, std::uint8_t* p) {
        state = state * 1664525u + 1013904223u;
        const int noise = static_cast<int>((state >> 24) % (amplitude + 1u)) - amplitude / 2;
        p[0] = p[1] = p[2] =
            static_cast<std::uint8_t>(std::clamp(grey + (j < noisy_columns ? noise : 0), 0, 255));
      })));
}
void write_flat(const std::string& path, int grey = 128) { write_photo(path, 0, 1, grey); }

// The scores of `photos` scored one after another from one RandomState.
std::vector<FileScore> scores(std::int32_t seed, const Args& photos) {
  start_imaging_library();
  SvmModel model;
  init_embedded_model(model);
  RandomState rs{seed};
  std::vector<FileScore> result;
  for (const auto& p : photos)
    result.push_back(score_image_file_checked(model, p, FEATURE_SCALE, rs));
  release_svm_model(model);
  return result;
}

// What lumvet prints for a folder scan that reaches `photos` in this order.
std::string expected(std::int32_t seed, const Args& photos,
                     OutputFormat format = OutputFormat::text, int threshold = 10) {
  const std::vector<FileScore> s = scores(seed, photos);
  std::string out = format == OutputFormat::text  ? "BLUR\tPATH\n"
                    : format == OutputFormat::tsv ? TSV_HEADER
                                                  : "";
  int listed = 0;
  for (std::size_t i = 0; i < photos.size(); ++i) {
    if (format == OutputFormat::tsv) out += tsv_record(photos[i], s[i]);
    if (format == OutputFormat::jsonl) out += json_record(photos[i], s[i]);
    if (format == OutputFormat::text && s[i].score > threshold) {
      out += std::to_string(s[i].score) + "\t" + photos[i] + "\n";
      ++listed;
    }
  }
  if (format != OutputFormat::text) return out;
  return out + std::to_string(listed) + "/" + std::to_string(photos.size()) +
         " are somewhat blurred\n";
}

// What lumvet prints in the text mode for one photo: its score, 0 when below 1.
std::string single_score(std::int32_t seed, const std::string& path) {
  return std::to_string(std::max(0, scores(seed, {path})[0].score)) + "\n";
}

// ---------------------------------------------------------------- command line

TEST(CommandLine, NoUsablePathGivesUsageAnd100) {
  ScopedTempDir tmp;
  write_flat(tmp.file("p.jpg"));
  write_flat(tmp.file("my holiday photo.jpg"));
  ASSERT_EQ(::symlink("nowhere.jpg", tmp.file("ghost.jpg").c_str()), 0);
  const struct {
    Args args;
    std::string out;
  } cases[] = {
      {{}, USAGE},
      {{"-R"}, USAGE},
      {{"-r", "-R"}, USAGE},
      {{tmp.file("missing.jpg")}, USAGE},
      {{"-R", tmp.file("missing")}, USAGE},
      {{tmp.file("ghost.jpg")}, USAGE},  // a dangling link as the single path
      // "-x <photo>" as one path does not exist.
      {{"-x", tmp.file("p.jpg")}, "invalid switch x\n" + USAGE},
      // With a recurse switch the blanks of an unquoted path are not tried.
      {{"-R", tmp.file("my"), "holiday", "photo.jpg"}, USAGE},
  };
  for (const auto& c : cases) {
    const RunResult r = lumvet(c.args);
    EXPECT_EQ(r.exit_code, 100) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.out, c.out) << ::testing::PrintToString(c.args);
    EXPECT_EQ(r.err, "");
  }
  // In a machine format the messages go to standard error.
  const RunResult r = lumvet({"--format=jsonl", "-x", tmp.file("p.jpg")});
  EXPECT_EQ(r.exit_code, 100);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "invalid switch x\n" + USAGE);
}

// The entry routine for "lumvet -R" in this process: exits with 0 when it gave
// the usage exit without starting the imaging library.
void usage_exit_in_process() {
  char prog[] = "lumvet", sw[] = "-R";
  char* argv[] = {prog, sw, nullptr};
  std::FILE* null_out = std::fopen("/dev/null", "w");
  const int code = run_lumvet(2, argv, null_out, null_out);
  std::exit(code == 100 && imaging_library().state == ImagingState::not_started ? 0 : 1);
}

TEST(CommandLine, UsageExitStartsNothing) {
  EXPECT_EXIT(usage_exit_in_process(), ::testing::ExitedWithCode(0), "");
}

TEST(CommandLine, InvalidAndRecurseSwitches) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("root");
  make_dir(root + "/sub");
  write_flat(root + "/a.jpg");
  write_photo(root + "/sub/b.jpg", 255);
  RunResult r = lumvet({"--seed=5", root + "/a.jpg", "-x", "-R"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "invalid switch x\n304\n");
  r = lumvet({"--format=tsv", root + "/a.jpg", "-x"});
  EXPECT_EQ(r.out, "score\tstatus\tpath\n304\tok\t" + root + "/a.jpg\n");
  EXPECT_EQ(r.err, "invalid switch x\n");
  // A lone '-' is a switch whose second character is the terminator.
  EXPECT_EQ(lumvet({root + "/a.jpg", "-"}).out, std::string("invalid switch \0\n", 17) + "304\n");
  const std::string recursive = expected(9, {root + "/a.jpg", root + "/sub/b.jpg"});
  for (const Args& args : {Args{"-R", root}, Args{"-r", root}, Args{"-Rxyz", root},
                           Args{root, "-R"}, Args{"-R", root, "-r"}}) {
    Args with_seed = args;
    with_seed.insert(with_seed.begin(), "--seed=9");
    EXPECT_EQ(lumvet(with_seed).out, recursive) << ::testing::PrintToString(args);
  }
  // '/' begins a path, never a switch: "/R" is a later path and ignored.
  EXPECT_EQ(lumvet({"--seed=9", root, "/R"}).out, expected(9, {root + "/a.jpg"}));
}

TEST(CommandLine, SingleFiles) {
  ScopedTempDir tmp;
  write_photo(tmp.file("my holiday photo.jpg"), 255, 3);
  write_flat(tmp.file("flat.png"));  // a JPEG under another name
  write_text(tmp.file("notes.txt"), "not a picture\n");
  // An unquoted path with blanks, long options anywhere left out of it.
  const std::string photo = tmp.file("my holiday photo.jpg");
  RunResult r = lumvet({tmp.file("my"), "--seed", "4", "holiday", "photo.jpg"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, single_score(4, photo));
  EXPECT_EQ(lumvet({"--seed=4", "my", "holiday", "photo.jpg"}, tmp.path()).out, r.out);
  // Only the first of two paths; sharp noise scores below 0: the text shows 0,
  // TSV the score itself.
  EXPECT_EQ(lumvet({"--seed=4", photo, tmp.file("flat.png")}).out, "0\n");
  EXPECT_EQ(lumvet({"--seed=4", "--format=tsv", photo}).out,
            expected(4, {photo}, OutputFormat::tsv));
  EXPECT_NE(expected(4, {photo}, OutputFormat::tsv).find("\n-"), std::string::npos);
  EXPECT_EQ(lumvet({tmp.file("flat.png"), tmp.file("nowhere")}).out, "304\n");
  // Any existing file is scored, whatever its name.
  r = lumvet({tmp.file("notes.txt")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "0\n");
  EXPECT_EQ(lumvet({"--format=tsv", tmp.file("notes.txt")}).out,
            "score\tstatus\tpath\n0\tundecodable\t" + tmp.file("notes.txt") + "\n");
}

// ---------------------------------------------------------------- folder scan

struct Tree {
  ScopedTempDir tmp;
  std::string root = tmp.file("root");
  Tree() {
    for (const char* d : {"/x.jpg", "/.a", "/.abc", "/sub/deep", "/empty"}) make_dir(root + d);
    write_photo(root + "/A.JPG", 255, 1);
    write_flat(root + "/b.jpg");
    write_photo(root + "/c.Jpg", 60, 2);
    write_flat(root + "/d.jpeg");  // not a ".jpg" name
    write_text(root + "/notes.txt", "x");
    for (const char* f : {"/x.jpg/inner.jpg", "/.a/hidden.jpg", "/.abc/seen.jpg"})
      write_flat(root + f);
    write_photo(root + "/sub/s.jpg", 255, 3);
    write_flat(root + "/sub/deep/d.jpg", 30);
    write_flat(root + "/sub/t.jpg", 200);
  }
  Args top(const std::string& base) const {
    return {base + "/A.JPG", base + "/b.jpg", base + "/c.Jpg"};
  }
  Args all(const std::string& base) const {
    Args a = top(base);
    for (const char* p :
         {"/.abc/seen.jpg", "/sub/s.jpg", "/sub/t.jpg", "/sub/deep/d.jpg", "/x.jpg/inner.jpg"})
      a.push_back(base + p);
    return a;
  }
};

// Files first in byte order, then sub-folders depth first; ".a" is skipped,
// ".abc" and a folder named x.jpg entered.
TEST(FolderScan, OrderFormatsAndSameSeedSameBytes) {
  Tree t;
  RunResult r = lumvet({"--seed=21", t.root});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, expected(21, t.top(t.root)));
  EXPECT_EQ(r.err, "");
  // A trailing '/' is kept, giving "//".
  r = lumvet({"--seed=21", t.root + "/"});
  EXPECT_EQ(r.out, expected(21, t.top(t.root + "/")));
  EXPECT_NE(r.out.find(t.root + "//b.jpg"), std::string::npos);
  // Relative paths are listed as given.
  std::string relative = expected(21, t.all(t.root));
  for (std::size_t at; (at = relative.find(t.tmp.path() + "/")) != std::string::npos;)
    relative.erase(at, t.tmp.path().size() + 1);
  EXPECT_EQ(lumvet({"--seed=21", "-R", "root"}, t.tmp.path()).out, relative);
  // The same seed gives the same bytes, in every format the records of all photos.
  for (const auto& [f, format] : {std::pair{"--format=text", OutputFormat::text},
                                  {"--format=tsv", OutputFormat::tsv},
                                  {"--format=jsonl", OutputFormat::jsonl}}) {
    const std::string want = expected(-123456, t.all(t.root), format);
    EXPECT_EQ(lumvet({"--seed=-123456", f, "-R", t.root}).out, want) << f;
    EXPECT_EQ(lumvet({"--seed", "-123456", f, "-R", t.root}).out, want) << f;
    EXPECT_EQ(lumvet({f, "-R", t.root + "/empty"}).out, expected(1, {}, format)) << f;
  }
}

TEST(FolderScan, ThresholdIsGreaterThan) {
  // Seeds with which one picture scores exactly 10 and exactly 11.
  ScopedTempDir tmp;
  const std::string photo = tmp.file("p.jpg");
  write_photo(photo, 96, 0, 128, 80);
  std::int32_t seed10 = 0, seed11 = 0;
  for (std::int32_t seed = 1; seed < 3000 && (seed10 == 0 || seed11 == 0); ++seed) {
    const std::int32_t s = scores(seed, {photo})[0].score;
    if (s == 10 && seed10 == 0) seed10 = seed;
    if (s == 11 && seed11 == 0) seed11 = seed;
  }
  ASSERT_NE(seed10, 0);
  ASSERT_NE(seed11, 0);
  const std::string none = "BLUR\tPATH\n0/1 are somewhat blurred\n";
  EXPECT_EQ(lumvet({"--seed=" + std::to_string(seed10), tmp.path()}).out, none);
  EXPECT_EQ(lumvet({"--seed=" + std::to_string(seed11), tmp.path()}).out,
            "BLUR\tPATH\n11\t" + photo + "\n1/1 are somewhat blurred\n");
  write_flat(photo);
  EXPECT_EQ(lumvet({"--threshold=304", tmp.path()}).out, none);
  EXPECT_EQ(lumvet({"--threshold=303", tmp.path()}).out,
            "BLUR\tPATH\n304\t" + photo + "\n1/1 are somewhat blurred\n");
}

TEST(FolderScan, LinkLoopsEndAndDanglingLinksCount) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("root");
  make_dir(root + "/sub");
  write_flat(root + "/p.jpg");
  write_photo(root + "/sub/q.jpg", 255, 5);
  for (const auto& [target, name] : {std::pair{"..", "/sub/loop"},  // back to root
                                     {".", "/sub/self"},            // sub itself
                                     {"sub", "/alias"},             // a second way in
                                     {"nowhere.jpg", "/ghost.jpg"},
                                     {"p.jpg", "/link.jpg"},
                                     {"sub", "/dir.jpg"}}) {  // a folder, not a photo
    ASSERT_EQ(::symlink(target, (root + name).c_str()), 0);
  }
  // A folder reached through a link is scanned unless it is on the descent path.
  const Args order = {root + "/ghost.jpg",   root + "/link.jpg",      root + "/p.jpg",
                      root + "/alias/q.jpg", root + "/dir.jpg/q.jpg", root + "/sub/q.jpg"};
  const RunResult r = lumvet({"--seed=3", "--format=tsv", "-R", root});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, expected(3, order, OutputFormat::tsv));
  EXPECT_NE(r.out.find("0\tundecodable\t" + root + "/ghost.jpg\n"), std::string::npos);
}

TEST(FolderScan, OddNamesInEveryFormat) {
  ScopedTempDir tmp;
  Args paths;  // in byte order
  for (const char* name : {"back\\slash.jpg", "bad\xff\xfe.jpg", "new\nline.jpg", "tab\there.jpg",
                           "\xc3\xa9t\xc3\xa9.jpg"}) {
    paths.push_back(tmp.file(name));
    write_photo(paths.back(), 255 * (paths.size() % 2), std::uint32_t(paths.size()));
  }
  EXPECT_EQ(lumvet({"--seed=17", tmp.path()}).out, expected(17, paths));
  RunResult r = lumvet({"--seed=17", "--format=tsv", tmp.path()});
  EXPECT_EQ(r.out, expected(17, paths, OutputFormat::tsv));
  EXPECT_NE(r.out.find("/new\\nline.jpg\n"), std::string::npos);
  r = lumvet({"--seed=17", "--format", "jsonl", tmp.path()});
  EXPECT_EQ(r.out, expected(17, paths, OutputFormat::jsonl));
  // Every line is JSON; the non-UTF-8 name comes back exactly from path_bytes.
  std::size_t start = 0;
  for (const auto& p : paths) {
    const std::size_t end = r.out.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const auto j = nlohmann::json::parse(r.out.substr(start, end - start));
    EXPECT_EQ(j.value(is_valid_utf8(p) ? "path" : "path_bytes", ""),
              is_valid_utf8(p) ? p : base64_encode(p));
    EXPECT_EQ(j.contains("path_bytes"), !is_valid_utf8(p));
    start = end + 1;
  }
  EXPECT_EQ(start, r.out.size());
  EXPECT_EQ(lumvet({"--seed=2", "--format=jsonl", paths[1]}).out,
            expected(2, {paths[1]}, OutputFormat::jsonl));
}

// Any number of threads writes the bytes of one, undecodable photos among the
// others shifting every later photo's patches.
TEST(FolderScan, EveryJobCountSameBytes) {
  ScopedTempDir tmp;
  const std::string root = tmp.file("root");
  make_dir(root + "/sub");
  Args photos;
  for (const char* folder : {"/", "/sub/"}) {
    for (int i = 0; i < 12; ++i) {
      photos.push_back(root + folder + std::to_string(10 + i) + ".jpg");
      if (i % 5 == 1) {
        write_text(photos.back(), "not a photo");
      } else {
        write_photo(photos.back(), i % 4 == 3 ? 0 : 40 + 19 * i, std::uint32_t(i), 10 * i);
      }
    }
  }
  const std::string text = expected(77, photos, OutputFormat::text, -50);
  const std::string tsv = expected(77, photos, OutputFormat::tsv);
  const std::string jsonl = expected(77, photos, OutputFormat::jsonl);
  for (int jobs = 1; jobs <= 8; ++jobs) {
    const std::string j = "--jobs=" + std::to_string(jobs);
    EXPECT_EQ(lumvet({"--seed=77", j, "--threshold=-50", "-R", root}).out, text) << jobs;
    EXPECT_EQ(lumvet({"--seed=77", j, "--format=tsv", "-R", root}).out, tsv) << jobs;
    EXPECT_EQ(lumvet({"--seed=77", j, "--format=jsonl", "-R", root}).out, jsonl) << jobs;
  }
}

// ---------------------------------------------------------------- options and output

TEST(LongOptions, ErrorsAreOneLineAndExit2) {
  ScopedTempDir tmp;
  write_flat(tmp.file("p.jpg"));
  // Nothing else is done: no usage text, no "invalid switch", no score.
  for (const Args& args :
       {Args{"--bogus", tmp.file("p.jpg")}, Args{"-x", tmp.file("p.jpg"), "--seed"},
        Args{"--format=csv"}, Args{"--jobs=0", tmp.path()}, Args{"--jobs=1025", tmp.path()}}) {
    const RunResult r = lumvet(args);
    EXPECT_EQ(r.exit_code, 2) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(r.err.substr(0, 8), "lumvet: ");
  }
  RunResult r = lumvet({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.substr(0, USAGE.size()), USAGE);
  EXPECT_NE(r.out.find("--format=FORMAT"), std::string::npos);
  r = lumvet({"-x", "--version"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, std::string("lumvet ") + LUMVET_VERSION + "\n");
}

TEST(ModelOption, AcceptedAndRefusedFiles) {
  ScopedTempDir tmp;
  make_dir(tmp.file("photos"));
  for (int i = 0; i < 3; ++i)
    write_photo(tmp.file("photos/p" + std::to_string(i) + ".jpg"), 96, std::uint32_t(i), 128, 80);
  SvmModel model;
  init_embedded_model(model);
  const std::vector<std::uint8_t> embedded = encode_svm_model(model);
  release_svm_model(model);
  testing::write_bytes(tmp.file("embedded.svm"), embedded);
  // The embedded weights from a file change nothing.
  for (const Args& args : {Args{"--seed=11", tmp.file("photos")},
                           Args{"--seed=12", "--format=jsonl", tmp.file("photos")}}) {
    Args with_model = args;
    with_model.insert(with_model.begin(), "--model=" + tmp.file("embedded.svm"));
    EXPECT_EQ(lumvet(with_model).out, lumvet(args).out);
  }
  // Other weights, other scores: a bias of 1.5 and no weights score 150 everywhere.
  SvmModel flat;
  flat.dims = 30;
  flat.bias = 1.5;
  flat.weights.assign(30, 0.0);
  testing::write_bytes(tmp.file("flat.svm"), encode_svm_model(flat));
  EXPECT_EQ(lumvet({"--model", tmp.file("flat.svm"), tmp.file("photos/p2.jpg")}).out, "150\n");
  // Unusable files: one line and exit 2, nothing else done, with or without a path.
  std::vector<std::uint8_t> wrong_dims = embedded;
  wrong_dims[0] = 29;
  testing::write_bytes(tmp.file("dims.svm"), wrong_dims);
  testing::write_bytes(tmp.file("short.svm"), {embedded.begin(), embedded.end() - 8});
  const std::pair<std::string, std::string> cases[] = {
      {"--model=" + tmp.file("short.svm"),
       "lumvet: model file " + tmp.file("short.svm") +
           " is not a model file: it must be exactly 252 bytes long\n"},
      {"--model=" + tmp.file("dims.svm"), "lumvet: model file " + tmp.file("dims.svm") +
                                              " holds 29 features per photo, lumvet measures 30\n"},
      {"--model=" + tmp.file("none.svm"),
       "lumvet: cannot read model file " + tmp.file("none.svm") + "\n"},
      {"--model=", "lumvet: invalid value for --model: ''\n"},
  };
  for (const auto& [option, message] : cases) {
    for (const Args& args : {Args{option, tmp.file("photos/p1.jpg")}, Args{option}}) {
      const RunResult r = lumvet(args);
      EXPECT_EQ(r.exit_code, 2) << option;
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, message);
    }
  }
}

TEST(Output, ClosedPipeEndsQuietlyAndWriteFailureIsReported) {
  ScopedTempDir tmp;
  for (int i = 100; i < 140; ++i) write_flat(tmp.file(std::to_string(i) + ".jpg"));
  const std::string program = testing::built_program("cli/lumvet");
  for (const char* script :
       {"\"$0\" -R \"$1\" | head -3", "trap '' PIPE; \"$0\" --jobs=1 -R \"$1\" | head -3",
        "trap '' PIPE; \"$0\" --jobs=8 --format=tsv -R \"$1\" | head -3"}) {
    const RunResult r = testing::run_program("/bin/sh", {"-c", script, program, tmp.path()});
    EXPECT_EQ(r.exit_code, 0) << script;
    EXPECT_EQ(r.err, "") << script;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << script;
  }
  const RunResult r = testing::run_program(
      "/bin/sh", {"-c", "\"$0\" \"$1\" > /dev/full", program, tmp.file("100.jpg")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "lumvet: cannot write output: No space left on device\n");
}

}  // namespace
}  // namespace lumvet
