// The gauge window: composes its picture off-screen and copies it in one step, at
// once when the shown percentage changes and on WM_PAINT.
#include <stdlib.h>

#include "gauge.h"
#include "win32ui.h"

namespace vek {
namespace {

// The picture's percentage as UTF-16; returns its length.
int WidePercent(const GaugePicture& picture, wchar_t (&out)[kGaugeTextSize]) {
  int n = 0;
  for (; picture.text[n]; ++n) out[n] = static_cast<wchar_t>(picture.text[n]);
  out[n] = 0;
  return n;
}

class GaugeWindow final : public TGauge::Painter {
 public:
  explicit GaugeWindow(HWND window) : window_(window) {}

  void PaintGauge(const TGauge&) override {
    HDC dc = GetDC(window_);
    if (dc) {
      Paint(dc);
      ReleaseDC(window_, dc);
    }
    wchar_t text[kGaugeTextSize];
    WidePercent(ComposeGauge(0, 0, gauge_.PercentDone()), text);
    SetWindowTextW(window_, text);
  }

  void Paint(HDC dc) {
    RECT client;
    GetClientRect(window_, &client);
    const int width = client.right, height = client.bottom;
    if (width <= 0 || height <= 0) return;
    const GaugePicture picture = ComposeGauge(width, height, gauge_.PercentDone());

    HDC image = CreateCompatibleDC(dc);
    HDC text = CreateCompatibleDC(dc);
    HBITMAP image_bitmap = CreateCompatibleBitmap(dc, width, height);
    HBITMAP text_bitmap = CreateCompatibleBitmap(dc, width, height);
    if (image && text && image_bitmap && text_bitmap) {
      HGDIOBJ old_image = SelectObject(image, image_bitmap);
      HGDIOBJ old_text = SelectObject(text, text_bitmap);

      HBRUSH border = CreateSolidBrush(TGauge::BorderColor);
      HBRUSH back = CreateSolidBrush(TGauge::BackColor);
      HBRUSH fore = CreateSolidBrush(TGauge::ForeColor);
      FillRect(image, &client, border);
      RECT inner = {1, picture.inner_top, width - 1, picture.inner_bottom};
      FillRect(image, &inner, back);
      if (picture.fill_right > picture.fill_left) {
        RECT filled = {picture.fill_left, picture.inner_top, picture.fill_right, picture.inner_bottom};
        FillRect(image, &filled, fore);
      }

      // The percentage in white on black, laid over the bar with XOR: it inverts what
      // lies beneath, black on the white part and pale yellow on the navy part.
      FillRect(text, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
      HGDIOBJ old_font = font_ ? SelectObject(text, font_) : nullptr;
      SetTextColor(text, RGB(255, 255, 255));
      SetBkMode(text, TRANSPARENT);
      wchar_t label[kGaugeTextSize];
      const int n = WidePercent(picture, label);
      RECT area = client;
      DrawTextW(text, label, n, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      if (old_font) SelectObject(text, old_font);
      BitBlt(image, 0, 0, width, height, text, 0, 0, SRCINVERT);

      BitBlt(dc, 0, 0, width, height, image, 0, 0, SRCCOPY);

      DeleteObject(border);
      DeleteObject(back);
      DeleteObject(fore);
      SelectObject(text, old_text);
      SelectObject(image, old_image);
    }
    if (text_bitmap) DeleteObject(text_bitmap);
    if (image_bitmap) DeleteObject(image_bitmap);
    if (text) DeleteDC(text);
    if (image) DeleteDC(image);
  }

  TGauge& gauge() { return gauge_; }
  void set_font(HFONT font) { font_ = font; }
  HFONT font() const { return font_; }

  static void* operator new(size_t size) noexcept { return malloc(size); }
  static void operator delete(void* p) { free(p); }

 private:
  HWND window_;
  HFONT font_ = nullptr;
  TGauge gauge_{this};
};

GaugeWindow* Of(HWND window) { return reinterpret_cast<GaugeWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

LRESULT CALLBACK GaugeProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_NCCREATE: {
      GaugeWindow* gauge = new GaugeWindow(window);
      if (!gauge) return FALSE;
      SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(gauge));
      break;
    }
    case WM_NCDESTROY:
      delete Of(window);
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      break;
    case WM_SETFONT:
      if (GaugeWindow* gauge = Of(window)) gauge->set_font(reinterpret_cast<HFONT>(wparam));
      if (LOWORD(lparam)) InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      if (GaugeWindow* gauge = Of(window)) return reinterpret_cast<LRESULT>(gauge->font());
      return 0;
    case kGaugeSetProgress:
      if (GaugeWindow* gauge = Of(window)) gauge->gauge().SetProgress(static_cast<int32_t>(wparam));
      return 0;
    case WM_ERASEBKGND: return 1;  // the picture covers everything
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      if (GaugeWindow* gauge = Of(window)) gauge->Paint(dc);
      EndPaint(window, &ps);
      return 0;
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

bool RegisterGaugeClass(HINSTANCE instance) {
  WNDCLASSW gauge_class = {};
  gauge_class.lpfnWndProc = GaugeProc;
  gauge_class.hInstance = instance;
  gauge_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  gauge_class.lpszClassName = kGaugeClassName;
  return RegisterClassW(&gauge_class) != 0;
}

}  // namespace vek
