// The program an installer's "run" starts in the end-to-end test: writes its working
// folder, then each argument, one a line (UTF-8), into the file that the environment
// variable VEK_RUN_PROBE names, and whether the packed data/notes.txt is there; exits 7.
#include <windows.h>

#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  const wchar_t* out = _wgetenv(L"VEK_RUN_PROBE");
  FILE* file = out ? _wfopen(out, L"wb") : nullptr;
  if (!file) return 120;
  wchar_t folder[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, folder);
  char line[4 * MAX_PATH];
  WideCharToMultiByte(CP_UTF8, 0, folder, -1, line, sizeof line, nullptr, nullptr);
  fprintf(file, "folder=%s\n", line);
  for (int i = 1; i < argc; ++i) {
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, line, sizeof line, nullptr, nullptr);
    fprintf(file, "arg=%s\n", line);
  }
  fprintf(file, "notes=%d\n", GetFileAttributesW(L"data\\notes.txt") != INVALID_FILE_ATTRIBUTES);
  fclose(file);
  return 7;
}
