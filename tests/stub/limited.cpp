// Runs its command line (after its own name) with this process's limited token, as a
// user's program runs under UAC, waits for it and exits with its exit code. Wine starts
// every program elevated; its linked token is the one without the full rights.
//
//   stub_limited.exe PROGRAM [ARGUMENTS]
#include <windows.h>

#include <stdio.h>

int wmain() {
  const wchar_t* line = GetCommandLineW();
  const wchar_t end = *line == L'"' ? L'"' : L' ';
  for (line += end == L'"'; *line && *line != end; ++line) {
  }
  if (*line == L'"') ++line;
  while (*line == L' ') ++line;
  HANDLE token;
  TOKEN_LINKED_TOKEN linked;
  DWORD size;
  if (!*line || !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) ||
      !GetTokenInformation(token, TokenLinkedToken, &linked, sizeof linked, &size)) {
    fprintf(stderr, "stub_limited: no linked token (%lu)\n", GetLastError());
    return 120;
  }
  TOKEN_ELEVATION elevation;
  if (!GetTokenInformation(linked.LinkedToken, TokenElevation, &elevation, sizeof elevation, &size) ||
      elevation.TokenIsElevated) {
    fprintf(stderr, "stub_limited: the linked token is elevated\n");
    return 121;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  wchar_t* command = _wcsdup(line);
  if (!CreateProcessAsUserW(linked.LinkedToken, nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process)) {
    fprintf(stderr, "stub_limited: cannot start %ls (%lu)\n", line, GetLastError());
    return 122;
  }
  DWORD code = 123;
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
