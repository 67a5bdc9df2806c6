// A DDE server for end-to-end tests: registers the service "progman", accepts a
// connect for any topic (the empty topic arrives as a wildcard connect), acknowledges
// every execute and appends its exact bytes to a file.
//
//   dde_recording_server OUT_FILE
//
// Once the service is registered it creates OUT_FILE.ready; it ends when OUT_FILE.stop
// appears, or after two minutes. OUT_FILE.log gets one line per DDE event.
#include <windows.h>
#include <ddeml.h>

#include <stdio.h>
#include <string.h>

namespace {

DWORD g_instance = 0;
HSZ g_service = nullptr;
char g_out[MAX_PATH];
char g_log[MAX_PATH];

void Log(const char* format, ...) {
  FILE* f = fopen(g_log, "ab");
  if (!f) return;
  va_list args;
  va_start(args, format);
  vfprintf(f, format, args);
  va_end(args);
  fputc('\n', f);
  fclose(f);
}

// Seconds since 1970 with microseconds, from the same clock as the shell's
// EPOCHREALTIME under Wine: when a conversation began, for the stub's benchmark.
double Now() {
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  ULONGLONG ticks = (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<double>(ticks - 116444736000000000ULL) / 1e7;
}

bool IsOurService(HSZ hsz) { return hsz == nullptr || DdeCmpStringHandles(hsz, g_service) == 0; }

HDDEDATA CALLBACK Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data, ULONG_PTR,
                           ULONG_PTR) {
  char topic[256] = "";
  if (hsz1) DdeQueryStringA(g_instance, hsz1, topic, sizeof topic, CP_WINANSI);
  switch (type) {
    case XTYP_CONNECT:
      Log("connect topic=\"%s\" at=%.6f", topic, Now());
      return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(IsOurService(hsz2)));
    case XTYP_WILDCONNECT: {
      Log("wildconnect topic=\"%s\" at=%.6f", topic, Now());
      if (!IsOurService(hsz2)) return nullptr;
      // One pair (service, topic) and the terminating empty pair.
      HSZPAIR pairs[2] = {{g_service, hsz1 ? hsz1 : g_service}, {nullptr, nullptr}};
      return DdeCreateDataHandle(g_instance, reinterpret_cast<LPBYTE>(pairs), sizeof pairs, 0, nullptr, CF_TEXT, 0);
    }
    case XTYP_EXECUTE: {
      DWORD size = DdeGetData(data, nullptr, 0, 0);
      static BYTE bytes[65536];
      if (size > sizeof bytes) size = sizeof bytes;
      DdeGetData(data, bytes, size, 0);
      FILE* f = fopen(g_out, "ab");
      if (f) {
        fwrite(bytes, 1, size, f);
        fclose(f);
      }
      Log("execute format=%u size=%lu", format, static_cast<unsigned long>(size));
      return reinterpret_cast<HDDEDATA>(static_cast<ULONG_PTR>(DDE_FACK));
    }
    case XTYP_DISCONNECT: Log("disconnect"); return nullptr;
    default: return nullptr;
  }
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || strlen(argv[1]) + 8 > MAX_PATH) {
    fprintf(stderr, "usage: dde_recording_server OUT_FILE\n");
    return 2;
  }
  snprintf(g_out, sizeof g_out, "%s", argv[1]);
  snprintf(g_log, sizeof g_log, "%s.log", argv[1]);
  char ready[MAX_PATH], stop[MAX_PATH];
  snprintf(ready, sizeof ready, "%s.ready", argv[1]);
  snprintf(stop, sizeof stop, "%s.stop", argv[1]);

  if (DdeInitializeA(&g_instance, Callback, CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS, 0) != DMLERR_NO_ERROR) {
    fprintf(stderr, "DdeInitializeA failed\n");
    return 1;
  }
  g_service = DdeCreateStringHandleA(g_instance, "progman", CP_WINANSI);
  if (!DdeNameService(g_instance, g_service, nullptr, DNS_REGISTER)) {
    fprintf(stderr, "DdeNameService failed: 0x%X\n", DdeGetLastError(g_instance));
    return 1;
  }
  Log("ready");
  if (FILE* f = fopen(ready, "w")) fclose(f);

  SetTimer(nullptr, 0, 100, nullptr);
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.hwnd == nullptr) {
      if (Exists(stop) || GetTickCount() - start > 120000) break;
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  Log("stop");
  DdeNameService(g_instance, g_service, nullptr, DNS_UNREGISTER);
  DdeFreeStringHandle(g_instance, g_service);
  DdeUninitialize(g_instance);
  return 0;
}
