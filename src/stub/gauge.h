// The progress gauge PB: a horizontal bar from 0 to 100 with the percentage written
// over it. This is the gauge's state and the geometry of its picture; the Win32
// window paints it (gauge_win32.cpp).
#pragma once

#include <stdint.h>

namespace vek {

class TGauge {
 public:
  // Paints the gauge at once, without waiting for the message loop.
  class Painter {
   public:
    virtual ~Painter() = default;
    virtual void PaintGauge(const TGauge& gauge) = 0;
  };

  static constexpr int32_t MinValue = 0;
  static constexpr int32_t MaxValue = 100;
  // Colours as 0x00BBGGRR.
  static constexpr uint32_t ForeColor = 0x800000;  // navy
  static constexpr uint32_t BackColor = 0xFFFFFF;  // white
  static constexpr uint32_t BorderColor = 0x000000;

  explicit TGauge(Painter* painter) : painter_(painter) {}

  int32_t Progress() const { return progress_; }
  // Clamps value to MinValue..MaxValue; when the shown percentage changes, the gauge
  // is painted before this returns.
  void SetProgress(int32_t value);
  int32_t PercentDone() const;

 private:
  Painter* painter_;
  int32_t progress_ = 0;
};

// Room for the percentage the gauge shows ("100%") and its zero.
inline constexpr int kGaugeTextSize = 8;

// What the gauge shows in a client area of width × height pixels.
struct GaugePicture {
  // The 1-pixel black frame is the client area's outermost ring; inside it the
  // unfilled part is white and the filled part navy. The filled part spans columns
  // fill_left .. fill_right - 1 and rows inner_top .. inner_bottom - 1; none when
  // fill_right <= fill_left.
  int fill_left, fill_right;
  int inner_top, inner_bottom;
  char text[kGaugeTextSize];  // "%d%%", centred and drawn by inverting what lies beneath
};
GaugePicture ComposeGauge(int width, int height, int32_t percent);

}  // namespace vek
