// A helper of the stub's end-to-end test: describes a top-level window of the same
// desktop as text, so that the test can check what the user sees.
//
//   stub_probe OUT-FILE class:NAME|title:TEXT [SECONDS [ok|close]]
//
// Waits up to SECONDS (default 30) for a visible window of that class or exact
// caption, then writes to OUT-FILE (UTF-8, one item per line):
//
//   window class=TForm1 title=... enabled=1
//   closebox X Y          the centre of the close box, in screen coordinates
//   focus ID              the control that has the keyboard focus (0: none)
//   child ID CLASS X Y W H text=...     one per child, screen coordinates
//   selection ID START END              for edit controls
//
// The file is written under another name and renamed, so that it appears complete.
// With "ok", the window's OK button is then pressed through a message, whichever
// window has the keyboard focus; with "close", the window is asked to close. Exit code 0 when the window was found, 1
// when not.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

FILE* g_out = nullptr;

void PutUtf8(const wchar_t* text) {
  char buffer[2048];
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  if (n > 0) fputs(buffer, g_out);
}

struct Search {
  const wchar_t* window_class = nullptr;
  const wchar_t* title = nullptr;
  HWND found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM data) {
  Search* search = reinterpret_cast<Search*>(data);
  if (!IsWindowVisible(window)) return TRUE;
  wchar_t text[512];
  if (search->window_class) {
    GetClassNameW(window, text, 512);
    if (wcscmp(text, search->window_class) == 0) search->found = window;
  } else {
    GetWindowTextW(window, text, 512);
    if (wcscmp(text, search->title) == 0) search->found = window;
  }
  return search->found ? FALSE : TRUE;
}

BOOL CALLBACK DescribeChild(HWND child, LPARAM) {
  wchar_t class_name[64], text[1024];
  GetClassNameW(child, class_name, 64);
  // WM_GETTEXT, not GetWindowText: across processes only the message reads an edit
  // control's text.
  DWORD_PTR got = 0;
  text[0] = 0;
  SendMessageTimeoutW(child, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &got);
  RECT r;
  GetWindowRect(child, &r);
  const int id = GetDlgCtrlID(child);
  fprintf(g_out, "child %d ", id);
  PutUtf8(class_name);
  fprintf(g_out, " %ld %ld %ld %ld text=", r.left, r.top, r.right - r.left, r.bottom - r.top);
  PutUtf8(text);
  fputc('\n', g_out);
  if (_wcsicmp(class_name, L"Edit") == 0) {
    DWORD_PTR selection = 0;
    SendMessageTimeoutW(child, EM_GETSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &selection);
    fprintf(g_out, "selection %d %u %u\n", id, static_cast<unsigned>(LOWORD(selection)),
            static_cast<unsigned>(HIWORD(selection)));
    if (GetWindowLongW(child, GWL_STYLE) & ES_READONLY) fprintf(g_out, "readonly %d\n", id);
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: stub_probe OUT-FILE class:NAME|title:TEXT [SECONDS [ok|close]]\n");
    return 2;
  }
  Search search;
  if (wcsncmp(argv[2], L"class:", 6) == 0) {
    search.window_class = argv[2] + 6;
  } else if (wcsncmp(argv[2], L"title:", 6) == 0) {
    search.title = argv[2] + 6;
  } else {
    return 2;
  }
  const DWORD seconds = argc > 3 ? wcstoul(argv[3], nullptr, 10) : 30;
  const DWORD start = GetTickCount();
  while (!search.found) {
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&search));
    if (search.found) break;
    if (GetTickCount() - start > seconds * 1000) return 1;
    Sleep(100);
  }
  HWND window = search.found;

  wchar_t temp[MAX_PATH + 8];
  swprintf(temp, MAX_PATH + 8, L"%ls.part", argv[1]);
  g_out = _wfopen(temp, L"wb");
  if (!g_out) return 2;

  wchar_t class_name[64], title[512];
  GetClassNameW(window, class_name, 64);
  GetWindowTextW(window, title, 512);
  fputs("window class=", g_out);
  PutUtf8(class_name);
  fputs(" title=", g_out);
  PutUtf8(title);
  fprintf(g_out, " enabled=%d\n", IsWindowEnabled(window) ? 1 : 0);

  TITLEBARINFO bar = {};
  bar.cbSize = sizeof bar;
  if (GetTitleBarInfo(window, &bar)) {
    // The close box is the title bar's rightmost button.
    const RECT& title_bar = bar.rcTitleBar;
    fprintf(g_out, "closebox %ld %ld\n", title_bar.right - GetSystemMetrics(SM_CXSIZE) / 2 - 1,
            (title_bar.top + title_bar.bottom) / 2);
  }

  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  int focus = 0;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) && info.hwndFocus &&
      GetParent(info.hwndFocus) == window) {
    focus = GetDlgCtrlID(info.hwndFocus);
  }
  fprintf(g_out, "focus %d\n", focus);
  EnumChildWindows(window, DescribeChild, 0);
  fclose(g_out);
  if (!MoveFileExW(temp, argv[1], MOVEFILE_REPLACE_EXISTING)) return 2;
  if (argc > 4 && wcscmp(argv[4], L"ok") == 0) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, IDOK)));
  }
  if (argc > 4 && wcscmp(argv[4], L"close") == 0) PostMessageW(window, WM_CLOSE, 0, 0);
  return 0;
}
