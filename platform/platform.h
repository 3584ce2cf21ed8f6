// The operating-system layer: everything else in lumvet is portable C++.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace lumvet::platform {

enum class PathKind { missing, file, directory };

// What a path names, following symbolic links; `missing` when it does not exist or
// cannot be queried.
PathKind path_kind(const std::string& path);

// Device and inode of a folder, to recognise one reached twice through links.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};
bool file_id(const std::string& path, FileId& id);

struct DirEntry {
  std::string name;
  bool is_directory = false;  // after following symbolic links
};

// The entries of a folder other than "." and "..", in ascending byte order of
// their names. Returns false (and no entries) when the folder cannot be listed.
bool list_directory(const std::string& dir, std::vector<DirEntry>& entries);

// True when `name` ends in ".jpg" in any mix of ASCII letter case.
bool has_jpg_suffix(std::string_view name);

// Names of a folder's entries that end in .jpg (any letter case) and are not
// directories, sorted; empty when the folder cannot be listed or has none.
std::vector<std::string> list_jpg_files(const std::string& dir);

// Milliseconds since boot, truncated to 32 bits.
std::uint32_t tick_count_ms();
// Gives up the rest of the thread's time slice.
void yield_thread();
// Calendar time in seconds since 1970-01-01 00:00 UTC.
std::int64_t calendar_time();
// Wall-clock milliseconds since the process started (steady clock).
std::int64_t elapsed_ms();

// Reads a whole file. False when it cannot be opened or read.
bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes);

// Opens an existing regular file for reading in binary mode, following symbolic
// links. Null for anything else (missing, a directory, a device, a FIFO) or when it
// cannot be opened; never blocks on a FIFO. The caller closes it with fclose.
std::FILE* open_regular_file(const std::string& path);

// Writes `bytes` to a temporary file beside `path` and renames it over `path`, so
// a failed write never leaves a truncated file in place of a good one. On failure
// returns false, removes the temporary file and describes the error in `error`.
bool write_file_atomic(const std::string& path, const std::vector<std::uint8_t>& bytes,
                       std::string& error);

// Number of processors online (at least 1).
int online_cores();

// True when `out` is a pipe or socket whose reading end has been closed, so that
// the next write would fail (or raise SIGPIPE). False for files, terminals and
// streams without a descriptor. Does not block.
bool output_reader_gone(std::FILE* out);

}  // namespace lumvet::platform
