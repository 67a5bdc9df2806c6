// A DDEML edge for tests: records every call with its arguments and plays a server.
//
// Calls are logged as text, with handles shown by what they stand for: a string
// handle by its text in quotes ("progman", or 0 for none), a conversation as C1, C2,
// ..., a data handle as D1, D2, .... The exact bytes of every execute transaction are
// kept in `executes`. Like DDEML, the fake gives string handle 0 for the empty string,
// and a connect with topic 0 is a connect to any topic.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ddemledge.h"

namespace vek::testing {

class RecordingDdeml : public DdemlEdge {
 public:
  // --- The server being played -------------------------------------------------
  // Whether a server is running; a connect then asks `accepts`.
  bool server_running = true;
  // Decides a connect while the server runs; topic is "" for a connect to any topic.
  std::function<bool(const std::string& service, const std::string& topic)> accepts =
      [](const std::string&, const std::string&) { return true; };
  // What WinExec returns, and whether a started program brings the server up.
  uint32_t winexec_result = 33;
  bool winexec_starts_server = true;
  // The data format that DdeQueryConvInfo reports for a conversation.
  uint32_t conversation_format = 1;
  bool fail_data_handles = false;
  bool fail_transactions = false;
  // DdeInitializeA's result, and the code DdeGetLastError then gives.
  uint32_t initialize_result = 0;
  uint32_t last_error = 0;
  std::string module_file_name = "C:\\Program Files\\Tarnovista\\setup.exe";
  // The Windows directory, and the files that GetFileAttributesA finds (full paths
  // as asked, or bare names standing for files in the current folder).
  std::string windows_directory = "C:\\WINDOWS";
  std::set<std::string> files = {"C:\\WINDOWS\\progman.exe"};

  // --- What happened ----------------------------------------------------------
  std::vector<std::string> calls;
  std::vector<std::string> executes;  // data bytes of each XTYP_EXECUTE, in order
  ConvContext last_context = {};
  DdeCallback callback = nullptr;

  // Calls whose text begins with prefix ("DdeConnect", "WinExec(", ...).
  std::vector<std::string> CallsOf(const std::string& prefix) const;
  size_t Count(const std::string& prefix) const { return CallsOf(prefix).size(); }
  // Conversations that are open on the server's side.
  size_t OpenConversations() const;
  uintptr_t UserHandle(HCONV conv) const;
  // String handles made and not yet freed.
  size_t LiveStringHandles() const { return strings_.size(); }

  // --- Server actions, delivered through the registered callback ----------------
  // The server ends the conversation (XTYP_DISCONNECT).
  HDDEDATA EndConversation(HCONV conv);

  // DdemlEdge
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override;
  uint32_t WinExec(const char* command_line, uint32_t show) override;
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override;
  uint32_t GetFileAttributesA(const char* path) override;
  uint32_t DdeInitializeA(uint32_t* instance, DdeCallback callback, uint32_t commands, uint32_t reserved) override;
  uint32_t DdeGetLastError(uint32_t instance) override;
  bool DdeUninitialize(uint32_t instance) override;
  HSZ DdeCreateStringHandleA(uint32_t instance, const char* text, int code_page) override;
  bool DdeFreeStringHandle(uint32_t instance, HSZ hsz) override;
  HDDEDATA DdeNameService(uint32_t instance, HSZ hsz1, HSZ hsz2, uint32_t command) override;
  HCONV DdeConnect(uint32_t instance, HSZ service, HSZ topic, ConvContext* context) override;
  bool DdeDisconnect(HCONV conv) override;
  uint32_t DdeQueryConvInfo(HCONV conv, uint32_t transaction, ConvInfo* info) override;
  bool DdeSetUserHandle(HCONV conv, uint32_t id, uintptr_t user) override;
  HDDEDATA DdeCreateDataHandle(uint32_t instance, const uint8_t* source, uint32_t size, uint32_t offset, HSZ item,
                               uint32_t format, uint32_t commands) override;
  HDDEDATA DdeClientTransaction(HDDEDATA data, uint32_t size, HCONV conv, HSZ item, uint32_t format, uint32_t type,
                                uint32_t timeout, uint32_t* result) override;

  static constexpr uint32_t kInstance = 7;

 private:
  struct Conversation {
    bool open = true;
    uintptr_t user = 0;
  };

  std::string Hsz(HSZ hsz) const;
  std::string Conv(HCONV conv) const;
  void Log(const std::string& text) { calls.push_back(text); }

  std::map<HSZ, std::string> strings_;
  std::map<HCONV, Conversation> conversations_;
  std::map<HDDEDATA, std::string> data_;
  HSZ next_string_ = 0x100;
  HCONV next_conversation_ = 1;
  HDDEDATA next_data_ = 1;
  uint32_t next_transaction_ = 1;
};

}  // namespace vek::testing
