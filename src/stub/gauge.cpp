#include "gauge.h"

#include "extended80.h"
#include "text.h"

namespace vek {

void TGauge::SetProgress(int32_t value) {
  if (value < MinValue) value = MinValue;
  if (value > MaxValue) value = MaxValue;
  if (value == progress_) return;
  const int32_t shown = PercentDone();
  progress_ = value;
  if (PercentDone() != shown && painter_) painter_->PaintGauge(*this);
}

int32_t TGauge::PercentDone() const {
  // With the range 0 to 100 the percentage is the progress itself.
  return (progress_ - MinValue) * 100 / (MaxValue - MinValue);
}

GaugePicture ComposeGauge(int width, int height, int32_t percent) {
  GaugePicture picture;
  picture.fill_left = 1;
  // The filled part ends before column Trunc(W × (percent × 0.01)), W being the width
  // less one, so that 100% reaches the frame on the right.
  picture.fill_right = GaugeFillColumn(width - 1, percent);
  picture.inner_top = 1;
  picture.inner_bottom = height - 1;
  TextBuilder(picture.text, sizeof picture.text).Decimal(percent < 0 ? 0 : percent).Text("%");
  return picture;
}

}  // namespace vek
