// TIFF through libtiff's RGBA interface, which handles every photometric
// interpretation, bit depth, compression and strip or tile layout that libtiff
// supports. The first directory (page) is decoded, turned upright as its
// orientation tag says (TIFFReadRGBAImageOriented to top-left), straight into the
// bitmap's buffer and converted there in place. A file with a damaged strip or tile
// is refused rather than decoded in part.
//
// Transparency: libtiff delivers associated (premultiplied) colour p, converting
// unassociated alpha with p = (c a + 127) / 255. Over white this gives
// p + 255 - a, which for unassociated alpha equals (c a + 255 (255 - a) + 127) / 255,
// the formula used for every other format.
//
// Also here, on the same quiet handle: telling camera raw files, which are
// TIFF-structured, from pictures.
#include <sys/types.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include <tiffio.h>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"

namespace lumvet::detail {

namespace {

std::FILE* file_of(thandle_t handle) { return static_cast<std::FILE*>(handle); }

tmsize_t read_proc(thandle_t handle, void* buffer, tmsize_t size) {
  if (size <= 0) return 0;
  return static_cast<tmsize_t>(
      std::fread(buffer, 1, static_cast<std::size_t>(size), file_of(handle)));
}

tmsize_t write_proc(thandle_t, void*, tmsize_t) { return -1; }

toff_t seek_proc(thandle_t handle, toff_t offset, int whence) {
  if (offset > static_cast<toff_t>(INT64_MAX)) return static_cast<toff_t>(-1);
  if (::fseeko(file_of(handle), static_cast<off_t>(offset), whence) != 0)
    return static_cast<toff_t>(-1);
  const off_t at = ::ftello(file_of(handle));
  return at < 0 ? static_cast<toff_t>(-1) : static_cast<toff_t>(at);
}

int close_proc(thandle_t) { return 0; }  // the caller closes the file

toff_t size_proc(thandle_t handle) {
  std::FILE* f = file_of(handle);
  const off_t at = ::ftello(f);
  if (at < 0 || ::fseeko(f, 0, SEEK_END) != 0) return 0;
  const off_t end = ::ftello(f);
  ::fseeko(f, at, SEEK_SET);
  return end < 0 ? 0 : static_cast<toff_t>(end);
}

int map_proc(thandle_t, void**, toff_t*) { return 0; }
void unmap_proc(thandle_t, void*, toff_t) {}

// Errors and warnings of this handle: handled, that is, not printed.
int quiet_handler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

bool read_first_directory(TIFF* tif, Bitmap32& out) {
  std::uint32_t width = 0, height = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 ||
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) != 1) {
    return false;
  }
  if (!image_size_allowed(width, height)) return false;
  reserve_decode_memory(4 * static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height));
  char message[1024];
  if (TIFFRGBAImageOK(tif, message) != 1) return false;
  out = make_bitmap32(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height));
  if (!out.pixels) return false;
  // The bitmap's buffer (operator new[], aligned for any scalar) holds exactly one
  // 32-bit word per pixel.
  auto* raster = reinterpret_cast<std::uint32_t*>(out.pixels.get());
  if (TIFFReadRGBAImageOriented(tif, width, height, raster, ORIENTATION_TOPLEFT, 1) != 1) {
    return false;
  }
  std::uint8_t* p = out.pixels.get();
  const std::size_t pixels = static_cast<std::size_t>(width) * height;
  for (std::size_t i = 0; i < pixels; ++i, p += 4) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    const std::uint32_t a = TIFFGetA(v);
    const std::uint32_t lift = 255 - a;  // white's share: 255 (255 - a) / 255
    const std::uint32_t r = TIFFGetR(v) + lift, g = TIFFGetG(v) + lift, b = TIFFGetB(v) + lift;
    p[0] = static_cast<std::uint8_t>(b > 255 ? 255 : b);
    p[1] = static_cast<std::uint8_t>(g > 255 ? 255 : g);
    p[2] = static_cast<std::uint8_t>(r > 255 ? 255 : r);
    p[3] = 255;
  }
  return true;
}

// A quiet libtiff handle on the open file, or null.
TIFF* open_quietly(std::FILE* file) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options == nullptr) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, quiet_handler, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(options, quiet_handler, nullptr);
  // "m": no memory mapping (map_proc declines anyway).
  TIFF* tif = TIFFClientOpenExt("image", "rm", file, read_proc, write_proc, seek_proc, close_proc,
                                size_proc, map_proc, unmap_proc, options);
  TIFFOpenOptionsFree(options);
  return tif;
}

// Photometric interpretations that only raw sensor data uses (TIFF/EP, DNG).
constexpr std::uint16_t PHOTOMETRIC_COLOR_FILTER_ARRAY = 32803;
constexpr std::uint16_t PHOTOMETRIC_LINEAR_RAW_DATA = 34892;

// Directories looked at: raw files keep their sensor data within the first few
// directories or their sub-directories.
constexpr int RAW_SEARCH_DIRECTORIES = 8;

bool current_directory_is_raw(TIFF* tif) {
  std::uint16_t photometric = 0;
  return TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) == 1 &&
         (photometric == PHOTOMETRIC_COLOR_FILTER_ARRAY ||
          photometric == PHOTOMETRIC_LINEAR_RAW_DATA);
}

bool holds_raw_directory(TIFF* tif) {
  void* dng_version = nullptr;
  if (TIFFGetField(tif, TIFFTAG_DNGVERSION, &dng_version) == 1) return true;
  std::vector<toff_t> sub_directories;
  for (int d = 0; d < RAW_SEARCH_DIRECTORIES; ++d) {
    if (d > 0 && TIFFReadDirectory(tif) != 1) break;
    if (current_directory_is_raw(tif)) return true;
    std::uint16_t count = 0;
    toff_t* offsets = nullptr;
    if (TIFFGetField(tif, TIFFTAG_SUBIFD, &count, &offsets) == 1 && offsets != nullptr) {
      for (std::uint16_t i = 0; i < count && sub_directories.size() < RAW_SEARCH_DIRECTORIES; ++i)
        sub_directories.push_back(offsets[i]);
    }
  }
  for (const toff_t offset : sub_directories) {
    if (TIFFSetSubDirectory(tif, offset) == 1 && current_directory_is_raw(tif)) return true;
  }
  return false;
}

}  // namespace

bool tiff_is_camera_raw(std::FILE* file) {
  // A CR2 announces itself after the TIFF header: "CR", version 2.
  std::uint8_t head[11] = {};
  const std::size_t got = std::fread(head, 1, sizeof head, file);
  bool raw = got == sizeof head && head[8] == 'C' && head[9] == 'R' && head[10] == 2;
  if (!raw) {
    std::rewind(file);
    TIFF* tif = open_quietly(file);
    if (tif != nullptr) {
      raw = holds_raw_directory(tif);
      TIFFClose(tif);
    }
  }
  std::rewind(file);
  return raw;
}

bool decode_tiff(std::FILE* file, Bitmap32& out) {
  TIFF* tif = open_quietly(file);
  if (tif == nullptr) return false;
  const bool ok = read_first_directory(tif, out);
  TIFFClose(tif);
  return ok;
}

}  // namespace lumvet::detail
