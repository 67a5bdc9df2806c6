// A test build of the stub: vekstub.exe in everything but its entry, which gives it a
// DDEML edge that no server ever answers (every connect is refused), so that the run
// has to write the Start-menu shortcut itself. With "nolinks" on its command line the
// shell-link edge saves nothing either, and the registration fails both ways. The
// switches (/S, /D=, /?) and a configuration work as in the stub.
#include <windows.h>

#include <string.h>

#include "win32ui.h"

namespace vek {
namespace {

class RefusingEdge final : public DdemlEdge {
 public:
  explicit RefusingEdge(DdemlEdge& edge) : edge_(edge) {}
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override { return edge_.GetModuleFileNameA(buffer, size); }
  uint32_t WinExec(const char* command_line, uint32_t show) override { return edge_.WinExec(command_line, show); }
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override {
    return edge_.GetWindowsDirectoryA(buffer, size);
  }
  uint32_t GetFileAttributesA(const char* path) override { return edge_.GetFileAttributesA(path); }
  uint32_t DdeInitializeA(uint32_t* instance, DdeCallback callback, uint32_t commands, uint32_t reserved) override {
    return edge_.DdeInitializeA(instance, callback, commands, reserved);
  }
  uint32_t DdeGetLastError(uint32_t instance) override { return edge_.DdeGetLastError(instance); }
  bool DdeUninitialize(uint32_t instance) override { return edge_.DdeUninitialize(instance); }
  HSZ DdeCreateStringHandleA(uint32_t instance, const char* text, int code_page) override {
    return edge_.DdeCreateStringHandleA(instance, text, code_page);
  }
  bool DdeFreeStringHandle(uint32_t instance, HSZ hsz) override { return edge_.DdeFreeStringHandle(instance, hsz); }
  HDDEDATA DdeNameService(uint32_t instance, HSZ hsz1, HSZ hsz2, uint32_t command) override {
    return edge_.DdeNameService(instance, hsz1, hsz2, command);
  }
  HCONV DdeConnect(uint32_t, HSZ, HSZ, ConvContext*) override { return 0; }  // nobody answers
  bool DdeDisconnect(HCONV conv) override { return edge_.DdeDisconnect(conv); }
  uint32_t DdeQueryConvInfo(HCONV conv, uint32_t transaction, ConvInfo* info) override {
    return edge_.DdeQueryConvInfo(conv, transaction, info);
  }
  bool DdeSetUserHandle(HCONV conv, uint32_t id, uintptr_t user) override {
    return edge_.DdeSetUserHandle(conv, id, user);
  }
  HDDEDATA DdeCreateDataHandle(uint32_t instance, const uint8_t* source, uint32_t size, uint32_t offset, HSZ item,
                               uint32_t format, uint32_t commands) override {
    return edge_.DdeCreateDataHandle(instance, source, size, offset, item, format, commands);
  }
  HDDEDATA DdeClientTransaction(HDDEDATA data, uint32_t size, HCONV conv, HSZ item, uint32_t format, uint32_t type,
                                uint32_t timeout, uint32_t* result) override {
    return edge_.DdeClientTransaction(data, size, conv, item, format, type, timeout, result);
  }

 private:
  DdemlEdge& edge_;
};

class NoLinks final : public ShellLinkEdge {
 public:
  bool CreateGroupFolder(const char*, bool) override { return false; }
  bool CreateShortcut(const char*, const char*, const char*, const char*, const char*, bool) override { return false; }
  bool Exists(const char*, const char*, bool) override { return false; }
  void Wait(uint32_t) override {}
};

NoLinks g_no_links;

}  // namespace
}  // namespace vek

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int show_command) {
  vek::RefusingEdge edge(vek::PlatformDdemlEdge());
  const bool no_links = command_line && strstr(command_line, "nolinks");
  return vek::StubMain(show_command, edge, no_links ? vek::g_no_links : vek::PlatformShellLinkEdge());
}
