// The decoders' life cycle, observed in fresh processes (each death-test child
// re-runs this binary, so the record starts out as at program start), and the
// shrinking path of decode_image_file.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "imaging/imaging.h"
#include "tests/imaging/image_writers.h"
#include "tests/support/test_support.h"

namespace lumvet {
namespace {

bool is(ImagingState state, int starts, int stops) {
  const ImagingLibrary& lib = imaging_library();
  return lib.state == state && lib.start_count == starts && lib.stop_count == stops;
}

// At-exit check, registered before any start so that it runs after the stop:
// exits with 42 when the library was started and stopped once, 43 when never
// started nor stopped.
void exit_with_final_state() {
  if (is(ImagingState::stopped, 1, 1)) std::_Exit(42);
  if (is(ImagingState::not_started, 0, 0)) std::_Exit(43);
}

TEST(ImagingLibrary, StartsOnceAndStopsOnlyWhenStarted) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const bool fresh = is(ImagingState::not_started, 0, 0);
        start_imaging_library();
        start_imaging_library();
        const bool started = is(ImagingState::started, 1, 0);
        stop_imaging_library();
        stop_imaging_library();
        start_imaging_library();  // nothing restarts a stopped library
        std::_Exit(fresh && started && is(ImagingState::stopped, 1, 1) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        std::atexit(exit_with_final_state);
        start_imaging_library();
        std::exit(0);
      },
      ::testing::ExitedWithCode(42), "");
  EXPECT_EXIT(
      {
        std::atexit(exit_with_final_state);
        stop_imaging_library();  // a stop without a start is no stop
        std::exit(0);
      },
      ::testing::ExitedWithCode(43), "");
}

TEST(DecodeWithLimits, ShrinksOnlyWhenBothLimitsAreSetAndExceeded) {
  start_imaging_library();
  testing::ScopedTempDir dir;
  const struct {
    int w, h, max_w, max_h, want_w, want_h;
  } cases[] = {
      {400, 200, 100, 100, 100, 50}, {200, 400, 100, 100, 50, 100}, {300, 300, 100, 100, 100, 100},
      {90, 90, 100, 100, 90, 90},    {101, 3, 100, 100, 100, 3},    {400, 200, 0, 100, 400, 200},
      {400, 200, 100, 0, 400, 200},  {1000, 1, 100, 100, 0, 0},  // height rounds to 0: nothing
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(testing::write_png(dir.file("image.png"),
                                   testing::make_uniform_bitmap(c.w, c.h, 10, 20, 30)));
    const std::optional<Bitmap32> b = decode_image_file(dir.file("image.png"), c.max_w, c.max_h);
    EXPECT_EQ((b ? std::array{b->width, b->height} : std::array{0, 0}),
              (std::array{c.want_w, c.want_h}))
        << c.w << "x" << c.h << " into " << c.max_w << "x" << c.max_h;
  }
  // The sides are compared in 64 bits; a quotient that does not fit is -1.
  EXPECT_EQ(shrink_geometry(1 << 28, 1, 100, 1 << 30).width, 100);
  EXPECT_EQ(mul_div(1 << 30, 4, 2), -1);
  EXPECT_EQ(mul_div(1, 1, 0), -1);
}

TEST(ShrinkToBitmap, AveragesSourceBoxesRounded) {
  // 4 x 2 grey columns 0, 100, 200, 255 into 2 x 1: (0 + 100)/2, (200 + 255)/2 = 227.5.
  const Bitmap32 src = testing::make_test_bitmap(4, 2, [](int, int j, std::uint8_t* p) {
    p[0] = p[1] = p[2] = static_cast<std::uint8_t>(std::array{0, 100, 200, 255}[j]);
  });
  const std::optional<Bitmap32> b = shrink_to_bitmap(src, 2, 2);
  ASSERT_TRUE(b && b->width == 2 && b->height == 1);
  EXPECT_EQ(b->row(0)[0], 50);
  EXPECT_EQ(b->row(0)[4], 228);
  EXPECT_EQ(b->row(0)[7], 255);
}

}  // namespace
}  // namespace lumvet
