// One decoding-memory budget for the whole process, shared by every thread that
// decodes. Each decode reserves, once it has read the image's header and before
// it allocates for the pixels, what the image will need (its estimate); it waits
// while the reservations of other decodes leave too little, in the order the
// decodes asked, and gives the memory back when it ends. An image that needs
// more than the whole budget waits until it can run alone. So large images wait
// for each other instead of adding up, and small ones run side by side.
#pragma once

#include <cstdint>

namespace lumvet {

// 1 GiB: one image at the pixel limit (a 1 GiB bitmap) at a time, and a camera
// photo needs a few megabytes (tens when progressive).
inline constexpr std::uint64_t DEFAULT_DECODE_MEMORY_BUDGET = std::uint64_t{1} << 30;

// Sets the budget in bytes (0: no limit). Takes effect for reservations made
// afterwards; call it before decoding starts.
void set_decode_memory_budget(std::uint64_t bytes);
std::uint64_t decode_memory_budget();

// The most bytes held by reservations at one time since the process started
// (or since reset_decode_memory_peak), for tests and benchmarks.
std::uint64_t decode_memory_peak();
void reset_decode_memory_peak();

// The reservation of one decode: made by the first reserve_decode_memory call
// on this thread while the scope lives, released when it ends. The decode entry
// points (decode_image_file, decode_image_rows, decode_image_preview,
// decode_image_region) open one; scopes do not nest (an inner one does nothing).
// Each format's decoder reserves once it knows the size: JPEG (also a raw file's
// preview and the scaled view), PNG, GIF, TIFF, BMP, WebP, HEIF and raw.
class DecodeMemoryScope {
 public:
  DecodeMemoryScope();
  ~DecodeMemoryScope();
  DecodeMemoryScope(const DecodeMemoryScope&) = delete;
  DecodeMemoryScope& operator=(const DecodeMemoryScope&) = delete;

 private:
  bool owner_ = false;
};

// Reserves `bytes` for the current decode, waiting as described above; only the
// first call within a scope reserves (later ones do nothing, so that a decode
// never waits while it holds memory). Without a scope it does nothing.
void reserve_decode_memory(std::uint64_t bytes);

}  // namespace lumvet
