// A test build of the stub that, once its window shows, tells it that the density of
// its monitor changed, as Windows does and Wine does not: WM_DPICHANGED with the pixels
// per inch and the suggested rectangle given in VEK_DPI_CHANGE as "DPI X Y W H".
#include <windows.h>

#include <stdlib.h>

#include "win32ui.h"

namespace {

int g_change[5];

DWORD WINAPI SendChange(void*) {
  HWND window = nullptr;
  for (int i = 0; i < 600 && !(window && IsWindowVisible(window)); ++i) {
    Sleep(100);
    window = vek::MainWindowHandle();
  }
  Sleep(1000);
  RECT suggested = {g_change[1], g_change[2], g_change[1] + g_change[3], g_change[2] + g_change[4]};
  const WPARAM dpi = MAKEWPARAM(g_change[0], g_change[0]);
  if (window) SendMessageW(window, WM_DPICHANGED, dpi, reinterpret_cast<LPARAM>(&suggested));
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
  char* next = getenv("VEK_DPI_CHANGE");
  if (!next) return 2;
  for (int& value : g_change) value = static_cast<int>(strtol(next, &next, 10));
  CloseHandle(CreateThread(nullptr, 0, SendChange, nullptr, 0, nullptr));
  return vek::StubMain(show_command, vek::PlatformDdemlEdge(), vek::PlatformShellLinkEdge());
}
