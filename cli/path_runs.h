// Runs over many paths: those named on the command line and those read from a
// file list, each scored in the order given, files and folders alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/folder_scan.h"
#include "cli/output.h"
#include "cli/progress.h"
#include "scoring/random.h"

namespace lumvet {

// A file list being read: one path per record, records ending in `delimiter`
// (a newline, or NUL for -0). Empty records are passed over and counted.
struct PathList {
  std::FILE* in = nullptr;
  char delimiter = '\n';
  std::int64_t empty_records = 0;
  int read_error = 0;  // errno value of a failed read; 0 if none
};

// Hands one named path to `visit`: a path that cannot be found as a missing
// entry (with the reason), a folder as the photos walk_photos finds in it with
// `options`, anything else (a file of any name, a FIFO, a device) as one photo.
bool visit_named_path(const std::string& path, bool recurse, const WalkOptions& options,
                      const EntryVisitor& visit);

// The named `paths` in order, then, when `list` is not null, the paths of the
// list as they are read. Stops reading the list at its end or at a read error.
EntrySource named_paths(const std::vector<std::string>& paths, PathList* list, bool recurse,
                        const WalkOptions& options);

// How a run scores a photo: `score`, which advances the run's state by
// `steps_per_photo` for a photo that decodes (0 for a scorer that draws nothing
// from it).
struct PhotoScoring {
  PhotoScorer score;
  std::uint64_t steps_per_photo = 0;
};

// Scores the entries of `source` with scan_entries (jobs 1) or
// scan_entries_in_parallel. With a progress line, a source that can be walked
// twice (`counted_first`) is walked once first only to count its photos, so that
// the time left is known from the start; that walk (of the source's folder walks
// with `walk`, may be null) adds nothing to walk->skipped and writes no notes.
void run_entries(const EntrySource& source, bool counted_first, const PhotoScoring& scoring,
                 int jobs, RandomState& rs, ScoreSink& sink, std::int32_t& examined_count,
                 std::int32_t& listed_count, Progress* progress, WalkOptions* walk);

// The note that a text-mode run ends with when folder scans left out files with
// image names, without the program name: e.g. "4 files named .jpeg or .png were
// not examined; add --ext=jpg,jpeg,png to include them". `taken` are the
// extensions the run took (empty: jpg).
std::string skipped_names_hint(const SkippedNames& skipped, const std::vector<std::string>& taken);

}  // namespace lumvet
