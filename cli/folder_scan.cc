#include "cli/folder_scan.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <set>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace lumvet {

namespace {

// "." and "..", and every other name of a dot and one more character, are never
// entered; a longer name beginning with a dot is.
bool is_skipped_folder_name(const std::string& name) {
  return !name.empty() && name[0] == '.' && name.size() <= 2;
}

// Every real folder (device and inode) that the walk has entered, so that none
// is scanned twice in a run however many links lead to it.
struct WalkState {
  std::set<std::pair<std::uint64_t, std::uint64_t>> scanned;
  std::FILE* notes = nullptr;
};

bool first_visit(WalkState& state, const platform::FileId& id) {
  return state.scanned.emplace(id.device, id.inode).second;
}

bool walk(std::string& path, bool recurse, WalkState& state, const PhotoVisitor& visit) {
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
      int error = 0;
      if (!platform::file_id(path, id, &error)) {
        // Vanished since the listing, or beyond the path-length limit.
        if (error == ENAMETOOLONG && state.notes != nullptr) {
          std::fprintf(state.notes, "lumvet: path too long, folder not scanned: %s\n",
                       path.c_str());
        }
        continue;
      }
      if (!first_visit(state, id)) continue;
      go_on = walk(path, recurse, state, visit);
      if (!go_on) break;
    }
  }

  path.resize(length);
  return go_on;
}

}  // namespace

bool walk_photos(std::string& path, bool recurse, const PhotoVisitor& visit, std::FILE* notes) {
  WalkState state;
  state.notes = notes;
  platform::FileId id;
  if (platform::file_id(path, id)) first_visit(state, id);
  return walk(path, recurse, state, visit);
}

void scan_photos(std::string& path, bool recurse, const PhotoScorer& score,
                 std::int32_t& examined_count, std::int32_t& listed_count, RandomState& rs,
                 ScoreSink& sink) {
  walk_photos(
      path, recurse,
      [&](const std::string& photo) {
        // Nobody reads the output any more: stop before decoding another photo.
        if (sink_broken(sink)) return false;
        ++examined_count;
        const FileScore result = score(photo, rs);
        if (is_listed(sink, result)) ++listed_count;
        write_folder_photo(sink, photo, result);
        return true;
      },
      sink.notes);
}

}  // namespace lumvet
