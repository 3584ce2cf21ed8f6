#include "tests/support/test_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace lumvet::testing {

ScopedTempDir::ScopedTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/lumvet-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string capture_output(const std::function<void(std::FILE*)>& body) {
  char* buf = nullptr;
  std::size_t size = 0;
  std::FILE* f = ::open_memstream(&buf, &size);
  body(f);
  std::fclose(f);
  std::string s(buf, size);
  std::free(buf);
  return s;
}

void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

std::vector<std::uint8_t> read_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

void make_dir(const std::string& path) { std::filesystem::create_directories(path); }

Bitmap32 make_test_bitmap(std::int32_t width, std::int32_t height,
                          const std::function<void(int, int, std::uint8_t*)>& fill) {
  Bitmap32 b = make_bitmap32(width, height);
  for (int i = 0; i < height; ++i) {
    std::uint8_t* p = b.row(i);
    for (int j = 0; j < width; ++j, p += 4) {
      p[3] = 0;
      fill(i, j, p);
    }
  }
  return b;
}

Bitmap32 make_uniform_bitmap(std::int32_t width, std::int32_t height, std::uint8_t b,
                             std::uint8_t g, std::uint8_t r) {
  return make_test_bitmap(width, height, [=](int, int, std::uint8_t* p) {
    p[0] = b;
    p[1] = g;
    p[2] = r;
  });
}

Bitmap32 make_reference_bitmap() {
  return make_test_bitmap(200, 100, [](int i, int j, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>((i * j) % 256);
    p[1] = static_cast<std::uint8_t>((7 * j + 2 * i) % 256);
    p[2] = static_cast<std::uint8_t>((3 * j + 5 * i) % 256);
  });
}

namespace {

std::string slurp_fd(int fd) {
  std::string s;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    s.append(buf, static_cast<std::size_t>(n));
  }
  return s;
}

}  // namespace

RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& cwd, const std::function<void()>& in_child) {
  RunResult result;
  char out_tmpl[] = "/tmp/lumvet-out-XXXXXX";
  char err_tmpl[] = "/tmp/lumvet-err-XXXXXX";
  const int out_fd = ::mkstemp(out_tmpl);
  const int err_fd = ::mkstemp(err_tmpl);
  ::unlink(out_tmpl);
  ::unlink(err_tmpl);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
    if (in_child) in_child();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  result.peak_kib = usage.ru_maxrss;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::lseek(out_fd, 0, SEEK_SET);
  ::lseek(err_fd, 0, SEEK_SET);
  result.out = slurp_fd(out_fd);
  result.err = slurp_fd(err_fd);
  ::close(out_fd);
  ::close(err_fd);
  return result;
}

::testing::AssertionResult ran(const RunResult& r, int exit_code, const std::string& out,
                               const std::string& err) {
  if (r.exit_code == exit_code && r.out == out && r.err == err) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "exit code " << r.exit_code << ", expected " << exit_code
         << "\n  out: " << ::testing::PrintToString(r.out) << "\n  expected "
         << ::testing::PrintToString(out) << "\n  err: " << ::testing::PrintToString(r.err)
         << "\n  expected " << ::testing::PrintToString(err);
}

std::string built_program(const std::string& relative) {
  const char* dir = std::getenv("LUMVET_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/" + relative;
}

}  // namespace lumvet::testing
