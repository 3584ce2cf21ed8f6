// The visual report: a folder that a browser opens from the file system, with
// no server and nothing fetched. It shows every photo of a run with its score,
// a thumbnail, a 100 % crop of the region that decided the score and, on
// demand, the regions measured; the reader selects photos and saves their paths
// as a list. The page never deletes or moves anything.
//
// Layout of the folder:
//   index.html          the page, with the run's data in one JSON block
//   img/NNNNNNt.jpg     photo N's thumbnail (N counts from 1 in output order)
//   img/NNNNNNc.jpg     photo N's 100 % crop
//   img/NNNNNNr.js      photo N's measured regions, loaded when asked for
//
// The writer is fed like the output sink, one (path, FileScore) at a time in
// output order; the images come with the score (FileScore::evidence), made on
// the thread that scored the photo, and are written at once, so that the writer
// keeps only a few numbers per photo.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "scoring/file_scoring.h"

namespace lumvet {

// A rectangle of a photo in pixels of its full-size frame; empty when width or
// height is 0.
struct PhotoRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// What the report keeps of a photo besides its score (FileScore::evidence).
struct PhotoEvidence {
  std::int32_t width = 0;  // full-size frame
  std::int32_t height = 0;
  PhotoRect deciding;          // the region that decided the score; empty when none did
  std::string deciding_label;  // what was measured there, in words
  PhotoRect crop;              // the full-size pixels that `crop_jpeg` shows
  std::vector<std::uint8_t> thumbnail_jpeg;  // empty when no preview could be made
  std::int32_t thumbnail_width = 0;
  std::int32_t thumbnail_height = 0;
  std::vector<std::uint8_t> crop_jpeg;  // empty when the region could not be read
  // The measured regions as one JSON object, for drawing over the thumbnail:
  // {"kind":"patches","side":S,"x":[...],"y":[...],"v":[...]} (contrast) or
  // {"kind":"tiles","cols":C,"rows":R,"ox":X,"cw":W,"ch":H,"v":[...]}
  // (sharpness: per cell the largest mean edge ratio in per cent, -1 where no
  // tile had contrast). Coordinates are full-size pixels.
  std::string regions_json;
};

// Sizes of the report's images: thumbnails fit a THUMBNAIL_BOX square, crops
// are CROP_SIZE square (smaller only for smaller photos).
inline constexpr std::int32_t THUMBNAIL_BOX = 256;
inline constexpr std::int32_t CROP_SIZE = 256;

// One photo as the page lists it.
struct ReportEntry {
  std::string path;
  std::int32_t score = 0;
  bool decoded = false;
  bool has_evidence = false;
  PhotoEvidence facts;  // images and regions dropped once written
};

struct ReportWriter {
  std::string dir;
  std::string assessor;              // "contrast" or "sharpness"
  std::int32_t threshold = 0;        // listed: score above this
  std::vector<ReportEntry> entries;  // in output order
  int write_errno = 0;               // the first failure to write a file of the report; 0 if none
  std::string failed_file;
};

// Creates `dir` and `dir`/img (and missing folders above) and readies `report`.
// False, with one line in `error`, when they cannot be made.
bool open_report(const std::string& dir, const std::string& assessor, std::int32_t threshold,
                 ReportWriter& report, std::string& error);

// Adds one photo, writing its images and regions at once.
void add_report_photo(ReportWriter& report, const std::string& path, const FileScore& score);

// Writes index.html. False, with one line in `error`, when it or any image
// could not be written.
bool finish_report(ReportWriter& report, std::string& error);

// The page for the entries so far (index.html's text).
std::string report_page(const ReportWriter& report);

// The JSON that the page reads, made safe to stand inside a <script> element:
// every '<', '>' and '&' is written as a \u escape, all text beyond ASCII too
// (U+2028 and U+2029 included), and text that is not UTF-8 shows U+FFFD with its
// exact bytes in base64 beside it.
std::string report_data_json(const ReportWriter& report);

// The page template with its data marker (report/page.html, built in).
std::string_view report_page_template();

}  // namespace lumvet
