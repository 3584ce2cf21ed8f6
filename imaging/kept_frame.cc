#include "imaging/kept_frame.h"

#include <algorithm>
#include <cstring>

#include "imaging/imaging.h"
#include "imaging/ycc_spans.h"

namespace lumvet {

namespace {

// The most memory a plane keeps from one frame to the next.
constexpr std::size_t RETAINED_PLANE_BYTES = std::size_t{128} << 20;

}  // namespace

void KeptFrame::clear() {
  kind = Kind::none;
  width = 0;
  height = 0;
  bitmap = Bitmap32{};
  components = 0;
  max_h = 1;
  max_v = 1;
  libjpeg_upsampling = false;
  // Memory is reused for the next frame, except a very large plane's: one huge
  // panorama should not hold on to its memory for the rest of a run.
  for (Plane& p : planes) {
    if (p.capacity > RETAINED_PLANE_BYTES) {
      p.bytes.reset();
      p.capacity = 0;
    }
  }
}

bool KeptFrame::size_plane(int c, std::int32_t stride, std::int32_t rows) {
  Plane& p = planes[static_cast<std::size_t>(c)];
  const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(rows);
  if (p.capacity < bytes) {
    // Nothing of the old frame is needed, and the decoder writes every byte.
    // Room to spare, so that photos of a library, of sizes near each other,
    // reuse memory already touched rather than fault in new pages each time.
    p.bytes.reset();
    p.capacity = 0;
    const std::size_t room = std::max(bytes, std::min(bytes + bytes / 2, RETAINED_PLANE_BYTES));
    p.bytes = platform::allocate_large_buffer(room);
    if (!p.bytes) return false;
    p.capacity = room;
  }
  p.stride = stride;
  return true;
}

namespace {

// Stored sample row of chroma plane `p` that output row y (or column x) falls
// in, for the nearest-sample reading.
std::int32_t chroma_index(std::int32_t at, int samp, int max_samp, std::int32_t size) {
  const std::int64_t i = std::int64_t{at} * samp / max_samp;
  return static_cast<std::int32_t>(std::min<std::int64_t>(i, size - 1));
}

// Rows y0 ... y1 - 1 of the region x0 ... x1 - 1 of a planar frame whose chroma
// is upsampled as libjpeg upsamples it (ycc_spans.h), into `out`.
void planes_region_exact(const KeptFrame& f, std::int32_t x0, std::int32_t x1, std::int32_t y0,
                         std::int32_t y1, Bitmap32& out) {
  const KeptFrame::Plane& luma = f.planes[0];
  const bool half_width = f.max_h == 2;
  const bool half_height = f.max_v == 2;
  // Absolute column indices: values up to x1 + 15 may be written.
  std::vector<std::int16_t> cb(static_cast<std::size_t>(f.width) + 32);
  std::vector<std::int16_t> cr(cb.size());
  std::vector<std::int16_t> sums(static_cast<std::size_t>(f.planes[1].width) + 32);
  for (std::int32_t y = y0; y < y1; ++y) {
    const std::int32_t near = half_height ? y / 2 : y;
    const std::int32_t far = half_height ? (y % 2 == 0 ? near - 1 : near + 1) : near;
    for (int c = 1; c < 3; ++c) {
      const KeptFrame::Plane& p = f.planes[static_cast<std::size_t>(c)];
      // Rows beyond the component's edges read as its first and last rows.
      const auto clamp_row = [&p](std::int32_t r) { return p.row(std::clamp(r, 0, p.height - 1)); };
      std::int16_t* chroma = c == 1 ? cb.data() : cr.data();
      if (half_width) {
        detail::upsample_chroma_span(clamp_row(near), clamp_row(far), half_height, p.width, x0, x1,
                                     sums.data(), chroma);
      } else {
        detail::copy_chroma_span(clamp_row(near), x0, x1, chroma);
      }
    }
    detail::ycc_to_bgrx_span(luma.row(y) + x0, cb.data() + x0, cr.data() + x0, x1 - x0,
                             out.row(y - y0));
  }
}

// The same with each pixel's chroma from its nearest stored sample, and for a
// grey frame B = G = R = Y.
void planes_region_nearest(const KeptFrame& f, std::int32_t x0, std::int32_t x1, std::int32_t y0,
                           std::int32_t y1, Bitmap32& out) {
  const std::size_t n = static_cast<std::size_t>(x1 - x0);
  std::vector<std::int16_t> cb(n), cr(n);
  for (std::int32_t y = y0; y < y1; ++y) {
    const std::uint8_t* luma = f.planes[0].row(y) + x0;
    std::uint8_t* o = out.row(y - y0);
    if (f.components == 1) {
      for (std::size_t i = 0; i < n; ++i, o += 4) {
        o[0] = o[1] = o[2] = luma[i];
        o[3] = 255;
      }
      continue;
    }
    for (int c = 1; c < 3; ++c) {
      const KeptFrame::Plane& p = f.planes[static_cast<std::size_t>(c)];
      const std::uint8_t* row = p.row(chroma_index(y, p.v_samp, f.max_v, p.height));
      std::int16_t* chroma = c == 1 ? cb.data() : cr.data();
      for (std::size_t i = 0; i < n; ++i) {
        chroma[i] = row[chroma_index(x0 + static_cast<std::int32_t>(i), p.h_samp, f.max_h, p.width)];
      }
    }
    detail::ycc_to_bgrx_span(luma, cb.data(), cr.data(), x1 - x0, o);
  }
}

// Up to `most` sample positions spread over [begin, end): the middles of equal
// parts.
int sample_positions(std::int64_t begin, std::int64_t end, int most, std::int32_t* at) {
  const std::int64_t span = end - begin;
  const int n = static_cast<int>(std::min<std::int64_t>(most, span));
  for (int i = 0; i < n; ++i) at[i] = static_cast<std::int32_t>(begin + (2 * i + 1) * span / (2 * n));
  return n;
}

}  // namespace

std::optional<Bitmap32> kept_frame_region(const KeptFrame& frame, std::int32_t x, std::int32_t y,
                                          std::int32_t width, std::int32_t height) {
  if (frame.kind == KeptFrame::Kind::none || width <= 0 || height <= 0) return std::nullopt;
  const std::int32_t x0 = std::clamp(x, 0, frame.width);
  const std::int32_t y0 = std::clamp(y, 0, frame.height);
  const auto end = [](std::int32_t at, std::int32_t size, std::int32_t from, std::int32_t limit) {
    return static_cast<std::int32_t>(
        std::clamp(std::int64_t{at} + size, std::int64_t{from}, std::int64_t{limit}));
  };
  const std::int32_t x1 = end(x, width, x0, frame.width);
  const std::int32_t y1 = end(y, height, y0, frame.height);
  if (x1 <= x0 || y1 <= y0) return std::nullopt;
  Bitmap32 part = make_bitmap32(x1 - x0, y1 - y0);
  if (!part.pixels) return std::nullopt;
  if (frame.kind == KeptFrame::Kind::bgrx) {
    for (std::int32_t r = y0; r < y1; ++r) {
      std::memcpy(part.row(r - y0), frame.bgrx_row(r) + 4 * static_cast<std::size_t>(x0),
                  part.stride());
    }
  } else if (frame.components == 3 && frame.libjpeg_upsampling) {
    planes_region_exact(frame, x0, x1, y0, y1, part);
  } else {
    planes_region_nearest(frame, x0, x1, y0, y1, part);
  }
  return part;
}

std::optional<Bitmap32> kept_frame_thumbnail(const KeptFrame& frame, std::int32_t max_width,
                                             std::int32_t max_height) {
  if (frame.kind == KeptFrame::Kind::none || frame.width <= 0 || frame.height <= 0) {
    return std::nullopt;
  }
  ImageSize size{frame.width, frame.height};
  if (frame.width > max_width || frame.height > max_height) {
    size = shrink_geometry(frame.width, frame.height, max_width, max_height);
    // A strip much longer than wide keeps at least a pixel across.
    size.width = std::max(size.width, 1);
    size.height = std::max(size.height, 1);
  }
  if (max_width <= 0 || max_height <= 0) return std::nullopt;
  Bitmap32 thumb = make_bitmap32(size.width, size.height);
  if (!thumb.pixels) return std::nullopt;
  const bool bitmap = frame.kind == KeptFrame::Kind::bgrx;
  const int components = bitmap ? 3 : frame.components;
  // Where the samples of each thumbnail pixel lie, worked out once: per
  // thumbnail column its sample columns (bytes into a row: BGRX pixels, or
  // each plane's own column), per thumbnail row its sample rows.
  struct Samples {
    std::array<int, 3> count{};                       // per component (BGRX: [0] only)
    std::array<std::array<std::int32_t, 4>, 3> at{};  // the same
  };
  const auto samples_of = [&](std::int64_t full, std::int64_t small, std::int64_t t, bool across) {
    Samples s;
    const std::int64_t begin = t * full / small;
    const std::int64_t end = std::max(begin + 1, (t + 1) * full / small);
    for (int c = 0; c < components; ++c) {
      // Luma (and BGRX) 4 x 4 samples at most; chroma, stored at half the
      // resolution or smoother anyway, 2 x 2.
      auto& at = s.at[static_cast<std::size_t>(c)];
      int& count = s.count[static_cast<std::size_t>(c)];
      count = sample_positions(begin, end, c == 0 ? 4 : 2, at.data());
      for (int i = 0; i < count; ++i) {
        auto& a = at[static_cast<std::size_t>(i)];
        if (bitmap) {
          if (across) a *= 4;
          continue;
        }
        const KeptFrame::Plane& p = frame.planes[static_cast<std::size_t>(c)];
        a = across ? chroma_index(a, p.h_samp, frame.max_h, p.width)
                   : chroma_index(a, p.v_samp, frame.max_v, p.height);
      }
      if (bitmap) break;
    }
    return s;
  };
  std::vector<Samples> columns(static_cast<std::size_t>(size.width));
  for (std::int32_t tx = 0; tx < size.width; ++tx) {
    columns[static_cast<std::size_t>(tx)] = samples_of(frame.width, size.width, tx, true);
  }
  // Planar frames: the mean Y, Cb and Cr of a pixel's samples, converted a row
  // at a time.
  std::vector<std::uint8_t> mean_y(static_cast<std::size_t>(size.width));
  std::vector<std::int16_t> mean_cb(mean_y.size(), 128), mean_cr(mean_y.size(), 128);
  for (std::int32_t ty = 0; ty < size.height; ++ty) {
    const Samples rows = samples_of(frame.height, size.height, ty, false);
    std::uint8_t* out = thumb.row(ty);
    for (std::int32_t tx = 0; tx < size.width; ++tx) {
      const Samples& cols = columns[static_cast<std::size_t>(tx)];
      if (bitmap) {
        const unsigned n = static_cast<unsigned>(rows.count[0] * cols.count[0]);
        unsigned sum[3] = {0, 0, 0};
        for (int i = 0; i < rows.count[0]; ++i) {
          const std::uint8_t* row = frame.bgrx_row(rows.at[0][static_cast<std::size_t>(i)]);
          for (int j = 0; j < cols.count[0]; ++j) {
            const std::uint8_t* p = row + cols.at[0][static_cast<std::size_t>(j)];
            for (int c = 0; c < 3; ++c) sum[c] += p[c];
          }
        }
        std::uint8_t* o = out + 4 * static_cast<std::size_t>(tx);
        for (int c = 0; c < 3; ++c) o[c] = static_cast<std::uint8_t>((sum[c] + n / 2) / n);
        o[3] = 255;
        continue;
      }
      for (int c = 0; c < components; ++c) {
        const KeptFrame::Plane& p = frame.planes[static_cast<std::size_t>(c)];
        const auto component = static_cast<std::size_t>(c);
        const auto& r = rows.at[component];
        const auto& k = cols.at[component];
        const int row_count = rows.count[component], col_count = cols.count[component];
        unsigned sum = 0;
        for (int i = 0; i < row_count; ++i) {
          const std::uint8_t* row = p.row(r[static_cast<std::size_t>(i)]);
          for (int j = 0; j < col_count; ++j) sum += row[k[static_cast<std::size_t>(j)]];
        }
        const unsigned n = static_cast<unsigned>(row_count * col_count);
        const auto mean = [n](unsigned total) { return (total + n / 2) / n; };
        const auto x = static_cast<std::size_t>(tx);
        if (c == 0) mean_y[x] = static_cast<std::uint8_t>(mean(sum));
        if (c == 1) mean_cb[x] = static_cast<std::int16_t>(mean(sum));
        if (c == 2) mean_cr[x] = static_cast<std::int16_t>(mean(sum));
      }
    }
    if (!bitmap) {
      detail::ycc_to_bgrx_span(mean_y.data(), mean_cb.data(), mean_cr.data(), size.width, out);
    }
  }
  return thumb;
}

}  // namespace lumvet
