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

constexpr wchar_t kFormClassName[] = L"TForm1";
// bsSingle with biSystemMenu: a caption with the system menu and the close box, no
// minimise or maximise box, a frame that cannot be resized.
constexpr DWORD kFormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr int kLayoutProgress = 50;  // PB's Progress as laid out; FormCreate sets 0

HINSTANCE g_instance = nullptr;
HWND g_main = nullptr;
const wchar_t* g_start_destination = nullptr;
int g_dpi = 0;
wchar_t g_title[MAX_PATH];  // a file name without its folder

uint16_t LowerCase(uint16_t c) {
  return static_cast<uint16_t>(
      reinterpret_cast<uintptr_t>(CharLowerW(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(c)))));
}

class Win32Form1 final : public TForm1Window, public TForm1 {
 public:
  Win32Form1(TComponent* owner, uint32_t archive_start_offset, const StubSettings& settings,
             ShellLinkEdge& links)
      : TForm1(owner, *this, PlatformFileEdge(), links, archive_start_offset, settings) {}

  ~Win32Form1() override {
    if (window_) DestroyWindow(window_);
    const HFONT fonts[] = {form_font_, control_font_, gauge_font_};
    for (HFONT font : fonts) {
      if (font) DeleteObject(font);
    }
    if (Form1 == this) Form1 = nullptr;
  }

  // Creates the controls from the layout; false when a window or font could not be made.
  bool Build(HWND window) {
    window_ = window;
    const Form1Layout layout;
    form_font_ = CreateLayoutFont(layout.font_height, true);
    control_font_ = CreateLayoutFont(layout.control_font_height, true);
    gauge_font_ = CreateLayoutFont(layout.font_height, false);
    if (!form_font_ || !control_font_ || !gauge_font_) return false;

    HWND label2 = Control(0, L"STATIC", Settings().footer, SS_CENTER | SS_NOPREFIX, layout.Label2,
                          kIdLabel2, control_font_);
    HWND label1 = Control(0, L"STATIC", Settings().prompt, SS_LEFT | SS_NOPREFIX, layout.Label1,
                          kIdLabel1, control_font_);
    pb_ = Control(0, kGaugeClassName, "", 0, layout.PB, kIdPB, gauge_font_);
    de_ = Control(WS_EX_CLIENTEDGE, L"EDIT", "", WS_TABSTOP | ES_AUTOHSCROLL, layout.DE, kIdDE,
                  control_font_);
    HWND extract = Control(0, L"BUTTON", Settings().extract_button, WS_TABSTOP | BS_DEFPUSHBUTTON,
                           layout.EXTBTN, kIdEXTBTN, form_font_);
    HWND quit = Control(0, L"BUTTON", Settings().quit_button, WS_TABSTOP | BS_PUSHBUTTON, layout.QUITBTN,
                        kIdQUITBTN, form_font_);
    if (!label2 || !label1 || !pb_ || !de_ || !extract || !quit) return false;
    FitLabel(label1);
    SendMessageW(window_, DM_SETDEFID, kIdEXTBTN, 0);
    SendMessageW(pb_, kGaugeSetProgress, kLayoutProgress, 0);

    // The client area and the outer position of the layout.
    RECT frame = {0, 0, Scaled(layout.client_width), Scaled(layout.client_height)};
    AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int left = layout.left, top = layout.top;
    MONITORINFO monitor = {sizeof monitor, {}, {}, 0};
    if (GetMonitorInfoW(MonitorFromPoint(POINT{left, top}, MONITOR_DEFAULTTONEAREST), &monitor)) {
      const RECT& work = monitor.rcWork;
      PlaceInArea({work.left, work.top, work.right, work.bottom}, width, height, &left, &top);
    }
    SetWindowPos(window_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);

    const int big = GetSystemMetrics(SM_CXICON), small = GetSystemMetrics(SM_CXSMICON);
    SendMessageW(window_, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadImageW(g_instance, L"MAINICON", IMAGE_ICON, big, big, 0)));
    SendMessageW(window_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadImageW(g_instance, L"MAINICON", IMAGE_ICON, small, small, 0)));
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
  HWND Control(DWORD ex_style, const wchar_t* window_class, const char* text, DWORD style,
               const ControlLayout& at, int id, HFONT font) {
    HWND control = CreateWindowExW(ex_style, window_class, WideText(text).get(),
                                   WS_CHILD | WS_VISIBLE | style, Scaled(at.left), Scaled(at.top),
                                   Scaled(at.width), Scaled(at.height), window_,
                                   reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), g_instance,
                                   nullptr);
    if (control) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
  }

  // AutoSize: the label's box fits its caption.
  void FitLabel(HWND label) {
    int length = 0;
    wchar_t* text = WindowTextAlloc(label, &length);
    if (!text) return;
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, control_font_);
    SIZE size;
    TEXTMETRICW metrics;
    if (GetTextExtentPoint32W(dc, text, length, &size) && GetTextMetricsW(dc, &metrics)) {
      // Never under the buttons: a long configured prompt is cut at their edge.
      const Form1Layout layout;
      const int room = Scaled(layout.EXTBTN.left - layout.Label1.left - 8);
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
};

Win32Form1* FormOf(HWND window) {
  return reinterpret_cast<Win32Form1*>(GetWindowLongPtrW(window, DWLP_USER));
}

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
    case WM_CLOSE:
      if (Win32Form1* form = FormOf(window)) form->Close();
      return TRUE;
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
  if (g_dpi == 0) {
    HDC screen = GetDC(nullptr);
    g_dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kLayoutPixelsPerInch;
    if (screen) ReleaseDC(nullptr, screen);
    if (g_dpi <= 0) g_dpi = kLayoutPixelsPerInch;
    RECT work, frame = {0, 0, 0, 0};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0) && AdjustWindowRectEx(&frame, kFormStyle, FALSE, 0)) {
      g_dpi = FittingDpi(g_dpi, {work.left, work.top, work.right, work.bottom}, frame.right - frame.left,
                         frame.bottom - frame.top);
    }
  }
  return g_dpi;
}

int Scaled(int pixels) { return ScaleToDpi(pixels, ScreenDpi()); }

HFONT CreateLayoutFont(int height, bool antialiased) {
  // The Central European character set, so that the Polish letters have glyphs
  // whatever the system's own code page.
  return CreateFontW(-Scaled(height), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, EASTEUROPE_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     antialiased ? DEFAULT_QUALITY : NONANTIALIASED_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, WideText(kLayoutFontFace).get());
}

const wchar_t* ApplicationTitleText() {
  if (g_title[0] == 0) {
    wchar_t* path = ModuleFileNameAlloc();
    if (path) {
      ApplicationTitle(reinterpret_cast<const uint16_t*>(path), LowerCase,
                       reinterpret_cast<uint16_t*>(g_title), sizeof g_title / sizeof g_title[0]);
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

Error CreateForm1(TComponent* application, uint32_t archive_start_offset,
                  const StubSettings& settings, const wchar_t* destination, ShellLinkEdge& links) {
  g_start_destination = destination;
  g_instance = GetModuleHandleW(nullptr);
  if (!RegisterGaugeClass(g_instance)) return GeneralError("Error creating window class");
  WNDCLASSW form_class = {};
  form_class.lpfnWndProc = DefDlgProcW;
  form_class.cbWndExtra = DLGWINDOWEXTRA;
  form_class.hInstance = g_instance;
  form_class.hIcon = LoadIconW(g_instance, L"MAINICON");
  form_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  form_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  form_class.lpszClassName = kFormClassName;
  if (!RegisterClassW(&form_class)) return GeneralError("Error creating window class");

  Win32Form1* form = new Win32Form1(application, archive_start_offset, settings, links);
  if (!form) return OutOfMemoryError();
  if (!form->LoadLayout()) return OutOfMemoryError();
  form->SetExtension(StubExtension());

  // The window as laid out: style, no controls, no menu, class TForm1, caption Form1.
  DialogTemplate form_template;
  MakeDialogTemplate(&form_template, kFormStyle, kFormClassName, L"Form1");
  HWND window = CreateDialogIndirectParamW(g_instance,
                                           reinterpret_cast<LPCDLGTEMPLATEW>(form_template.words),
                                           nullptr, FormProc, reinterpret_cast<LPARAM>(form));
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
