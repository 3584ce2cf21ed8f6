// What both report suites share: the bundled samples, running lumvet, reading
// a report folder back, and a folder of awkwardly named photos.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace lumvet {

inline const std::string SAMPLES_DIR = LUMVET_SOURCE_DIR "/samples";

inline std::vector<std::string> sample_photos() {
  std::vector<std::string> photos;
  for (const std::string& name : platform::list_jpg_files(SAMPLES_DIR)) {
    photos.push_back(SAMPLES_DIR + "/" + name);
  }
  return photos;
}

inline testing::RunResult lumvet(const std::vector<std::string>& args) {
  return testing::run_program(testing::built_program("cli/lumvet"), args);
}

// Every file under `dir` (one level of sub-folders), by relative name.
inline std::map<std::string, std::vector<std::uint8_t>> folder_files(const std::string& dir) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::vector<platform::DirEntry> entries;
  platform::list_directory(dir, entries);
  for (const platform::DirEntry& e : entries) {
    if (!e.is_directory) {
      files[e.name] = testing::read_bytes(dir + "/" + e.name);
      continue;
    }
    for (const auto& [name, bytes] : folder_files(dir + "/" + e.name))
      files[e.name + "/" + name] = bytes;
  }
  return files;
}

// The JSON block of a written index.html.
inline nlohmann::json report_data(const std::string& dir) {
  const std::vector<std::uint8_t> bytes = testing::read_bytes(dir + "/index.html");
  const std::string html(bytes.begin(), bytes.end());
  const std::string open = "<script type=\"application/json\" id=\"lumvet-data\">";
  const std::size_t begin = html.find(open) + open.size();
  return nlohmann::json::parse(html.substr(begin, html.find("</script>", begin) - begin));
}

// Copies of one sample under names that markup, scripts and text encodings
// trip over; returns the names.
inline std::vector<std::string> write_awkward_folder(const std::string& dir) {
  const std::vector<std::string> names = {
      "two  spaces .jpg",
      "\"double\" and 'single' quotes.jpg",
      "<img src=x onerror=window.pwned=1>.jpg",
      "<b>bold & &amp; ampersands.jpg",
      "<!-- comment --> ]]> ${x}.jpg",
      "not utf-8 \xff\xfe.jpg",
      "line\xe2\x80\xa8separator.jpg",
  };
  testing::make_dir(dir);
  const std::vector<std::uint8_t> photo = testing::read_bytes(SAMPLES_DIR + "/fig_plate.jpg");
  for (const std::string& name : names) testing::write_bytes(dir + "/" + name, photo);
  return names;
}

}  // namespace lumvet
