// The Windows side of the DDE end-to-end test: sets up DdeManager as the program does
// at start-up, puts a TProgMan on a form and registers the stub's own group and item
// ("NWM Tarnovista", C:\Tarnovista_3_99\INDEX.HTM as "Tarnovista 3_99"):
//
//   dde_e2e_client LOG_FILE [refuse|fallback]
//
// With "refuse" every connect is refused as if no server answered at all. With
// "fallback" the lines are UTF-8, a second item "Spis treści" (not ASCII, so never
// sent) is added, and the Start menu edge of the stub completes what the shell did not
// make; each shortcut it writes is logged ("shortcut NAME"), then the group outcome.
// The real DDEML edge is wrapped so that the calls the test looks at (connects, the
// server start, transactions) are written to LOG_FILE with their results, followed by
// the number of error events and CreateProgramGroup's result. Exit code 0 after the
// components are destroyed, 217 when the DDE manager could not be set up.
#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "ddeman.h"
#include "progman.h"
#include "shelllink.h"

namespace {

FILE* g_log = nullptr;

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(g_log, format, args);
  va_end(args);
  fputc('\n', g_log);
  fflush(g_log);
}

class LoggingEdge final : public vek::DdemlEdge {
 public:
  LoggingEdge(vek::DdemlEdge& edge, bool refuse) : edge_(edge), refuse_(refuse) {}

  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override { return edge_.GetModuleFileNameA(buffer, size); }
  uint32_t WinExec(const char* command_line, uint32_t show) override {
    uint32_t result = edge_.WinExec(command_line, show);
    Log("WinExec(\"%s\",%u) = %u", command_line, show, result);
    return result;
  }
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override {
    return edge_.GetWindowsDirectoryA(buffer, size);
  }
  uint32_t GetFileAttributesA(const char* path) override {
    uint32_t attributes = edge_.GetFileAttributesA(path);
    Log("GetFileAttributesA(\"%s\") = %s", path, attributes == vek::kInvalidFileAttributes ? "none" : "found");
    return attributes;
  }
  uint32_t DdeInitializeA(uint32_t* instance, vek::DdeCallback callback, uint32_t commands,
                          uint32_t reserved) override {
    return edge_.DdeInitializeA(instance, callback, commands, reserved);
  }
  uint32_t DdeGetLastError(uint32_t instance) override { return edge_.DdeGetLastError(instance); }
  bool DdeUninitialize(uint32_t instance) override { return edge_.DdeUninitialize(instance); }
  vek::HSZ DdeCreateStringHandleA(uint32_t instance, const char* text, int code_page) override {
    return edge_.DdeCreateStringHandleA(instance, text, code_page);
  }
  bool DdeFreeStringHandle(uint32_t instance, vek::HSZ hsz) override {
    return edge_.DdeFreeStringHandle(instance, hsz);
  }
  vek::HDDEDATA DdeNameService(uint32_t instance, vek::HSZ hsz1, vek::HSZ hsz2, uint32_t command) override {
    return edge_.DdeNameService(instance, hsz1, hsz2, command);
  }
  vek::HCONV DdeConnect(uint32_t instance, vek::HSZ service, vek::HSZ topic, vek::ConvContext* context) override {
    vek::HCONV conv = refuse_ ? 0 : edge_.DdeConnect(instance, service, topic, context);
    Log("DdeConnect(topic %s) = %s", topic ? "set" : "0", conv ? "conversation" : "0");
    return conv;
  }
  bool DdeDisconnect(vek::HCONV conv) override {
    Log("DdeDisconnect");
    return edge_.DdeDisconnect(conv);
  }
  uint32_t DdeQueryConvInfo(vek::HCONV conv, uint32_t transaction, vek::ConvInfo* info) override {
    return edge_.DdeQueryConvInfo(conv, transaction, info);
  }
  bool DdeSetUserHandle(vek::HCONV conv, uint32_t id, uintptr_t user) override {
    return edge_.DdeSetUserHandle(conv, id, user);
  }
  vek::HDDEDATA DdeCreateDataHandle(uint32_t instance, const uint8_t* source, uint32_t size, uint32_t offset,
                                    vek::HSZ item, uint32_t format, uint32_t commands) override {
    return edge_.DdeCreateDataHandle(instance, source, size, offset, item, format, commands);
  }
  vek::HDDEDATA DdeClientTransaction(vek::HDDEDATA data, uint32_t size, vek::HCONV conv, vek::HSZ item, uint32_t format,
                                     uint32_t type, uint32_t timeout, uint32_t* result) override {
    vek::HDDEDATA started = edge_.DdeClientTransaction(data, size, conv, item, format, type, timeout, result);
    Log("DdeClientTransaction(format %u) = %s", format, started ? "started" : "0");
    return started;
  }

 private:
  vek::DdemlEdge& edge_;
  bool refuse_;
};

class LoggingLinks final : public vek::ShellLinkEdge {
 public:
  bool CreateGroupFolder(const char* group, bool utf8) override {
    Log("folder %s", group);
    return edge_.CreateGroupFolder(group, utf8);
  }
  bool CreateShortcut(const char* group, const char* name, const char* target, const char* working_folder,
                      const char* icon_path, bool utf8) override {
    Log("shortcut %s", name);
    return edge_.CreateShortcut(group, name, target, working_folder, icon_path, utf8);
  }
  bool Exists(const char* group, const char* name, bool utf8) override { return edge_.Exists(group, name, utf8); }
  void Wait(uint32_t milliseconds) override { edge_.Wait(milliseconds); }

 private:
  vek::ShellLinkEdge& edge_ = vek::PlatformShellLinkEdge();
};

struct Events {
  int group_errors = 0;
  int item_errors = 0;
  void GroupError(vek::TComponent*) { ++group_errors; }
  void ItemError(vek::TComponent*) { ++item_errors; }
};

}  // namespace

int main(int argc, char** argv) {
  const bool refuse = argc == 3 && strcmp(argv[2], "refuse") == 0;
  const bool fallback = argc == 3 && strcmp(argv[2], "fallback") == 0;
  if ((argc != 2 && !refuse && !fallback) || !(g_log = fopen(argv[1], "wb"))) {
    fprintf(stderr, "usage: dde_e2e_client LOG_FILE [refuse|fallback]\n");
    return 2;
  }
  LoggingEdge edge(vek::PlatformDdemlEdge(), refuse);
  vek::TComponent* application = new vek::TComponent(nullptr);
  vek::Error error = vek::InitDdeManager(application, edge);
  if (!error.ok()) {
    char message[128];
    vek::FormatErrorMessage(error, message, sizeof message);
    Log("InitDdeManager: %s", message);
    return 217;
  }
  vek::TComponent* form = new vek::TComponent(application);
  vek::TProgMan* pm = new vek::TProgMan(form);
  pm->Name = "PM";
  Events events;
  pm->OnGroupError = vek::MakeNotifyEvent<&Events::GroupError>(&events);
  pm->OnItemError = vek::MakeNotifyEvent<&Events::ItemError>(&events);
  pm->programGroup = "NWM Tarnovista";
  pm->programItems().Add("C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99");
  LoggingLinks links;
  if (fallback) {
    pm->Utf8 = true;
    pm->ShortcutFallback = &links;
    pm->programItems().Add(
        "C:\\Tarnovista_3_99\\INDEX.HTM,Spis tre\xC5\x9B"
        "ci");
  }

  error = pm->CreateProgramGroup();
  Log("CreateProgramGroup = %s", error.ok() ? "ok" : "error");
  Log("OnGroupError %d", events.group_errors);
  Log("OnItemError %d", events.item_errors);
  if (fallback) Log("GroupOutcome %d", pm->GroupOutcome());

  // The program goes on to a modal message box, whose loop serves the DDE windows
  // for a while; do the same briefly before ending.
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < 500) {
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  }

  delete application;  // the form with PM first, then DdeManager
  Log("end");
  fclose(g_log);
  return 0;
}
