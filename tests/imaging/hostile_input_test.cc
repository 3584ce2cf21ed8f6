// Files that are not images, are damaged, or claim absurd sizes: each gives a clear
// result, and nothing is printed. Under the sanitizer build a huge allocation
// would abort the test, so the size refusals are checked there too.
#include <sys/resource.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "imaging/imaging.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

using testing::JpegColor;
using testing::JpegOptions;

Bitmap32 gradient(int width, int height) {
  return testing::make_test_bitmap(width, height, [](int i, int j, std::uint8_t* p) {
    p[0] = static_cast<std::uint8_t>(i * 5);
    p[1] = static_cast<std::uint8_t>(j * 3);
    p[2] = static_cast<std::uint8_t>(i * j);
  });
}

class HostileInputTest : public ::testing::Test {
 protected:
  void SetUp() override { start_imaging_library(); }

  // Decodes `path` with nothing printed; returns the result.
  std::optional<Bitmap32> quiet_decode(const std::string& path) {
    std::optional<Bitmap32> result;
    const std::string printed =
        testing::capture_process_output([&] { result = load_bitmap32(path); });
    EXPECT_EQ(printed, "") << path;
    return result;
  }

  std::vector<std::uint8_t> jpeg_bytes(int width, int height, const JpegOptions& options = {}) {
    const std::string path = dir.file("source.jpg");
    EXPECT_TRUE(testing::write_jpeg(path, gradient(width, height), options));
    return testing::read_bytes(path);
  }

  std::vector<std::uint8_t> png_bytes(int width, int height) {
    const std::string path = dir.file("source.png");
    EXPECT_TRUE(testing::write_png(path, gradient(width, height)));
    return testing::read_bytes(path);
  }

  testing::ScopedTempDir dir;
};

TEST_F(HostileInputTest, NotAnImageFile) {
  EXPECT_FALSE(quiet_decode(dir.file("missing.jpg")));
  testing::make_dir(dir.file("folder.jpg"));
  EXPECT_FALSE(quiet_decode(dir.file("folder.jpg")));
  testing::write_text(dir.file("empty.jpg"), "");
  EXPECT_FALSE(quiet_decode(dir.file("empty.jpg")));
  testing::write_text(dir.file("x.jpg"), "this is not a photograph\n");
  EXPECT_FALSE(quiet_decode(dir.file("x.jpg")));
  // A FIFO without a writer must neither block nor be read.
  ASSERT_EQ(::mkfifo(dir.file("fifo.jpg").c_str(), 0600), 0);
  EXPECT_FALSE(quiet_decode(dir.file("fifo.jpg")));
  // Only the signature of each format.
  for (const std::string& magic :
       {std::string("\xFF\xD8\xFF", 3), std::string("\x89PNG\r\n\x1A\n", 8), std::string("GIF89a"),
        std::string("II*\0", 4), std::string("BM")}) {
    testing::write_text(dir.file("magic_only"), magic);
    EXPECT_FALSE(quiet_decode(dir.file("magic_only"))) << magic;
  }
}

TEST_F(HostileInputTest, TruncatedJpegDecodesWhatIsThereLikeLibjpeg) {
  for (bool progressive : {false, true}) {
    std::vector<std::uint8_t> bytes =
        jpeg_bytes(64, 64, {90, 2, 2, progressive, 0, JpegColor::ycc});
    bytes.resize(bytes.size() * 2 / 3);
    const std::string path = dir.file("truncated.jpg");
    testing::write_bytes(path, bytes);
    const std::optional<Bitmap32> b = quiet_decode(path);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->width, 64);
    EXPECT_EQ(b->height, 64);
    testing::ReferenceImage reference;
    if (testing::djpeg_decode(path, dir.path(), reference)) {
      EXPECT_EQ(testing::compare_with_reference(*b, reference), "");
    }
  }
  // Cut inside the header: no image.
  std::vector<std::uint8_t> bytes = jpeg_bytes(16, 16);
  bytes.resize(100);
  testing::write_bytes(dir.file("header_only.jpg"), bytes);
  EXPECT_FALSE(quiet_decode(dir.file("header_only.jpg")));
}

TEST_F(HostileInputTest, CorruptAndTruncatedPng) {
  std::vector<std::uint8_t> bytes = png_bytes(32, 32);
  std::vector<std::uint8_t> corrupt = bytes;
  corrupt[corrupt.size() / 2] ^= 0x55;  // inside IDAT: the CRC no longer matches
  testing::write_bytes(dir.file("corrupt.png"), corrupt);
  EXPECT_FALSE(quiet_decode(dir.file("corrupt.png")));
  bytes.resize(bytes.size() - 40);
  testing::write_bytes(dir.file("truncated.png"), bytes);
  EXPECT_FALSE(quiet_decode(dir.file("truncated.png")));
}

// A JPEG whose frame header (SOF0, or SOF2 when progressive) claims width x height.
std::vector<std::uint8_t> patch_jpeg_size(std::vector<std::uint8_t> jpeg, bool progressive,
                                          int width, int height) {
  const std::uint8_t sof = progressive ? 0xC2 : 0xC0;
  std::size_t at = 2;
  while (at + 8 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] == sof)) ++at;
  if (at + 8 >= jpeg.size()) return {};
  jpeg[at + 5] = static_cast<std::uint8_t>(height >> 8),
            jpeg[at + 6] = static_cast<std::uint8_t>(height);
  jpeg[at + 7] = static_cast<std::uint8_t>(width >> 8),
            jpeg[at + 8] = static_cast<std::uint8_t>(width);
  return jpeg;
}

// Header fields patched to claim 60000 x 60000 pixels (14.4 GB as a bitmap).
TEST_F(HostileInputTest, HugeHeadersAreRefused) {
  constexpr std::uint8_t HI = 60000 >> 8, LO = 60000 & 0xFF;
  for (bool progressive : {false, true}) {
    const std::vector<std::uint8_t> jpeg = patch_jpeg_size(
        jpeg_bytes(16, 16, {90, 2, 2, progressive, 0, JpegColor::ycc}), progressive, 60000, 60000);
    ASSERT_FALSE(jpeg.empty());
    testing::write_bytes(dir.file("huge.jpg"), jpeg);
    EXPECT_FALSE(quiet_decode(dir.file("huge.jpg")));
  }
  std::vector<std::uint8_t> png = png_bytes(16, 16);
  for (int i : {16, 20}) png[i] = 0, png[i + 1] = 0, png[i + 2] = HI, png[i + 3] = LO;
  const uLong crc = crc32(0, png.data() + 12, 17);  // "IHDR" and its 13 bytes
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  testing::write_bytes(dir.file("huge.png"), png);
  EXPECT_FALSE(quiet_decode(dir.file("huge.png")));

  testing::GifFrame frame;
  frame.width = 2, frame.height = 2, frame.indices = {0, 1, 1, 0};
  ASSERT_TRUE(testing::write_gif(dir.file("huge.gif"), 2, 2, {0, 0, 0, 255, 255, 255}, {frame}));
  std::vector<std::uint8_t> gif = testing::read_bytes(dir.file("huge.gif"));
  gif[6] = gif[8] = 0xFF, gif[7] = gif[9] = 0xFF;  // screen 65535 x 65535
  testing::write_bytes(dir.file("huge.gif"), gif);
  EXPECT_FALSE(quiet_decode(dir.file("huge.gif")));

  std::vector<std::uint8_t> bmp = testing::bmp_bytes_24(gradient(4, 4), false);
  for (int i : {18, 22}) bmp[i] = LO, bmp[i + 1] = HI, bmp[i + 2] = 0, bmp[i + 3] = 0;
  testing::write_bytes(dir.file("huge.bmp"), bmp);
  EXPECT_FALSE(quiet_decode(dir.file("huge.bmp")));
}

// The refusal comes before the decoder's own allocations: a progressive JPEG
// decoder would otherwise zero a coefficient buffer of about 10 GB for this header.
// Measured in a fresh child process through its peak resident size.
TEST_F(HostileInputTest, HugeProgressiveJpegIsRefusedFromItsHeader) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = dir.file("huge_progressive.jpg");
  testing::write_bytes(
      path,
      patch_jpeg_size(jpeg_bytes(16, 16, {90, 2, 2, true, 0, JpegColor::ycc}), true, 60000, 60000));
  EXPECT_EXIT(
      {
        const bool refused = !load_bitmap32(path).has_value();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const bool small = usage.ru_maxrss < 512 * 1024;  // kilobytes
        std::_Exit(refused && small ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A GIF whose screen and frame claim 16000 x 16000 pixels (within the pixel
// limit) but whose data ends after a few bytes: refused before the 1 GiB screen
// is allocated, because frame lines are decoded before the bitmap is made.
TEST_F(HostileInputTest, ShortGifWithLargeFrameIsRefusedCheaply) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  testing::GifFrame frame;
  frame.width = 2, frame.height = 2, frame.indices = {0, 1, 1, 0};
  const std::string path = dir.file("large.gif");
  ASSERT_TRUE(testing::write_gif(path, 2, 2, {0, 0, 0, 255, 255, 255}, {frame}));
  std::vector<std::uint8_t> gif = testing::read_bytes(path);
  constexpr std::uint8_t HI = 16000 >> 8, LO = 16000 & 0xFF;
  gif[6] = gif[8] = LO, gif[7] = gif[9] = HI;  // logical screen
  std::size_t at = 13 + 3 * 2;                   // after the two-entry colour table
  while (at < gif.size() && gif[at] != 0x2C) ++at;  // skip extensions
  ASSERT_LT(at + 8, gif.size());
  gif[at + 5] = gif[at + 7] = LO, gif[at + 6] = gif[at + 8] = HI;  // frame size
  testing::write_bytes(path, gif);
  EXPECT_EXIT(
      {
        const bool refused = !load_bitmap32(path).has_value();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const bool small = usage.ru_maxrss < 256 * 1024;  // kilobytes
        std::_Exit(refused && small ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// A progressive 4:4:4 header claiming the largest allowed size would need a
// 1.5 GB coefficient buffer: beyond libjpeg's memory cap, so refused at once.
TEST_F(HostileInputTest, ProgressiveBeyondTheMemoryCapIsRefusedCheaply) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = dir.file("large_progressive.jpg");
  testing::write_bytes(path, patch_jpeg_size(jpeg_bytes(16, 16, {90, 1, 1, true, 0, JpegColor::ycc}),
                                             true, 16384, 16384));
  EXPECT_EXIT(
      {
        const bool refused = !load_bitmap32(path).has_value();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const bool small = usage.ru_maxrss < 256 * 1024;  // kilobytes
        std::_Exit(refused && small ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(HostileInputTest, TinyAndThinImagesDecodeAtTheirSize) {
  struct Size {
    int width, height;
  } sizes[] = {{1, 1}, {14, 14}, {1, 800}, {800, 1}};
  for (const Size& s : sizes) {
    const std::string jpg = dir.file("thin.jpg"), png = dir.file("thin.png");
    ASSERT_TRUE(testing::write_jpeg(jpg, gradient(s.width, s.height)));
    ASSERT_TRUE(testing::write_png(png, gradient(s.width, s.height)));
    for (const std::string& path : {jpg, png}) {
      const std::optional<Bitmap32> b = quiet_decode(path);
      ASSERT_TRUE(b.has_value()) << path << " " << s.width << "x" << s.height;
      EXPECT_EQ(b->width, s.width);
      EXPECT_EQ(b->height, s.height);
    }
  }
}

// Every truncation and a spread of single-byte changes of a small file of each
// format: whatever the outcome, no crash, no sanitizer report and no message.
TEST_F(HostileInputTest, DamagedFilesOfEveryFormat) {
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
  files.emplace_back("jpg", jpeg_bytes(24, 16));
  files.emplace_back("progressive.jpg", jpeg_bytes(24, 16, {90, 2, 2, true, 0, JpegColor::ycc}));
  files.emplace_back("png", png_bytes(12, 9));
  testing::GifFrame frame;
  frame.width = 5, frame.height = 3, frame.indices = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2};
  frame.transparent = 1;
  ASSERT_TRUE(testing::write_gif(dir.file("s.gif"), 5, 3, {1, 2, 3, 4, 5, 6, 7, 8, 9}, {frame}));
  files.emplace_back("gif", testing::read_bytes(dir.file("s.gif")));
  std::vector<std::uint8_t> samples(7 * 5 * 4);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(testing::write_tiff(dir.file("s.tif"), 7, 5, 4, samples));
  files.emplace_back("tif", testing::read_bytes(dir.file("s.tif")));
  files.emplace_back("bmp", testing::bmp_bytes_24(gradient(5, 3), false));

  const std::string path = dir.file("damaged");
  // A fresh file each time: truncating one in place makes ext4 flush it to disk.
  auto write_fresh = [&](const std::vector<std::uint8_t>& bytes) {
    std::remove(path.c_str());
    testing::write_bytes(path, bytes);
  };
  for (const auto& [name, bytes] : files) {
    std::string printed;
    int decoded = 0;
    printed = testing::capture_process_output([&] {
      for (std::size_t n = 0; n < bytes.size(); n += (n < 64 ? 1 : 7)) {
        write_fresh(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + n));
        decoded += load_bitmap32(path).has_value();
      }
      for (std::size_t i = 0; i < bytes.size(); i += 3) {
        for (std::uint8_t value : {0x00, 0xFF, 0x7F}) {
          std::vector<std::uint8_t> damaged = bytes;
          damaged[i] = value;
          write_fresh(damaged);
          if (const std::optional<Bitmap32> b = load_bitmap32(path)) {
            decoded += b->width > 0 && b->height > 0 && b->pixels != nullptr;
          }
        }
      }
    });
    EXPECT_EQ(printed, "") << name;
    EXPECT_GT(decoded, 0) << name;  // some damage is harmless; the loop did run
  }
}

}  // namespace
}  // namespace lumvet
