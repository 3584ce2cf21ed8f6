// Helpers shared by the test suites: temporary folders, captured output, and
// bitmaps built in memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/bitmap.h"

namespace lumvet::testing {

// A fresh folder under $TMPDIR, removed with everything in it on destruction.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs `body` with a memory stream and returns what it wrote.
std::string capture_output(const std::function<void(std::FILE*)>& body);

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void write_text(const std::string& path, const std::string& text);
std::vector<std::uint8_t> read_bytes(const std::string& path);
void make_dir(const std::string& path);

// A bitmap whose pixel (row i, column j) is fill(i, j, bgr) with bgr[0] = blue.
Bitmap32 make_test_bitmap(std::int32_t width, std::int32_t height,
                          const std::function<void(int, int, std::uint8_t*)>& fill);
Bitmap32 make_uniform_bitmap(std::int32_t width, std::int32_t height, std::uint8_t b,
                             std::uint8_t g, std::uint8_t r);
// The 200 x 100 reference bitmap: blue = (i j) mod 256, green = (7 j + 2 i) mod 256,
// red = (3 j + 5 i) mod 256 at row i, column j.
Bitmap32 make_reference_bitmap();

// Result of running a program: exit code (128 + the signal that ended it),
// standard output and standard error, and its peak resident size in kilobytes.
struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
  long peak_kib = 0;
};
// Runs `program` with `args` (argv[1...]) in working directory `cwd` (empty: the
// current one) and collects its output; `in_child`, when given, runs in the child
// just before the program starts (after the output is redirected).
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd = "", const std::function<void()>& in_child = {});
// Whether a run ended with `exit_code` having printed exactly `out` and `err`
// (what it did print, when not): EXPECT_TRUE(ran(r, 2, "", "prog: ...\n")).
::testing::AssertionResult ran(const RunResult& r, int exit_code, const std::string& out,
                               const std::string& err);
// Path of a program built in this build tree, e.g. "cli/lumvet".
std::string built_program(const std::string& relative);

}  // namespace lumvet::testing
