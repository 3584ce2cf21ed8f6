// The decoders' life cycle, observed in fresh processes (each death-test child
// re-runs this binary, so the record starts out as at program start), and the
// shrinking path of decode_image_file.
#include <cstdlib>

#include <gtest/gtest.h>

#include "imaging/imaging.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

class ImagingLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

bool is(ImagingState state, int starts, int stops) {
  const ImagingLibrary& lib = imaging_library();
  return lib.state == state && lib.start_count == starts && lib.stop_count == stops;
}

// At-exit checks, registered before the start so that they run after its stop.
void exit_42_if_stopped_once() {
  if (is(ImagingState::stopped, 1, 1)) std::_Exit(42);
}
void exit_43_if_never_started() {
  if (is(ImagingState::not_started, 0, 0)) std::_Exit(43);
}

TEST_F(ImagingLibraryTest, StartsOnceAndStopsOnce) {
  EXPECT_EXIT(
      {
        if (!is(ImagingState::not_started, 0, 0)) std::_Exit(1);
        start_imaging_library();
        start_imaging_library();
        if (!is(ImagingState::started, 1, 0)) std::_Exit(2);
        stop_imaging_library();
        stop_imaging_library();
        start_imaging_library();  // nothing restarts a stopped library
        if (!is(ImagingState::stopped, 1, 1)) std::_Exit(3);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(ImagingLibraryTest, ExitStopsAStartedLibrary) {
  EXPECT_EXIT(
      {
        std::atexit(exit_42_if_stopped_once);
        start_imaging_library();
        std::exit(0);
      },
      ::testing::ExitedWithCode(42), "");
}

TEST_F(ImagingLibraryTest, ExitWithoutStartDoesNothing) {
  EXPECT_EXIT(
      {
        std::atexit(exit_43_if_never_started);
        stop_imaging_library();  // a stop without a start is no stop
        std::exit(0);
      },
      ::testing::ExitedWithCode(43), "");
}

TEST(MulDiv, RoundsHalvesAwayFromZero) {
  EXPECT_EQ(mul_div(100, 3, 101), 3);  // 2.97
  EXPECT_EQ(mul_div(5, 1, 2), 3);
  EXPECT_EQ(mul_div(-5, 1, 2), -3);
  EXPECT_EQ(mul_div(7, 1, 3), 2);
  EXPECT_EQ(mul_div(1 << 30, 4, 2), -1);  // does not fit
  EXPECT_EQ(mul_div(1, 1, 0), -1);
  EXPECT_EQ(mul_div(100000, 100000, 100000), 100000);  // 64-bit product
}

TEST(ShrinkGeometry, FitsTheBoxKeepingTheAspectRatio) {
  struct Case {
    int w, h, mw, mh, want_w, want_h;
  } cases[] = {{400, 200, 100, 100, 100, 50},  {200, 400, 100, 100, 50, 100},
               {300, 300, 100, 100, 100, 100}, {101, 3, 100, 100, 100, 3},
               {150, 100, 150, 50, 75, 50},    {1 << 28, 1, 100, 1 << 30, 100, 0}};
  for (const Case& c : cases) {
    const ImageSize s = shrink_geometry(c.w, c.h, c.mw, c.mh);
    EXPECT_EQ(s.width, c.want_w) << c.w << "x" << c.h;
    EXPECT_EQ(s.height, c.want_h) << c.w << "x" << c.h;
  }
}

TEST(DecodeWithLimits, ShrinksOnlyWhenBothLimitsAreSetAndExceeded) {
  start_imaging_library();
  testing::ScopedTempDir dir;
  auto decoded_size = [&](int w, int h, int mw, int mh) {
    const std::string path = dir.file("image.png");
    EXPECT_TRUE(testing::write_png(path, testing::make_uniform_bitmap(w, h, 10, 20, 30)));
    const std::optional<Bitmap32> b = decode_image_file(path, mw, mh);
    return b ? std::array<int, 2>{b->width, b->height} : std::array<int, 2>{0, 0};
  };
  EXPECT_EQ(decoded_size(400, 200, 100, 100), (std::array<int, 2>{100, 50}));
  EXPECT_EQ(decoded_size(200, 400, 100, 100), (std::array<int, 2>{50, 100}));
  EXPECT_EQ(decoded_size(300, 300, 100, 100), (std::array<int, 2>{100, 100}));
  EXPECT_EQ(decoded_size(90, 90, 100, 100), (std::array<int, 2>{90, 90}));
  EXPECT_EQ(decoded_size(101, 3, 100, 100), (std::array<int, 2>{100, 3}));
  EXPECT_EQ(decoded_size(400, 200, 0, 100), (std::array<int, 2>{400, 200}));
  EXPECT_EQ(decoded_size(400, 200, 100, 0), (std::array<int, 2>{400, 200}));
  EXPECT_EQ(decoded_size(1000, 1, 100, 100), (std::array<int, 2>{0, 0}));  // height rounds to 0
}

TEST(ShrinkToBitmap, AveragesSourceBoxes) {
  // 4 x 2 columns 0, 100, 200, 255 (gray) into 2 x 1: (0 + 100)/2 and (200 + 255)/2 rounded.
  const Bitmap32 src = testing::make_test_bitmap(4, 2, [](int, int j, std::uint8_t* p) {
    const int v[4] = {0, 100, 200, 255};
    p[0] = p[1] = p[2] = static_cast<std::uint8_t>(v[j]);
  });
  const std::optional<Bitmap32> b = shrink_to_bitmap(src, 2, 2);
  ASSERT_TRUE(b.has_value());
  ASSERT_EQ(b->width, 2);
  ASSERT_EQ(b->height, 1);
  EXPECT_EQ(b->row(0)[0], 50);
  EXPECT_EQ(b->row(0)[4], 228);  // 227.5 rounds up
  EXPECT_EQ(b->row(0)[7], 255);
}

}  // namespace
}  // namespace lumvet
