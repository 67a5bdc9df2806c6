// The DDEML edge of the Windows build: each call goes to the platform function of the
// same name with its arguments unchanged.
#include <windows.h>
#include <ddeml.h>

#include <stddef.h>

#include "ddemledge.h"

namespace vek {
namespace {

static_assert(sizeof(ConvInfo) == sizeof(CONVINFO), "ConvInfo mirrors CONVINFO");
static_assert(offsetof(ConvInfo, wFmt) == offsetof(CONVINFO, wFmt), "ConvInfo mirrors CONVINFO");
static_assert(offsetof(ConvInfo, ConvCtxt) == offsetof(CONVINFO, ConvCtxt), "ConvInfo mirrors CONVINFO");
static_assert(sizeof(ConvContext) == sizeof(CONVCONTEXT), "ConvContext mirrors CONVCONTEXT");
static_assert(offsetof(ConvContext, iCodePage) == offsetof(CONVCONTEXT, iCodePage), "ConvContext mirrors CONVCONTEXT");
static_assert(kXtypExecute == XTYP_EXECUTE && kXtypDisconnect == XTYP_DISCONNECT && kXtypConnect == XTYP_CONNECT &&
                  kXtypWildConnect == XTYP_WILDCONNECT && kXtypConnectConfirm == XTYP_CONNECT_CONFIRM,
              "transaction types agree with ddeml.h");
static_assert(kSwShowNormal == SW_SHOWNORMAL && kSwShowMinimized == SW_SHOWMINIMIZED &&
                  kSwShowMaximized == SW_SHOWMAXIMIZED && kSwShowMinNoActive == SW_SHOWMINNOACTIVE,
              "show-window commands agree with windows.h");
static_assert(kInvalidFileAttributes == INVALID_FILE_ATTRIBUTES && kFileAttributeDirectory == FILE_ATTRIBUTE_DIRECTORY,
              "file attributes agree with windows.h");

// DDEML knows one callback per instance; the program has one instance, so the portable
// callback is kept here and reached through a function of the platform's signature.
DdeCallback g_callback = nullptr;

::HDDEDATA CALLBACK Trampoline(UINT type, UINT format, ::HCONV conv, ::HSZ hsz1, ::HSZ hsz2, ::HDDEDATA data,
                               ULONG_PTR data1, ULONG_PTR data2) {
  if (!g_callback) return nullptr;
  return reinterpret_cast<::HDDEDATA>(g_callback(type, format, reinterpret_cast<vek::HCONV>(conv),
                                                 reinterpret_cast<vek::HSZ>(hsz1), reinterpret_cast<vek::HSZ>(hsz2),
                                                 reinterpret_cast<vek::HDDEDATA>(data), data1, data2));
}

::HCONV ToConv(vek::HCONV h) { return reinterpret_cast<::HCONV>(h); }
::HSZ ToHsz(vek::HSZ h) { return reinterpret_cast<::HSZ>(h); }

class Win32DdemlEdge final : public DdemlEdge {
 public:
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override {
    return ::GetModuleFileNameA(nullptr, buffer, size);
  }
  uint32_t WinExec(const char* command_line, uint32_t show) override { return ::WinExec(command_line, show); }
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override { return ::GetWindowsDirectoryA(buffer, size); }
  uint32_t GetFileAttributesA(const char* path) override { return ::GetFileAttributesA(path); }
  uint32_t DdeInitializeA(uint32_t* instance, DdeCallback callback, uint32_t commands, uint32_t reserved) override {
    g_callback = callback;
    DWORD id = *instance;
    UINT result = ::DdeInitializeA(&id, Trampoline, commands, reserved);
    *instance = id;
    return result;
  }
  uint32_t DdeGetLastError(uint32_t instance) override { return ::DdeGetLastError(instance); }
  bool DdeUninitialize(uint32_t instance) override { return ::DdeUninitialize(instance); }
  vek::HSZ DdeCreateStringHandleA(uint32_t instance, const char* text, int code_page) override {
    return reinterpret_cast<vek::HSZ>(::DdeCreateStringHandleA(instance, text, code_page));
  }
  bool DdeFreeStringHandle(uint32_t instance, vek::HSZ hsz) override {
    return ::DdeFreeStringHandle(instance, ToHsz(hsz));
  }
  vek::HDDEDATA DdeNameService(uint32_t instance, vek::HSZ hsz1, vek::HSZ hsz2, uint32_t command) override {
    return reinterpret_cast<vek::HDDEDATA>(::DdeNameService(instance, ToHsz(hsz1), ToHsz(hsz2), command));
  }
  vek::HCONV DdeConnect(uint32_t instance, vek::HSZ service, vek::HSZ topic, ConvContext* context) override {
    return reinterpret_cast<vek::HCONV>(
        ::DdeConnect(instance, ToHsz(service), ToHsz(topic), reinterpret_cast<CONVCONTEXT*>(context)));
  }
  bool DdeDisconnect(vek::HCONV conv) override { return ::DdeDisconnect(ToConv(conv)); }
  uint32_t DdeQueryConvInfo(vek::HCONV conv, uint32_t transaction, ConvInfo* info) override {
    return ::DdeQueryConvInfo(ToConv(conv), transaction, reinterpret_cast<CONVINFO*>(info));
  }
  bool DdeSetUserHandle(vek::HCONV conv, uint32_t id, uintptr_t user) override {
    return ::DdeSetUserHandle(ToConv(conv), id, user);
  }
  vek::HDDEDATA DdeCreateDataHandle(uint32_t instance, const uint8_t* source, uint32_t size, uint32_t offset,
                                    vek::HSZ item, uint32_t format, uint32_t commands) override {
    // DDEML only reads the source bytes.
    return reinterpret_cast<vek::HDDEDATA>(
        ::DdeCreateDataHandle(instance, const_cast<LPBYTE>(source), size, offset, ToHsz(item), format, commands));
  }
  vek::HDDEDATA DdeClientTransaction(vek::HDDEDATA data, uint32_t size, vek::HCONV conv, vek::HSZ item, uint32_t format,
                                     uint32_t type, uint32_t timeout, uint32_t* result) override {
    DWORD transaction_result = 0;
    ::HDDEDATA started = ::DdeClientTransaction(reinterpret_cast<LPBYTE>(data), size, ToConv(conv), ToHsz(item), format,
                                                type, timeout, &transaction_result);
    if (result) *result = transaction_result;
    return reinterpret_cast<vek::HDDEDATA>(started);
  }
};

}  // namespace

namespace {
// At namespace scope rather than inside the function: no guard variable, which would
// draw in the runtime's locking.
Win32DdemlEdge g_platform_edge;
}  // namespace

DdemlEdge& PlatformDdemlEdge() { return g_platform_edge; }

}  // namespace vek
