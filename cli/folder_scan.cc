#include "cli/folder_scan.h"

#include <algorithm>
#include <array>
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

// Extensions of image files, counted when a folder scan leaves them out.
constexpr std::array<std::string_view, 25> IMAGE_EXTENSIONS = {
    "arw", "avif", "bmp", "cr2", "cr3", "dng", "gif", "heic", "heif", "jfif", "jpe",  "jpeg", "jpg",
    "jxl", "nef",  "nrw", "orf", "pef", "png", "raf", "rw2",  "srw",  "tif",  "tiff", "webp"};

bool takes_name(const WalkOptions* options, const std::string& name) {
  if (options == nullptr || options->extensions.empty()) return platform::has_jpg_suffix(name);
  for (const auto& extension : options->extensions) {
    if (has_extension(name, extension)) return true;
  }
  return false;
}

void note_skipped(SkippedNames& skipped, const std::string& name) {
  std::string extension = image_extension(name);
  if (extension.empty()) return;
  ++skipped.count;
  auto& seen = skipped.extensions;
  const auto at = std::lower_bound(seen.begin(), seen.end(), extension);
  if (at == seen.end() || *at != extension) seen.insert(at, std::move(extension));
}

// One walk: the names it takes (`options` may be null: ".jpg" names, nothing
// counted), and every real folder (device and inode) that it has entered, so
// that none is scanned twice however many links lead to it.
struct WalkState {
  const WalkOptions* options = nullptr;
  std::set<std::pair<std::uint64_t, std::uint64_t>> scanned;
  std::FILE* notes = nullptr;
};

bool first_visit(WalkState& state, const platform::FileId& id) {
  return state.scanned.emplace(id.device, id.inode).second;
}

bool walk(std::string& path, bool recurse, WalkState& state, const PhotoVisitor& visit) {
  const WalkOptions* options = state.options;
  const std::size_t length = path.size();
  std::vector<platform::DirEntry> entries;
  if (!platform::list_directory(path, entries)) return true;

  bool go_on = true;
  for (const auto& entry : entries) {
    if (entry.is_directory) continue;
    if (!takes_name(options, entry.name)) {
      if (options != nullptr && options->skipped != nullptr)
        note_skipped(*options->skipped, entry.name);
      continue;
    }
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
                       platform::shown_on(state.notes, path).c_str());
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

bool walk_from(std::string& path, bool recurse, const WalkOptions* options, std::FILE* notes,
               const PhotoVisitor& visit) {
  WalkState state;
  state.options = options;
  state.notes = notes;
  platform::FileId id;
  if (platform::file_id(path, id)) first_visit(state, id);
  return walk(path, recurse, state, visit);
}

}  // namespace

bool has_extension(std::string_view name, std::string_view extension) {
  if (name.size() <= extension.size()) return false;
  const std::size_t dot = name.size() - extension.size() - 1;
  if (name[dot] != '.') return false;
  for (std::size_t i = 0; i < extension.size(); ++i) {
    char c = name[dot + 1 + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != extension[i]) return false;
  }
  return true;
}

std::string image_extension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == name.size()) return {};
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const bool known = std::binary_search(IMAGE_EXTENSIONS.begin(), IMAGE_EXTENSIONS.end(),
                                        std::string_view(extension));
  return known ? extension : std::string();
}

bool walk_photos(std::string& path, bool recurse, const PhotoVisitor& visit, std::FILE* notes) {
  return walk_from(path, recurse, nullptr, notes, visit);
}

bool walk_photos(std::string& path, bool recurse, const WalkOptions& options,
                 const PhotoVisitor& visit) {
  return walk_from(path, recurse, &options, options.notes, visit);
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

void scan_entries(const EntrySource& source, const PhotoScorer& score, std::int32_t& examined_count,
                  std::int32_t& listed_count, RandomState& rs, ScoreSink& sink,
                  Progress* progress) {
  source([&](const std::string& path, bool missing, int error) {
    if (sink_broken(sink)) return false;
    progress_found(progress);
    if (missing) {
      progress_before_output(progress);
      write_missing_entry(sink, path, error);
    } else {
      ++examined_count;
      const FileScore result = score(path, rs);
      if (is_listed(sink, result)) ++listed_count;
      progress_before_output(progress);
      write_folder_photo(sink, path, result);
    }
    progress_done(progress);
    return true;
  });
  progress_total_known(progress);
}

EntrySource folder_entries(const std::string& path, bool recurse, const WalkOptions& options) {
  return [path, recurse, &options](const EntryVisitor& visit) {
    std::string folder = path;  // extended and restored by the walk
    return walk_photos(folder, recurse, options,
                       [&visit](const std::string& photo) { return visit(photo, false, 0); });
  };
}

}  // namespace lumvet
