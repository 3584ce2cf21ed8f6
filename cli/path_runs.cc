#include "cli/path_runs.h"

#include <algorithm>

#include "cli/parallel_scan.h"
#include "platform/platform.h"

namespace lumvet {

bool visit_named_path(const std::string& path, bool recurse, const WalkOptions& options,
                      const EntryVisitor& visit) {
  int error = 0;
  switch (platform::path_kind(path, error)) {
    case platform::PathKind::missing:
      return visit(path, true, error);
    case platform::PathKind::directory: {
      std::string folder = path;  // extended and restored by the walk
      return walk_photos(folder, recurse, options,
                         [&visit](const std::string& photo) { return visit(photo, false, 0); });
    }
    case platform::PathKind::file:
      break;
  }
  return visit(path, false, 0);
}

EntrySource named_paths(const std::vector<std::string>& paths, PathList* list, bool recurse,
                        const WalkOptions& options) {
  return [&paths, list, recurse, &options](const EntryVisitor& visit) {
    for (const auto& path : paths) {
      if (!visit_named_path(path, recurse, options, visit)) return false;
    }
    if (list == nullptr) return true;
    std::string path;
    while (platform::read_record(list->in, list->delimiter, path, list->read_error)) {
      if (path.empty()) {
        ++list->empty_records;
        continue;
      }
      if (!visit_named_path(path, recurse, options, visit)) return false;
    }
    return true;
  };
}

void run_entries(const EntrySource& source, bool counted_first, const PhotoScoring& scoring,
                 int jobs, RandomState& rs, ScoreSink& sink, std::int32_t& examined_count,
                 std::int32_t& listed_count, Progress* progress, WalkOptions* walk) {
  if (progress != nullptr && counted_first) {
    SkippedNames* skipped = walk != nullptr ? walk->skipped : nullptr;
    const SkippedNames before = skipped != nullptr ? *skipped : SkippedNames{};
    std::FILE* notes = walk != nullptr ? walk->notes : nullptr;
    if (walk != nullptr) walk->notes = nullptr;
    source([progress](const std::string&, bool, int) {
      progress_found(progress);
      return true;
    });
    if (skipped != nullptr) *skipped = before;
    if (walk != nullptr) walk->notes = notes;
    progress_total_known(progress);
  }
  if (jobs > 1) {
    scan_entries_in_parallel(source, jobs, scoring.score, examined_count, listed_count, rs, sink,
                             scoring.steps_per_photo, progress);
  } else {
    scan_entries(source, scoring.score, examined_count, listed_count, rs, sink, progress);
  }
}

std::string skipped_names_hint(const SkippedNames& skipped, const std::vector<std::string>& taken) {
  std::string names;
  std::vector<std::string> all = taken.empty() ? std::vector<std::string>{"jpg"} : taken;
  for (std::size_t i = 0; i < skipped.extensions.size(); ++i) {
    if (i > 0) names += i + 1 == skipped.extensions.size() ? " or " : ", ";
    names += "." + skipped.extensions[i];
    if (std::find(all.begin(), all.end(), skipped.extensions[i]) == all.end()) {
      all.push_back(skipped.extensions[i]);
    }
  }
  std::string ext;
  for (const auto& e : all) ext += (ext.empty() ? "" : ",") + e;
  const char* files = skipped.count == 1 ? " file named " : " files named ";
  const char* were = skipped.count == 1 ? " was" : " were";
  return std::to_string(skipped.count) + files + names + were + " not examined; add --ext=" + ext +
         " to include them";
}

}  // namespace lumvet
