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

#include "cli/output.h"
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

}  // namespace lumvet
