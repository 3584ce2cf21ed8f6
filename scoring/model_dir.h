// The model directories: where shipped model files are read, and where trained
// ones are written.
//
// Shipped data (lumqet's network) is read from the first of these that applies:
//   1. --model-dir=DIR;
//   2. a program run straight from the build tree it was built in: that tree's
//      share/lumvet/ (BUILD_MODEL_DIR), where the build puts the shipped files;
//   3. the folder fixed when the build was configured (LUMVET_MODEL_DIR), if any;
//   4. relative to the running program (/proc/self/exe): <bin>/../share/lumvet/,
//      so an installation works wherever it was put;
//   5. when the program cannot tell where it is: the folder the install rules
//      use, <prefix>/share/lumvet/ (INSTALLED_MODEL_DIR).
// Trained models are written into --model-dir=DIR, else the current directory:
// never into the installation.
#pragma once

#include <string>

#include "build_config.h"
#include "platform/platform.h"

namespace lumvet {

// `dir` as a model directory: a '/' appended when it does not end in one.
inline std::string as_model_dir(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir.push_back('/');
  return dir;
}

// True when `path` lies strictly below the folder `dir` (both absolute, resolved).
inline bool path_is_inside(const std::string& path, const std::string& dir) {
  if (dir.empty()) return false;
  const std::string prefix = dir.back() == '/' ? dir : dir + "/";
  return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
}

// The folder `relative` (made of "../" steps, then names, ending in '/') seen from
// the folder that holds the file `path` (absolute): "/opt/x/bin/lumqet" and
// "../share/lumvet/" give "/opt/x/share/lumvet/". The steps up are taken by name,
// never above "/".
inline std::string folder_beside(const std::string& path, std::string relative) {
  std::string base = path.substr(0, path.rfind('/'));  // the folder, without its '/'
  while (relative.compare(0, 3, "../") == 0) {
    relative.erase(0, 3);
    const std::size_t slash = base.rfind('/');
    base.erase(slash == std::string::npos ? 0 : slash);
  }
  return base + "/" + relative;
}

// Where the places above lead for a program at `executable` (resolved; empty when
// unknown), built in the resolved folder `build_dir`.
struct ModelDirPlaces {
  std::string executable;
  std::string build_dir;
  std::string build_model_dir;      // 2.
  std::string fixed_model_dir;      // 3.; empty: none
  std::string from_program;         // 4., relative to the program's folder
  std::string installed_model_dir;  // 5.
};
inline std::string choose_shipped_model_dir(const ModelDirPlaces& places) {
  if (!places.executable.empty() && path_is_inside(places.executable, places.build_dir)) {
    return places.build_model_dir;
  }
  if (!places.fixed_model_dir.empty()) return places.fixed_model_dir;
  if (!places.executable.empty()) return folder_beside(places.executable, places.from_program);
  return places.installed_model_dir;
}

// The model directory a program reads shipped data from when given no
// --model-dir. Ends in '/'.
inline std::string default_model_dir() {
  ModelDirPlaces places;
  places.executable = platform::executable_path();
  places.build_dir = platform::real_path(BUILD_DIR);
  places.build_model_dir = BUILD_MODEL_DIR;
  places.fixed_model_dir = MODEL_DIR;
  places.from_program = MODEL_DIR_FROM_PROGRAM;
  places.installed_model_dir = INSTALLED_MODEL_DIR;
  return choose_shipped_model_dir(places);
}

// The folder trained models are written into: `model_dir` (from --model-dir) as a
// model directory, or "" (the current directory) when it is empty. Ends in '/'
// unless empty, so that a file name can follow directly.
inline std::string trained_model_dir(const std::string& model_dir) {
  return model_dir.empty() ? std::string() : as_model_dir(model_dir);
}

}  // namespace lumvet
