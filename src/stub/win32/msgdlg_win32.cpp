// ShowMessageBox's dialog. Built from an empty in-memory template; the icon, the text
// and the OK button are placed in pixels once the text's wrapped size is known.
#include "win32ui.h"

namespace vek {
namespace {

// Spacing in pixels at 96 pixels per inch.
constexpr int kMargin = 12;
constexpr int kIconSize = 32;
constexpr int kIconGap = 12;
constexpr int kButtonGap = 16;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kIdText = 100;
// The system's stop icon (IDI_HAND) and information icon (IDI_ASTERISK).
constexpr WORD kStopIcon = 32513;
constexpr WORD kInformationIcon = 32516;

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

struct DialogRequest {
  const wchar_t* text;
  MessageKind kind;
  HFONT font;
};

// Lays the dialog out for the pixels per inch of the monitor it is on; the request
// receives the font it made.
void Layout(HWND dialog, DialogRequest& request) {
  const int dpi = WindowDpi(dialog);
  const auto scaled = [dpi](int pixels) { return ScaleToDpi(pixels, dpi); };
  const int margin = scaled(kMargin), icon_size = scaled(kIconSize), icon_gap = scaled(kIconGap);
  const int button_width = scaled(kButtonWidth), button_height = scaled(kButtonHeight);

  // The system's message font, which it gives for the whole program's density.
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    LONG& height = metrics.lfMessageFont.lfHeight;
    // As MulDiv rounds, without its import; in int, as ScaleToDpi (a font's height
    // times a density stays far from the limit; no 64-bit division in the i686 stub).
    const int scaled_height = static_cast<int>(height) * dpi, screen = ScreenDpi();
    height = (scaled_height + (scaled_height < 0 ? -screen : screen) / 2) / screen;
    request.font = CreateFontIndirectW(&metrics.lfMessageFont);
  }
  if (!request.font) request.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

  // The text wrapped at word boundaries to at most half the screen's width.
  RECT text = {0, 0, GetSystemMetrics(SM_CXSCREEN) / 2, 0};
  HDC dc = GetDC(dialog);
  HGDIOBJ old = SelectObject(dc, request.font);
  DrawTextW(dc, request.text, -1, &text, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX | DT_LEFT);
  SelectObject(dc, old);
  ReleaseDC(dialog, dc);
  const int text_width = text.right, text_height = text.bottom;

  int client_width = margin + icon_size + icon_gap + text_width + margin;
  if (client_width < button_width + 2 * margin) client_width = button_width + 2 * margin;
  const int body_height = text_height > icon_size ? text_height : icon_size;
  const int button_top = margin + body_height + scaled(kButtonGap);
  const int client_height = button_top + button_height + margin;

  HINSTANCE instance = ApplicationInstance();
  HWND icon = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON, margin, margin, icon_size,
                              icon_size, dialog, nullptr, instance, nullptr);
  const WORD icon_id = request.kind == MessageKind::kError ? kStopIcon : kInformationIcon;
  SendMessageW(icon, STM_SETICON,
               reinterpret_cast<WPARAM>(
                   LoadImageW(nullptr, MAKEINTRESOURCEW(icon_id), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED)),
               0);
  const int text_top = margin + (text_height < icon_size ? (icon_size - text_height) / 2 : 0);
  HWND label = CreateWindowExW(0, L"STATIC", request.text, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX,
                               margin + icon_size + icon_gap, text_top, text_width, text_height, dialog,
                               reinterpret_cast<HMENU>(kIdText), instance, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(request.font), FALSE);
  HWND ok = CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                            (client_width - button_width) / 2, button_top, button_width, button_height, dialog,
                            reinterpret_cast<HMENU>(IDOK), instance, nullptr);
  SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(request.font), FALSE);
  SetFocus(ok);

  // Sized to fit, centred on the screen.
  RECT frame = {0, 0, client_width, client_height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(dialog, GWL_EXSTYLE)));
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  SetWindowPos(dialog, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      Layout(dialog, *reinterpret_cast<DialogRequest*>(lparam));
      return FALSE;  // the focus is on OK already
    case WM_COMMAND:
      // OK is both the default and the cancel button: Enter, Esc and a click close.
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      break;
    case WM_CLOSE: EndDialog(dialog, IDOK); return TRUE;
  }
  return FALSE;
}

}  // namespace

void DialogMessageBoxes::ShowMessageBox(const char* text, MessageKind kind) {
  WideText wide(text);
  DialogRequest request = {wide.get(), kind, nullptr};

  DialogTemplate dialog_template;
  MakeDialogTemplate(&dialog_template, kDialogStyle, nullptr, kind == MessageKind::kError ? L"Error" : L"Information");
  DialogBoxIndirectParamW(ApplicationInstance(), reinterpret_cast<LPCDLGTEMPLATEW>(dialog_template.words),
                          MainWindowHandle(), DialogProc, reinterpret_cast<LPARAM>(&request));
  if (request.font) DeleteObject(request.font);  // the stock font is left as it is
}

}  // namespace vek
