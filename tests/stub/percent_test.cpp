// The gauge's arithmetic: the run's percentage and the gauge's fill column, computed
// with integers, against x86-64's 80-bit long double, and the gauge's state and
// picture.
#include <gtest/gtest.h>

#include <float.h>

#include <random>
#include <vector>

#include "extended80.h"
#include "gauge.h"
#include "veksfxu.h"

namespace vek {
namespace {

#if (defined(__x86_64__) || defined(__i386__)) && LDBL_MANT_DIG == 64 && !defined(_WIN32)
#define VEK_HAVE_X87_LONG_DOUBLE 1
// Linux runs the x87 with 64-bit precision: every long double operation rounds as the
// extended format does.
int32_t X87Percent(uint32_t i, uint32_t n) {
  volatile long double q = static_cast<long double>(i) / static_cast<long double>(n);
  volatile long double p = q * 100.0L;
  return static_cast<int32_t>(p);
}
int32_t X87FillColumn(int32_t w, int32_t percent) {
  volatile long double fraction = static_cast<long double>(percent) * 0.01L;
  volatile long double column = static_cast<long double>(w) * fraction;
  const int32_t c = static_cast<int32_t>(column);
  return c > w ? w : c;
}
#endif

uint32_t Gcd(uint32_t a, uint32_t b) {
  while (b) {
    uint32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// Which pairs can differ from the exact percentage, and why the comparison below may
// skip the others.
//
// Let y = 100 i / N exactly, q = i / N rounded to 64 significant bits and P = q × 100
// rounded again. Each rounding to nearest changes a value by at most 2^-64 of itself,
// so |P - y| <= y (2^-64 + 2^-64 + 2^-128) < 100 × 2^-62.9 < 2^-56. When y is not a
// whole number, its fractional part is a multiple of 1/N >= 1/65535, so y lies at
// least 1/65535 from every whole number, far more than 2^-56: P lies between the same
// two whole numbers as y and Trunc(P) = floor(y). This holds for the x87 and for any
// correct emulation alike. So the results can differ from floor(100 i / N) only where
// N divides 100 i, and there every pair is compared with the x87 itself. The other
// pairs are compared with floor(100 i / N) over whole ranges of N, which checks the
// emulation's arithmetic where nothing can go wrong for the x87.
TEST(ExtractionPercent, MatchesTheX87WhereverTheExactPercentageIsWhole) {
  uint64_t compared = 0;
  uint32_t differ = 0;
  for (uint32_t n = 1; n <= 65535; ++n) {
    const uint32_t step = n / Gcd(n, 100);  // i = step, 2 step, ...: N divides 100 i
    for (uint32_t i = step; i <= n; i += step) {
      const int32_t p = ExtractionPercent(i, n);
#ifdef VEK_HAVE_X87_LONG_DOUBLE
      ASSERT_EQ(p, X87Percent(i, n)) << i << "/" << n;
#endif
      const uint32_t exact = 100 * i / n;
      if (static_cast<uint32_t>(p) != exact) {
        ++differ;
        // Only 0.53 and 0.59, which give 52 and 58.
        ASSERT_EQ(n % 100, 0u) << i << "/" << n;
        ASSERT_TRUE((i * 100 == 53 * n && p == 52) || (i * 100 == 59 * n && p == 58))
            << i << "/" << n << " gives " << p;
      }
      ++compared;
    }
  }
  EXPECT_EQ(differ, 1310u);
  EXPECT_GT(compared, 300000u);  // the loop is not vacuous
}

TEST(ExtractionPercent, IsTheExactPercentageWhereverItIsNotWhole) {
  const struct { uint32_t first_n, last_n; } ranges[] = {{1, 2500}, {32700, 32800}, {65300, 65535}};
  for (const auto& r : ranges) {
    for (uint32_t n = r.first_n; n <= r.last_n; ++n) {
      for (uint32_t i = 1; i <= n; ++i) {
        if (100 * i % n == 0) continue;
        ASSERT_EQ(ExtractionPercent(i, n), static_cast<int32_t>(100 * i / n)) << i << "/" << n;
      }
    }
  }
}

TEST(ExtractionPercent, RandomPairsAgreeWithTheX87) {
#ifndef VEK_HAVE_X87_LONG_DOUBLE
  GTEST_SKIP() << "needs the x87's 80-bit long double at 64-bit precision";
#else
  std::mt19937 random(1999);
  for (int k = 0; k < 2000000; ++k) {
    const uint32_t n = 1 + random() % 65535;
    const uint32_t i = 1 + random() % n;
    ASSERT_EQ(ExtractionPercent(i, n), X87Percent(i, n)) << i << "/" << n;
  }
#endif
}

TEST(ExtendedArithmetic, RoundsQuotientsAndProductsToNearestEven) {
  // 1/3 = 0.0101...: after 64 significant bits comes 0.101..., more than half: up.
  const Extended third = ExtendedQuotient(1, 3);
  EXPECT_EQ(third.significand, 0xAAAAAAAAAAAAAAABull);
  EXPECT_EQ(third.exponent, -65);
  // 1/7 = 0.001001...: after 64 significant bits comes 0.001..., less than half: down.
  EXPECT_EQ(ExtendedQuotient(1, 7).significand, 0x9249249249249249ull);
  // 0.01 as the literal is stored.
  EXPECT_EQ(ExtendedOneHundredth().significand, 0xA3D70A3D70A3D70Aull);
  EXPECT_EQ(ExtendedOneHundredth().exponent, -70);
  // (2^64 - 1) × 1 is exact; (2^64 - 1) × 3 = 3 × 2^64 - 3 needs 66 bits and drops 01.
  const Extended all_ones{~0ull, 0};
  EXPECT_EQ(ExtendedProduct(all_ones, ExtendedFromInteger(1)).significand, ~0ull);
  const Extended times3 = ExtendedProduct(all_ones, ExtendedFromInteger(3));
  EXPECT_EQ(times3.significand, 0xBFFFFFFFFFFFFFFFull);
  EXPECT_EQ(times3.exponent, 2);
  // Ties, 65 bits to 64: (2^63 + 1) × 3 goes up to an even significand, (2^63 + 3) × 3
  // stays on one.
  EXPECT_EQ(ExtendedProduct({(1ull << 63) | 1, 0}, ExtendedFromInteger(3)).significand, 0xC000000000000002ull);
  EXPECT_EQ(ExtendedProduct({(1ull << 63) | 3, 0}, ExtendedFromInteger(3)).significand, 0xC000000000000004ull);
  EXPECT_EQ(ExtendedTrunc(ExtendedQuotient(1000, 7)), 142);
  EXPECT_EQ(ExtendedTrunc(ExtendedQuotient(1, 7)), 0);
}

TEST(GaugeFillColumn, MatchesTheX87ForEveryPercentageAndWidth) {
#ifndef VEK_HAVE_X87_LONG_DOUBLE
  GTEST_SKIP() << "needs the x87's 80-bit long double at 64-bit precision";
#else
  for (int32_t w = 0; w <= 4000; ++w) {
    for (int32_t percent = 0; percent <= 100; ++percent) {
      ASSERT_EQ(GaugeFillColumn(w, percent), X87FillColumn(w, percent)) << w << " " << percent;
    }
  }
#endif
}

class CountingPainter final : public TGauge::Painter {
 public:
  void PaintGauge(const TGauge& gauge) override { painted.push_back(gauge.PercentDone()); }
  std::vector<int32_t> painted;
};

TEST(Gauge, ClampsAndRepaintsAtOnceOnlyWhenThePercentageChanges) {
  CountingPainter painter;
  TGauge gauge(&painter);
  const struct {
    int32_t set, progress;
    bool paints;
  } steps[] = {
      {50, 50, true},   {50, 50, false},   {-7, 0, true},  {0, 0, false},
      {150, 100, true}, {100, 100, false}, {99, 99, true},
  };
  size_t paints = 0;
  for (const auto& s : steps) {
    gauge.SetProgress(s.set);
    EXPECT_EQ(gauge.Progress(), s.progress) << s.set;
    EXPECT_EQ(gauge.PercentDone(), s.progress) << s.set;
    if (s.paints) ++paints;
    EXPECT_EQ(painter.painted.size(), paints) << s.set;
  }
}

TEST(Gauge, PictureFillsBeforeTheTruncatedColumnAndWritesThePercentage) {
  // PB is 401 x 17: the frame is columns 0 and 400; 100% fills columns 1 to 399.
  const struct {
    int width, percent, fill_right;
    const char* text;
  } cases[] = {
      {401, 0, 0, "0%"},       {401, 1, 4, "1%"},   {401, 50, 200, "50%"},
      {401, 100, 400, "100%"}, {3, 100, 2, "100%"}, {10, 33, 2, "33%"},
  };
  for (const auto& c : cases) {
    const GaugePicture picture = ComposeGauge(c.width, 17, c.percent);
    EXPECT_EQ(picture.fill_left, 1);
    EXPECT_EQ(picture.fill_right, c.fill_right) << c.width << " " << c.percent;
    EXPECT_EQ(picture.inner_top, 1);
    EXPECT_EQ(picture.inner_bottom, 16);
    EXPECT_STREQ(picture.text, c.text);
  }
}

// The layout's corner (198, 118) at 192 pixels per inch: the window is 850 x 316.
// The layout is 417 x 139 at 96 pixels per inch; the frame here 16 x 39.
TEST(Placement, DrawsTheLayoutSmallerOnlyWhereItWouldNotFitTheScreen) {
  const struct {
    int dpi;
    ScreenArea area;
    int expected;
  } cases[] = {
      {192, {0, 0, 1920, 1040}, 192},                              // fits
      {192, {0, 0, 1000, 740}, 192},                               // 834 + 16 wide
      {192, {0, 0, 800, 600}, 180},                                // 417 * 180 / 96 = 781.9 -> 782 <= 800 - 16
      {144, {0, 0, 640, 440}, 143},   {96, {0, 0, 320, 200}, 96},  // never below the layout's own size
  };
  for (const auto& c : cases) EXPECT_EQ(FittingDpi(c.dpi, c.area, 16, 39), c.expected) << c.area.right;
}

TEST(Placement, KeepsTheLayoutsCornerWhereTheWindowFitsAndMovesItOnScreenElsewhere) {
  const struct {
    ScreenArea area;
    int width, height, left, top;
  } cases[] = {
      {{0, 0, 1920, 1040}, 850, 316, 198, 118},      // fits
      {{0, 0, 1000, 700}, 850, 316, 150, 118},       // runs off the right edge
      {{0, 0, 800, 560}, 850, 316, 0, 118},          // wider than the screen
      {{0, 0, 1000, 400}, 850, 316, 150, 84},        // and off the bottom
      {{1920, 0, 3840, 1040}, 850, 316, 1920, 118},  // a second monitor on the right
  };
  for (const auto& c : cases) {
    int left = 198, top = 118;
    PlaceInArea(c.area, c.width, c.height, &left, &top);
    EXPECT_EQ(left, c.left) << c.area.right;
    EXPECT_EQ(top, c.top) << c.area.bottom;
  }
}

// The layout at the usual densities: the sizes, and what must hold at any of them after
// rounding: each control inside the client area, the buttons clear of DE and of the
// fitted Label1, the bar and the footer ending where they do at 96.
TEST(Placement, ScalesTheLayoutWithoutOverlapsOrCutEdges) {
  const struct {
    int dpi, client_width, client_height, control_font;
    ControlLayout extract;
  } cases[] = {
      {96, 417, 139, 13, {334, 16, 75, 25}},
      {120, 521, 174, 16, {418, 20, 93, 31}},
      {144, 626, 209, 19, {501, 24, 113, 38}},  // 19.5: a font never rounds up
      {192, 834, 278, 26, {668, 32, 150, 50}},
  };
  for (const auto& c : cases) {
    const Form1Layout l = ScaledLayout(c.dpi);
    EXPECT_EQ(l.client_width, c.client_width) << c.dpi;
    EXPECT_EQ(l.client_height, c.client_height) << c.dpi;
    EXPECT_EQ(l.control_font_height, c.control_font) << c.dpi;
    EXPECT_EQ(l.EXTBTN.left, c.extract.left) << c.dpi;
    EXPECT_EQ(l.EXTBTN.width, c.extract.width) << c.dpi;
    EXPECT_EQ(l.EXTBTN.height, c.extract.height) << c.dpi;
    EXPECT_EQ(l.left, 198);  // the corner is the screen's, not scaled
    for (ControlLayout Form1Layout::*control : kForm1Controls) {
      const ControlLayout& at = l.*control;
      EXPECT_TRUE(at.left > 0 && at.top > 0 && at.left + at.width < l.client_width &&
                  at.top + at.height < l.client_height)
          << c.dpi;
    }
    EXPECT_LT(l.DE.left + l.DE.width, l.EXTBTN.left) << c.dpi;
    EXPECT_LE(l.Label1.left + l.label1_room, l.EXTBTN.left) << c.dpi;
    EXPECT_LT(l.EXTBTN.top + l.EXTBTN.height, l.QUITBTN.top) << c.dpi;
    EXPECT_EQ(l.PB.left + l.PB.width, l.Label2.left + l.Label2.width) << c.dpi;
    EXPECT_EQ(l.PB.left + l.PB.width, l.QUITBTN.left + l.QUITBTN.width) << c.dpi;
  }
}

// Where the window goes when it is made (the layout's corner) and when its density
// changes (the corner the system suggests); frame 16 x 39.
TEST(Placement, PutsTheWholeWindowInTheWorkAreaUnlessTheUserDragsIt) {
  const struct {
    int dpi;
    ScreenArea area;
    int left, top;
    bool dragged;
    Form1Place expected;
  } cases[] = {
      {192, {0, 0, 1920, 1040}, 198, 118, false, {192, 198, 118, 850, 317}},
      {192, {0, 0, 1000, 740}, 198, 118, false, {192, 150, 118, 850, 317}},
      {192, {0, 0, 800, 600}, 198, 118, false, {180, 2, 118, 798, 300}},
      // a second monitor at 144 to the right; the suggested corner still on the first
      {144, {1920, 0, 3840, 1040}, 1900, 1000, false, {144, 1920, 792, 642, 248}},
      {144, {1920, 0, 3840, 1040}, 1900, 1000, true, {144, 1900, 1000, 642, 248}},
  };
  for (const auto& c : cases) {
    const Form1Place p = PlaceForm1(c.dpi, c.area, 16, 39, c.left, c.top, c.dragged);
    const Form1Place& e = c.expected;
    EXPECT_TRUE(p.dpi == e.dpi && p.left == e.left && p.top == e.top && p.width == e.width && p.height == e.height)
        << c.area.right << ": " << p.dpi << " " << p.left << "," << p.top << " " << p.width << "x" << p.height;
  }
}

}  // namespace
}  // namespace vek
