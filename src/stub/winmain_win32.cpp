// The program entry of the Windows stub: the stub's program with the platform's DDEML
// library and Start menu.
#include <windows.h>

#include "win32ui.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int show_command) {
  return vek::StubMain(show_command, vek::PlatformDdemlEdge(), vek::PlatformShellLinkEdge());
}
