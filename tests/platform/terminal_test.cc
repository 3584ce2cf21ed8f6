#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace lumvet::platform {
namespace {

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
