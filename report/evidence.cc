#include "report/evidence.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <jpeglib.h>

#include "imaging/imaging.h"

namespace lumvet {

namespace {

constexpr int THUMBNAIL_QUALITY = 80;
constexpr int CROP_QUALITY = 85;

// libjpeg reports fatal errors by calling error_exit, which longjmps back to the
// one setjmp in run_encode; no object with a destructor lives in the frames it
// leaves.
struct EncodeErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

struct EncodeJob {
  jpeg_compress_struct cinfo;
  EncodeErrorManager error;
  const Bitmap32* bitmap;
  int quality;
  unsigned char* buffer;  // jpeg_mem_dest's, freed by the caller
  unsigned long size;
};

[[noreturn]] void on_encode_error(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<EncodeErrorManager*>(cinfo->err)->jump, 1);
}
void on_encode_message(j_common_ptr, int) {}
void on_encode_output(j_common_ptr) {}

bool encode(EncodeJob* job) {
  j_compress_ptr cinfo = &job->cinfo;
  jpeg_create_compress(cinfo);
  jpeg_mem_dest(cinfo, &job->buffer, &job->size);
  cinfo->image_width = static_cast<JDIMENSION>(job->bitmap->width);
  cinfo->image_height = static_cast<JDIMENSION>(job->bitmap->height);
  cinfo->input_components = 4;
  cinfo->in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, job->quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  while (cinfo->next_scanline < cinfo->image_height) {
    // libjpeg's API takes non-const rows; it only reads them.
    JSAMPROW row =
        const_cast<JSAMPROW>(job->bitmap->row(static_cast<std::int32_t>(cinfo->next_scanline)));
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

bool run_encode(EncodeJob* job) {
  volatile bool ok = false;
  if (setjmp(job->error.jump) == 0) ok = encode(job);
  return ok;
}

// The thumbnail, the crop and the sizes: what both assessors' evidence shares.
// They come from the frame the scoring decode kept; where it kept none, from
// a scaled decode and a partial decode of the file.
void add_pictures(const std::string& path, const KeptFrame* frame, PhotoEvidence& e) {
  const bool kept = frame != nullptr && frame->kind != KeptFrame::Kind::none;
  std::optional<Bitmap32> thumbnail;
  if (kept) {
    thumbnail = kept_frame_thumbnail(*frame, THUMBNAIL_BOX, THUMBNAIL_BOX);
  } else {
    ImageSize full;
    thumbnail = decode_image_preview(path, THUMBNAIL_BOX, THUMBNAIL_BOX, full);
  }
  if (thumbnail) {
    e.thumbnail_jpeg = encode_jpeg(*thumbnail, THUMBNAIL_QUALITY);
    if (!e.thumbnail_jpeg.empty()) {
      e.thumbnail_width = thumbnail->width;
      e.thumbnail_height = thumbnail->height;
    }
  }
  if (e.width <= 0 || e.height <= 0) return;
  e.crop = crop_around(e.deciding, e.width, e.height);
  const std::optional<Bitmap32> crop =
      kept ? kept_frame_region(*frame, e.crop.x, e.crop.y, e.crop.width, e.crop.height)
           : decode_image_region(path, e.crop.x, e.crop.y, e.crop.width, e.crop.height);
  if (crop && crop->width == e.crop.width && crop->height == e.crop.height) {
    e.crop_jpeg = encode_jpeg(*crop, CROP_QUALITY);
  }
}

std::string format_number(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::vector<std::uint8_t> encode_jpeg(const Bitmap32& bitmap, int quality) {
  std::vector<std::uint8_t> bytes;
  if (!bitmap.pixels || bitmap.width <= 0 || bitmap.height <= 0) return bytes;
  EncodeJob job{};
  job.bitmap = &bitmap;
  job.quality = quality;
  job.cinfo.err = jpeg_std_error(&job.error.pub);
  job.error.pub.error_exit = on_encode_error;
  job.error.pub.emit_message = on_encode_message;
  job.error.pub.output_message = on_encode_output;
  const bool ok = run_encode(&job);
  jpeg_destroy_compress(&job.cinfo);
  if (ok && job.buffer != nullptr) bytes.assign(job.buffer, job.buffer + job.size);
  std::free(job.buffer);  // jpeg_mem_dest's buffer, allocated with malloc
  return bytes;
}

PhotoRect crop_around(const PhotoRect& region, std::int32_t width, std::int32_t height) {
  PhotoRect crop;
  crop.width = std::min(CROP_SIZE, width);
  crop.height = std::min(CROP_SIZE, height);
  const bool none = region.width <= 0 || region.height <= 0;
  const std::int64_t cx = none ? width / 2 : std::int64_t{region.x} + region.width / 2;
  const std::int64_t cy = none ? height / 2 : std::int64_t{region.y} + region.height / 2;
  crop.x = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(cx - crop.width / 2, 0, width - crop.width));
  crop.y = static_cast<std::int32_t>(
      std::clamp<std::int64_t>(cy - crop.height / 2, 0, height - crop.height));
  return crop;
}

std::shared_ptr<const PhotoEvidence> contrast_evidence(const std::string& path,
                                                       const PatchEvidence& patches,
                                                       const KeptFrame* frame) {
  auto e = std::make_shared<PhotoEvidence>();
  e->width = patches.width;
  e->height = patches.height;
  std::size_t best = 0;
  for (std::size_t i = 1; i < patches.deviation.size(); ++i) {
    if (patches.deviation[i] > patches.deviation[best]) best = i;
  }
  e->deciding = {patches.x[best], patches.y[best], patches.side, patches.side};
  e->deciding_label = "highest patch contrast: " + format_number("%.1f", patches.deviation[best]) +
                      " (draw " + std::to_string(best / FEATURE_COUNT + 1) + ", patch " +
                      std::to_string(best % FEATURE_COUNT + 1) + ")";
  std::string json = "{\"kind\":\"patches\",\"side\":" + std::to_string(patches.side);
  const auto list = [&json](const char* key, auto value_of) {
    json += ",\"";
    json += key;
    json += "\":[";
    for (std::size_t i = 0; i < 2 * FEATURE_COUNT; ++i) {
      if (i > 0) json += ',';
      json += value_of(i);
    }
    json += ']';
  };
  list("x", [&](std::size_t i) { return std::to_string(patches.x[i]); });
  list("y", [&](std::size_t i) { return std::to_string(patches.y[i]); });
  list("v", [&](std::size_t i) { return format_number("%.1f", patches.deviation[i]); });
  json += ",\"best\":" + std::to_string(best) + "}";
  e->regions_json = std::move(json);
  add_pictures(path, frame, *e);
  return e;
}

std::shared_ptr<const PhotoEvidence> sharpness_evidence(const std::string& path,
                                                        const SharpnessResult& result,
                                                        const SlopeMap& map,
                                                        const KeptFrame* frame) {
  auto e = std::make_shared<PhotoEvidence>();
  e->width = result.width;
  e->height = result.height;
  const TileRegion& tile = result.measure.sharpest;
  if (result.measure.measurable && tile.size > 0) {
    e->deciding = {tile.x, tile.y, tile.size, tile.size};
    float steepest = 0.0f;
    for (const float v : map.value) steepest = std::max(steepest, v);
    e->deciding_label = "steepest tile: mean edge ratio " +
                        format_number("%.2f", static_cast<double>(steepest)) + " (" +
                        std::to_string(result.measure.measured_tiles) + " of " +
                        std::to_string(result.measure.tiles) + " tiles with contrast)";
  } else if (result.decoded) {
    e->deciding_label = "too little contrast to judge (" +
                        std::to_string(result.measure.measured_tiles) + " of " +
                        std::to_string(result.measure.tiles) + " tiles with contrast)";
  }
  std::string json = "{\"kind\":\"tiles\",\"cols\":" + std::to_string(map.cols) +
                     ",\"rows\":" + std::to_string(map.rows) +
                     ",\"ox\":" + std::to_string(map.origin_x) +
                     ",\"cw\":" + std::to_string(map.cell_width) +
                     ",\"ch\":" + std::to_string(map.cell_height) + ",\"v\":[";
  for (std::size_t i = 0; i < map.value.size(); ++i) {
    if (i > 0) json += ',';
    const float v = map.value[i];
    json += v < 0.0f ? "-1" : std::to_string(static_cast<int>(std::lround(v * 100.0f)));
  }
  json += "]}";
  e->regions_json = std::move(json);
  add_pictures(path, frame, *e);
  return e;
}

}  // namespace lumvet
