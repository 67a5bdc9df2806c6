#include "ddeman.h"

#include <string.h>

#include "text.h"
#include "winpath.h"

namespace vek {
namespace {

// Service names, topics and the server's start command pass through a buffer of this
// size: at most 255 characters and the zero byte.
constexpr size_t kNameBufferSize = 256;
// Room for the program's own path as GetModuleFileNameA gives it.
constexpr uint32_t kModulePathSize = 1024;

// Copies text into buffer as a zero-terminated string; false when it does not fit.
bool CopyToNameBuffer(const AnsiString& text, char (&buffer)[kNameBufferSize]) {
  if (text.failed() || text.size() >= kNameBufferSize) return false;
  memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

// A name that the platform takes as a file in the folder it is joined to, as written.
bool IsPlainFileName(const AnsiString& name) { return CheckWindowsName(name.data(), name.size()) == NameRule::kFine; }

// NoError() when success is true, else the EDdeError chosen by DdeGetLastError.
Error DdeResult(DdemlEdge& edge, uint32_t instance, bool success) {
  if (success) return NoError();
  return DdeError(edge.DdeGetLastError(instance));
}

}  // namespace

TDdeMgr* DdeManager = nullptr;

AnsiString ServiceNameFromPath(const char* path) {
  const char* name = NameFromPath(path);
  const char* dot = strchr(name, '.');
  return AnsiString(name, dot ? static_cast<size_t>(dot - name) : strlen(name));
}

// ---------------------------------------------------------------------------------
// TDdeMgr

TDdeMgr::TDdeMgr(TComponent* owner, DdemlEdge& edge) : TComponent(owner), edge_(edge) {
  uint32_t result = edge_.DdeInitializeA(&instance_id_, &TDdeMgr::ManagerCallback, 0, 0);
  init_error_ = DdeResult(edge_, instance_id_, result == kDdeNoError);
  if (!init_error_.ok()) return;

  char path[kModulePathSize];
  uint32_t length = edge_.GetModuleFileNameA(path, kModulePathSize);
  if (length >= kModulePathSize) length = kModulePathSize - 1;
  path[length] = 0;
  const AnsiString service = ServiceNameFromPath(path);
  if (service.failed()) {
    init_error_ = OutOfMemoryError();
    return;
  }
  app_service_handle_ = edge_.DdeCreateStringHandleA(instance_id_, service.c_str(), kCpWinAnsi);
  edge_.DdeNameService(instance_id_, app_service_handle_, 0, kDnsRegister);
}

TDdeMgr::~TDdeMgr() {
  if (app_service_handle_ != 0) {
    edge_.DdeNameService(instance_id_, app_service_handle_, 0, kDnsUnregister);
    edge_.DdeFreeStringHandle(instance_id_, app_service_handle_);
    app_service_handle_ = 0;
  }
  edge_.DdeUninitialize(instance_id_);
  if (DdeManager == this) DdeManager = nullptr;
}

HDDEDATA TDdeMgr::ManagerCallback(uint32_t type, uint32_t format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                  uintptr_t data1, uintptr_t data2) {
  // The program serves nothing: its own service accepts no connection.
  if (type == kXtypConnect || type == kXtypWildConnect || type == kXtypConnectConfirm) return 0;
  if (!DdeManager) return 0;

  // A server ending a conversation is all the client side hears of: commands are sent
  // without waiting for their completion, and advise data would go to linked items,
  // which the program has none of.
  if (type != kXtypDisconnect || conv == 0) return 0;
  // The user handle of a client conversation is its TDdeClientConv (set by
  // TryConnect); no other kind of conversation exists in this program.
  ConvInfo info = {};
  info.cb = sizeof(ConvInfo);
  if (DdeManager->Edge().DdeQueryConvInfo(conv, kQidSync, &info) == 0) return 0;
  if (TDdeClientConv* client = reinterpret_cast<TDdeClientConv*>(info.hUser)) client->ConversationEnded();
  return 0;
}

Error InitDdeManager(TComponent* owner, DdemlEdge& edge) {
  TDdeMgr* manager = new TDdeMgr(owner, edge);
  if (!manager) return OutOfMemoryError();
  Error error = manager->InitError();
  if (!error.ok()) {
    delete manager;
    return error;
  }
  DdeManager = manager;
  return NoError();
}

// ---------------------------------------------------------------------------------
// TDdeClientConv

TDdeClientConv::TDdeClientConv(TComponent* owner) : TComponent(owner) {}

TDdeClientConv::~TDdeClientConv() { CloseConversation(); }

bool TDdeClientConv::AssignLink(const AnsiString& service, const AnsiString& topic) {
  // Copies first: the caller may pass this component's own fields, which the close
  // below empties.
  AnsiString new_service(service);
  AnsiString new_topic(topic);
  if (new_service.failed() || new_topic.failed()) return false;
  CloseConversation();
  if (connect_mode_ == ddeAutomatic) return SwitchLink(new_service, new_topic);
  service_ = new_service;
  topic_ = new_topic;
  return !service_.failed() && !topic_.failed();
}

bool TDdeClientConv::SwitchLink(const AnsiString& service, const AnsiString& topic, bool may_start) {
  AnsiString new_service(service);
  AnsiString new_topic(topic);
  if (new_service.failed() || new_topic.failed()) return false;
  CloseConversation();
  service_ = new_service;
  topic_ = new_topic;
  bool opened = !service_.failed() && !topic_.failed() && Open(may_start);
  if (!opened) {
    service_.Clear();
    topic_.Clear();
  }
  return opened;
}

bool TDdeClientConv::Open(bool may_start) {
  if (conversation_handle_ != 0) return false;
  if (service_.empty() && topic_.empty()) return false;
  if (!DdeManager) return false;
  DdemlEdge& edge = DdeManager->Edge();
  uint32_t instance = DdeManager->InstanceId();

  char buffer[kNameBufferSize];
  if (service_handle_ == 0) {
    if (!CopyToNameBuffer(service_, buffer)) return false;
    service_handle_ = edge.DdeCreateStringHandleA(instance, buffer, kCpWinAnsi);
  }
  if (topic_handle_ == 0) {
    // Made even for an empty topic; DDEML then gives 0, which connects to any topic.
    if (!CopyToNameBuffer(topic_, buffer)) return false;
    topic_handle_ = edge.DdeCreateStringHandleA(instance, buffer, kCpWinAnsi);
  }

  bool connected = TryConnect();
  if (!connected && may_start && StartServer(ServerStartCommand(service_, topic_))) {
    connected = TryConnect();  // at once, and only once
  }
  if (!connected) return false;
  OnOpen(this);
  return true;
}

AnsiString TDdeClientConv::ServerStartCommand(const AnsiString& service, const AnsiString& topic) const {
  if (!ServiceApplication.empty()) return ServiceApplication;
  AnsiString command;
  if (!IsPlainFileName(service) || !DdeManager) return command;
  DdemlEdge& edge = DdeManager->Edge();
  char folder[kNameBufferSize];
  const uint32_t length = edge.GetWindowsDirectoryA(folder, kNameBufferSize);
  if (length == 0 || length >= kNameBufferSize) return command;
  AnsiString path(folder, length);
  if (path.back() != '\\') path += '\\';
  path += service;
  path += ".exe";
  if (path.failed()) return command;
  const uint32_t attributes = edge.GetFileAttributesA(path.c_str());
  if (attributes == kInvalidFileAttributes || (attributes & kFileAttributeDirectory)) {
    return command;
  }
  // In quotes, so that a blank in the folder's name cannot make the platform run a
  // program named by the text before it.
  command += '"';
  command += path;
  command += '"';
  if (!topic.empty()) {
    command += ' ';
    command += topic;
  }
  return command;
}

bool TDdeClientConv::StartServer(const AnsiString& command) {
  char buffer[kNameBufferSize];
  if (command.empty() || !DdeManager || !CopyToNameBuffer(command, buffer)) return false;
  return DdeManager->Edge().WinExec(buffer, kSwShowMinNoActive) >= kWinExecStarted;
}

bool TDdeClientConv::TryConnect() {
  DdemlEdge& edge = DdeManager->Edge();
  ConvContext context;
  memset(&context, 0, sizeof context);
  context.cb = sizeof(ConvContext);
  context.iCodePage = kCpWinAnsi;
  conversation_handle_ = edge.DdeConnect(DdeManager->InstanceId(), service_handle_, topic_handle_, &context);
  if (conversation_handle_ == 0) return false;
  ConvInfo info = {};
  info.cb = sizeof(ConvInfo);
  edge.DdeQueryConvInfo(conversation_handle_, kQidSync, &info);
  edge.DdeSetUserHandle(conversation_handle_, kQidSync, reinterpret_cast<uintptr_t>(this));
  execute_format_ = info.wFmt != 0 ? info.wFmt : kCfText;
  return true;
}

void TDdeClientConv::CloseConversation() {
  DdemlEdge* edge = DdeManager ? &DdeManager->Edge() : nullptr;
  uint32_t instance = DdeManager ? DdeManager->InstanceId() : 0;
  if (conversation_handle_ != 0) {
    HCONV conv = conversation_handle_;
    ConversationEnded();
    if (edge) {
      edge->DdeSetUserHandle(conv, kQidSync, 0);
      edge->DdeDisconnect(conv);
    }
  }
  if (service_handle_ != 0) {
    if (edge) edge->DdeFreeStringHandle(instance, service_handle_);
    service_handle_ = 0;
  }
  if (topic_handle_ != 0) {
    if (edge) edge->DdeFreeStringHandle(instance, topic_handle_);
    topic_handle_ = 0;
  }
  service_.Clear();
  topic_.Clear();
}

void TDdeClientConv::ConversationEnded() {
  if (conversation_handle_ != 0) OnClose(this);
  conversation_handle_ = 0;
}

bool TDdeClientConv::SendCommand(const char* command) {
  if (conversation_handle_ == 0 || !DdeManager) return false;
  DdemlEdge& edge = DdeManager->Edge();
  const uint32_t size = static_cast<uint32_t>(strlen(command)) + 1;  // with its zero byte
  HDDEDATA data = edge.DdeCreateDataHandle(DdeManager->InstanceId(), reinterpret_cast<const uint8_t*>(command), size, 0,
                                           0, execute_format_, 0);
  if (data == 0) return false;
  uint32_t result = 0;
  return edge.DdeClientTransaction(data, kDataIsHandle, conversation_handle_, 0, execute_format_, kXtypExecute,
                                   kTimeoutAsync, &result) != 0;
}

Error TDdeClientConv::SetConnectMode(TDataMode mode) {
  if (mode == connect_mode_) return NoError();
  if (mode == ddeAutomatic && !service_.empty() && !topic_.empty()) {
    if (!OpenConversation()) return GeneralError("Unable to connect DDE conversation");
  }
  connect_mode_ = mode;
  return NoError();
}

}  // namespace vek
