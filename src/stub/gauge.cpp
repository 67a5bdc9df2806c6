#include "gauge.h"

#include "extended80.h"

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
  char* p = picture.text;
  int32_t value = percent < 0 ? 0 : percent;
  char digits[4];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0 && n < 3);
  while (n > 0) *p++ = digits[--n];
  *p++ = '%';
  *p = 0;
  return picture;
}

}  // namespace vek
