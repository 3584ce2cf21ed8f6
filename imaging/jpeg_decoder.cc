// JPEG through libjpeg-turbo's libjpeg API with the library's defaults (accurate
// integer IDCT, fancy upsampling), so that the pixels are the reference libjpeg
// pixels; where only column spans are wanted, the library's upsampling and
// colour conversion are redone here for those spans (ycc_spans.h). libjpeg
// reports fatal errors by calling error_exit, which longjmps back to the one
// setjmp in run_jpeg_job; no C++ object with a destructor lives in the frames
// that a longjmp leaves.
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "imaging/decode_budget.h"
#include "imaging/decoders.h"
#include "imaging/ycc_spans.h"

namespace lumvet::detail {

namespace {

// A progressive file may hold any number of scans, and each one makes libjpeg walk
// the whole coefficient buffer again; real files have a few dozen at most. More
// than this is taken as a hostile file rather than spending minutes on it.
constexpr int MAX_JPEG_SCANS = 500;

// Memory libjpeg may take for its own buffers: the whole-image coefficient buffer
// of a progressive or multi-scan file is about 3 bytes per pixel at 4:2:0 and 6 at
// 4:4:4. Beyond this the decode fails (libjpeg has no backing store), so even a
// few hundred bytes claiming a huge progressive image cost at most this much.
constexpr long MAX_JPEG_MEMORY = 1L << 30;

struct JpegErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

// Everything one decode needs, owned by decode_jpeg_rows and zero-initialised
// there so that jpeg_destroy_decompress is safe whatever point a failure is
// reached from. The sink lives outside the frames that a longjmp leaves.
struct JpegJob {
  jpeg_decompress_struct cinfo;
  JpegErrorManager error;
  jpeg_progress_mgr progress;
  std::FILE* file;             // the source, or when null:
  const std::uint8_t* memory;  // the source in memory
  std::size_t memory_size;
  ImageRowSink* sink;
  const JpegView* view;      // decode_jpeg_view only
  Bitmap32* out;             // decode_jpeg_view only
  std::int32_t image_width;  // decode_jpeg_view: the full size
  std::int32_t image_height;
};

[[noreturn]] void on_error_exit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

// Warnings (corrupt data, premature end of file) are neither printed nor fatal.
void on_emit_message(j_common_ptr, int) {}
void on_output_message(j_common_ptr) {}

// Reads a file through a block buffer, or bytes in memory, for count_jpeg_scans.
struct ByteReader {
  explicit ByteReader(std::FILE* f) : file(f), data(block) {}
  ByteReader(const std::uint8_t* memory, std::size_t size) : data(memory), end(size) {}

  std::FILE* file = nullptr;  // null: the bytes in memory are all there is
  const unsigned char* data;
  std::size_t at = 0;
  std::size_t end = 0;
  unsigned char block[65536];

  bool fill() {
    if (file == nullptr) return false;
    at = 0;
    end = std::fread(block, 1, sizeof block, file);
    return end > 0;
  }
  int next() {
    if (at == end && !fill()) return -1;
    return data[at++];
  }
  bool skip(std::size_t n) {
    while (n > end - at) {
      n -= end - at;
      at = end;
      if (!fill()) return false;
    }
    at += n;
    return true;
  }
  // Moves past the next 0xFF byte; false at the end of the input.
  bool pass_ff() {
    for (;;) {
      if (at == end && !fill()) return false;
      const void* ff = std::memchr(data + at, 0xFF, end - at);
      if (ff != nullptr) {
        at = static_cast<std::size_t>(static_cast<const unsigned char*>(ff) - data) + 1;
        return true;
      }
      at = end;
    }
  }
};

// The scans (SOS markers) that libjpeg would read from the file, counted up to
// limit + 1, from the file's start and without decoding: markers are found as
// libjpeg finds them (segments skipped by their length, entropy-coded data
// searched for the next marker that is not a stuffed zero or a restart marker),
// until the end of the image. Where libjpeg would fail, counting stops, so the
// count never exceeds libjpeg's.
int count_jpeg_scans(ByteReader& in, int limit) {
  if (in.next() != 0xFF || in.next() != 0xD8) return 0;
  int scans = 0;
  bool in_scan_data = false;
  for (;;) {
    if (!in.pass_ff()) return scans;
    int marker = in.next();
    while (marker == 0xFF) marker = in.next();
    if (marker < 0) return scans;
    // A stuffed zero, a stray 0xFF 0x00 between segments, a restart marker, or
    // TEM: nothing follows them.
    if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;
    if (marker < 0xC0) {
      if (in_scan_data) continue;  // resynchronisation skips it, or the decode fails
      return scans;                // libjpeg fails on an unknown marker
    }
    if (marker == 0xD8 || marker == 0xD9) return scans;  // a second image start, or its end
    in_scan_data = false;
    const int high = in.next();
    const int low = in.next();
    if (low < 0 || (high << 8 | low) < 2) return scans;
    if (!in.skip(static_cast<std::size_t>((high << 8 | low) - 2))) return scans;
    if (marker == 0xDA) {
      if (++scans > limit) return scans;
      in_scan_data = true;
    }
  }
}

// Whether the job's source holds at most MAX_JPEG_SCANS scans; a file's position
// is kept. Each scan of a progressive file makes libjpeg walk the whole
// coefficient buffer, so a source with too many is refused before its first scan
// is decoded rather than when libjpeg reaches the scan past the limit.
bool scan_count_allowed(const JpegJob& job) {
  if (job.file == nullptr) {
    ByteReader in(job.memory, job.memory_size);
    return count_jpeg_scans(in, MAX_JPEG_SCANS) <= MAX_JPEG_SCANS;
  }
  std::FILE* file = job.file;
  const long position = std::ftell(file);
  if (position < 0 || std::fseek(file, 0, SEEK_SET) != 0) return false;
  ByteReader in(file);
  const bool allowed = count_jpeg_scans(in, MAX_JPEG_SCANS) <= MAX_JPEG_SCANS;
  return std::fseek(file, position, SEEK_SET) == 0 && allowed;
}

// A multi-scan file's whole-image coefficient buffer: 64 two-byte coefficients
// per block of every component (none for a single-scan file).
std::uint64_t jpeg_coefficient_bytes(j_decompress_ptr cinfo) {
  std::uint64_t bytes = 0;
  if (jpeg_has_multiple_scans(cinfo)) {
    for (int c = 0; c < cinfo->num_components; ++c) {
      const jpeg_component_info& comp = cinfo->comp_info[c];
      bytes += 128 * std::uint64_t{comp.width_in_blocks} * std::uint64_t{comp.height_in_blocks};
    }
  }
  return bytes;
}

// What a decode will need, for the decoding-memory budget: a multi-scan file's
// whole-image coefficient buffer (64 two-byte coefficients per block of every
// component), a whole-frame bitmap when the sink keeps one, else about a byte
// per pixel for a sink that keeps parts of rows (the patches), and row buffers.
std::uint64_t jpeg_memory_estimate(j_decompress_ptr cinfo, bool whole_frame) {
  const std::uint64_t pixels =
      std::uint64_t{cinfo->image_width} * std::uint64_t{cinfo->image_height};
  return (whole_frame ? 4 * pixels : pixels) + 64 * std::uint64_t{cinfo->image_width} +
         jpeg_coefficient_bytes(cinfo);
}

void on_progress(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > MAX_JPEG_SCANS) {
    on_error_exit(cinfo);
  }
}

// Adobe CMYK as libjpeg delivers it (inverted: 255 means no ink; YCCK already
// converted to CMYK) becomes R = C K / 255, G = M K / 255, B = Y K / 255, rounded
// to nearest, in place: the four bytes C, M, Y, K of a pixel become B, G, R, 255.
void cmyk_row_to_bgrx(std::uint8_t* p, JDIMENSION pixels) {
  for (JDIMENSION i = 0; i < pixels; ++i, p += 4) {
    const unsigned c = p[0], m = p[1], y = p[2], k = p[3];
    p[0] = static_cast<std::uint8_t>((y * k + 127) / 255);
    p[1] = static_cast<std::uint8_t>((m * k + 127) / 255);
    p[2] = static_cast<std::uint8_t>((c * k + 127) / 255);
    p[3] = 255;
  }
}

// Whether libjpeg upsamples this file's chroma the way ycc_spans.h reproduces:
// YCbCr in three components with luma at full resolution and both chroma
// components at 4:4:4, 4:2:2 or 4:2:0, chroma rows wider than two samples
// (where libjpeg upsamples them the fancy way), unscaled.
bool standard_ycc_sampling(j_decompress_ptr cinfo) {
  if (cinfo->jpeg_color_space != JCS_YCbCr || cinfo->num_components != 3) return false;
  if (cinfo->CCIR601_sampling) return false;
  const int h = cinfo->max_h_samp_factor, v = cinfo->max_v_samp_factor;
  if (!((h == 1 && v == 1) || (h == 2 && v == 1) || (h == 2 && v == 2))) return false;
  const jpeg_component_info* comp = cinfo->comp_info;
  if (comp[0].h_samp_factor != h || comp[0].v_samp_factor != v) return false;
  for (int c = 1; c < 3; ++c) {
    if (comp[c].h_samp_factor != 1 || comp[c].v_samp_factor != 1) return false;
  }
  // Whole 8 x 8 blocks, unscaled (libjpeg's default): iMCU rows of 8 or 16 lines.
  if (cinfo->min_DCT_scaled_size != DCTSIZE || cinfo->scale_num != cinfo->scale_denom) {
    return false;
  }
  return cinfo->image_width >= 16 && cinfo->image_height >= 16;
}

// Whether the raw-data path (read_jpeg_spans) reproduces this file's scanlines:
// standard sampling, and one scan, so that libjpeg keeps no whole-image
// coefficient buffer in either mode and fails on exactly the same files.
bool spans_reproduce_scanlines(j_decompress_ptr cinfo) {
  return standard_ycc_sampling(cinfo) && !jpeg_has_multiple_scans(cinfo);
}

// Whether the raw-data path gives a luminance sink the very rows of a grey
// output (the Y plane as stored): grey, or YCbCr with luma at the largest
// sampling factors (so that grey output does not upsample it), unscaled, and
// not CCIR 601 sampled (which grey output refuses). Chroma that grey output
// skips is then decoded too, for the kept frame.
bool luma_planes_reproduce_scanlines(j_decompress_ptr cinfo) {
  const bool grey = cinfo->jpeg_color_space == JCS_GRAYSCALE && cinfo->num_components == 1;
  const bool ycc = cinfo->jpeg_color_space == JCS_YCbCr && cinfo->num_components == 3;
  if (!(grey || ycc) || cinfo->CCIR601_sampling) return false;
  if (cinfo->comp_info[0].h_samp_factor != cinfo->max_h_samp_factor ||
      cinfo->comp_info[0].v_samp_factor != cinfo->max_v_samp_factor) {
    return false;
  }
  return cinfo->min_DCT_scaled_size == DCTSIZE && cinfo->scale_num == cinfo->scale_denom;
}

// Bytes of the planes that a kept frame holds: each component's blocks, whole
// iMCU rows.
std::uint64_t kept_planes_bytes(j_decompress_ptr cinfo) {
  std::uint64_t bytes = 0;
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info& comp = cinfo->comp_info[c];
    bytes += std::uint64_t{comp.width_in_blocks} * DCTSIZE * cinfo->total_iMCU_rows *
             static_cast<std::uint64_t>(comp.v_samp_factor) * DCTSIZE;
  }
  return bytes;
}

// Readies `frame`'s planes for every row of every component and returns, per
// component, the row pointers that jpeg_read_raw_data fills (in libjpeg's image
// pool); false, with the frame untouched beyond its memory, when the memory
// cannot be had.
bool make_kept_planes(j_decompress_ptr cinfo, KeptFrame& frame, JSAMPARRAY* rows) {
  const auto common = reinterpret_cast<j_common_ptr>(cinfo);
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info& comp = cinfo->comp_info[c];
    const auto stride = static_cast<std::int32_t>(comp.width_in_blocks * DCTSIZE);
    const auto count =
        static_cast<std::int32_t>(cinfo->total_iMCU_rows * comp.v_samp_factor * DCTSIZE);
    if (!frame.size_plane(c, stride, count)) return false;
    KeptFrame::Plane& plane = frame.planes[static_cast<std::size_t>(c)];
    rows[c] = static_cast<JSAMPARRAY>((*cinfo->mem->alloc_large)(
        common, JPOOL_IMAGE, static_cast<std::size_t>(count) * sizeof(JSAMPROW)));
    for (std::int32_t r = 0; r < count; ++r) {
      rows[c][r] = plane.bytes.get() + static_cast<std::size_t>(stride) * static_cast<std::size_t>(r);
    }
  }
  return true;
}

// After a decode into make_kept_planes' planes: what the frame needs to read them.
void describe_kept_planes(j_decompress_ptr cinfo, KeptFrame& frame) {
  frame.kind = KeptFrame::Kind::planes;
  frame.width = static_cast<std::int32_t>(cinfo->output_width);
  frame.height = static_cast<std::int32_t>(cinfo->output_height);
  frame.components = cinfo->num_components;
  frame.max_h = cinfo->max_h_samp_factor;
  frame.max_v = cinfo->max_v_samp_factor;
  frame.libjpeg_upsampling = standard_ycc_sampling(cinfo);
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info& comp = cinfo->comp_info[c];
    KeptFrame::Plane& plane = frame.planes[static_cast<std::size_t>(c)];
    plane.width = static_cast<std::int32_t>(comp.downsampled_width);
    plane.height = static_cast<std::int32_t>(comp.downsampled_height);
    plane.h_samp = comp.h_samp_factor;
    plane.v_samp = comp.v_samp_factor;
  }
}

// The planes of three consecutive iMCU rows, a ring indexed by iMCU row modulo
// 3, in libjpeg's image pool: a 4:2:0 output row needs the chroma rows above
// and below its own, which may lie in the previous or the next iMCU row. When
// the frame is kept, the ring is the whole frame's planes.
struct SpanPlanes {
  JSAMPARRAY rows[3];
  int rows_per_imcu[3];
  JDIMENSION ring;  // iMCU rows held
  std::int16_t* cb;  // one output row of upsampled chroma, 32 values spare
  std::int16_t* cr;
  std::int16_t* sums;  // upsample_chroma_span's scratch

  // Row r of component c, r clamped to the component's real rows as libjpeg's
  // context rows are (the first row above the top, the last below the bottom).
  JSAMPROW row(j_decompress_ptr cinfo, int c, long r) const {
    const long last = static_cast<long>(cinfo->comp_info[c].downsampled_height) - 1;
    r = r < 0 ? 0 : r > last ? last : r;
    const long per = rows_per_imcu[c];
    return rows[c][(r / per) % static_cast<long>(ring) * per + r % per];
  }
};

// Output rows of iMCU row `imcu`, filled in the spans that the sink reads and
// handed over one at a time.
void emit_span_rows(j_decompress_ptr cinfo, const SpanPlanes& planes, JDIMENSION imcu,
                    ImageRowSink& sink) {
  const int v = cinfo->max_v_samp_factor;
  const bool half_width = cinfo->max_h_samp_factor == 2;
  const long first = static_cast<long>(imcu) * v * DCTSIZE;
  const long end = std::min<long>(first + v * DCTSIZE, cinfo->output_height);
  for (long y = first; y < end; ++y) {
    std::uint8_t* out = sink.row_storage(static_cast<std::int32_t>(y));
    const JSAMPROW luma = planes.row(cinfo, 0, y);
    // The chroma row nearest to y and, at 4:2:0, the next nearest.
    const long near = v == 2 ? y / 2 : y;
    const long far = v == 2 ? (y % 2 == 0 ? near - 1 : near + 1) : near;
    for (const ColumnSpan& span : sink.column_spans(static_cast<std::int32_t>(y))) {
      for (int c = 1; c < 3; ++c) {
        std::int16_t* chroma = c == 1 ? planes.cb : planes.cr;
        const JSAMPROW n = planes.row(cinfo, c, near);
        if (half_width) {
          upsample_chroma_span(n, planes.row(cinfo, c, far), v == 2,
                               static_cast<std::int32_t>(cinfo->comp_info[c].downsampled_width),
                               span.begin, span.end, planes.sums, chroma);
        } else {
          copy_chroma_span(n, span.begin, span.end, chroma);
        }
      }
      ycc_to_bgrx_span(luma + span.begin, planes.cb + span.begin, planes.cr + span.begin,
                       span.end - span.begin, out + 4 * static_cast<std::size_t>(span.begin));
    }
    sink.take_rows(static_cast<std::int32_t>(y), 1, &out);
  }
}

// Decodes with libjpeg's raw-data interface (cinfo->raw_data_out is set before
// jpeg_start_decompress) and converts only the columns that the sink reads:
// bit for bit what jpeg_read_scanlines gives in those columns.
// With `kept` (make_kept_planes' rows), the planes are read into the kept
// frame's.
bool read_jpeg_spans(JpegJob* job, JSAMPARRAY* kept) {
  j_decompress_ptr cinfo = &job->cinfo;
  const auto common = reinterpret_cast<j_common_ptr>(cinfo);
  SpanPlanes planes{};
  planes.ring = kept != nullptr ? cinfo->total_iMCU_rows : 3;
  for (int c = 0; c < 3; ++c) {
    const jpeg_component_info& comp = cinfo->comp_info[c];
    planes.rows_per_imcu[c] = comp.v_samp_factor * DCTSIZE;
    planes.rows[c] = kept != nullptr ? kept[c]
                                     : (*cinfo->mem->alloc_sarray)(
                                           common, JPOOL_IMAGE, comp.width_in_blocks * DCTSIZE,
                                           static_cast<JDIMENSION>(3 * planes.rows_per_imcu[c]));
  }
  // Zeroed, so that the spare values that vector code reads are defined.
  const auto scratch = [&](std::size_t values) {
    void* p = (*cinfo->mem->alloc_large)(common, JPOOL_IMAGE, values * sizeof(std::int16_t));
    std::memset(p, 0, values * sizeof(std::int16_t));
    return static_cast<std::int16_t*>(p);
  };
  planes.cb = scratch(cinfo->output_width + std::size_t{32});
  planes.cr = scratch(cinfo->output_width + std::size_t{32});
  planes.sums = scratch(cinfo->comp_info[1].downsampled_width + std::size_t{32});
  const JDIMENSION lines = static_cast<JDIMENSION>(cinfo->max_v_samp_factor * DCTSIZE);
  // Each iMCU row is converted once the next one has been read (its chroma
  // rows below may be needed); the last one after the loop.
  for (JDIMENSION imcu = 0; imcu < cinfo->total_iMCU_rows; ++imcu) {
    JSAMPARRAY dest[3];
    for (int c = 0; c < 3; ++c) {
      dest[c] =
          planes.rows[c] + imcu % planes.ring * static_cast<JDIMENSION>(planes.rows_per_imcu[c]);
    }
    if (jpeg_read_raw_data(cinfo, dest, lines) != lines) return false;
    if (imcu > 0) emit_span_rows(cinfo, planes, imcu - 1, *job->sink);
  }
  emit_span_rows(cinfo, planes, cinfo->total_iMCU_rows - 1, *job->sink);
  return true;
}

// Decodes with libjpeg's raw-data interface into the kept frame's planes (the
// rows of make_kept_planes) and hands the luma rows, as stored, to a luminance
// sink: bit for bit the rows of a grey output (luma_planes_reproduce_scanlines).
bool read_jpeg_luma_planes(JpegJob* job, JSAMPARRAY* kept) {
  j_decompress_ptr cinfo = &job->cinfo;
  const JDIMENSION lines = static_cast<JDIMENSION>(cinfo->max_v_samp_factor * DCTSIZE);
  for (JDIMENSION imcu = 0; imcu < cinfo->total_iMCU_rows; ++imcu) {
    JSAMPARRAY dest[3];
    for (int c = 0; c < cinfo->num_components; ++c) {
      dest[c] = kept[c] + imcu * static_cast<JDIMENSION>(cinfo->comp_info[c].v_samp_factor * DCTSIZE);
    }
    if (jpeg_read_raw_data(cinfo, dest, lines) != lines) return false;
    const JDIMENSION first = imcu * lines;
    const JDIMENSION end = std::min(first + lines, cinfo->output_height);
    for (JDIMENSION y = first; y < end; y += IMAGE_ROW_BATCH) {
      const JDIMENSION n = std::min<JDIMENSION>(IMAGE_ROW_BATCH, end - y);
      job->sink->take_rows(static_cast<std::int32_t>(y), static_cast<std::int32_t>(n), kept[0] + y);
    }
  }
  return true;
}

// The decode proper; any libjpeg call may longjmp out of it.
bool read_jpeg(JpegJob* job) {
  j_decompress_ptr cinfo = &job->cinfo;
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = MAX_JPEG_MEMORY;
  job->progress.progress_monitor = on_progress;
  cinfo->progress = &job->progress;
  if (job->file != nullptr) {
    jpeg_stdio_src(cinfo, job->file);
  } else {
    jpeg_mem_src(cinfo, job->memory, static_cast<unsigned long>(job->memory_size));
  }
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  // Before jpeg_start_decompress, which allocates per-width buffers and, for a
  // progressive file, the whole coefficient image.
  if (!image_size_allowed(cinfo->image_width, cinfo->image_height)) return false;
  if (jpeg_has_multiple_scans(cinfo) && !scan_count_allowed(*job)) return false;

  bool cmyk = false;
  ImageRowSink& sink = *job->sink;
  const bool luma = sink.wants_luma();
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:  // libjpeg-turbo expands gray to R = G = B
    case JCS_YCbCr:
    case JCS_RGB:
      // Grey output of YCbCr data is the Y plane as stored: libjpeg then skips
      // the chroma components' IDCT, upsampling and colour conversion.
      cinfo->out_color_space = luma ? JCS_GRAYSCALE : JCS_EXT_BGRX;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default:
      return false;
  }
  const bool spans = !luma && sink.wants_column_spans() && spans_reproduce_scanlines(cinfo);
  // A frame to keep is kept as planes where the raw-data interface gives the
  // same rows (the Y plane for a luminance sink, spans for the patches), else
  // as the BGRX rows themselves; a luminance sink of other files keeps none.
  KeptFrame* keep = job->sink->frame_to_keep();
  if (keep != nullptr) keep->clear();
  const bool luma_planes = keep != nullptr && luma && luma_planes_reproduce_scanlines(cinfo);
  const bool keep_planes = keep != nullptr && (spans || luma_planes);
  const bool keep_bitmap = keep != nullptr && !keep_planes && (!luma || cmyk);
  const std::uint64_t pixels =
      std::uint64_t{cinfo->image_width} * std::uint64_t{cinfo->image_height};
  reserve_decode_memory(jpeg_memory_estimate(cinfo, sink.whole_frame()) +
                        (keep_planes ? kept_planes_bytes(cinfo) : keep_bitmap ? 4 * pixels : 0));
  JSAMPARRAY kept_rows[3] = {nullptr, nullptr, nullptr};
  const bool planes = keep_planes && make_kept_planes(cinfo, *keep, kept_rows);
  const bool raw_luma = planes && luma_planes;
  if (raw_luma) cinfo->out_color_space = cinfo->num_components == 3 ? JCS_YCbCr : JCS_GRAYSCALE;
  cinfo->raw_data_out = spans || raw_luma ? TRUE : FALSE;
  jpeg_start_decompress(cinfo);
  const int components = raw_luma ? cinfo->num_components : luma && !cmyk ? 1 : 4;
  if (cinfo->output_components != components || cinfo->output_width != cinfo->image_width ||
      cinfo->output_height != cinfo->image_height) {
    return false;
  }
  const auto width = static_cast<std::int32_t>(cinfo->output_width);
  const auto height = static_cast<std::int32_t>(cinfo->output_height);
  if (!sink.begin(width, height)) return false;
  if (planes) {
    const bool ok = raw_luma ? read_jpeg_luma_planes(job, kept_rows)
                             : read_jpeg_spans(job, kept_rows);
    if (ok) describe_kept_planes(cinfo, *keep);
    return ok;
  }
  if (spans) return read_jpeg_spans(job, nullptr);
  // The rows of a kept frame are decoded straight into its BGRX rows (which
  // live outside the frames a longjmp leaves).
  KeptFrame::Plane* frame = nullptr;
  if (keep_bitmap && keep->size_plane(0, 4 * width, height)) frame = &keep->planes[0];

  // Into the sink's storage (or the kept bitmap), a few rows at a time.
  JSAMPROW rows[IMAGE_ROW_BATCH];
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION y = cinfo->output_scanline;
    const JDIMENSION left = cinfo->output_height - y;
    const JDIMENSION n = left < IMAGE_ROW_BATCH ? left : IMAGE_ROW_BATCH;
    for (JDIMENSION i = 0; i < n; ++i) {
      const auto row = static_cast<std::int32_t>(y + i);
      rows[i] = frame != nullptr ? frame->row(row) : sink.row_storage(row);
    }
    const JDIMENSION got = jpeg_read_scanlines(cinfo, rows, n);
    if (got == 0) return false;  // only a suspending source returns nothing
    if (cmyk) {
      for (JDIMENSION i = 0; i < got; ++i) {
        cmyk_row_to_bgrx(rows[i], cinfo->output_width);
        if (luma) {
          // The luminance goes into the sink's storage when the BGRX row is kept.
          std::uint8_t* out =
              frame != nullptr ? sink.row_storage(static_cast<std::int32_t>(y + i)) : rows[i];
          bgrx_to_luma(rows[i], width, out);
          rows[i] = out;
        }
      }
    }
    sink.take_rows(static_cast<std::int32_t>(y), static_cast<std::int32_t>(got), rows);
  }
  if (frame != nullptr) {
    keep->kind = KeptFrame::Kind::bgrx;
    keep->width = width;
    keep->height = height;
  }
  // The rest of the file (trailing markers) is not read: jpeg_destroy_decompress
  // releases the decoder wherever it stands.
  return true;
}

// Runs `read` (read_jpeg or read_jpeg_view) with libjpeg's fatal errors
// longjmping back to the one setjmp here, then releases the decoder: the one
// cleanup point, after success or error. `job` is not changed in this frame
// between the setjmp and a longjmp.
bool run_jpeg_job(JpegJob& job, bool (*read)(JpegJob*)) {
  job.cinfo.err = jpeg_std_error(&job.error.pub);
  job.error.pub.error_exit = on_error_exit;
  job.error.pub.emit_message = on_emit_message;
  job.error.pub.output_message = on_output_message;
  volatile bool ok = false;
  if (setjmp(job.error.jump) == 0) ok = read(&job);
  jpeg_destroy_decompress(&job.cinfo);
  return ok;
}

}  // namespace

bool decode_jpeg_rows(std::FILE* file, ImageRowSink& sink) {
  JpegJob job{};
  job.file = file;
  job.sink = &sink;
  return run_jpeg_job(job, read_jpeg);
}

bool decode_jpeg_memory_rows(const std::uint8_t* data, std::size_t size, ImageRowSink& sink) {
  if (size == 0) return false;  // jpeg_mem_src refuses an empty buffer with an error exit
  JpegJob job{};
  job.memory = data;
  job.memory_size = size;
  job.sink = &sink;
  return run_jpeg_job(job, read_jpeg);
}

namespace {

// The view's pixels, any libjpeg call may longjmp out of it. The output is
// BGRX (or CMYK turned into BGRX) as for the full-frame decode.
bool read_jpeg_view(JpegJob* job) {
  j_decompress_ptr cinfo = &job->cinfo;
  const JpegView& view = *job->view;
  jpeg_create_decompress(cinfo);
  cinfo->mem->max_memory_to_use = MAX_JPEG_MEMORY;
  job->progress.progress_monitor = on_progress;
  cinfo->progress = &job->progress;
  jpeg_stdio_src(cinfo, job->file);
  if (jpeg_read_header(cinfo, TRUE) != JPEG_HEADER_OK) return false;
  if (!image_size_allowed(cinfo->image_width, cinfo->image_height)) return false;
  bool cmyk = false;
  switch (cinfo->jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB:
      cinfo->out_color_space = JCS_EXT_BGRX;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      cinfo->out_color_space = JCS_CMYK;
      cmyk = true;
      break;
    default:
      return false;
  }
  // The smallest of libjpeg's scales 1/8 ... 8/8 whose output still covers the
  // box-fitted size; full size without a box.
  const auto image_width = static_cast<std::int32_t>(cinfo->image_width);
  const auto image_height = static_cast<std::int32_t>(cinfo->image_height);
  ImageSize wanted{image_width, image_height};
  if (view.fit_width > 0 && view.fit_height > 0) {
    const ImageSize fitted =
        shrink_geometry(image_width, image_height, view.fit_width, view.fit_height);
    wanted.width = std::clamp(fitted.width, 1, image_width);
    wanted.height = std::clamp(fitted.height, 1, image_height);
  }
  cinfo->scale_denom = 8;
  for (unsigned eighths = 1; eighths <= 8; ++eighths) {
    cinfo->scale_num = eighths;
    jpeg_calc_output_dimensions(cinfo);
    if (cinfo->output_width >= static_cast<JDIMENSION>(wanted.width) &&
        cinfo->output_height >= static_cast<JDIMENSION>(wanted.height)) {
      break;
    }
  }
  if (jpeg_has_multiple_scans(cinfo) && !scan_count_allowed(*job)) return false;
  // The scaled frame bounds the view's bitmap; row buffers and, for a multi-scan
  // file, the coefficients come on top.
  reserve_decode_memory(4 * std::uint64_t{cinfo->output_width} *
                            std::uint64_t{cinfo->output_height} +
                        64 * std::uint64_t{cinfo->image_width} + jpeg_coefficient_bytes(cinfo));
  jpeg_start_decompress(cinfo);
  if (cinfo->output_components != 4) return false;
  const auto scaled_width = static_cast<std::int64_t>(cinfo->output_width);
  const auto scaled_height = static_cast<std::int64_t>(cinfo->output_height);
  // The region, clamped to the scaled image; the whole image when none is set.
  std::int64_t x0 = 0, y0 = 0, x1 = scaled_width, y1 = scaled_height;
  if (view.width > 0 && view.height > 0) {
    x0 = std::clamp<std::int64_t>(view.x, 0, scaled_width);
    y0 = std::clamp<std::int64_t>(view.y, 0, scaled_height);
    x1 = std::clamp<std::int64_t>(std::int64_t{view.x} + view.width, x0, scaled_width);
    y1 = std::clamp<std::int64_t>(std::int64_t{view.y} + view.height, y0, scaled_height);
  }
  if (x1 <= x0 || y1 <= y0) return false;
  *job->out = make_bitmap32(static_cast<std::int32_t>(x1 - x0), static_cast<std::int32_t>(y1 - y0));
  if (!job->out->pixels) return false;
  // libjpeg decodes whole iMCU columns: the crop it makes may start further left
  // and be wider than asked. The chroma upsampling at a crop's edges lacks the
  // columns beyond it, so the crop asked for has a margin of one iMCU column
  // (at most 16 pixels) on either side.
  const std::int64_t margin = 16;
  const std::int64_t wide_x0 = std::max<std::int64_t>(0, x0 - margin);
  const std::int64_t wide_x1 = std::min(scaled_width, x1 + margin);
  JDIMENSION crop_x = static_cast<JDIMENSION>(wide_x0);
  JDIMENSION crop_width = static_cast<JDIMENSION>(wide_x1 - wide_x0);
  if (crop_width < cinfo->output_width) jpeg_crop_scanline(cinfo, &crop_x, &crop_width);
  const std::size_t skip_left = static_cast<std::size_t>(x0) - crop_x;
  if (y0 > 0 &&
      jpeg_skip_scanlines(cinfo, static_cast<JDIMENSION>(y0)) != static_cast<JDIMENSION>(y0)) {
    return false;
  }
  JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                               cinfo->output_width * 4, 1);
  for (std::int64_t y = y0; y < y1; ++y) {
    if (jpeg_read_scanlines(cinfo, row, 1) != 1) return false;
    if (cmyk) cmyk_row_to_bgrx(row[0], cinfo->output_width);
    std::memcpy(job->out->row(static_cast<std::int32_t>(y - y0)), row[0] + 4 * skip_left,
                job->out->stride());
  }
  job->image_width = image_width;
  job->image_height = image_height;
  return true;
}

}  // namespace

bool decode_jpeg_view(std::FILE* file, const JpegView& view, Bitmap32& out, ImageSize& image_size) {
  JpegJob job{};
  job.file = file;
  job.view = &view;
  job.out = &out;
  const bool ok = run_jpeg_job(job, read_jpeg_view);
  image_size = ok ? ImageSize{job.image_width, job.image_height} : ImageSize{};
  return ok;
}

bool decode_jpeg(std::FILE* file, Bitmap32& out) {
  BitmapRowSink sink(out);
  return decode_jpeg_rows(file, sink);
}

}  // namespace lumvet::detail
