// TForm1 as a Win32 window: a modeless dialog of our own class "TForm1" whose controls
// are placed in pixels from the layout, scaled to the screen's pixels per inch, so the
// dialog manager gives the tab order, the default button, the accelerators and the
// initial focus. Texts are shown through the wide API.
//
// The click handlers are called from here; an Error that the run returns is shown by
// the default error report, and the window stays open.
#include <stdlib.h>

#include "gauge.h"
#include "win32ui.h"

namespace vek {
namespace {

constexpr int kIdLabel2 = 100;
constexpr int kIdLabel1 = 101;
constexpr int kIdPB = 102;
constexpr int kIdDE = 103;
constexpr int kIdEXTBTN = 104;
constexpr int kIdQUITBTN = 105;
constexpr int kControlCount = 6;  // Label2 to QUITBTN, in the order of kForm1Controls
// Room beside a button's caption, both sides together, at 96 pixels per inch.
constexpr int kButtonMargin = 12;

constexpr wchar_t kFormClassName[] = L"TForm1";
// bsSingle with biSystemMenu: a caption with the system menu and the close box, no
// minimise or maximise box, a frame that cannot be resized.
constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr int kLayoutProgress = 50;  // PB's Progress as laid out; FormCreate sets 0

HINSTANCE g_instance = nullptr;
HWND g_main = nullptr;
const wchar_t* g_start_destination = nullptr;
bool g_dragged = false;     // the user is moving the window
wchar_t g_title[MAX_PATH];  // a file name without its folder

uint16_t LowerCase(uint16_t c) {
  return static_cast<uint16_t>(
      reinterpret_cast<uintptr_t>(CharLowerW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(c)))));
}

constexpr bool SameText(const wchar_t* a, const wchar_t* b) { return *a == *b && (*a == 0 || SameText(a + 1, b + 1)); }

class Win32Form1 final : public TForm1Window, public TForm1 {
 public:
  Win32Form1(TComponent* owner, uint32_t archive_start_offset, const StubSettings& settings, ShellLinkEdge& links)
      : TForm1(owner, *this, PlatformFileEdge(), PlatformUninstallQueries(), PlatformThreads(), links,
               archive_start_offset, settings) {}

  ~Win32Form1() override {
    if (window_) DestroyWindow(window_);
    const HFONT fonts[] = {form_font_, control_font_, gauge_font_, label_font_};
    for (HFONT font : fonts) {
      if (font) DeleteObject(font);
    }
    if (Form1 == this) Form1 = nullptr;
  }

  // Creates the controls and lays them out; false when a window or font could not be
  // made.
  bool Build(HWND window) {
    window_ = window;
    // The dialog manager leaves the window's size, controls and fonts at a change of
    // density to Layout.
    if (auto behaviour = User32Function<BOOL(WINAPI*)(HWND, int, int)>("SetDialogDpiChangeBehavior")) {
      behaviour(window_, 1, 1);  // DDC_DISABLE_ALL
    }
    const StubSettings& settings = Settings();
    const char* const texts[] = {settings.footer,         settings.prompt,     "", "",
                                 settings.extract_button, settings.quit_button};
    // The window classes in one string, each control's at its offset: one address
    // to relocate instead of six.
    static constexpr wchar_t kClasses[] = L"STATIC\0TGauge\0EDIT\0BUTTON";
    static constexpr uint8_t kClassAt[] = {0, 0, 7, 14, 19, 19};
    static_assert(SameText(kClasses + 7, kGaugeClassName), "the gauge's class");
    const DWORD styles[] = {SS_CENTER | SS_NOPREFIX,     SS_LEFT | SS_NOPREFIX,         0,
                            WS_TABSTOP | ES_AUTOHSCROLL, WS_TABSTOP | BS_DEFPUSHBUTTON, WS_TABSTOP | BS_PUSHBUTTON};
    for (int i = 0; i < kControlCount; ++i) {
      if (!CreateWindowExW(i == kIdDE - kIdLabel2 ? WS_EX_CLIENTEDGE : 0, kClasses + kClassAt[i],
                           WideText(texts[i]).get(), WS_CHILD | WS_VISIBLE | styles[i], 0, 0, 0, 0, window_,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(kIdLabel2 + i)), g_instance, nullptr)) {
        return false;
      }
    }
    pb_ = GetDlgItem(window_, kIdPB);
    de_ = GetDlgItem(window_, kIdDE);
    const Form1Layout layout;
    const RECT corner = {layout.left, layout.top, layout.left + 1, layout.top + 1};
    if (!Layout(WindowDpi(window_), corner, false)) return false;
    SendMessageW(window_, DM_SETDEFID, kIdEXTBTN, 0);
    SendMessageW(pb_, kGaugeSetProgress, kLayoutProgress, 0);

    const int big = GetSystemMetrics(SM_CXICON), small = GetSystemMetrics(SM_CXSMICON);
    SendMessageW(window_, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadImageW(g_instance, L"MAINICON", IMAGE_ICON, big, big, 0)));
    SendMessageW(window_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadImageW(g_instance, L"MAINICON", IMAGE_ICON, small, small, 0)));
    return true;
  }

  // Lays the window out for a monitor of dpi pixels per inch: the fonts, every control,
  // and the window's size, its corner at `at`'s moved into the work area of the
  // monitor `at` lies on most (not while the user drags it). Used when the window is
  // made and when its density changes; false when a font could not be made.
  bool Layout(int dpi, const RECT& at, bool dragged) {
    RECT frame = {0, 0, 0, 0};
    using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);
    if (auto adjust = User32Function<AdjustForDpi>("AdjustWindowRectExForDpi")) {
      adjust(&frame, kFormStyle, FALSE, 0, static_cast<UINT>(dpi));
    } else {
      AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
    }
    ScreenArea area = {at.left, at.top, at.left + 0x10000, at.top + 0x10000};
    MONITORINFO monitor = {sizeof monitor, {}, {}, 0};
    if (GetMonitorInfoW(MonitorFromRect(&at, MONITOR_DEFAULTTONEAREST), &monitor)) {
      const RECT& work = monitor.rcWork;
      area = {work.left, work.top, work.right, work.bottom};
    }
    const Form1Place place =
        PlaceForm1(dpi, area, frame.right - frame.left, frame.bottom - frame.top, at.left, at.top, dragged);
    Form1Layout layout = ScaledLayout(place.dpi);

    const HFONT old[] = {form_font_, control_font_, gauge_font_, label_font_};
    label_font_ = nullptr;
    form_font_ = CreateLayoutFont(layout.font_height, true);
    control_font_ = CreateLayoutFont(layout.control_font_height, true);
    gauge_font_ = CreateLayoutFont(layout.font_height, false);
    // A configured installer's buttons as wide as the longer caption needs (a
    // language's may be longer than their room), what they need more taken from DE and
    // Label1 at their left. The stub's own keep their place.
    const int extra =
        Settings().utf8 ? ButtonsNeed(ScaleToDpi(kButtonMargin, place.dpi)) - layout.EXTBTN.width : 0;
    if (extra > 0) {
      layout.DE.width -= extra;
      layout.label1_room -= extra;
      ControlLayout* const buttons[] = {&layout.EXTBTN, &layout.QUITBTN};
      for (ControlLayout* button : buttons) {
        button->left -= extra;
        button->width += extra;
      }
    }
    const HFONT fonts[] = {control_font_, control_font_, gauge_font_, control_font_, form_font_, form_font_};
    for (int i = 0; i < kControlCount; ++i) {
      const ControlLayout& box = layout.*kForm1Controls[i];
      HWND control = GetDlgItem(window_, kIdLabel2 + i);
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fonts[i]), TRUE);
      SetWindowPos(control, nullptr, box.left, box.top, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (HFONT font : old) {
      if (font) DeleteObject(font);
    }
    if (!form_font_ || !control_font_ || !gauge_font_) return false;
    FitLabel(GetDlgItem(window_, kIdLabel1), layout.label1_room, layout.control_font_height);
    SetWindowPos(window_, nullptr, place.left, place.top, place.width, place.height, SWP_NOZORDER | SWP_NOACTIVATE);
    return true;
  }

  HWND window() const { return window_; }
  HWND de() const { return de_; }

  // TForm1Window
  AnsiString DEText() override {
    // A path: UTF-8, whatever the settings' encoding.
    int length = 0;
    wchar_t* wide = WindowTextAlloc(de_, &length);
    AnsiString text = wide ? NarrowText(wide, length, CP_UTF8) : AnsiString("", static_cast<size_t>(-1));
    free(wide);
    return text;
  }
  void SetDEText(const char* text) override { SetWindowTextW(de_, WideText(text).get()); }
  void SetCaption(const char* text) override { SetWindowTextW(window_, WideText(text).get()); }
  // Called once a file: the gauge hears only of a new value.
  void SetPBProgress(int32_t value) override {
    if (value == progress_) return;
    progress_ = value;
    SendMessageW(pb_, kGaugeSetProgress, static_cast<WPARAM>(value), 0);
  }
  void Close() override { PostQuitMessage(0); }
  AnsiString ModuleFileName() override { return ModuleFileNameUtf8(); }
  AnsiString AnsiCodePageText(const AnsiString& utf8) override { return vek::AnsiCodePageText(utf8); }
  // Only a configured installer opens anything: its texts, this path among them, are
  // UTF-8.
  void OpenInstalled(const AnsiString& path) override {
    ShellExecuteW(window_, L"open", WideText(path.c_str()).get(), nullptr, nullptr, SW_SHOWNORMAL);
  }

 private:
  // AutoSize: the label's box fits its caption. Never under the buttons: a caption
  // wider than the room before them (a long configured prompt, or a wider face standing
  // in for the layout's) gets a font as much smaller, and what still overflows is cut.
  // The width of the buttons' longer caption in their font, and margin.
  int ButtonsNeed(int margin) {
    HDC dc = GetDC(window_);
    HGDIOBJ old = SelectObject(dc, form_font_);
    int widest = 0;
    for (int id = kIdEXTBTN; id <= kIdQUITBTN; ++id) {
      int length = 0;
      wchar_t* text = WindowTextAlloc(GetDlgItem(window_, id), &length);
      RECT box = {0, 0, 0, 0};  // as the button draws it: the "&" of the Alt key underlines
      if (text && DrawTextW(dc, text, length, &box, DT_CALCRECT | DT_SINGLELINE) && box.right > widest) {
        widest = box.right;
      }
      free(text);
    }
    SelectObject(dc, old);
    ReleaseDC(window_, dc);
    return widest + margin;
  }

  void FitLabel(HWND label, int room, int height) {
    int length = 0;
    wchar_t* text = WindowTextAlloc(label, &length);
    if (!text) return;
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, control_font_);
    SIZE size;
    TEXTMETRICW metrics;
    if (GetTextExtentPoint32W(dc, text, length, &size) && size.cx > room &&
        (label_font_ = CreateLayoutFont(height * room / size.cx, true)) != nullptr) {
      SelectObject(dc, label_font_);
      SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(label_font_), TRUE);
    }
    if (GetTextExtentPoint32W(dc, text, length, &size) && GetTextMetricsW(dc, &metrics)) {
      SetWindowPos(label, nullptr, 0, 0, size.cx < room ? size.cx : room, metrics.tmHeight,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    free(text);
  }

  HWND window_ = nullptr;
  HWND pb_ = nullptr;
  int32_t progress_ = -1;  // the value the gauge was last given
  HWND de_ = nullptr;
  HFONT form_font_ = nullptr;
  HFONT control_font_ = nullptr;
  HFONT gauge_font_ = nullptr;
  HFONT label_font_ = nullptr;  // Label1's when its caption needs a smaller one
};

Win32Form1* FormOf(HWND window) { return reinterpret_cast<Win32Form1*>(GetWindowLongPtrW(window, DWLP_USER)); }

INT_PTR CALLBACK FormProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG: {
      Win32Form1* form = reinterpret_cast<Win32Form1*>(lparam);
      SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(form));
      if (!form->Build(window)) {
        DestroyWindow(window);
        return FALSE;
      }
      form->FormCreate(form);
      if (g_start_destination) SetWindowTextW(form->de(), g_start_destination);
      if (form->Settings().temp) SendMessageW(form->de(), EM_SETREADONLY, TRUE, 0);  // the run's own folder
      return FALSE;  // the focus goes to DE when the window is shown
    }
    case WM_COMMAND: {
      Win32Form1* form = FormOf(window);
      if (!form) break;
      const int id = LOWORD(wparam);
      if (id == kIdEXTBTN && HIWORD(wparam) == BN_CLICKED) {
        const Error error = form->EXTBTNClick(form);
        if (!error.ok()) ShowErrorReport(error);
      } else if (id == kIdQUITBTN && HIWORD(wparam) == BN_CLICKED) {
        form->QUITBTNClick(form);
      }
      // IDCANCEL (Esc) and IDOK do nothing: there is no cancel button.
      return TRUE;
    }
    case WM_CLOSE:  // the close box and Alt+F4: as Quit
      if (Win32Form1* form = FormOf(window)) form->QUITBTNClick(form);
      return TRUE;
    case WM_ENTERSIZEMOVE:
    case WM_EXITSIZEMOVE: g_dragged = message == WM_ENTERSIZEMOVE; break;
    case WM_DPICHANGED:
      // The monitor's density changed, or the window went to another monitor: the
      // layout for the new one, at the corner the system suggests.
      if (Win32Form1* form = FormOf(window)) {
        form->Layout(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam), g_dragged);
        return TRUE;
      }
      break;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT: {
      // Labels and the edit box write in black (clBlack).
      HDC dc = reinterpret_cast<HDC>(wparam);
      const int background = message == WM_CTLCOLOREDIT ? COLOR_WINDOW : COLOR_BTNFACE;
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkColor(dc, GetSysColor(background));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(background));
    }
    case WM_NCDESTROY:
      if (window == g_main) g_main = nullptr;
      break;
  }
  return FALSE;
}

}  // namespace

// ---- Shared helpers ----------------------------------------------------------------------

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : kLayoutPixelsPerInch;
}

int WindowDpi(HWND window) {
  auto for_window = User32Function<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  const int dpi = for_window ? static_cast<int>(for_window(window)) : 0;
  return dpi > 0 ? dpi : ScreenDpi();
}

HFONT CreateLayoutFont(int height, bool antialiased) {
  // The stub's own texts: the Central European character set, so that the Polish
  // letters have glyphs whatever the system's own code page. A publisher's, in any
  // script: the system's choice, which links in a font with the script's glyphs.
  LOGFONTW font = {};
  font.lfHeight = -height;
  font.lfWeight = FW_NORMAL;
  font.lfCharSet = TextsUtf8() ? DEFAULT_CHARSET : EASTEUROPE_CHARSET;
  font.lfQuality = antialiased ? DEFAULT_QUALITY : NONANTIALIASED_QUALITY;
  font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
  static_assert(sizeof kLayoutFontFace <= LF_FACESIZE);
  for (size_t i = 0; i < sizeof kLayoutFontFace; ++i)
    font.lfFaceName[i] = static_cast<unsigned char>(kLayoutFontFace[i]);
  return CreateFontIndirectW(&font);
}

const wchar_t* ApplicationTitleText() {
  if (g_title[0] == 0) {
    wchar_t* path = ModuleFileNameAlloc();
    if (path) {
      ApplicationTitle(reinterpret_cast<const uint16_t*>(path), LowerCase, reinterpret_cast<uint16_t*>(g_title),
                       sizeof g_title / sizeof g_title[0]);
    }
    free(path);
  }
  return g_title;
}

HINSTANCE ApplicationInstance() { return g_instance; }
HWND MainWindowHandle() { return g_main; }

void ShowErrorReport(const Error& error) {
  char text[kReportTextSize];
  FormatErrorReport(error, text, sizeof text);
  MessageBoxW(g_main, WideText(text).get(), ApplicationTitleText(), MB_OK | MB_ICONSTOP);
}

// ---- The main window -------------------------------------------------------------------

Error CreateForm1(TComponent* application, uint32_t archive_start_offset, const StubSettings& settings,
                  const wchar_t* destination, ShellLinkEdge& links) {
  g_start_destination = destination;
  g_instance = GetModuleHandleW(nullptr);
  if (!RegisterGaugeClass(g_instance)) return GeneralError("Error creating window class");
  WNDCLASSW form_class = {};
  form_class.lpfnWndProc = DefDlgProcW;
  form_class.cbWndExtra = DLGWINDOWEXTRA;
  form_class.hInstance = g_instance;
  form_class.hIcon =
      static_cast<HICON>(LoadImageW(g_instance, L"MAINICON", IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  form_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  form_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  form_class.lpszClassName = kFormClassName;
  if (!RegisterClassW(&form_class)) return GeneralError("Error creating window class");

  Win32Form1* form = new Win32Form1(application, archive_start_offset, settings, links);
  if (!form) return OutOfMemoryError();
  if (!form->LoadLayout()) return OutOfMemoryError();
  form->SetExtension(StubExtension());
  form->SetApps(&StubApps());

  // The window as laid out: style, no controls, no menu, class TForm1, caption Form1.
  DialogTemplate form_template;
  MakeDialogTemplate(&form_template, kFormStyle, kFormClassName, L"Form1");
  HWND window = CreateDialogIndirectParamW(g_instance, reinterpret_cast<LPCDLGTEMPLATEW>(form_template.words), nullptr,
                                           FormProc, reinterpret_cast<LPARAM>(form));
  if (!window) return GeneralError("Error creating window");
  g_main = window;
  Form1 = form;
  return NoError();
}

void RunForm1(int show_command) {
  Win32Form1* form = static_cast<Win32Form1*>(Form1);
  int show = SW_SHOWNORMAL;
  if (show_command == SW_SHOWMAXIMIZED || show_command == SW_SHOWMINNOACTIVE) show = show_command;
  ShowWindow(g_main, show);
  // {temp} without confirm: the window shows the gauge of a run that starts at once.
  if (form->Settings().temp && !form->Settings().confirm) PostMessageW(g_main, WM_COMMAND, kIdEXTBTN, 0);
  if (show != SW_SHOWMINNOACTIVE) {
    // First activation: the focus goes to DE with its whole text selected.
    SendMessageW(g_main, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(form->de()), TRUE);
  }
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (g_main && IsDialogMessageW(g_main, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace vek
