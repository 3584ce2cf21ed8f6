// Folder mode: every JPG photo of a folder (and, when asked, of its sub-folders)
// scored in a fixed order.
//
// Order: a folder's files in ascending byte order of their names, then its
// sub-folders in the same order, each finished with all of its own sub-folders
// before the next starts (depth first). Random draws follow this order, so it
// decides every score.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/output.h"
#include "cli/progress.h"
#include "scoring/file_scoring.h"
#include "scoring/linear_model.h"
#include "scoring/random.h"

namespace lumvet {

// Called with the full path of each photo in scan order; returns false to stop
// the walk.
using PhotoVisitor = std::function<bool(const std::string& path)>;

// Walks the folder named by `path` and visits every entry whose name ends in
// ".jpg" (any letter case) and which is not a directory after following links;
// a dangling link is such an entry. The path is extended in place ("/" and the
// name; a trailing '/' in the folder path is kept, giving "//") and restored to
// its value on entry before returning.
// With `recurse`, sub-folders are entered after the files, except those whose
// name is '.' plus at most one character, and except a folder already scanned in
// this walk (same device and inode, whatever path or link led there): every real
// folder is scanned at most once, so link loops end and links that lead to one
// folder many ways cost one scan. A folder that cannot be listed contributes
// nothing; one whose path is beyond the system's path-length limit is named on
// `notes` (when given) as not scanned. Returns false when stopped by the visitor.
bool walk_photos(std::string& path, bool recurse, const PhotoVisitor& visit,
                 std::FILE* notes = nullptr);

// Which names a folder scan takes, and what it passed over.
struct SkippedNames {
  std::int64_t count = 0;               // files with an image's name not taken
  std::vector<std::string> extensions;  // their extensions, lower case, sorted, once each
};
struct WalkOptions {
  // Lower-case extensions without the dot (from parse_extension_list); empty:
  // ".jpg" only, as walk_photos takes.
  std::vector<std::string> extensions;
  SkippedNames* skipped = nullptr;  // counts the files left out that look like images
  std::FILE* notes = nullptr;       // where folders beyond the path-length limit are named
};

// True when `name` ends in '.' and `extension` (lower case), the name's letters
// compared in any case.
bool has_extension(std::string_view name, std::string_view extension);
// The lower-case extension of `name` when it is one that image files carry
// (jpg, jpeg, png, tif, webp, heic, avif, jxl, the raw formats' cr2, nef, dng, ...),
// else empty.
std::string image_extension(std::string_view name);

// walk_photos taking the names `options` chooses, counting the image files it
// leaves out and naming folders not scanned on `options.notes`.
bool walk_photos(std::string& path, bool recurse, const WalkOptions& options,
                 const PhotoVisitor& visit);

// Scores one photo from `rs` and advances `rs` as score_image_file_checked does:
// 120 steps when the photo decoded, none when it did not.
using PhotoScorer = std::function<FileScore(const std::string& path, RandomState& rs)>;

// Scores every photo that walk_photos reaches with `score`, one after another from
// `rs`, and hands each result to `sink` in scan order. Increments `examined_count`
// for every photo and `listed_count` for every photo that the sink lists; never
// resets them. Stops early once the sink is broken.
void scan_photos(std::string& path, bool recurse, const PhotoScorer& score,
                 std::int32_t& examined_count, std::int32_t& listed_count, RandomState& rs,
                 ScoreSink& sink);

// A run over several paths hands its entries on one by one, in order: a photo to
// score, or (`missing`, with the errno value `error`) a path it was given that
// cannot be found, which is written as a missing entry and neither scored nor
// counted. The visitor returns false to stop the run.
using EntryVisitor = std::function<bool(const std::string& path, bool missing, int error)>;
// Calls `visit` with every entry of a run in order; returns false when stopped.
using EntrySource = std::function<bool(const EntryVisitor& visit)>;

// scan_photos over the entries of `source`, with `progress` (may be null) told of
// every entry found and written.
void scan_entries(const EntrySource& source, const PhotoScorer& score, std::int32_t& examined_count,
                  std::int32_t& listed_count, RandomState& rs, ScoreSink& sink,
                  Progress* progress = nullptr);

// The entries of the folder `path` (walk_photos with `options`), as photos.
EntrySource folder_entries(const std::string& path, bool recurse, const WalkOptions& options);

}  // namespace lumvet
