// Runs over many paths: --all-paths, file lists, --ext, --print0, progress on a
// terminal, --seed-per-photo and the GNU parallel shard recipe, through the real
// program. Expected scores come from scoring the same files in-process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/path_runs.h"
#include "cli/photo_seed.h"
#include "cli/progress.h"
#include "tests/cli/cli_support.h"

namespace lumvet {
namespace {

std::string seeded(std::int32_t seed, const std::vector<Entry>& entries, OutputFormat format) {
  ChainedScorer scorer(1);
  return expected(entries, format, [&](const std::string& path) {
    return score_photo_seeded(scorer.model, path, seed);
  });
}

TEST(AllPaths, FilesAndFoldersInOrderMissingOnesReported) {
  ScopedTempDir tmp;
  const std::string a = tmp.file("a.jpg"), b = tmp.file("b.jpg"), d = tmp.file("d");
  const std::string gone = tmp.file("gone.jpg"), blanks = tmp.file("my holiday.jpg");
  testing::make_dir(d + "/sub");
  write_photo(a, 0);
  write_photo(b, 40, 2);
  write_photo(d + "/1.jpg", 255, 3);
  write_photo(d + "/2.JPG", 20, 4);
  write_photo(d + "/sub/3.jpg", 0);
  write_photo(blanks, 30, 5);
  const std::vector<Entry> flat = {{a}, {d + "/1.jpg"}, {d + "/2.JPG"}, {gone, true}, {b}};
  std::vector<Entry> deep = flat;
  deep.insert(deep.begin() + 3, Entry{d + "/sub/3.jpg"});

  RunResult r = lumvet({"--seed=5", "--all-paths", a, d, gone, b});
  EXPECT_TRUE(testing::ran(r, 0, chained(5, flat, OutputFormat::text),
                           "lumvet: " + gone + ": " + MISSING + "\n"));
  for (const auto& [flag, format] :
       {std::pair{"--format=tsv", OutputFormat::tsv}, {"--format=jsonl", OutputFormat::jsonl}}) {
    const std::string want = chained(-9, deep, format, -1000);
    for (const char* jobs : {"--jobs=1", "--jobs=2", "--jobs=5"}) {
      r = lumvet({"--seed=-9", "--all-paths", flag, jobs, a, "-R", d, gone, b});
      EXPECT_EQ(r.out, want) << flag << " " << jobs;
      EXPECT_EQ(r.err, "");
    }
  }

  // One path, or an unquoted path with blanks, behaves as without the option.
  for (const Args& args : {Args{a}, Args{d}, Args{tmp.file("my"), "holiday.jpg"}}) {
    Args with = {"--seed=3", "--all-paths"}, without = {"--seed=3"};
    with.insert(with.end(), args.begin(), args.end());
    without.insert(without.end(), args.begin(), args.end());
    EXPECT_EQ(lumvet(with).out, lumvet(without).out) << args[0];
  }
  // Nothing exists: every missing path named, then the usage text and 100.
  r = lumvet({"--all-paths", gone, tmp.file("also-gone")});
  EXPECT_TRUE(testing::ran(r, 100, USAGE,
                           "lumvet: " + gone + ": " + MISSING +
                               "\nlumvet: " + tmp.file("also-gone") + ": " + MISSING + "\n"));
}

TEST(FileLists, NewlineAndNulListsKeepEveryName) {
  ScopedTempDir tmp;
  const Args names = {"plain.jpg", "tab\there.jpg", "bad\xff\xfe.jpg", "back\\slash.jpg",
                      "new\nline.jpg"};
  std::vector<Entry> entries;
  std::string nul_list, line_list;
  for (std::uint32_t i = 0; i < names.size(); ++i) {
    const std::string path = tmp.file(names[i]);
    write_photo(path, static_cast<int>(60 * i), i);
    entries.push_back({path});
    nul_list += path + '\0';
    if (i + 1 < names.size()) line_list += path + "\n";
  }
  testing::write_text(tmp.file("list0"), nul_list);
  for (const auto& [flag, format] : {std::pair{"--format=tsv", OutputFormat::tsv},
                                     {"--format=jsonl", OutputFormat::jsonl},
                                     {"--format=text", OutputFormat::text}}) {
    const std::string want = chained(8, entries, format);
    for (const Args& args : {Args{"-0", "--files-from=" + tmp.file("list0")},
                             Args{"--files-from", tmp.file("list0"), "--null", "--jobs=3"}}) {
      Args all = {"--seed=8", flag};
      all.insert(all.end(), args.begin(), args.end());
      const RunResult r = lumvet(all);
      EXPECT_TRUE(testing::ran(r, 0, want, "")) << flag;
    }
    // Standard input, from a pipe.
    const RunResult r = shell("cat \"$1\" | \"$0\" --seed=8 -0 --files-from=- " + std::string(flag),
                              {tmp.file("list0")});
    EXPECT_EQ(r.out, want) << flag;
  }
  // Newline-separated: empty lines are passed over and counted on standard error.
  testing::write_text(tmp.file("lines"), "\n" + line_list + "\n\n");
  entries.pop_back();
  RunResult r = lumvet({"--seed=8", "--format=tsv", "--files-from=" + tmp.file("lines")});
  EXPECT_TRUE(
      testing::ran(r, 0, chained(8, entries, OutputFormat::tsv),
                   "lumvet: file list " + tmp.file("lines") + ": 3 empty entries passed over\n"));
  // Paths on the command line come first; an empty list is an empty run.
  testing::write_text(tmp.file("empty"), "");
  r = lumvet({"--seed=8", "--files-from=" + tmp.file("empty"), entries[1].path});
  EXPECT_EQ(r.out, chained(8, {entries[1]}, OutputFormat::text));
  EXPECT_EQ(lumvet({"--files-from=" + tmp.file("empty")}).out,
            "BLUR\tPATH\n0/0 are somewhat blurred\n");
}

TEST(FileLists, BadEntriesAreRecordsAndBadListsOneLine) {
  ScopedTempDir tmp;
  const std::string photo = tmp.file("p.jpg"), dir = tmp.file("dir"), fifo = tmp.file("f.jpg");
  testing::make_dir(dir);
  write_photo(photo, 50);
  write_photo(dir + "/in.jpg", 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink("nowhere.jpg", tmp.file("dangling.jpg").c_str()), 0);
  const Args list = {
      photo, dir, fifo, "/dev/null", tmp.file("vanished.jpg"), tmp.file("dangling.jpg"), photo};
  std::string text;
  for (const auto& p : list) text += p + "\n";
  testing::write_text(tmp.file("list"), text);
  const std::vector<Entry> entries = {{photo},
                                      {dir + "/in.jpg"},
                                      {fifo},
                                      {"/dev/null"},
                                      {tmp.file("vanished.jpg"), true},
                                      {tmp.file("dangling.jpg"), true},
                                      {photo}};
  for (const char* jobs : {"--jobs=1", "--jobs=4"}) {
    const RunResult r =
        lumvet({"--seed=2", jobs, "--format=tsv", "--files-from", tmp.file("list")});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, chained(2, entries, OutputFormat::tsv)) << jobs;
    EXPECT_NE(r.out.find("0\tundecodable\t" + fifo + "\n"), std::string::npos);
  }
  RunResult r = lumvet({"--seed=2", "--format=jsonl", "--files-from", tmp.file("list")});
  EXPECT_EQ(r.out, chained(2, entries, OutputFormat::jsonl));
  r = lumvet({"--seed=2", "--files-from", tmp.file("list")});
  EXPECT_EQ(r.out, chained(2, entries, OutputFormat::text));
  EXPECT_EQ(r.err, "lumvet: " + tmp.file("vanished.jpg") + ": " + MISSING +
                       "\nlumvet: " + tmp.file("dangling.jpg") + ": " + MISSING + "\n");

  // A NUL byte inside a newline-separated record: no file has that name (the
  // system would see only the bytes before it), so it is missing, not the photo
  // named by those bytes.
  const std::string with_nul = photo + std::string(1, '\0') + "x";
  testing::write_text(tmp.file("nul-list"), with_nul + "\n" + photo + "\n");
  r = lumvet({"--seed=2", "--format=tsv", "--files-from", tmp.file("nul-list")});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, chained(2, {{with_nul, true}, {photo}}, OutputFormat::tsv));
  EXPECT_NE(r.out.find("0\tmissing\t" + with_nul + "\n"), std::string::npos);

  // A list that cannot be opened or read: one line, exit 2, no records.
  const std::pair<std::string, std::string> lists[] = {
      {tmp.file("no-list"), MISSING},
      {dir, "Is a directory"},
  };
  for (const auto& [name, reason] : lists) {
    r = lumvet({"--format=tsv", "--files-from=" + name});
    EXPECT_TRUE(
        testing::ran(r, 2, "", "lumvet: cannot read file list " + name + ": " + reason + "\n"))
        << name;
  }
  // Opened, but reading fails (address 0 of the process's own memory).
  r = lumvet({"--format=tsv", "--files-from=/proc/self/mem"});
  EXPECT_TRUE(testing::ran(r, 2, TSV_HEADER,
                           "lumvet: cannot read file list /proc/self/mem: Input/output error\n"));
  // -0 is a list option only beside --files-from; --null needs one.
  EXPECT_EQ(lumvet({"-0", photo}).out, "invalid switch 0\n" + USAGE);
  r = lumvet({"--null", photo});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "lumvet: option --null needs --files-from\n");
}

TEST(Extensions, ChooseTheNamesFolderScansTake) {
  ScopedTempDir tmp;
  const std::string d = tmp.file("d");
  testing::make_dir(d + "/x.png");  // a folder, never a photo
  write_photo(d + "/a.jpg", 0);
  write_photo(d + "/b.JPEG", 255, 2);
  ASSERT_TRUE(testing::write_png(d + "/c.png", testing::make_uniform_bitmap(64, 64, 1, 2, 3)));
  for (const char* junk : {"/d.webp", "/e.txt", "/f.CR2", "/jpeg"})
    testing::write_text(d + junk, "x");
  const auto run = [&](const Args& ext) {
    Args args = ext;
    args.insert(args.end(), {"--seed=4", "--format=tsv", d});
    return lumvet(args);
  };
  EXPECT_EQ(run({}).out, chained(4, {{d + "/a.jpg"}}, OutputFormat::tsv));
  EXPECT_EQ(run({"--ext=jpeg,PNG"}).out,
            chained(4, {{d + "/b.JPEG"}, {d + "/c.png"}}, OutputFormat::tsv));
  EXPECT_EQ(
      run({"--ext", ".jpg,jpeg,png,webp,cr2,jpg"}).out,
      chained(4, {{d + "/a.jpg"}, {d + "/b.JPEG"}, {d + "/c.png"}, {d + "/d.webp"}, {d + "/f.CR2"}},
              OutputFormat::tsv));
  // A file named directly is scored whatever its name.
  EXPECT_EQ(lumvet({"--seed=4", "--ext=png", "--format=tsv", d + "/a.jpg"}).out,
            chained(4, {{d + "/a.jpg"}}, OutputFormat::tsv));
  for (const char* bad : {"", "jpg,,png", "a/b", ","}) {
    const RunResult r = lumvet({std::string("--ext=") + bad, d});
    EXPECT_EQ(r.exit_code, 2) << bad;
    EXPECT_EQ(r.err, std::string("lumvet: invalid value for --ext: '") + bad + "'\n");
  }
  SkippedNames skipped{1, {"png"}};
  EXPECT_EQ(skipped_names_hint(skipped, {}),
            "1 file named .png was not examined; add --ext=jpg,png to include them");
  skipped = {5, {"cr2", "heic", "jpeg"}};
  EXPECT_EQ(skipped_names_hint(skipped, {"jpg", "png"}),
            "5 files named .cr2, .heic or .jpeg were not examined; add "
            "--ext=jpg,png,cr2,heic,jpeg to include them");
}

TEST(Print0, ListedPathsOnlyForXargs) {
  ScopedTempDir tmp;
  const std::string d = tmp.file("d");
  testing::make_dir(d);
  std::vector<Entry> entries;
  for (const char* name : {"flat.jpg", "new\nline flat.jpg", "noisy.jpg", "tab\tflat.jpg"}) {
    write_photo(d + "/" + name, name[0] == 'n' && name[1] == 'o' ? 255 : 0);
    entries.push_back({d + "/" + name});
  }
  const std::string want = chained(6, entries, OutputFormat::print0);
  EXPECT_EQ(std::count(want.begin(), want.end(), '\0'), 3);
  RunResult r = lumvet({"--seed=6", "--print0", d});
  EXPECT_TRUE(testing::ran(r, 0, want, ""));
  // Many paths, the same order; a missing one is named on standard error only.
  r = lumvet({"--seed=6", "--print0", entries[0].path, tmp.file("gone"), entries[1].path});
  EXPECT_EQ(r.out, entries[0].path + '\0' + entries[1].path + '\0');
  EXPECT_EQ(r.err, "lumvet: " + tmp.file("gone") + ": " + MISSING + "\n");
  // (The README's "| xargs -0 cp" example runs in docs_tests.)
  // No usable path: the usage text goes to standard error.
  r = lumvet({"--print0", tmp.file("gone")});
  EXPECT_TRUE(
      testing::ran(r, 100, "", "lumvet: " + tmp.file("gone") + ": " + MISSING + "\n" + USAGE));
  r = lumvet({"--print0", "--format=tsv", d});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.err, "lumvet: option --print0 cannot be used with --format\n");
}

// Runs the program with standard error (and with `output_too`, standard output)
// on a pseudo-terminal, else standard output in a file; `feed`, when given, runs
// beside it (writing a FIFO list slowly).
struct TerminalRun {
  int exit_code = -1;
  std::string out;
  std::string terminal;
};
TerminalRun run_on_terminal(const Args& args, const std::function<void()>& feed = {},
                            bool output_too = false) {
  TerminalRun run;
  char out_name[] = "/tmp/lumvet-pty-out-XXXXXX";
  const int out_fd = ::mkstemp(out_name);
  ::unlink(out_name);
  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    if (!output_too) ::dup2(out_fd, 1);
    std::vector<char*> argv;
    const std::string prog = program();
    argv.push_back(const_cast<char*>(prog.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(prog.c_str(), argv.data());
    ::_exit(127);
  }
  std::thread feeder;
  if (feed) feeder = std::thread(feed);
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has closed the terminal
    run.terminal.append(buffer, static_cast<std::size_t>(n));
  }
  if (feeder.joinable()) feeder.join();
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  ::close(master);
  ::lseek(out_fd, 0, SEEK_SET);
  while (true) {
    const ssize_t n = ::read(out_fd, buffer, sizeof buffer);
    if (n <= 0) break;
    run.out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(out_fd);
  return run;
}

// Names reach a terminal with their control characters shown as '?' (an escape
// sequence could clear the screen, a newline forge a result line): a listed
// photo's, and a missing path's whether the run goes on or ends in the usage
// text. Anywhere else the bytes are kept (lumvet_test).
TEST(AllPaths, NamesOnATerminalShowNoControlCharacters) {
  ScopedTempDir tmp;
  const std::string d = tmp.file("d");
  testing::make_dir(d);
  write_photo(d + "/a\x1b[2J\n99\tforged\x7f.jpg", 0);
  const std::string gone = tmp.file("gone\x1b[2J\x07.jpg");
  const TerminalRun on = run_on_terminal({"--all-paths", "--quiet", gone, d}, {}, true);
  EXPECT_NE(on.terminal.find("304\t" + d + "/a?[2J?99?forged?.jpg\r\n"), std::string::npos)
      << on.terminal;
  const TerminalRun ended = run_on_terminal({"--all-paths", gone});
  for (const TerminalRun& r : {on, ended}) {
    EXPECT_NE(r.terminal.find("lumvet: " + tmp.file("gone?[2J?.jpg") + ": " + MISSING),
              std::string::npos)
        << r.terminal;
    EXPECT_EQ(r.terminal.find('\x1b'), std::string::npos) << r.terminal;
  }
}

TEST(Progress, OnATerminalOnlyRedrawnAndErased) {
  ScopedTempDir tmp;
  std::vector<Entry> entries;
  for (int i = 0; i < 3; ++i) {
    entries.push_back({tmp.file(std::to_string(i) + ".jpg")});
    write_photo(entries.back().path, 80 * i, static_cast<std::uint32_t>(i));
  }
  const std::string fifo = tmp.file("list");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // The list arrives slowly, so the run lasts well over the first half second.
  const auto slow_list = [&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    for (const auto& e : entries) {
      const std::string line = e.path + "\n";
      EXPECT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    ::close(fd);
  };
  // One job: each record is written as soon as its photo is scored.
  const Args args = {"--seed=1", "--jobs=1", "--format=tsv", "--files-from=" + fifo};
  TerminalRun run = run_on_terminal(args, slow_list);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.out, chained(1, entries, OutputFormat::tsv));
  EXPECT_NE(run.terminal.find("\rlumvet: 1 done, 2 found, "), std::string::npos) << run.terminal;
  EXPECT_NE(run.terminal.find(" photos/s\033[K"), std::string::npos);
  // Erased at the end; nothing after it.
  ASSERT_GE(run.terminal.size(), 4u);
  EXPECT_EQ(run.terminal.substr(run.terminal.size() - 4), "\r\033[K");

  // --quiet: nothing on the terminal; off a terminal: nothing either.
  Args quiet = args;
  quiet.push_back("--quiet");
  run = run_on_terminal(quiet, slow_list);
  EXPECT_EQ(run.terminal, "");
  EXPECT_EQ(run.out, chained(1, entries, OutputFormat::tsv));
  std::thread feeder(slow_list);
  const RunResult plain = lumvet(args);
  feeder.join();
  EXPECT_EQ(plain.err, "");

  // The skipped-names hint and a missing single path are told to a terminal.
  write_photo(tmp.file("x.jpeg"), 0);
  testing::write_text(tmp.file("y.HEIC"), "");
  run = run_on_terminal({"--seed=1", tmp.path()});
  EXPECT_EQ(run.out, chained(1, entries, OutputFormat::text));
  EXPECT_EQ(run.terminal,
            "lumvet: 2 files named .heic or .jpeg were not examined; add --ext=jpg,heic,jpeg to "
            "include them\r\n");
  EXPECT_EQ(run_on_terminal({"--quiet", tmp.path()}).terminal, "");
  run = run_on_terminal({tmp.file("gone.jpg")});
  EXPECT_EQ(run.exit_code, 100);
  EXPECT_EQ(run.out, USAGE);
  EXPECT_EQ(run.terminal, "lumvet: " + tmp.file("gone.jpg") + ": " + MISSING + "\r\n");
}

TEST(Progress, TextCountsRateAndTimeLeft) {
  EXPECT_EQ(progress_text(12, 40, false, 2000), "lumvet: 12 done, 40 found, 6.0 photos/s");
  EXPECT_EQ(progress_text(12, 40, true, 2000), "lumvet: 12/40 done, 6.0 photos/s, about 5 s left");
  EXPECT_EQ(progress_text(10, 2000, true, 1000),
            "lumvet: 10/2000 done, 10.0 photos/s, about 3 min 19 s left");
  EXPECT_EQ(progress_text(1, 100000, true, 1000),
            "lumvet: 1/100000 done, 1.0 photos/s, about 27 h 46 min left");
  EXPECT_EQ(progress_text(0, 5, true, 0), "lumvet: 0/5 done, 0.0 photos/s");
}

TEST(SeedPerPhoto, APhotoScoresTheSameAnywhere) {
  ScopedTempDir tmp;
  for (const char* d : {"/a", "/b"}) testing::make_dir(tmp.file(d));
  std::vector<Entry> a, b;
  for (int i = 0; i < 6; ++i) {
    a.push_back({tmp.file("a/" + std::to_string(i) + ".jpg")});
    write_photo(a.back().path, 25 * i, static_cast<std::uint32_t>(i));
  }
  testing::write_text(tmp.file("a/3.jpg"), "not a photo");  // draws nothing, shifts nothing
  // Folder b: copies of a's photos under other names, in another order, among others.
  for (int i : {4, 1, 5}) {
    b.push_back({tmp.file("b/copy" + std::to_string(9 - i) + ".jpg")});
    testing::write_bytes(b.back().path, testing::read_bytes(a[static_cast<std::size_t>(i)].path));
  }
  b.push_back({tmp.file("b/extra.jpg")});
  write_photo(b.back().path, 77, 99);
  std::sort(b.begin(), b.end(), [](const Entry& x, const Entry& y) { return x.path < y.path; });

  const std::string want_a = seeded(17, a, OutputFormat::tsv);
  for (const char* jobs : {"--jobs=1", "--jobs=3"}) {
    EXPECT_EQ(lumvet({"--seed-per-photo", "--seed=17", "--format=tsv", jobs, tmp.file("a")}).out,
              want_a);
  }
  EXPECT_EQ(lumvet({"--seed-per-photo", "--seed=17", "--format=tsv", tmp.file("b")}).out,
            seeded(17, b, OutputFormat::tsv));
  ChainedScorer scorer(1);
  const auto score = [&](const std::string& path) {
    return score_photo_seeded(scorer.model, path, 17).score;
  };
  for (int i : {4, 1, 5}) {
    EXPECT_EQ(score(tmp.file("b/copy" + std::to_string(9 - i) + ".jpg")),
              score(a[static_cast<std::size_t>(i)].path));
  }
  // A list in reverse order, and a single file, agree photo by photo.
  std::vector<Entry> reversed(a.rbegin(), a.rend());
  std::string list;
  for (const auto& e : reversed) list += e.path + '\0';
  testing::write_text(tmp.file("list"), list);
  EXPECT_EQ(lumvet({"--seed-per-photo", "--seed=17", "--format=tsv", "--jobs=2", "-0",
                    "--files-from=" + tmp.file("list")})
                .out,
            seeded(17, reversed, OutputFormat::tsv));
  EXPECT_EQ(lumvet({"--seed-per-photo", "--seed=17", a[2].path}).out,
            std::to_string(std::max(0, score(a[2].path))) + "\n");
  // Without --seed the seed is 0; other seeds draw other patches.
  EXPECT_EQ(lumvet({"--seed-per-photo", "--format=tsv", tmp.file("a")}).out,
            seeded(0, a, OutputFormat::tsv));
  EXPECT_NE(seeded(0, a, OutputFormat::tsv), want_a);
  // A state from the photo's bytes, never the generator's fixed points 0 and 2^31 - 1.
  const auto state = photo_random_state(a[0].path, 17);
  ASSERT_TRUE(state.has_value());
  EXPECT_TRUE(*state >= 1 && *state <= 2147483646) << *state;
}

// The README's recipe: split a NUL list into three shards, score each with GNU
// parallel, merge the TSV; the result equals one run over the whole list.
TEST(Shards, GnuParallelRecipeEqualsOneRun) {
  ScopedTempDir tmp;
  const std::string photos = tmp.file("photos");
  testing::make_dir(photos + "/sub");
  int n = 0;
  for (const char* name : {"a.jpg", "b.JPG", "sub/c.jpg", "tab\tname.jpg", "new\nline.jpg",
                           "back\\slash.jpg", "sub/d.jpg", "sub/e.jpg", "z.jpg", "broken.jpg"}) {
    write_photo(photos + "/" + name, 23 * n, static_cast<std::uint32_t>(n));
    ++n;
  }
  testing::write_text(photos + "/broken.jpg", "not a photo");
  // The recipe, as the README gives it.
  const std::string recipe = R"sh(
    set -e
    find photos -type f -iname '*.jpg' -print0 > photos.list
    split -n r/3 -t '\0' photos.list shard.
    parallel --will-cite "$0" -0 --files-from={} --format=tsv $OPTS ::: shard.* > shards.tsv
    { printf 'score\tstatus\tpath\n'; grep -v '^score' shards.tsv | LC_ALL=C sort -t "$(printf '\t')" -k3; } > merged.tsv
    # the same list in one run, for the test
    "$0" -0 --files-from=photos.list --format=tsv $OPTS > one.tsv
    { head -n 1 one.tsv; tail -n +2 one.tsv | LC_ALL=C sort -t "$(printf '\t')" -k3; } > one-sorted.tsv
    ls shard.* | wc -l
  )sh";
  for (const char* opts : {"--seed-per-photo --seed=7", "--assessor=sharpness"}) {
    const RunResult r = shell("OPTS='" + std::string(opts) + "'; " + recipe, {}, tmp.path());
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "3\n");
    const std::vector<std::uint8_t> merged = testing::read_bytes(tmp.file("merged.tsv"));
    const std::string text(merged.begin(), merged.end());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 11) << opts;
    EXPECT_NE(text.find("\tundecodable\tphotos/broken.jpg\n"), std::string::npos);
    EXPECT_EQ(merged, testing::read_bytes(tmp.file("one-sorted.tsv"))) << opts;
  }
}

}  // namespace
}  // namespace lumvet
