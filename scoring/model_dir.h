// The model directory: where model files are named, written and read.
//
// Installed programs use MODEL_DIR, fixed when they were built (the CMake cache
// variable LUMVET_MODEL_DIR, by default <prefix>/share/lumvet/). A program run
// straight from the build tree it was built in uses that tree's share/lumvet/
// (BUILD_MODEL_DIR) instead, where the build puts the files the project ships, so
// that it works without installing. --model-dir=DIR overrides both.
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

// The model directory of a program given no --model-dir: BUILD_MODEL_DIR when the
// running executable lies inside the build tree, else MODEL_DIR. Ends in '/'.
inline std::string default_model_dir() {
  const std::string executable = platform::executable_path();
  const std::string build_dir = platform::real_path(BUILD_DIR);
  if (!executable.empty() && path_is_inside(executable, build_dir)) return BUILD_MODEL_DIR;
  return MODEL_DIR;
}

}  // namespace lumvet
