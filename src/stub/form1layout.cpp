// The main window's layout at a screen's density, and where on the screen it goes.
#include "veksfxu.h"

namespace vek {

int ScaleToDpi(int pixels, int dpi) {
  // In int: a layout length (under 1,000) times a density the system gives (under
  // 65,536) stays far from its limit.
  return (pixels * dpi + kLayoutPixelsPerInch / 2) / kLayoutPixelsPerInch;
}

Form1Layout ScaledLayout(int dpi) {
  // A copy of the layout kept with the constants, not with the variables.
  static constexpr Form1Layout kLayout;
  Form1Layout layout = kLayout;
  int* const lengths[] = {&layout.client_width, &layout.client_height, &layout.label1_room};
  for (int* length : lengths) *length = ScaleToDpi(*length, dpi);
  // The fonts rounded down: a text grows no more than the boxes around it, so that
  // a caption that fits its box at 96 still fits at 144.
  layout.font_height = layout.font_height * dpi / kLayoutPixelsPerInch;
  layout.control_font_height = layout.control_font_height * dpi / kLayoutPixelsPerInch;
  for (ControlLayout Form1Layout::*control : kForm1Controls) {
    ControlLayout& at = layout.*control;
    // Each edge scaled on its own, so that edges that line up at 96 still line up.
    const int right = ScaleToDpi(at.left + at.width, dpi), bottom = ScaleToDpi(at.top + at.height, dpi);
    at.left = ScaleToDpi(at.left, dpi);
    at.top = ScaleToDpi(at.top, dpi);
    at.width = right - at.left;
    at.height = bottom - at.top;
  }
  return layout;
}

void PlaceInArea(const ScreenArea& area, int width, int height, int* left, int* top) {
  if (*left + width > area.right) *left = area.right - width;
  if (*top + height > area.bottom) *top = area.bottom - height;
  if (*left < area.left) *left = area.left;
  if (*top < area.top) *top = area.top;
}

int FittingDpi(int dpi, const ScreenArea& area, int frame_width, int frame_height) {
  const Form1Layout layout;
  const int room_x = area.right - area.left - frame_width, room_y = area.bottom - area.top - frame_height;
  if (room_x <= 0 || room_y <= 0) return dpi;
  while (dpi > kLayoutPixelsPerInch &&
         (ScaleToDpi(layout.client_width, dpi) > room_x || ScaleToDpi(layout.client_height, dpi) > room_y)) {
    --dpi;
  }
  return dpi;
}

Form1Place PlaceForm1(int dpi, const ScreenArea& area, int frame_width, int frame_height, int left, int top,
                      bool dragged) {
  const Form1Layout layout;
  Form1Place place;
  place.dpi = FittingDpi(dpi, area, frame_width, frame_height);
  place.width = ScaleToDpi(layout.client_width, place.dpi) + frame_width;
  place.height = ScaleToDpi(layout.client_height, place.dpi) + frame_height;
  if (!dragged) PlaceInArea(area, place.width, place.height, &left, &top);
  place.left = left;
  place.top = top;
  return place;
}

}  // namespace vek
