// Files that are not images, are damaged, or claim absurd sizes: each gives a clear
// result, and nothing is printed. Under the sanitizer build a huge allocation
// would abort the test, so the size refusals are checked there too.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>

#include "imaging/imaging.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::JpegColor;

// A JPEG whose frame header (SOF0, or SOF2 when progressive) is patched to claim
// width x height.
std::vector<std::uint8_t> patch_jpeg_size(std::vector<std::uint8_t> jpeg, int width, int height) {
  std::size_t at = 2;
  while (at + 8 < jpeg.size() && !(jpeg[at] == 0xFF && (jpeg[at + 1] | 2) == 0xC2)) ++at;
  const std::uint8_t size[4] = {std::uint8_t(height >> 8), std::uint8_t(height),
                                std::uint8_t(width >> 8), std::uint8_t(width)};
  if (at + 8 < jpeg.size()) std::copy_n(size, 4, jpeg.begin() + at + 5);
  return jpeg;
}

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override { start_imaging_library(); }

  // Decodes `path` expecting nothing to be printed.
  std::optional<Bitmap32> quiet_decode(const std::string& path) {
    std::optional<Bitmap32> result;
    EXPECT_EQ(testing::capture_process_output([&] { result = load_bitmap32(path); }), "") << path;
    return result;
  }

  std::vector<std::uint8_t> jpeg_bytes(int width, int height, bool progressive = false,
                                       int sampling = 2) {
    const std::string path = dir.file("source.jpg");
    EXPECT_TRUE(testing::write_jpeg(path, testing::test_picture(width, height),
                                    {90, sampling, sampling, progressive, 0, JpegColor::ycc}));
    return testing::read_bytes(path);
  }

  std::vector<std::uint8_t> png_bytes(int width, int height) {
    EXPECT_TRUE(testing::write_png(dir.file("source.png"), testing::test_picture(width, height)));
    return testing::read_bytes(dir.file("source.png"));
  }

  std::vector<std::uint8_t> gif_bytes() {
    const testing::GifFrame frame{0,  0, 5, 3, false, {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2},
                                  {}, 1};
    EXPECT_TRUE(testing::write_gif(dir.file("s.gif"), 5, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {frame}));
    return testing::read_bytes(dir.file("s.gif"));
  }

  // Writes `bytes` as a fresh file (rewriting one in place makes ext4 flush it).
  std::string put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    std::remove(dir.file(name).c_str());
    testing::write_bytes(dir.file(name), bytes);
    return dir.file(name);
  }

  testing::ScopedTempDir dir;
};

TEST_F(HostileInputTest, NotAnImageFile) {
  testing::make_dir(dir.file("folder.jpg"));
  testing::write_text(dir.file("empty.jpg"), "");
  testing::write_text(dir.file("x.jpg"), "this is not a photograph\n");
  // A FIFO without a writer must neither block nor be read.
  ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
  for (const char* name : {"missing.jpg", "folder.jpg", "empty.jpg", "x.jpg", "fifo.jpg"}) {
    EXPECT_FALSE(quiet_decode(dir.file(name))) << name;
  }
}

TEST_F(HostileInputTest, TruncatedOrCorruptFiles) {
  // A cut JPEG decodes as far as its data goes, exactly like libjpeg's djpeg.
  for (bool progressive : {false, true}) {
    std::vector<std::uint8_t> bytes = jpeg_bytes(64, 64, progressive);
    bytes.resize(bytes.size() * 2 / 3);
    const std::string path = put("truncated.jpg", bytes);
    const std::optional<Bitmap32> b = quiet_decode(path);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(testing::compare_with_djpeg(*b, path, dir.path()), "");
  }
  std::vector<std::uint8_t> png = png_bytes(32, 32);
  png[png.size() / 2] ^= 0x55;  // inside IDAT: the CRC no longer matches
  EXPECT_FALSE(quiet_decode(put("corrupt.png", png)));
}

// Headers that claim huge sizes are refused quietly, before the decoders' own
// allocations (a fresh child process's peak resident size shows it): baseline
// JPEG, PNG and BMP headers of 60000 x 60000 (14.4 GB as a bitmap); a
// progressive 60000 x 60000 JPEG (a 10 GB coefficient buffer that libjpeg would
// zero); a progressive 4:4:4 16384 x 16384 one (1.5 GB, the largest size allowed,
// beyond libjpeg's memory cap); a GIF whose screen and frame claim 16000 x 16000
// but whose data ends after a few bytes (frame lines are decoded before the 1 GiB
// screen is allocated).
TEST_F(HostileInputTest, HugeHeadersAreRefusedCheaply) {
  constexpr std::uint8_t HI = 60000 >> 8, LO = 60000 & 0xFF;
  put("huge.jpg", patch_jpeg_size(jpeg_bytes(16, 16), 60000, 60000));
  std::vector<std::uint8_t> png = png_bytes(16, 16);
  for (int i : {16, 20}) png[i] = 0, png[i + 1] = 0, png[i + 2] = HI, png[i + 3] = LO;
  const uLong crc = crc32(0, png.data() + 12, 17);  // "IHDR" and its 13 bytes
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  put("huge.png", png);
  std::vector<std::uint8_t> bmp = testing::bmp_bytes(testing::test_picture(4, 4), false);
  for (int i : {18, 22}) bmp[i] = LO, bmp[i + 1] = HI, bmp[i + 2] = 0, bmp[i + 3] = 0;
  put("huge.bmp", bmp);
  put("a.jpg", patch_jpeg_size(jpeg_bytes(16, 16, true), 60000, 60000));
  put("b.jpg", patch_jpeg_size(jpeg_bytes(16, 16, true, 1), 16384, 16384));
  std::vector<std::uint8_t> gif = gif_bytes();
  constexpr std::uint8_t GIF_HI = 16000 >> 8, GIF_LO = 16000 & 0xFF;
  gif[6] = gif[8] = GIF_LO, gif[7] = gif[9] = GIF_HI;  // logical screen
  std::size_t at = 13 + 3 * 4;                         // after the four-entry colour table
  while (at < gif.size() && gif[at] != 0x2C) ++at;     // skip extensions
  ASSERT_LT(at + 8, gif.size());
  gif[at + 5] = gif[at + 7] = GIF_LO, gif[at + 6] = gif[at + 8] = GIF_HI;  // frame size
  put("c.gif", gif);
  for (const char* name : {"huge.jpg", "huge.png", "huge.bmp", "a.jpg", "b.jpg", "c.gif"}) {
    EXPECT_FALSE(quiet_decode(dir.file(name))) << name;
    testing::expect_refused_cheaply(dir.file(name), 256 * 1024);
  }
}

// A palette BMP with a 40-byte header: `bits` per pixel, the palette's entries
// (grey levels 0, 10, 20, ...), then the rows as given, each already padded.
std::vector<std::uint8_t> palette_bmp(int width, int height, int bits, int entries,
                                      const std::vector<std::uint8_t>& rows,
                                      std::int64_t stated_offset = -1) {
  const std::uint32_t offset = static_cast<std::uint32_t>(
      stated_offset >= 0 ? stated_offset : 54 + 4 * std::int64_t{entries});
  std::vector<std::uint8_t> b = {'B', 'M'};
  const auto put32 = [&b](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (std::uint32_t v : {offset + static_cast<std::uint32_t>(rows.size()), 0u, offset, 40u,
                          static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                          1u | static_cast<std::uint32_t>(bits) << 16, 0u,
                          static_cast<std::uint32_t>(rows.size()), 0u, 0u, 0u, 0u}) {
    put32(v);
  }
  for (int i = 0; i < entries; ++i) {
    const auto grey = static_cast<std::uint8_t>(10 * i);
    b.insert(b.end(), {grey, grey, grey, 0});
  }
  b.resize(std::max<std::size_t>(b.size(), offset), 0);  // a small offset overlaps the palette
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

// The pixel-data offset decides how many palette entries are read: one that
// leaves no room for the headers would mean a negative count and pixels read
// from whatever memory the palette happened to hold, so the same file scored
// differently from run to run. Such files, and pixels naming an entry the
// palette lacks, are refused; a short palette whose entries cover every pixel
// decodes.
TEST_F(HostileInputTest, PaletteBmpMustHoldItsPalette) {
  // 4 x 2 pixels at 4 bits: two bytes a row, padded to four.
  const std::vector<std::uint8_t> rows = {0x01, 0x23, 0, 0, 0x32, 0x10, 0, 0};
  const std::optional<Bitmap32> good = quiet_decode(put("good.bmp", palette_bmp(4, 2, 4, 4, rows)));
  ASSERT_TRUE(good.has_value());
  // Bottom-up: the first stored row is the last one; pixel values 10 x index.
  EXPECT_EQ(good->row(1)[0], 0);
  EXPECT_EQ(good->row(1)[4 * 3], 30);
  EXPECT_EQ(good->row(0)[0], 30);
  for (std::uint32_t offset : {0u, 10u, 53u, 54u, 57u}) {
    EXPECT_FALSE(quiet_decode(put("offset.bmp", palette_bmp(4, 2, 4, 4, rows, offset)))) << offset;
  }
  std::vector<std::uint8_t> beyond = rows;
  beyond[1] = 0x24;  // entry 4 of a four-entry palette
  EXPECT_FALSE(quiet_decode(put("beyond.bmp", palette_bmp(4, 2, 4, 4, beyond))));
  // Past the last pixel and in the padding, bits are not pixels.
  EXPECT_TRUE(quiet_decode(put("pad.bmp", palette_bmp(3, 1, 4, 4, {0x01, 0x2F, 0xFF, 0xFF}))));
  EXPECT_FALSE(quiet_decode(put("one.bmp", palette_bmp(9, 1, 1, 1, {0x00, 0x80, 0, 0}))));
  EXPECT_TRUE(quiet_decode(put("one.bmp", palette_bmp(9, 1, 1, 1, {0x00, 0x7F, 0, 0}))));
  // Rows that end early are refused, counted from the offset.
  std::vector<std::uint8_t> cut = palette_bmp(4, 2, 4, 4, rows);
  cut.pop_back();
  EXPECT_FALSE(quiet_decode(put("cut.bmp", cut)));
}

// A BMP costs one bitmap: stb_image's buffer becomes the bitmap's storage. A
// 1-bit 4096 x 4096 file (2 MiB) grows the resident size by its 64 MiB bitmap,
// not by twice that.
TEST_F(HostileInputTest, BmpDecodesIntoOneBuffer) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  constexpr int SIDE = 4096;
  std::vector<std::uint8_t> rows(SIDE / 8 * SIDE);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<std::uint8_t>(i * 131);
  const std::string path = put("big.bmp", palette_bmp(SIDE, SIDE, 1, 2, rows));
  EXPECT_EXIT(
      {
        rusage before{};
        rusage after{};
        ::getrusage(RUSAGE_SELF, &before);
        const bool decoded = load_bitmap32(path).has_value();
        ::getrusage(RUSAGE_SELF, &after);
        const long grown_mib = (after.ru_maxrss - before.ru_maxrss) / 1024;
        std::_Exit(decoded && grown_mib < 96 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A progressive JPEG with its last scan repeated until it holds `scans` scans
// (libjpeg warns about the repeated refinements and decodes them).
std::vector<std::uint8_t> with_scans(const std::vector<std::uint8_t>& jpeg, int scans) {
  std::size_t last = jpeg.size() - 2;
  while (last > 0 && !(jpeg[last] == 0xFF && jpeg[last + 1] == 0xDA)) --last;
  int held = 0;
  for (std::size_t i = 0; i + 1 < jpeg.size(); ++i) held += jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA;
  std::vector<std::uint8_t> out(jpeg.begin(), jpeg.end() - 2);  // without the EOI
  for (; held < scans; ++held) out.insert(out.end(), jpeg.begin() + last, jpeg.end() - 2);
  out.insert(out.end(), {0xFF, 0xD9});
  return out;
}

// Every scan walks the whole coefficient buffer, so a file past the scan limit
// is refused before libjpeg allocates that buffer or decodes a scan: here an
// 8192 x 8192 one of 192 MB.
TEST_F(HostileInputTest, TooManyScansAreRefusedBeforeDecoding) {
  const std::vector<std::uint8_t> small = jpeg_bytes(16, 16, true);
  EXPECT_TRUE(quiet_decode(put("500.jpg", with_scans(small, 500))));
  EXPECT_FALSE(quiet_decode(put("501.jpg", with_scans(small, 501))));
  testing::expect_refused_cheaply(
      put("bomb.jpg", with_scans(patch_jpeg_size(small, 8192, 8192), 501)), 96 * 1024);
}

TEST_F(HostileInputTest, TinyAndThinImagesDecodeAtTheirSize) {
  for (const auto& [w, h] : {std::pair{1, 1}, {14, 14}, {1, 800}, {800, 1}}) {
    ASSERT_TRUE(testing::write_jpeg(dir.file("thin.jpg"), testing::test_picture(w, h)));
    ASSERT_TRUE(testing::write_png(dir.file("thin.png"), testing::test_picture(w, h)));
    for (const char* name : {"thin.jpg", "thin.png"}) {
      const std::optional<Bitmap32> b = quiet_decode(dir.file(name));
      ASSERT_TRUE(b.has_value()) << name << " " << w << "x" << h;
      EXPECT_EQ(b->width, w);
      EXPECT_EQ(b->height, h);
    }
  }
}

TEST_F(HostileInputTest, DamagedFilesOfEveryFormat) {
  std::vector<std::uint8_t> samples(7 * 5 * 4);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(testing::write_tiff(dir.file("s.tif"), 7, 5, 4, samples));
  testing::expect_damage_is_quiet({jpeg_bytes(24, 16), jpeg_bytes(24, 16, true), png_bytes(12, 9),
                                   gif_bytes(), testing::read_bytes(dir.file("s.tif")),
                                   testing::bmp_bytes(testing::test_picture(5, 3), false)},
                                  dir.path());
}

}  // namespace
}  // namespace lumvet
