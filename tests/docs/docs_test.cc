// The documentation against the programs: every option that --help lists is in
// the program's manual page and its shell completion, and nothing else is; every
// example of the README, the docs/ pages and the manual pages prints what it
// shows.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using Names = std::set<std::string>;

const std::string SOURCE_DIR = LUMVET_SOURCE_DIR;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

Names long_options_in(const std::string& text) {
  Names names;
  const std::regex option("--[a-z][a-z0-9-]*");
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
    names.insert(it->str());
  }
  return names;
}

// The options --help describes: the first column of its indented lines that
// begin with "-" (the text up to two blanks in a row).
Names help_options(const std::string& program) {
  const std::string help = testing::run_program(testing::built_program(program), {"--help"}).out;
  Names names;
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t start = line.find_first_not_of(' ');
    if (start == 0 || start == std::string::npos || line[start] != '-') continue;
    const Names found = long_options_in(line.substr(start, line.find("  ", start) - start));
    names.insert(found.begin(), found.end());
  }
  return names;
}

// The options the manual page's OPTIONS section defines: its lines that begin
// with "*-".
Names man_options(const std::string& page) {
  const std::string text = read_text(SOURCE_DIR + "/docs/man/" + page + ".1.scd");
  const std::size_t begin = text.find("\n# OPTIONS\n");
  const std::size_t end = text.find("\n# ", begin + 1);
  EXPECT_NE(begin, std::string::npos) << page;
  Names names;
  std::istringstream lines(text.substr(begin, end - begin));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("*-", 0) != 0) continue;
    const Names found = long_options_in(line);
    names.insert(found.begin(), found.end());
  }
  return names;
}

// What bash completes for "PROGRAM --".
Names completed_options(const std::string& program) {
  const std::string script =
      "source \"$0\"; COMP_WORDS=(\"$1\" --); COMP_CWORD=1; _lumvet_complete; "
      "printf '%s\\n' \"${COMPREPLY[@]}\"";
  const testing::RunResult r = testing::run_program(
      "/bin/bash", {"-c", script, SOURCE_DIR + "/completions/lumvet.bash", program});
  EXPECT_EQ(r.err, "");
  return long_options_in(r.out);
}

TEST(Docs, ManPagesAndCompletionListTheOptionsOfHelp) {
  const std::pair<std::string, std::string> programs[] = {
      {"cli/lumvet", "lumvet"}, {"train/lumvet-train", "lumvet-train"}, {"nn/lumqet", "lumqet"}};
  for (const auto& [path, name] : programs) {
    const Names help = help_options(path);
    EXPECT_GE(help.size(), 4u) << name;
    EXPECT_EQ(man_options(name), help) << name << ": the manual page's OPTIONS";
    EXPECT_EQ(completed_options(name), help) << name << ": the bash completion";
  }
}

// Values and paths are completed too; lumvet-train takes no path.
TEST(Docs, CompletionOffersValuesAndFolders) {
  const auto complete = [](const std::vector<std::string>& words) {
    std::string script = "source \"$0\"; COMP_WORDS=(";
    for (const std::string& w : words) script += "'" + w + "' ";
    script +=
        "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _lumvet_complete; "
        "printf '%s\\n' \"${COMPREPLY[@]}\"";
    return testing::run_program("/bin/bash",
                                {"-c", script, SOURCE_DIR + "/completions/lumvet.bash"}, SOURCE_DIR)
        .out;
  };
  EXPECT_EQ(complete({"lumvet", "--format", "=", ""}), "text\ntsv\njsonl\n");
  EXPECT_EQ(complete({"lumvet", "--assessor=s"}), "--assessor=sharpness\n");
  EXPECT_EQ(complete({"lumvet", "--raw", "d"}), "develop\n");
  EXPECT_EQ(complete({"lumvet", "samp"}), "samples\n");
  EXPECT_EQ(complete({"lumvet-train", "--good", "=", "traini"}), "training\n");
  EXPECT_EQ(complete({"lumvet-train", "samp"}), "\n");
  EXPECT_EQ(complete({"lumqet", "--m"}), "--model-dir=\n");
}

TEST(Docs, ExamplesPrintWhatTheyShow) {
  const testing::RunResult r = testing::run_program(
      "/bin/bash", {"-c",
                    "shopt -s nullglob; cd \"$0\" && "
                    "scripts/check_examples.sh \"$1\" README.md docs/*.md docs/man/*.scd",
                    SOURCE_DIR, testing::built_program("")});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.find(" 0 examples"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace lumvet
