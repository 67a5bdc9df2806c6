#include "recording_ddeml.h"

#include <stdio.h>
#include <string.h>

namespace vek::testing {
namespace {

std::string Escape(const std::string& bytes) {
  std::string out;
  for (char c : bytes) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\0')
      out += "\\0";
    else
      out += c;
  }
  return out;
}

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string Id(uint32_t value) { return value == kQidSync ? "QID_SYNC" : std::to_string(value); }

}  // namespace

std::vector<std::string> RecordingDdeml::CallsOf(const std::string& prefix) const {
  std::vector<std::string> found;
  for (const std::string& call : calls) {
    if (call.compare(0, prefix.size(), prefix) == 0) found.push_back(call);
  }
  return found;
}

size_t RecordingDdeml::OpenConversations() const {
  size_t open = 0;
  for (const auto& [handle, conversation] : conversations_) open += conversation.open ? 1 : 0;
  return open;
}

uintptr_t RecordingDdeml::UserHandle(HCONV conv) const {
  auto it = conversations_.find(conv);
  return it == conversations_.end() ? 0 : it->second.user;
}

std::string RecordingDdeml::Hsz(HSZ hsz) const {
  if (hsz == 0) return "0";
  auto it = strings_.find(hsz);
  return it == strings_.end() ? "?" + Hex(static_cast<uint32_t>(hsz)) : "\"" + it->second + "\"";
}

std::string RecordingDdeml::Conv(HCONV conv) const { return conv == 0 ? "0" : "C" + std::to_string(conv); }

HDDEDATA RecordingDdeml::EndConversation(HCONV conv) {
  HDDEDATA result = callback ? callback(kXtypDisconnect, 0, conv, 0, 0, 0, 0, 0) : 0;
  conversations_[conv].open = false;
  return result;
}

uint32_t RecordingDdeml::GetModuleFileNameA(char* buffer, uint32_t size) {
  Log("GetModuleFileNameA(" + std::to_string(size) + ")");
  if (size == 0) return 0;
  size_t length = module_file_name.size() < size ? module_file_name.size() : size - 1;
  memcpy(buffer, module_file_name.data(), length);
  buffer[length] = 0;
  return static_cast<uint32_t>(length);
}

uint32_t RecordingDdeml::WinExec(const char* command_line, uint32_t show) {
  Log(std::string("WinExec(\"") + command_line + "\"," + std::to_string(show) + ")");
  if (winexec_result >= 32 && winexec_starts_server) server_running = true;
  return winexec_result;
}

uint32_t RecordingDdeml::GetWindowsDirectoryA(char* buffer, uint32_t size) {
  Log("GetWindowsDirectoryA(" + std::to_string(size) + ")");
  if (windows_directory.size() >= size) return static_cast<uint32_t>(windows_directory.size() + 1);
  memcpy(buffer, windows_directory.c_str(), windows_directory.size() + 1);
  return static_cast<uint32_t>(windows_directory.size());
}

uint32_t RecordingDdeml::GetFileAttributesA(const char* path) {
  Log(std::string("GetFileAttributesA(\"") + path + "\")");
  return files.count(path) ? 0x20 : kInvalidFileAttributes;  // FILE_ATTRIBUTE_ARCHIVE
}

uint32_t RecordingDdeml::DdeInitializeA(uint32_t* instance, DdeCallback fn, uint32_t commands, uint32_t reserved) {
  Log("DdeInitializeA(" + std::to_string(*instance) + "," + Hex(commands) + "," + std::to_string(reserved) + ")");
  callback = fn;
  if (initialize_result == 0) *instance = kInstance;
  return initialize_result;
}

uint32_t RecordingDdeml::DdeGetLastError(uint32_t instance) {
  Log("DdeGetLastError(" + std::to_string(instance) + ")");
  return last_error;
}

bool RecordingDdeml::DdeUninitialize(uint32_t instance) {
  Log("DdeUninitialize(" + std::to_string(instance) + ")");
  return true;
}

HSZ RecordingDdeml::DdeCreateStringHandleA(uint32_t instance, const char* text, int code_page) {
  Log("DdeCreateStringHandleA(" + std::to_string(instance) + ",\"" + text + "\"," + std::to_string(code_page) + ")");
  if (*text == 0) return 0;
  HSZ hsz = next_string_++;
  strings_[hsz] = text;
  return hsz;
}

bool RecordingDdeml::DdeFreeStringHandle(uint32_t instance, HSZ hsz) {
  Log("DdeFreeStringHandle(" + std::to_string(instance) + "," + Hsz(hsz) + ")");
  return strings_.erase(hsz) == 1;
}

HDDEDATA RecordingDdeml::DdeNameService(uint32_t instance, HSZ hsz1, HSZ hsz2, uint32_t command) {
  Log("DdeNameService(" + std::to_string(instance) + "," + Hsz(hsz1) + "," + Hsz(hsz2) + "," + std::to_string(command) +
      ")");
  return 1;
}

HCONV RecordingDdeml::DdeConnect(uint32_t instance, HSZ service, HSZ topic, ConvContext* context) {
  Log("DdeConnect(" + std::to_string(instance) + "," + Hsz(service) + "," + Hsz(topic) +
      ",cb=" + (context ? std::to_string(context->cb) : "null") +
      ",cp=" + (context ? std::to_string(context->iCodePage) : "null") + ")");
  if (context) last_context = *context;
  if (!server_running) return 0;
  std::string service_name = service ? strings_[service] : "";
  std::string topic_name = topic ? strings_[topic] : "";
  if (!accepts(service_name, topic_name)) return 0;
  HCONV conv = next_conversation_++;
  conversations_[conv] = Conversation{};
  return conv;
}

bool RecordingDdeml::DdeDisconnect(HCONV conv) {
  Log("DdeDisconnect(" + Conv(conv) + ")");
  auto it = conversations_.find(conv);
  if (it == conversations_.end() || !it->second.open) return false;
  it->second.open = false;
  return true;
}

uint32_t RecordingDdeml::DdeQueryConvInfo(HCONV conv, uint32_t transaction, ConvInfo* info) {
  Log("DdeQueryConvInfo(" + Conv(conv) + "," + Id(transaction) + (info->cb == sizeof(ConvInfo) ? ")" : ",bad cb)"));
  auto it = conversations_.find(conv);
  if (it == conversations_.end() || !it->second.open || info->cb != sizeof(ConvInfo) || transaction != kQidSync) {
    return 0;
  }
  uint32_t cb = info->cb;
  memset(info, 0, sizeof *info);
  info->cb = cb;
  info->hUser = it->second.user;
  info->wFmt = conversation_format;
  info->ConvCtxt.cb = sizeof(ConvContext);
  return cb;
}

bool RecordingDdeml::DdeSetUserHandle(HCONV conv, uint32_t id, uintptr_t user) {
  Log("DdeSetUserHandle(" + Conv(conv) + "," + Id(id) + "," + (user ? "obj" : "0") + ")");
  auto it = conversations_.find(conv);
  if (it == conversations_.end() || !it->second.open) return false;
  it->second.user = user;
  return true;
}

HDDEDATA RecordingDdeml::DdeCreateDataHandle(uint32_t instance, const uint8_t* source, uint32_t size, uint32_t offset,
                                             HSZ item, uint32_t format, uint32_t commands) {
  std::string bytes(reinterpret_cast<const char*>(source), size);
  Log("DdeCreateDataHandle(" + std::to_string(instance) + ",\"" + Escape(bytes) + "\"," + std::to_string(size) + "," +
      std::to_string(offset) + "," + Hsz(item) + "," + std::to_string(format) + "," + std::to_string(commands) + ")");
  if (fail_data_handles) return 0;
  HDDEDATA data = next_data_++;
  data_[data] = bytes;
  return data;
}

HDDEDATA RecordingDdeml::DdeClientTransaction(HDDEDATA data, uint32_t size, HCONV conv, HSZ item, uint32_t format,
                                              uint32_t type, uint32_t timeout, uint32_t* result) {
  Log("DdeClientTransaction(D" + std::to_string(data) + "," + Hex(size) + "," + Conv(conv) + "," + Hsz(item) + "," +
      std::to_string(format) + "," + Hex(type) + "," + Hex(timeout) + ")");
  auto it = conversations_.find(conv);
  auto bytes = data_.find(data);
  if (fail_transactions || it == conversations_.end() || !it->second.open || bytes == data_.end() ||
      size != kDataIsHandle) {
    return 0;
  }
  if (type == kXtypExecute) executes.push_back(bytes->second);
  data_.erase(bytes);  // the transaction owns the data now
  uint32_t transaction = next_transaction_++;
  if (result) *result = transaction;
  return transaction;
}

}  // namespace vek::testing
