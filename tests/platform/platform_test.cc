// The operating-system layer: little-endian coding, replacing files (through
// links, and the probe that a program runs before its work), listing folders,
// and names shown on a terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/coding.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace lumvet::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Coding, LeastSignificantByteFirstAndEveryBitPatternBack) {
  Bytes b;
  put_fixed32(b, 0xFF030201u);  // a high byte with its top bit set: no sign extension
  put_fixed64(b, 0x0807060504030201u);
  put_double(b, 1.0);  // 0x3FF0000000000000
  EXPECT_EQ(b, (Bytes{1, 2, 3, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(decode_fixed32(b.data()), 0xFF030201u);
  EXPECT_EQ(decode_fixed64(b.data() + 4), 0x0807060504030201u);
  for (const double d : {-0.0, -1.5, std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::denorm_min(),
                         std::bit_cast<double>(std::uint64_t{0x7FF8000000000123})}) {
    Bytes e;
    put_double(e, d);
    ASSERT_EQ(e.size(), 8u);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(decode_double(e.data())),
              std::bit_cast<std::uint64_t>(d));
  }
}

bool is_link(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A model path that is a symbolic link is written through the link, whether its
// target exists or is still to be made, relative or absolute; the link stays.
TEST(ReplaceFile, WritesThroughSymbolicLinks) {
  testing::ScopedTempDir dir;
  testing::make_dir(dir.file("real"));
  testing::write_bytes(dir.file("real/old.svm"), {'o', 'l', 'd'});
  ASSERT_EQ(::symlink("real/old.svm", dir.file("existing").c_str()), 0);
  ASSERT_EQ(::symlink("real/new.svm", dir.file("dangling").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("dangling").c_str(), dir.file("chain").c_str()), 0);
  const Bytes bytes = {1, 2, 3, 4};
  for (const char* name : {"existing", "dangling", "chain"}) {
    EXPECT_EQ(replace_file(dir.file(name), bytes, 0600), ReplaceStatus::replaced) << name;
    EXPECT_TRUE(is_link(dir.file(name))) << name;
    EXPECT_EQ(testing::read_bytes(dir.file(name)), bytes) << name;
  }
  EXPECT_EQ(testing::read_bytes(dir.file("real/old.svm")), bytes);
  EXPECT_EQ(testing::read_bytes(dir.file("real/new.svm")), bytes);
  // Nothing else appeared: no temporary file, no replaced link.
  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_directory(dir.file("real"), entries));
  EXPECT_EQ(entries.size(), 2u);
  // A link loop is written as the path itself would be: the link is replaced.
  ASSERT_EQ(::symlink("loop", dir.file("loop").c_str()), 0);
  EXPECT_EQ(replace_file(dir.file("loop"), bytes, 0600), ReplaceStatus::replaced);
}

// The probes that let a program fail before its work: could a file be
// replaced (leaving nothing behind), could a folder be listed.
TEST(FileProbes, ReplaceFileAndListDirectoryProblems) {
  testing::ScopedTempDir dir;
  EXPECT_EQ(replace_file_problem(dir.file("new.bin")), "");
  testing::write_text(dir.file("old.bin"), "kept");
  EXPECT_EQ(replace_file_problem(dir.file("old.bin")), "");
  EXPECT_EQ(testing::read_bytes(dir.file("old.bin")).size(), 4u);
  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_directory(dir.path(), entries));
  ASSERT_EQ(entries.size(), 1u);  // no temporary file left, no new file made
  EXPECT_EQ(entries[0].name, "old.bin");

  EXPECT_EQ(replace_file_problem(dir.file("no/such/x.bin")), "No such file or directory");
  EXPECT_EQ(replace_file_problem(dir.path()), "Is a directory");
  EXPECT_EQ(replace_file_problem(dir.file("old.bin/x.bin")), "Not a directory");
  EXPECT_EQ(replace_file_problem("/dev/null"), "");  // written in place

  EXPECT_EQ(list_directory_problem(dir.path()), "");
  EXPECT_EQ(list_directory_problem(dir.file("none")), "No such file or directory");
  EXPECT_EQ(list_directory_problem(dir.file("old.bin")), "Not a directory");
}

// Names are shown with '?' for control characters on a terminal (a
// pseudo-terminal here) and kept byte for byte in a pipe.
TEST(ShownOn, ControlCharactersOnlyOnATerminal) {
  const std::string name = "a\x1b[2J\nb\tc\x7f\xc3\xa9.jpg";
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  std::FILE* terminal = std::fopen(::ptsname(master), "w");
  ASSERT_NE(terminal, nullptr);
  EXPECT_TRUE(is_terminal(terminal));
  EXPECT_EQ(shown_on(terminal, name), "a?[2J?b?c?\xc3\xa9.jpg");
  std::fclose(terminal);
  ::close(master);

  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::FILE* pipe = ::fdopen(fds[1], "w");
  EXPECT_FALSE(is_terminal(pipe));
  EXPECT_EQ(shown_on(pipe, name), name);
  std::fclose(pipe);
  ::close(fds[0]);
}

}  // namespace
}  // namespace lumvet::platform
