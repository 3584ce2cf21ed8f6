// The operating-system layer: everything else in lumvet is portable C++.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumvet::platform {

enum class PathKind { missing, file, directory };

// What a path names, following symbolic links; `missing` when it does not exist or
// cannot be queried, or holds a NUL byte (EINVAL), which no name can.
PathKind path_kind(const std::string& path);
// The same, with the reason (an errno value) in `error` when the path is missing.
PathKind path_kind(const std::string& path, int& error);

// Device and inode of a folder, to recognise one reached twice through links.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileId&) const = default;
};
// `error` (when given) receives the errno of a failure.
bool file_id(const std::string& path, FileId& id, int* error = nullptr);

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

// Opens a regular file for binary reading; null when the path cannot be opened or
// names something else (a directory, FIFO or device), so that no read can block
// or run for ever.
std::FILE* open_regular_file(const std::string& path);

// Opens a file to read text from: anything readable but a folder (a regular
// file, a FIFO, a terminal). Null with an errno value in `error` on failure.
std::FILE* open_input(const std::string& path, int& error);

// Reads the next record of `in` up to `delimiter` (not kept) or the end of the
// input. False at the end of the input (no record) or on a read error, which sets
// `error` to an errno value (else 0).
bool read_record(std::FILE* in, char delimiter, std::string& record, int& error);

// True when `f` is a terminal.
bool is_terminal(std::FILE* f);

// Reads a whole file. False when it cannot be opened or read.
bool read_file(const std::string& path, std::vector<std::uint8_t>& bytes);

// The first `limit` bytes at most of the regular file at `path` (only a regular
// file: a pipe or a device could block or never end); false when it cannot be
// opened or read. Reading one byte more than a fixed-size file holds tells that
// a file is too long.
bool read_regular_file_prefix(const std::string& path, std::size_t limit,
                              std::vector<std::uint8_t>& bytes);

// Size in bytes of an open file (0 when it cannot be told).
std::uint64_t file_size(std::FILE* f);

enum class ReplaceStatus {
  replaced,      // the file now holds exactly the bytes
  not_opened,    // the file could not be opened or created for writing; nothing changed
  write_failed,  // opened, but writing failed; an earlier file is left as it was
};

// Writes `bytes` in place of the file at `path`. A regular file (or a path that
// does not exist yet) is replaced through a temporary file beside it that is
// renamed over it, so a failed write never leaves a truncated file; a symbolic link
// is followed, also one whose target does not exist yet, and stays a link; an
// existing file keeps its permission bits, a new one gets `mode` less the umask.
// Anything else (a device, a pipe) is written in place.
ReplaceStatus replace_file(const std::string& path, const std::vector<std::uint8_t>& bytes,
                           unsigned mode);

// Why replace_file could not write `path`, found without changing anything: the
// same opening of an existing file and the same temporary file beside it (created,
// then removed at once). Empty when it could; else the system's reason, such as
// "Permission denied" or "No such file or directory".
std::string replace_file_problem(const std::string& path);

// Why the folder `path` could not be listed: empty when it can be; else the
// system's reason ("No such file or directory", "Not a directory", ...).
std::string list_directory_problem(const std::string& path);

// Makes a failed write a failed write, never a signal: beyond the file-size limit
// (ulimit -f) it fails with EFBIG instead of raising SIGXFSZ, and to a pipe whose
// reader has gone with EPIPE instead of raising SIGPIPE. The program then ends
// with its documented exit code (finish_output), leaving no temporary file.
// Each program calls it before anything else.
void ignore_write_signals();

// `text` with every control character (bytes 0-31 and 127) as '?', as ls shows
// names on a terminal, so that a file name can neither move the cursor nor forge
// a line.
std::string control_characters_shown(const std::string& text);

// `text` as it may be written to `out`: control_characters_shown on a terminal,
// the bytes unchanged anywhere else (a pipe, a file).
std::string shown_on(std::FILE* out, const std::string& text);

// Writes `bytes` to the file at `path`, created (with `mode` less the umask) or
// truncated, without the temporary file and the flush to disk of replace_file:
// for many small files whose loss in a crash costs nothing. 0 when written,
// else the errno of the failure.
int write_file(const std::string& path, const std::vector<std::uint8_t>& bytes, unsigned mode);

// Creates the folder `path` and any missing folders above it (mode 0777 less the
// umask). 0 when it exists as a folder afterwards, else the errno of the
// failure (ENOTDIR when something else has that name).
int make_directories(const std::string& path);

// Number of processors online (at least 1).
int online_cores();

// Memory for a large working buffer that is reused from image to image (a
// frame kept for the report): aligned to 2 MiB and, where the system offers
// them, backed by huge pages, so that touching it the first time costs one
// page fault per 2 MiB rather than one per 4 KiB. Not initialised; null when
// the memory cannot be had.
struct LargeBufferDeleter {
  void operator()(std::uint8_t* p) const;
};
using LargeBuffer = std::unique_ptr<std::uint8_t[], LargeBufferDeleter>;
LargeBuffer allocate_large_buffer(std::size_t bytes);

// True when `out` is a pipe or socket whose reading end has been closed, so that
// the next write would fail (or raise SIGPIPE). False for files, terminals and
// streams without a descriptor. Does not block.
bool output_reader_gone(std::FILE* out);

// Ends a program's output: flushes `out` and returns `exit_code` when everything
// reached it, else EXIT_OUTPUT_FAILED after one line "<program>: cannot write output[: <reason>]"
// on `err` (no line when the reader closed the pipe: the program just stops). `write_errno` is the
// error of a failed write the caller already saw, or 0.
int finish_output(std::FILE* out, std::FILE* err, const char* program, int exit_code,
                  int write_errno = 0);

// The absolute path of the running program's own executable, symbolic links
// resolved (/proc/self/exe); empty when it cannot be found.
std::string executable_path();

// The absolute path of an existing file or folder with every symbolic link, "."
// and ".." resolved; empty when it does not exist or cannot be resolved.
std::string real_path(const std::string& path);

}  // namespace lumvet::platform
