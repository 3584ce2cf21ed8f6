#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/exit_codes.h"

namespace lumvet::platform {

namespace {

// Taken when the program's static objects are built, before any entry routine.
const std::chrono::steady_clock::time_point process_start = std::chrono::steady_clock::now();

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The file that `path` names once symbolic links are followed, also when the
// last link dangles (its target is to be created): the path itself when it is
// no link, or when the links cannot be read or loop.
std::string link_target(const std::string& path) {
  std::string target = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return target;
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return path;
    link.resize(static_cast<std::size_t>(n));
    const std::size_t slash = target.rfind('/');
    if (link[0] != '/' && slash != std::string::npos) link = target.substr(0, slash + 1) + link;
    target = link;
  }
  return path;
}

}  // namespace

PathKind path_kind(const std::string& path) {
  int error = 0;
  return path_kind(path, error);
}

PathKind path_kind(const std::string& path, int& error) {
  struct stat st;
  error = 0;
  // A NUL byte (from a file list) ends the name the system would see: the path
  // as given names nothing.
  if (path.find('\0') != std::string::npos) {
    error = EINVAL;
    return PathKind::missing;
  }
  if (::stat(path.c_str(), &st) != 0) {
    error = errno;
    return PathKind::missing;
  }
  return S_ISDIR(st.st_mode) ? PathKind::directory : PathKind::file;
}

bool file_id(const std::string& path, FileId& id, int* error) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (error != nullptr) *error = errno;
    return false;
  }
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.inode = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

bool list_directory(const std::string& dir, std::vector<DirEntry>& entries) {
  entries.clear();
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return false;
  const int dfd = ::dirfd(d);
  while (const dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    DirEntry entry;
    entry.name = e->d_name;
    if (e->d_type == DT_DIR) {
      entry.is_directory = true;
    } else if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      struct stat st;
      entry.is_directory = ::fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(d);
  std::sort(entries.begin(), entries.end(),
            [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
  return true;
}

bool has_jpg_suffix(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view tail = name.substr(name.size() - 4);
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return tail[0] == '.' && lower(tail[1]) == 'j' && lower(tail[2]) == 'p' && lower(tail[3]) == 'g';
}

std::vector<std::string> list_jpg_files(const std::string& dir) {
  std::vector<DirEntry> entries;
  std::vector<std::string> names;
  if (!list_directory(dir, entries)) return names;
  for (auto& e : entries) {
    if (!e.is_directory && has_jpg_suffix(e.name)) names.push_back(std::move(e.name));
  }
  return names;
}

std::uint32_t tick_count_ms() {
  timespec ts{};
  ::clock_gettime(CLOCK_BOOTTIME, &ts);
  const std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms);
}

void yield_thread() { ::sched_yield(); }

std::int64_t calendar_time() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t elapsed_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               process_start)
      .count();
}

std::FILE* open_input(const std::string& path, int& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || ::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    error = fd < 0 ? errno : EISDIR;
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) {
    error = errno;
    ::close(fd);
  }
  return f;
}

bool read_record(std::FILE* in, char delimiter, std::string& record, int& error) {
  record.clear();
  error = 0;
  errno = 0;
  int c;
  while ((c = ::getc_unlocked(in)) != EOF) {
    if (c == static_cast<unsigned char>(delimiter)) return true;
    record += static_cast<char>(c);
  }
  if (std::ferror(in)) {
    error = errno != 0 ? errno : EIO;
    return false;
  }
  return !record.empty();
}

bool is_terminal(std::FILE* f) {
  const int fd = f != nullptr ? ::fileno(f) : -1;
  return fd >= 0 && ::isatty(fd) == 1;
}

std::FILE* open_regular_file(const std::string& path) {
  // O_NONBLOCK keeps a FIFO without a writer from blocking the open; it has no
  // effect on reads from a regular file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, "rb");
  if (f == nullptr) ::close(fd);
  return f;
}

bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  std::uint8_t buf[65536];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  ::close(fd);
  return ok;
}

std::uint64_t file_size(std::FILE* f) {
  struct stat st;
  if (::fstat(::fileno(f), &st) != 0 || st.st_size < 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

ReplaceStatus replace_file(const std::string& path, const std::vector<std::uint8_t>& bytes,
                           unsigned mode) {
  const std::string target = link_target(path);
  struct stat st;
  mode_t file_mode;
  if (::stat(target.c_str(), &st) == 0) {
    // The file must be one we could open for writing, as a plain overwrite would.
    const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) return ReplaceStatus::not_opened;
    if (!S_ISREG(st.st_mode)) {
      // Never rename over a device or a pipe: write to it.
      ::fcntl(probe, F_SETFL, ::fcntl(probe, F_GETFL) & ~O_NONBLOCK);
      const bool ok = write_all(probe, bytes.data(), bytes.size());
      ::close(probe);
      return ok ? ReplaceStatus::replaced : ReplaceStatus::write_failed;
    }
    ::close(probe);
    file_mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    file_mode = static_cast<mode_t>(mode) & ~mask;
  }
  std::string tmp = target + ".tmpXXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return ReplaceStatus::not_opened;
  bool ok =
      ::fchmod(fd, file_mode) == 0 && write_all(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok ? ReplaceStatus::replaced : ReplaceStatus::write_failed;
}

std::string replace_file_problem(const std::string& path) {
  const std::string target = link_target(path);  // where replace_file writes
  struct stat st;
  if (::stat(target.c_str(), &st) == 0) {
    const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) return std::strerror(errno);
    ::close(probe);
    if (!S_ISREG(st.st_mode)) return {};  // written in place
  }
  std::string tmp = target + ".tmpXXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(tmp.c_str());
  return {};
}

std::string list_directory_problem(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return std::strerror(errno);
  ::closedir(dir);
  return {};
}

void ignore_write_signals() {
  ::signal(SIGXFSZ, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
}

std::string shown_on(std::FILE* out, const std::string& text) {
  return is_terminal(out) ? control_characters_shown(text) : text;
}

std::string control_characters_shown(const std::string& text) {
  std::string shown = text;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return shown;
}

int write_file(const std::string& path, const std::vector<std::uint8_t>& bytes, unsigned mode) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, static_cast<mode_t>(mode));
  if (fd < 0) return errno;
  int error = write_all(fd, bytes.data(), bytes.size()) ? 0 : (errno != 0 ? errno : EIO);
  if (::close(fd) != 0 && error == 0) error = errno;
  return error;
}

int make_directories(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  // The folder above first (none above "x" or "/x").
  const std::size_t slash = path.find_last_not_of('/') == std::string::npos
                                ? std::string::npos
                                : path.find_last_of('/', path.find_last_not_of('/'));
  if (slash != std::string::npos && slash > 0) {
    const int above = make_directories(path.substr(0, slash));
    if (above != 0) return above;
  }
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  const int error = errno;
  // Made meanwhile by someone else: as good.
  if (error == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return 0;
  return error;
}

namespace {
constexpr std::size_t LARGE_BUFFER_ALIGNMENT = std::size_t{2} << 20;
}  // namespace

void LargeBufferDeleter::operator()(std::uint8_t* p) const {
  ::operator delete[](p, std::align_val_t{LARGE_BUFFER_ALIGNMENT});
}

LargeBuffer allocate_large_buffer(std::size_t bytes) {
  const std::size_t rounded =
      (bytes + LARGE_BUFFER_ALIGNMENT - 1) / LARGE_BUFFER_ALIGNMENT * LARGE_BUFFER_ALIGNMENT;
  if (rounded < bytes) return nullptr;
  void* p = ::operator new[](rounded, std::align_val_t{LARGE_BUFFER_ALIGNMENT}, std::nothrow);
  if (p == nullptr) return nullptr;
  // Advice only: without transparent huge pages the buffer works the same.
  ::madvise(p, rounded, MADV_HUGEPAGE);
  return LargeBuffer(static_cast<std::uint8_t*>(p));
}

int online_cores() {
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

bool output_reader_gone(std::FILE* out) {
  const int fd = ::fileno(out);
  if (fd < 0) return false;
  pollfd p{};
  p.fd = fd;
  p.events = 0;  // POLLERR and POLLHUP are reported whatever is asked for
  if (::poll(&p, 1, 0) != 1) return false;
  return (p.revents & (POLLERR | POLLHUP)) != 0;
}

int finish_output(std::FILE* out, std::FILE* err, const char* program, int exit_code,
                  int write_errno) {
  errno = 0;
  if ((std::fflush(out) != 0 || std::ferror(out) != 0) && write_errno == 0) write_errno = errno;
  // The usage text is the answer to a command line that names nothing: its exit
  // code stands whether or not the text could be written.
  if (exit_code == EXIT_USAGE) return exit_code;
  if (write_errno == 0 && std::ferror(out) == 0) return exit_code;
  if (write_errno == EPIPE || output_reader_gone(out)) return EXIT_OUTPUT_FAILED;
  if (write_errno != 0) {
    std::fprintf(err, "%s: cannot write output: %s\n", program, std::strerror(write_errno));
  } else {  // an earlier write failed; its reason is no longer known
    std::fprintf(err, "%s: cannot write output\n", program);
  }
  return EXIT_OUTPUT_FAILED;
}

std::string executable_path() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      return path;
    }
    path.resize(path.size() * 2);  // possibly cut short: try again with more room
  }
}

std::string real_path(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return {};
  std::string result = real;
  std::free(real);
  return result;
}

bool read_regular_file_prefix(const std::string& path, std::size_t limit,
                              std::vector<std::uint8_t>& bytes) {
  std::FILE* f = open_regular_file(path);
  if (f == nullptr) return false;
  bytes.resize(limit);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  const bool read_failed = std::ferror(f) != 0;
  std::fclose(f);
  return !read_failed;
}

}  // namespace lumvet::platform
