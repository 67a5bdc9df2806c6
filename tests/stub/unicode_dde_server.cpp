// A "progman" stand-in for the configured installer's end-to-end test: a Unicode
// window that answers the DDE messages itself, as a shell's window does, and appends
// the exact UTF-16 bytes of every execute (with its terminating zero) to a file.
//
//   unicode_dde_server OUT_FILE
//
// It works without DDEML on its side because Wine's DDEML server takes UTF-16 holding
// characters above U+00FF for ANSI text and cuts it short; a client's Unicode commands
// reach a Unicode window unchanged. Once its window exists it creates OUT_FILE.ready;
// it ends when OUT_FILE.stop appears, or after two minutes. OUT_FILE.log gets one line
// per DDE message.
#include <windows.h>
#include <dde.h>

#include <stdio.h>
#include <wchar.h>

namespace {

wchar_t g_out[MAX_PATH];
wchar_t g_log[MAX_PATH];

void Log(const char* text) {
  if (FILE* f = _wfopen(g_log, L"ab")) {
    fprintf(f, "%s\n", text);
    fclose(f);
  }
}

LRESULT CALLBACK ServerProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  HWND client = reinterpret_cast<HWND>(wparam);
  switch (message) {
    case WM_DDE_INITIATE: {
      // Any topic of the service "progman" (or of no service named).
      wchar_t service[64] = L"";
      if (LOWORD(lparam)) GlobalGetAtomNameW(LOWORD(lparam), service, 64);
      if (LOWORD(lparam) && _wcsicmp(service, L"progman") != 0) return 0;
      Log("connect");
      const ATOM app = GlobalAddAtomW(L"progman"), topic = GlobalAddAtomW(L"PROGMAN");
      SendMessageW(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window), MAKELPARAM(app, topic));
      return 0;
    }
    case WM_DDE_EXECUTE: {
      HGLOBAL commands = reinterpret_cast<HGLOBAL>(lparam);
      const wchar_t* text = static_cast<const wchar_t*>(GlobalLock(commands));
      if (text) {
        const size_t units = GlobalSize(commands) / sizeof(wchar_t);
        const size_t length = wcsnlen(text, units);
        if (FILE* f = _wfopen(g_out, L"ab")) {
          fwrite(text, sizeof(wchar_t), length < units ? length + 1 : length, f);
          fclose(f);
        }
        GlobalUnlock(commands);
      }
      Log("execute");
      PostMessageW(client, WM_DDE_ACK, reinterpret_cast<WPARAM>(window),
                   PackDDElParam(WM_DDE_ACK, 0x8000, reinterpret_cast<UINT_PTR>(commands)));
      return 0;
    }
    case WM_DDE_TERMINATE:
      Log("disconnect");
      PostMessageW(client, WM_DDE_TERMINATE, reinterpret_cast<WPARAM>(window), 0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool Exists(const wchar_t* path) { return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 || wcslen(argv[1]) + 8 > MAX_PATH) {
    fprintf(stderr, "usage: unicode_dde_server OUT_FILE\n");
    return 2;
  }
  wchar_t ready[MAX_PATH], stop[MAX_PATH];
  _snwprintf(g_out, MAX_PATH, L"%ls", argv[1]);
  _snwprintf(g_log, MAX_PATH, L"%ls.log", argv[1]);
  _snwprintf(ready, MAX_PATH, L"%ls.ready", argv[1]);
  _snwprintf(stop, MAX_PATH, L"%ls.stop", argv[1]);

  WNDCLASSW server_class = {};
  server_class.lpfnWndProc = ServerProc;
  server_class.hInstance = GetModuleHandleW(nullptr);
  server_class.lpszClassName = L"VekUnicodeProgman";
  // A hidden top-level window: it receives the broadcast WM_DDE_INITIATE.
  if (!RegisterClassW(&server_class) ||
      !CreateWindowExW(0, server_class.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                       server_class.hInstance, nullptr)) {
    fprintf(stderr, "no window\n");
    return 1;
  }
  Log("ready");
  if (FILE* f = _wfopen(ready, L"w")) fclose(f);

  SetTimer(nullptr, 0, 100, nullptr);
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
      if (Exists(stop) || GetTickCount() - start > 120000) break;
      continue;
    }
    DispatchMessageW(&msg);
  }
  Log("stop");
  return 0;
}
