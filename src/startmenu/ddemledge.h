// The DDEML edge: every call of the DDE layer into the Windows DDE management library
// (DDEML), and the other Windows functions it needs (GetModuleFileNameA, WinExec, and
// GetWindowsDirectoryA with GetFileAttributesA to find a server program), goes
// through this interface.
//
// The Win32 implementation (ddemledge_win32.cpp) forwards each call unchanged; a
// recording fake under tests/ plays the server side for the native unit tests. The
// methods carry the Win32 names and argument lists so that a recorded call reads like
// the platform call it stands for. The handle types are plain integers here, so the
// portable logic compiles without windows.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace vek {

// DDEML handles, as integers wide enough for the platform's pointers.
using HCONV = uintptr_t;     // conversation
using HSZ = uintptr_t;       // string handle
using HDDEDATA = uintptr_t;  // data handle (also a transaction's result)

// The callback registered with DdeInitializeA.
using DdeCallback = HDDEDATA (*)(uint32_t type, uint32_t format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                 uintptr_t data1, uintptr_t data2);

// Transaction types: the one this program starts, and those its callback answers.
inline constexpr uint32_t kXtypExecute = 0x4050;
inline constexpr uint32_t kXtypConnect = 0x1062;
inline constexpr uint32_t kXtypConnectConfirm = 0x8072;
inline constexpr uint32_t kXtypDisconnect = 0x80C2;
inline constexpr uint32_t kXtypWildConnect = 0x20E2;

inline constexpr uint32_t kQidSync = 0xFFFFFFFF;       // DdeQueryConvInfo: no transaction
inline constexpr uint32_t kTimeoutAsync = 0xFFFFFFFF;  // DdeClientTransaction: do not wait
inline constexpr uint32_t kDataIsHandle = 0xFFFFFFFF;  // DdeClientTransaction: pData is a handle
inline constexpr int kCpWinAnsi = 1004;
inline constexpr uint32_t kDnsRegister = 1;
inline constexpr uint32_t kDnsUnregister = 2;
inline constexpr uint32_t kCfText = 1;
// Show-window commands.
inline constexpr uint32_t kSwShowNormal = 1;
inline constexpr uint32_t kSwShowMinimized = 2;
inline constexpr uint32_t kSwShowMaximized = 3;
inline constexpr uint32_t kSwShowMinNoActive = 7;

// WinExec returns a value of at least this when the program was started.
inline constexpr uint32_t kWinExecStarted = 32;

// GetFileAttributesA: no such file; the attribute of a folder.
inline constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFF;
inline constexpr uint32_t kFileAttributeDirectory = 0x10;

// The platform's CONVCONTEXT, member for member (36 bytes on every Windows).
struct ConvContext {
  uint32_t cb;
  uint32_t wFlags;
  uint32_t wCountryID;
  int32_t iCodePage;
  uint32_t dwLangID;
  uint32_t dwSecurity;
  struct {
    uint32_t Length;
    uint32_t ImpersonationLevel;
    uint8_t ContextTrackingMode;
    uint8_t EffectiveOnly;
  } qos;
};
static_assert(sizeof(ConvContext) == 36, "CONVCONTEXT is 36 bytes");

// The platform's CONVINFO, member for member: 96 bytes for 32-bit Windows, 144 for
// 64-bit. The Win32 edge checks that the layouts agree.
struct ConvInfo {
  uint32_t cb;
  uintptr_t hUser;
  HCONV hConvPartner;
  HSZ hszSvcPartner;
  HSZ hszServiceReq;
  HSZ hszTopic;
  HSZ hszItem;
  uint32_t wFmt;
  uint32_t wType;
  uint32_t wStatus;
  uint32_t wConvst;
  uint32_t wLastError;
  uintptr_t hConvList;
  ConvContext ConvCtxt;
  uintptr_t hwnd;
  uintptr_t hwndPartner;
};
static_assert(sizeof(void*) != 4 || sizeof(ConvInfo) == 96, "CONVINFO is 96 bytes on Win32");

class DdemlEdge {
 public:
  virtual ~DdemlEdge() = default;

  // Writes the program's own executable path, zero-terminated, into buffer; returns
  // its length, 0 on failure.
  virtual uint32_t GetModuleFileNameA(char* buffer, uint32_t size) = 0;
  virtual uint32_t WinExec(const char* command_line, uint32_t show) = 0;
  // Writes the Windows directory, zero-terminated and without a trailing backslash
  // (unless it is a root), into buffer; returns its length, 0 on failure, or the size
  // it needs when buffer is too small.
  virtual uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) = 0;
  virtual uint32_t GetFileAttributesA(const char* path) = 0;

  virtual uint32_t DdeInitializeA(uint32_t* instance, DdeCallback callback, uint32_t commands, uint32_t reserved) = 0;
  virtual uint32_t DdeGetLastError(uint32_t instance) = 0;
  virtual bool DdeUninitialize(uint32_t instance) = 0;
  // Returns 0 when no handle could be made; DDEML gives 0 for the empty string too.
  virtual HSZ DdeCreateStringHandleA(uint32_t instance, const char* text, int code_page) = 0;
  virtual bool DdeFreeStringHandle(uint32_t instance, HSZ hsz) = 0;
  virtual HDDEDATA DdeNameService(uint32_t instance, HSZ hsz1, HSZ hsz2, uint32_t command) = 0;
  virtual HCONV DdeConnect(uint32_t instance, HSZ service, HSZ topic, ConvContext* context) = 0;
  virtual bool DdeDisconnect(HCONV conv) = 0;
  // Fills info (whose cb member the caller has set); returns 0 on failure.
  virtual uint32_t DdeQueryConvInfo(HCONV conv, uint32_t transaction, ConvInfo* info) = 0;
  virtual bool DdeSetUserHandle(HCONV conv, uint32_t id, uintptr_t user) = 0;
  virtual HDDEDATA DdeCreateDataHandle(uint32_t instance, const uint8_t* source, uint32_t size, uint32_t offset,
                                       HSZ item, uint32_t format, uint32_t commands) = 0;
  // This system passes data only as a handle (size kDataIsHandle).
  virtual HDDEDATA DdeClientTransaction(HDDEDATA data, uint32_t size, HCONV conv, HSZ item, uint32_t format,
                                        uint32_t type, uint32_t timeout, uint32_t* result) = 0;
};

// The edge of the Windows build (ddemledge_win32.cpp); not built elsewhere.
DdemlEdge& PlatformDdemlEdge();

}  // namespace vek
