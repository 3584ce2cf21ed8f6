// Image access: the process-wide decoder life cycle and decoding of image files
// into 32-bit bitmaps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "imaging/bitmap.h"

namespace lumvet {

// Background that transparency is composited over: alpha 0, red, green, blue 255.
inline constexpr std::uint32_t BACKGROUND_ARGB = 0x00FFFFFF;

// The decoders' process-wide life cycle: not started -> started -> stopped at
// process exit (only when it was started).
enum class ImagingState { not_started, started, stopped };

struct ImagingLibrary {
  ImagingState state = ImagingState::not_started;
  int start_count = 0;  // starts that did work (0 or 1)
  int stop_count = 0;   // stops that did work (0 or 1)
};

// The one record of the process, for tests to observe.
const ImagingLibrary& imaging_library();

// Sets the decoders up once; later calls do nothing. Every entry routine calls it
// before its first decode, and never on a usage exit. Registers the at-exit stop.
void start_imaging_library();

// Runs at process exit: shuts the decoders down when they were started.
void stop_imaging_library();

// Decodes an image file at full size, or shrunk to fit max_width x max_height
// when both limits are non-zero and the image exceeds one of them. Nothing when
// the file cannot be decoded.
std::optional<Bitmap32> decode_image_file(const std::string& path, std::int32_t max_width,
                                          std::int32_t max_height);

// decode_image_file without limits, accepted only when it yields pixels, a
// non-zero size and a measurable geometry (see image_is_measurable).
std::optional<Bitmap32> load_bitmap32(const std::string& path);

}  // namespace lumvet
