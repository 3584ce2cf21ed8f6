// Progress of a long run on a terminal: photos done and found so far, photos per
// second and, once every photo has been found, the time left. One line on the
// error stream, redrawn in place at most four times a second and erased at the
// end. Nothing is drawn during the first half second, so quick runs show nothing.
//
// Every function takes a Progress that may be null (no progress: nothing to do)
// and is called from the one thread that walks and writes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace lumvet {

inline constexpr std::int64_t PROGRESS_FIRST_DRAW_MS = 500;
inline constexpr std::int64_t PROGRESS_REDRAW_MS = 250;

struct Progress {
  std::FILE* err = nullptr;       // where the line is drawn (a terminal)
  bool clear_for_output = false;  // records go to the same terminal: erase the line first
  std::int64_t start_ms = 0;
  std::int64_t next_draw_ms = 0;
  std::int64_t found = 0;  // entries handed to the scan so far
  std::int64_t done = 0;   // entries written so far
  bool total_known = false;
  bool shown = false;  // the line is on the terminal now
};

// A Progress for a run writing records to `out`, or nothing (false) when `err`
// is not a terminal or `quiet` is set.
bool start_progress(Progress& progress, std::FILE* out, std::FILE* err, bool quiet);

void progress_found(Progress* progress);
void progress_done(Progress* progress);
// Every entry has been found: the time left can be told. Entries found later are
// not counted again (a scan after a counting walk).
void progress_total_known(Progress* progress);
// A record is about to be written: erases the line when it shares the terminal.
void progress_before_output(Progress* progress);
// The run is over: erases the line.
void progress_end(Progress* progress);

// The line's text for `done` of `found` entries after `elapsed_ms`, e.g.
// "lumvet: 120 done, 450 found, 35.2 photos/s" or, with the total known,
// "lumvet: 120/450 done, 35.2 photos/s, about 9 s left".
std::string progress_text(std::int64_t done, std::int64_t found, bool total_known,
                          std::int64_t elapsed_ms);

}  // namespace lumvet
