#include "report/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "platform/text_coding.h"

namespace lumvet {

namespace {

constexpr unsigned FILE_MODE = 0666;
constexpr std::string_view DATA_MARKER = "/*LUMVET-DATA*/";

// "img/000042" for the 42nd photo.
std::string image_stem(std::size_t number) {
  char stem[32];
  std::snprintf(stem, sizeof stem, "img/%06zu", number);
  return stem;
}

void write_part(ReportWriter& report, const std::string& name,
                const std::vector<std::uint8_t>& bytes) {
  if (report.write_errno != 0) return;  // the first failure is the one reported
  const std::string path = report.dir + "/" + name;
  const int error = platform::write_file(path, bytes, FILE_MODE);
  if (error != 0) {
    report.write_errno = error;
    report.failed_file = path;
  }
}

nlohmann::ordered_json rect_json(const PhotoRect& r) {
  return nlohmann::ordered_json::array({r.x, r.y, r.width, r.height});
}

}  // namespace

bool open_report(const std::string& dir, const std::string& assessor, std::int32_t threshold,
                 ReportWriter& report, std::string& error) {
  report = ReportWriter{};
  report.dir = dir;
  report.assessor = assessor;
  report.threshold = threshold;
  for (const std::string& folder : {dir, dir + "/img"}) {
    const int e = platform::make_directories(folder);
    if (e != 0) {
      error = "cannot create report folder " + folder + ": " + std::strerror(e);
      return false;
    }
  }
  return true;
}

void add_report_photo(ReportWriter& report, const std::string& path, const FileScore& score) {
  ReportEntry entry;
  entry.path = path;
  entry.score = score.score;
  entry.decoded = score.decoded;
  const std::string stem = image_stem(report.entries.size() + 1);
  if (score.evidence != nullptr) {
    const PhotoEvidence& e = *score.evidence;
    entry.has_evidence = true;
    entry.facts.width = e.width;
    entry.facts.height = e.height;
    entry.facts.deciding = e.deciding;
    entry.facts.deciding_label = e.deciding_label;
    if (!e.thumbnail_jpeg.empty()) {
      write_part(report, stem + "t.jpg", e.thumbnail_jpeg);
      entry.facts.thumbnail_width = e.thumbnail_width;
      entry.facts.thumbnail_height = e.thumbnail_height;
    }
    if (!e.crop_jpeg.empty()) {
      write_part(report, stem + "c.jpg", e.crop_jpeg);
      entry.facts.crop = e.crop;
    }
    if (!e.regions_json.empty()) {
      // Loaded by a <script> element when the regions are asked for: from the
      // file system a page may run scripts, but not read files.
      const std::string script =
          "lumvetRegions(" + std::to_string(report.entries.size()) + "," + e.regions_json + ");\n";
      write_part(report, stem + "r.js", std::vector<std::uint8_t>(script.begin(), script.end()));
    }
  }
  report.entries.push_back(std::move(entry));
}

std::string report_data_json(const ReportWriter& report) {
  nlohmann::ordered_json data;
  data["assessor"] = report.assessor;
  data["threshold"] = report.threshold;
  nlohmann::ordered_json photos = nlohmann::ordered_json::array();
  for (const ReportEntry& entry : report.entries) {
    nlohmann::ordered_json p;
    p["p"] = entry.path;
    if (!is_valid_utf8(entry.path)) p["b"] = base64_encode(entry.path);
    p["s"] = entry.score;
    p["d"] = entry.decoded;
    if (entry.has_evidence) {
      const PhotoEvidence& f = entry.facts;
      p["w"] = f.width;
      p["h"] = f.height;
      if (f.thumbnail_width > 0) p["t"] = {f.thumbnail_width, f.thumbnail_height};
      if (f.crop.width > 0) p["c"] = rect_json(f.crop);
      if (f.deciding.width > 0) p["k"] = rect_json(f.deciding);
      if (!f.deciding_label.empty()) p["l"] = f.deciding_label;
      p["r"] = true;
    }
    photos.push_back(std::move(p));
  }
  data["photos"] = std::move(photos);
  // ASCII only (U+2028 and U+2029 become escapes too); invalid UTF-8 shows as
  // U+FFFD, its bytes travel in "b".
  const std::string text =
      data.dump(-1, ' ', true, nlohmann::ordered_json::error_handler_t::replace);
  // '<', '>' and '&' can stand only inside JSON strings, where \u escapes mean the
  // same: nothing in the block can end the script element or open a comment.
  std::string safe;
  safe.reserve(text.size() + text.size() / 16);
  for (const char c : text) {
    switch (c) {
      case '<':
        safe += "\\u003c";
        break;
      case '>':
        safe += "\\u003e";
        break;
      case '&':
        safe += "\\u0026";
        break;
      default:
        safe += c;
    }
  }
  return safe;
}

std::string report_page(const ReportWriter& report) {
  const std::string_view page = report_page_template();
  const std::size_t at = page.find(DATA_MARKER);
  std::string html;
  if (at == std::string_view::npos) return std::string(page);  // a template without data
  html.reserve(page.size() + report.entries.size() * 160);
  html.append(page.substr(0, at));
  html += report_data_json(report);
  html.append(page.substr(at + DATA_MARKER.size()));
  return html;
}

bool finish_report(ReportWriter& report, std::string& error) {
  if (report.write_errno == 0) {
    const std::string html = report_page(report);
    const std::string path = report.dir + "/index.html";
    const platform::ReplaceStatus status = platform::replace_file(
        path, std::vector<std::uint8_t>(html.begin(), html.end()), FILE_MODE);
    if (status != platform::ReplaceStatus::replaced) {
      report.write_errno = errno != 0 ? errno : EIO;
      report.failed_file = path;
    }
  }
  if (report.write_errno == 0) return true;
  error =
      "cannot write report file " + report.failed_file + ": " + std::strerror(report.write_errno);
  return false;
}

}  // namespace lumvet
