// WebP, HEIF/AVIF, JPEG XL and camera raw files: pixels against the source picture
// (lossless coding) or a reference decode by the library's own plain API (lossy
// coding), alpha over white, which raw path is taken, and refusals: cut, damaged,
// oversized and unsupported files, quietly, without drawing anything.
#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <libraw/libraw.h>
#include <webp/decode.h>

#include <cstring>
#include <utility>
#include <vector>

#include "imaging/decode_budget.h"
#include "imaging/imaging.h"
#include "scoring/constants.h"
#include "scoring/file_scoring.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/format_files.h"
#include "tests/support/luma_rows.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::HeifCodec;
using testing::RgbaImage;

// The pixels as R, G, B, A samples with alpha composited over white.
std::vector<std::uint8_t> over_white(const RgbaImage& image) {
  std::vector<std::uint8_t> out = image.rgba;
  for (std::size_t i = 0; i < out.size(); i += 4) {
    for (int c = 0; c < 3; ++c) out[i + c] = composite_over_white(out[i + c], out[i + 3]);
    out[i + 3] = 255;
  }
  return out;
}

// A decoded bitmap as R, G, B, A samples (A the reserved byte).
std::vector<std::uint8_t> rgba_samples(const Bitmap32& b) {
  std::vector<std::uint8_t> out;
  for (int y = 0; y < b.height; ++y) {
    for (const std::uint8_t* p = b.row(y); p < b.row(y) + b.stride(); p += 4)
      out.insert(out.end(), {p[2], p[1], p[0], p[3]});
  }
  return out;
}

// Reference decodes with each library's plain API, as R, G, B, A over white.
std::vector<std::uint8_t> webp_reference(const std::vector<std::uint8_t>& bytes) {
  int w = 0, h = 0;
  std::uint8_t* p = WebPDecodeRGBA(bytes.data(), bytes.size(), &w, &h);
  if (p == nullptr) return {};
  RgbaImage image{w, h, std::vector<std::uint8_t>(p, p + std::size_t(w) * h * 4)};
  WebPFree(p);
  return over_white(image);
}

std::vector<std::uint8_t> heif_reference(const std::vector<std::uint8_t>& bytes) {
  heif_context* ctx = heif_context_alloc();
  heif_image_handle* handle = nullptr;
  heif_image* img = nullptr;
  RgbaImage image;
  if (heif_context_read_from_memory_without_copy(ctx, bytes.data(), bytes.size(), nullptr).code ==
          heif_error_Ok &&
      heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok &&
      heif_decode_image(handle, &img, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr)
              .code == heif_error_Ok) {
    int stride = 0;
    const std::uint8_t* plane =
        heif_image_get_plane_readonly(img, heif_channel_interleaved, &stride);
    image.width = heif_image_get_width(img, heif_channel_interleaved);
    image.height = heif_image_get_height(img, heif_channel_interleaved);
    for (int y = 0; y < image.height; ++y)
      image.rgba.insert(image.rgba.end(), plane + std::size_t(stride) * y,
                        plane + std::size_t(stride) * y + std::size_t(image.width) * 4);
  }
  if (img != nullptr) heif_image_release(img);
  if (handle != nullptr) heif_image_handle_release(handle);
  heif_context_free(ctx);
  return over_white(image);
}

// LibRaw's own develop with its defaults, through its C API.
std::vector<std::uint8_t> libraw_reference(const std::string& path) {
  libraw_data_t* raw = libraw_init(LIBRAW_OPIONS_NO_MEMERR_CALLBACK);
  std::vector<std::uint8_t> out;
  int error = 0;
  libraw_processed_image_t* image = nullptr;
  if (libraw_open_file(raw, path.c_str()) == LIBRAW_SUCCESS && libraw_unpack(raw) == 0 &&
      libraw_dcraw_process(raw) == 0 && (image = libraw_dcraw_make_mem_image(raw, &error))) {
    for (std::size_t i = 0; i + 2 < image->data_size; i += 3)
      out.insert(out.end(), {image->data[i], image->data[i + 1], image->data[i + 2], 255});
    libraw_dcraw_clear_mem(image);
  }
  libraw_close(raw);
  return out;
}

// A smooth picture with gentle texture, so that a demosaic keeps it recognisable.
Bitmap32 smooth_picture(int width, int height) {
  return testing::make_test_bitmap(width, height, [](int i, int j, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(40 + (i * 3 + j) % 150);
    p[1] = static_cast<std::uint8_t>(60 + ((i / 8 + j / 8) % 2) * 120);
    p[2] = static_cast<std::uint8_t>(30 + (j * 5) % 200);
    p[3] = 255;
  });
}

// A bare JPEG XL codestream whose header claims size x size pixels and ends there.
std::vector<std::uint8_t> jxl_header(std::uint32_t size) {
  std::vector<std::uint8_t> bytes = {0xFF, 0x0A};
  std::uint64_t bits = 0;
  int n = 0;
  const auto put_bits = [&](std::uint64_t value, int count) {
    bits |= value << n;
    n += count;
  };
  put_bits(0, 1);  // not a multiple of 8
  put_bits(3, 2);  // height - 1 in 30 bits
  put_bits(size - 1, 30);
  put_bits(1, 3);  // width = height
  put_bits(1, 1);  // all-default metadata
  for (int i = 0; i < (n + 7) / 8; ++i) bytes.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  bytes.resize(bytes.size() + 64, 0);
  return bytes;
}

class FormatDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { start_imaging_library(); }

  std::string put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::remove(dir.file(name).c_str());
    testing::write_bytes(dir.file(name), bytes);
    return dir.file(name);
  }

  // Decodes expecting nothing printed; the pixels as R, G, B, A (empty when refused).
  std::vector<std::uint8_t> decode(const std::string& path, DecodeInfo* info = nullptr,
                                   RawMode raw = RawMode::preview) {
    std::optional<Bitmap32> b;
    EXPECT_EQ(
        testing::capture_process_output([&] { b = load_bitmap32(path, DecodeOptions{raw}, info); }),
        "")
        << path;
    return b ? rgba_samples(*b) : std::vector<std::uint8_t>{};
  }

  // A small DNG of the smooth picture, with or without a full-size (or smaller)
  // JPEG preview written from the same picture.
  std::string dng(const std::string& name, int width, int height, int preview_scale = 0) {
    const Bitmap32 picture = smooth_picture(width, height);
    std::vector<std::uint8_t> jpeg;
    int pw = 0, ph = 0;
    if (preview_scale > 0) {
      pw = width / preview_scale, ph = height / preview_scale;
      EXPECT_TRUE(testing::write_jpeg(dir.file(name + ".preview.jpg"), smooth_picture(pw, ph)));
      jpeg = testing::read_bytes(dir.file(name + ".preview.jpg"));
    }
    EXPECT_TRUE(testing::write_dng(dir.file(name), width, height,
                                   testing::cfa_mosaic(picture, 4095), 4095, jpeg, pw, ph));
    return dir.file(name);
  }

  testing::ScopedTempDir dir;
};

TEST_F(FormatDecodeTest, FormatsAreRecognisedByContent) {
  const RgbaImage image = testing::rgba_of(testing::test_picture(24, 16), false);
  DecodeInfo info;
  // Names that say nothing, or the wrong thing.
  decode(put("a.jpg", testing::webp_bytes(image, false, true)), &info);
  EXPECT_EQ(info.format, ImageFormat::webp);
  decode(put("b.png", testing::heif_bytes(image, false, HeifCodec::hevc)), &info);
  EXPECT_EQ(info.format, ImageFormat::heif);
  decode(put("c", testing::heif_bytes(image, false, HeifCodec::av1)), &info);
  EXPECT_EQ(info.format, ImageFormat::heif);
  decode(dng("e.tif", 32, 24), &info);
  EXPECT_EQ(info.format, ImageFormat::raw);
  EXPECT_EQ(info.source, DecodeSource::raw_develop);
  // A TIFF picture stays a TIFF picture.
  ASSERT_TRUE(testing::write_tiff(dir.file("f.tif"), 7, 5, 3, std::vector<std::uint8_t>(105, 9)));
  EXPECT_EQ(decode(dir.file("f.tif"), &info).size(), 7u * 5 * 4);
  EXPECT_EQ(info.format, ImageFormat::tiff);
  EXPECT_EQ(info.source, DecodeSource::image);

  const std::pair<std::string, ImageFormat> heads[] = {
      {{"\xFF\x0A\xFA", 3}, ImageFormat::jxl},
      {{"\0\0\0\x0CJXL \r\n\x87\n", 12}, ImageFormat::jxl},
      {{"\0\0\0\030ftypavif", 12}, ImageFormat::heif},
      {{"\0\0\0\030ftypcrx ", 12}, ImageFormat::raw},
      {{"\0\0\0\030ftypisom", 12}, ImageFormat::unknown},  // a video
      {{"FUJIFILMCCD-RAW 0201", 16}, ImageFormat::raw},
      {{"IIRO\x08\0\0\0", 8}, ImageFormat::raw},
      {{"IIU\0\x08\0\0\0", 8}, ImageFormat::raw},
      {{"RIFF\0\0\0\0WAVE", 12}, ImageFormat::unknown}};
  for (const auto& [head, format] : heads) {
    EXPECT_EQ(sniff_image_format(reinterpret_cast<const std::uint8_t*>(head.data()), head.size()),
              format)
        << head;
  }
}

TEST_F(FormatDecodeTest, WebpLosslessIsExactLossyMatchesLibwebp) {
  const RgbaImage image = testing::rgba_of(testing::test_picture(53, 37, 1), true);
  RgbaImage opaque = image;
  for (std::size_t i = 3; i < opaque.rgba.size(); i += 4) opaque.rgba[i] = 255;
  EXPECT_EQ(decode(put("l.webp", testing::webp_bytes(image, false, true))), over_white(opaque));
  EXPECT_EQ(decode(put("la.webp", testing::webp_bytes(image, true, true))), over_white(image));
  for (bool alpha : {false, true}) {
    const std::vector<std::uint8_t> bytes = testing::webp_bytes(image, alpha, false, 95);
    const std::vector<std::uint8_t> got = decode(put("q.webp", bytes));
    ASSERT_EQ(got.size(), image.rgba.size()) << alpha;
    EXPECT_EQ(got, webp_reference(bytes)) << alpha;
  }
  // An animation: the first frame, as the canvas shows it.
  const RgbaImage second = testing::rgba_of(testing::test_picture(53, 37, 2), true);
  EXPECT_EQ(decode(put("anim.webp", testing::animated_webp_bytes({image, second}, true))),
            over_white(image));
}

TEST_F(FormatDecodeTest, HeifAndAvifMatchLibheif) {
  const RgbaImage image = testing::rgba_of(testing::test_picture(64, 48, 3), true);
  for (HeifCodec codec : {HeifCodec::hevc, HeifCodec::av1}) {
    for (bool alpha : {false, true}) {
      const std::vector<std::uint8_t> bytes = testing::heif_bytes(image, alpha, codec, 95);
      ASSERT_FALSE(bytes.empty());
      DecodeInfo info;
      const std::vector<std::uint8_t> got = decode(put("h.heic", bytes), &info);
      EXPECT_EQ(info.format, ImageFormat::heif);
      ASSERT_EQ(got.size(), image.rgba.size()) << int(codec) << alpha;
      EXPECT_EQ(got, heif_reference(bytes)) << int(codec) << alpha;
    }
  }
}

// JPEG XL is recognised and refused, quietly (see the README's formats section).
TEST_F(FormatDecodeTest, JpegXlIsRecognisedAndRefused) {
  std::vector<std::uint8_t> container = {0, 0, 0, 0x0C, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  container.resize(64, 0);
  for (const std::vector<std::uint8_t>& bytes : {jxl_header(64), container}) {
    DecodeInfo info;
    EXPECT_TRUE(decode(put("a.jxl", bytes), &info).empty());
    EXPECT_EQ(info.format, ImageFormat::jxl);
  }
}

TEST_F(FormatDecodeTest, RawUsesTheFullSizePreviewOrDevelops) {
  // No preview: LibRaw's develop, pixel for pixel, and recognisably the picture.
  const std::string plain = dng("plain.dng", 64, 48);
  DecodeInfo info;
  const std::vector<std::uint8_t> developed = decode(plain, &info);
  EXPECT_EQ(info.source, DecodeSource::raw_develop);
  ASSERT_EQ(developed.size(), 64u * 48 * 4);
  EXPECT_EQ(developed, libraw_reference(plain));

  // A full-size preview is the JPEG decoder's pixels; asked to, LibRaw develops.
  const std::string with_preview = dng("preview.dng", 64, 48, 1);
  const std::optional<Bitmap32> b = load_bitmap32(with_preview, DecodeOptions{}, &info);
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(info.source, DecodeSource::raw_preview);
  EXPECT_EQ(testing::compare_with_djpeg(*b, dir.file("preview.dng.preview.jpg"), dir.path()), "");
  EXPECT_EQ(decode(with_preview, &info, RawMode::develop), libraw_reference(with_preview));
  EXPECT_EQ(info.source, DecodeSource::raw_develop);

  // A half-size preview is not used.
  EXPECT_EQ(decode(dng("small.dng", 64, 48, 2), &info).size(), 64u * 48 * 4);
  EXPECT_EQ(info.source, DecodeSource::raw_develop);
}

// Every format's decode reserves from the process's decoding-memory budget what
// it holds at its height: at least the bitmap, and the file's bytes for the
// formats read whole; a raw file whichever way it is read, and the JPEG decoder's
// scaled view (the report's thumbnails) too.
TEST_F(FormatDecodeTest, EveryFormatReservesFromTheDecodingBudget) {
  const RgbaImage image = testing::rgba_of(testing::test_picture(64, 48, 3), true);
  const std::uint64_t frame = 4u * 64 * 48;
  const std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files = {
      {"s.webp", testing::webp_bytes(image, true, false)},
      {"a.webp", testing::animated_webp_bytes({image, image}, true)},
      {"h.heic", testing::heif_bytes(image, true, HeifCodec::hevc)},
      {"plain.dng", testing::read_bytes(dng("plain.dng", 64, 48))},
      {"preview.dng", testing::read_bytes(dng("preview.dng", 64, 48, 1))}};
  for (const auto& [name, bytes] : files) {
    for (const RawMode mode : {RawMode::preview, RawMode::develop}) {
      reset_decode_memory_peak();
      EXPECT_FALSE(decode(put(name, bytes), nullptr, mode).empty()) << name;
      EXPECT_GE(decode_memory_peak(), frame + bytes.size()) << name;
    }
  }
  reset_decode_memory_peak();
  ImageSize full;
  EXPECT_TRUE(decode_image_preview(dir.file("preview.dng.preview.jpg"), 16, 12, full).has_value());
  EXPECT_GE(decode_memory_peak(), 4u * 16 * 12);
  EXPECT_LT(decode_memory_peak(), frame);  // a scaled view, not the whole frame
}

// Every new format cut short, or damaged in its header, is refused; every
// truncation and a spread of single-byte changes passes quietly, whatever the outcome.
TEST_F(FormatDecodeTest, TruncatedAndDamagedFiles) {
  const RgbaImage image = testing::rgba_of(testing::test_picture(16, 12, 6), true);
  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::size_t header_byte;  // one whose damage no decoder can miss
  } files[] = {
      {"webp", testing::webp_bytes(image, true, false), 12},  // the first chunk's name
      {"webpl", testing::webp_bytes(image, false, true), 12},
      {"heic", testing::heif_bytes(image, true, HeifCodec::hevc), 4},  // "ftyp"
      {"avif", testing::heif_bytes(image, false, HeifCodec::av1), 4},
      {"dng", testing::read_bytes(dng("t.dng", 32, 24)), 2},  // TIFF's 42
  };
  std::vector<std::vector<std::uint8_t>> all = {testing::animated_webp_bytes({image, image}, false),
                                                testing::read_bytes(dng("s.dng", 32, 24, 1))};
  for (const auto& f : files) {
    ASSERT_FALSE(decode(put("whole", f.bytes)).empty()) << f.name;
    EXPECT_TRUE(
        decode(put("cut", {f.bytes.begin(), f.bytes.begin() + f.bytes.size() * 3 / 4})).empty())
        << f.name;
    std::vector<std::uint8_t> corrupt = f.bytes;
    corrupt[f.header_byte] ^= 0x5A;
    EXPECT_TRUE(decode(put("corrupt", corrupt)).empty()) << f.name;
    if (std::string_view(f.name) != "dng") all.push_back(f.bytes);  // (a develop is slow)
  }
  // Inside the data rather than the header: the lossless codings check their data.
  std::vector<std::uint8_t> lossless = testing::webp_bytes(image, false, true);
  for (std::size_t i = 40; i < lossless.size(); i += 5) lossless[i] ^= 0xFF;
  EXPECT_TRUE(decode(put("corrupt.webp", lossless)).empty());
  testing::expect_damage_is_quiet(all, dir.path());
}

// The first TIFF directory's width and height entries set to `size`.
void patch_tiff_size(std::vector<std::uint8_t>& tiff, std::uint32_t size) {
  const auto get = [&](std::size_t at, int n) {
    std::uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | tiff[at + i];
    return v;
  };
  const std::size_t ifd = get(4, 4);
  for (std::uint32_t e = 0; e < get(ifd, 2); ++e) {
    const std::size_t at = ifd + 2 + 12 * e;
    const std::uint32_t tag = get(at, 2), type = get(at + 2, 2);
    if (tag != 256 && tag != 257) continue;
    for (int i = 0; i < (type == 3 ? 2 : 4); ++i) tiff[at + 8 + i] = std::uint8_t(size >> (8 * i));
  }
}

// Headers claiming 60000 x 60000 pixels are refused, in a fresh process whose
// peak resident size shows that no frame was allocated.
TEST_F(FormatDecodeTest, HugeHeadersAreRefusedCheaply) {
  const RgbaImage image = testing::rgba_of(testing::test_picture(16, 16, 7), true);
  // WebP: the extended header's canvas (24-bit sizes minus one).
  std::vector<std::uint8_t> webp = testing::webp_bytes(image, true, false);
  ASSERT_EQ(std::string(webp.begin() + 12, webp.begin() + 16), "VP8X");
  for (int at : {24, 27}) {
    for (int i = 0; i < 3; ++i) webp[at + i] = std::uint8_t((60000 - 1) >> (8 * i));
  }
  put("huge.webp", webp);
  // HEIF: the image's "ispe" property.
  std::vector<std::uint8_t> heif = testing::heif_bytes(image, false, HeifCodec::hevc);
  const std::string text(heif.begin(), heif.end());
  const std::size_t ispe = text.find("ispe");
  ASSERT_NE(ispe, std::string::npos);
  for (std::size_t at : {ispe + 8, ispe + 12}) {
    for (int i = 0; i < 4; ++i) heif[at + i] = std::uint8_t(60000 >> (24 - 8 * i));
  }
  put("huge.heic", heif);
  put("huge.jxl", jxl_header(60000));
  std::vector<std::uint8_t> raw = testing::read_bytes(dng("t.dng", 16, 16));
  patch_tiff_size(raw, 60000);
  put("huge.dng", raw);
  // Within the limit, but far more pixels than the file could hold.
  raw = testing::read_bytes(dir.file("t.dng"));
  patch_tiff_size(raw, 16000);
  put("hollow.dng", raw);
  for (const char* name : {"huge.webp", "huge.heic", "huge.jxl", "huge.dng", "hollow.dng"}) {
    EXPECT_TRUE(decode(dir.file(name)).empty()) << name;
    testing::expect_refused_cheaply(dir.file(name), 256 * 1024);
  }
}

// Files of a recognised kind that the libraries cannot use score like any
// undecodable file: 0, with nothing drawn. The new formats otherwise score alike
// on the streaming and the plain path.
TEST_F(FormatDecodeTest, UnsupportedVariantsScoreAsUndecodable) {
  const RgbaImage image = testing::rgba_of(testing::test_picture(120, 90, 8), false);
  std::vector<std::uint8_t> heif = testing::heif_bytes(image, false, HeifCodec::hevc);
  const std::string text(heif.begin(), heif.end());
  const std::size_t pitm = text.find("pitm");  // no primary image
  ASSERT_NE(pitm, std::string::npos);
  heif[pitm] = 'x';
  put("noprimary.heic", heif);
  std::vector<std::uint8_t> raf(4096, 0x11);
  std::memcpy(raf.data(), "FUJIFILMCCD-RAW 0201FF383501", 28);
  put("unknown.raf", raf);
  put("a.webp", testing::webp_bytes(image, false, false));
  put("a.heic", heif = testing::heif_bytes(image, false, HeifCodec::hevc));
  put("a.jxl", jxl_header(120));
  dng("plain.dng", 120, 90);
  dng("preview.dng", 120, 90, 1);

  SvmModel model;
  init_embedded_model(model);
  for (const char* name : {"noprimary.heic", "unknown.raf", "a.jxl"}) {
    EXPECT_TRUE(decode(dir.file(name)).empty()) << name;
    RandomState rs{12345};
    const FileScore s = score_image_file_checked(model, dir.file(name), FEATURE_SCALE, rs);
    EXPECT_FALSE(s.decoded) << name;
    EXPECT_EQ(s.score, 0) << name;
    EXPECT_EQ(rs.value, 12345) << name;
  }
  for (const char* name : {"a.webp", "a.heic", "plain.dng", "preview.dng"}) {
    RandomState fast{77}, plain{77};
    const FileScore a = score_image_file_checked(model, dir.file(name), FEATURE_SCALE, fast);
    const FileScore b = score_image_file_reference(model, dir.file(name), FEATURE_SCALE, plain);
    EXPECT_TRUE(a.decoded) << name;
    EXPECT_EQ(a.score, b.score) << name;
    EXPECT_EQ(fast.value, plain.value) << name;
  }
  // A luminance sink gets the preview's luminance as the JPEG decoder gives it
  // for the JPEG file itself, or the luminance of the developed pixels.
  const std::string preview = dir.file("preview.dng");
  EXPECT_EQ(testing::luma_rows(preview), testing::luma_rows(preview + ".preview.jpg"));
  EXPECT_EQ(testing::luma_rows(preview, DecodeOptions{RawMode::develop}),
            testing::luma_of_bitmap(preview, DecodeOptions{RawMode::develop}));
  release_svm_model(model);
}

}  // namespace
}  // namespace lumvet
