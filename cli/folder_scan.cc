#include "cli/folder_scan.h"

#include <algorithm>
#include <vector>

#include "platform/platform.h"

namespace lumvet {

namespace {

// "." and "..", and every other name of a dot and one more character, are never
// entered; a longer name beginning with a dot is.
bool is_skipped_folder_name(const std::string& name) {
  return !name.empty() && name[0] == '.' && name.size() <= 2;
}

// `ancestors` holds the folders of the current descent path, the one being
// walked included.
bool walk(std::string& path, bool recurse, std::vector<platform::FileId>& ancestors,
          const PhotoVisitor& visit) {
  const std::size_t length = path.size();
  std::vector<platform::DirEntry> entries;
  if (!platform::list_directory(path, entries)) return true;

  bool go_on = true;
  for (const auto& entry : entries) {
    if (entry.is_directory || !platform::has_jpg_suffix(entry.name)) continue;
    path.resize(length);
    path += '/';
    path += entry.name;
    if (!visit(path)) {
      go_on = false;
      break;
    }
  }

  if (go_on && recurse) {
    for (const auto& entry : entries) {
      if (!entry.is_directory || is_skipped_folder_name(entry.name)) continue;
      path.resize(length);
      path += '/';
      path += entry.name;
      platform::FileId id;
      if (!platform::file_id(path, id)) continue;  // vanished since the listing
      if (std::find(ancestors.begin(), ancestors.end(), id) != ancestors.end()) continue;
      ancestors.push_back(id);
      go_on = walk(path, recurse, ancestors, visit);
      ancestors.pop_back();
      if (!go_on) break;
    }
  }

  path.resize(length);
  return go_on;
}

}  // namespace

bool walk_photos(std::string& path, bool recurse, const PhotoVisitor& visit) {
  std::vector<platform::FileId> ancestors;
  platform::FileId id;
  if (platform::file_id(path, id)) ancestors.push_back(id);
  return walk(path, recurse, ancestors, visit);
}

void scan_photos(std::string& path, bool recurse, const PhotoScorer& score,
                 std::int32_t& examined_count, std::int32_t& listed_count, RandomState& rs,
                 ScoreSink& sink) {
  walk_photos(path, recurse, [&](const std::string& photo) {
    // Nobody reads the output any more: stop before decoding another photo.
    if (sink_broken(sink)) return false;
    ++examined_count;
    const FileScore result = score(photo, rs);
    if (is_listed(sink, result)) ++listed_count;
    write_folder_photo(sink, photo, result);
    return true;
  });
}

}  // namespace lumvet
