// The program entry of the Windows stub: the stub's program with the platform's DDEML
// library and Start menu.
//
// The stub is linked without the C runtime's start-up files (-nostartfiles): it needs
// no argv, no wildcard expansion, no TLS callbacks, no pseudo relocations (the link
// refuses auto-imported data) and no stdio, so this entry does what is left of their
// work: it runs the static constructors, takes the show command from the start-up
// information, runs the program, runs the destructors that the constructors
// registered and ends the process with the program's exit code. msvcrt.dll still
// supplies malloc and the string functions; it initialises itself when it is loaded.
#include <windows.h>

#include "win32ui.h"

namespace {

using Routine = void (*)();

// Room for every static object with a destructor (a handful); one more is refused,
// as the runtime refuses one when it runs out of memory.
Routine g_exit_routines[32];
int g_exit_count = 0;

}  // namespace

extern "C" {

// The list that the linker script builds from the .ctors sections: a -1 marker, the
// constructors, a null.
extern Routine __CTOR_LIST__[];

// What a static object's constructor calls to have its destructor run at exit.
__attribute__((used)) int atexit(Routine routine) {
  if (g_exit_count == static_cast<int>(sizeof g_exit_routines / sizeof *g_exit_routines)) return -1;
  g_exit_routines[g_exit_count++] = routine;
  return 0;
}

#ifdef __i386__
__attribute__((force_align_arg_pointer))  // the loader aligns the stack to 4 bytes only
#endif
__attribute__((noreturn)) void
WinMainCRTStartup() {
  int count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  while (count > 0) __CTOR_LIST__[count--]();  // last first, as the runtime does

  STARTUPINFOW startup;
  GetStartupInfoW(&startup);
  const int show_command = startup.dwFlags & STARTF_USESHOWWINDOW ? startup.wShowWindow : SW_SHOWDEFAULT;
  const int code = vek::StubMain(show_command, vek::PlatformDdemlEdge(), vek::PlatformShellLinkEdge());

  while (g_exit_count > 0) g_exit_routines[--g_exit_count]();
  ExitProcess(static_cast<UINT>(code));
}

}  // extern "C"
