#include "progman.h"

#include <string.h>

namespace vek {

int ShowGroupNumber(TActivateType show) {
  switch (show) {
    case activateAndIconize: return 2;  // SW_SHOWMINIMIZED
    case activateMaximize: return 3;    // SW_SHOWMAXIMIZED
    case iconizeNoActivate: return 7;   // SW_SHOWMINNOACTIVE
    case activateNormalSize:
    default: return 1;                  // SW_SHOWNORMAL
  }
}

TProgMan::TProgMan(TComponent* owner) : TDdeClientConv(owner) {}

TProgMan::~TProgMan() {
  CloseConversation();
  // program_items_ goes next, then the conversation's own destructor closes again,
  // which finds nothing left to close.
}

Error TProgMan::SetprogramItems(const TStringList& lines) {
  return program_items_.Assign(lines) ? NoError() : OutOfMemoryError();
}

Error TProgMan::CreateProgramGroup() {
  VEK_TRY(ConnectProgman());
  // Without a conversation every send below fails and reports through the events.
  VEK_TRY(SendCreateGroup(programGroup));
  const int count = program_items_.Count();  // read once: handlers may add lines
  for (int i = 0; i < count; ++i) {
    if (i >= program_items_.Count()) break;  // a handler removed lines
    AnsiString command_line, name, third;
    VEK_TRY(SplitItemLine(program_items_[i], &command_line, &name, &third));
    VEK_TRY(SendAddItem(command_line, name, third));
  }
  DisconnectProgman();
  return NoError();
}

Error TProgMan::ConnectProgman() {
  VEK_TRY(SetConnectMode(ddeAutomatic));
  AnsiString topic(DdeTopic());  // taken before AssignLink empties it
  if (topic.failed()) return OutOfMemoryError();
  AssignLink("progman", topic);
  return NoError();
}

Error TProgMan::SendCreateGroup(const AnsiString& group) {
  // Both commands are built before anything is sent, so an error handler that changes
  // programGroup does not change the ShowGroup command.
  AnsiString create("[CreateGroup(");
  create += group;
  create += ")]";
  AnsiString show("[ShowGroup(");
  show += group;
  show += ',';
  show += static_cast<char>('0' + ShowGroupNumber(ShowGroup));
  show += ")]";
  if (create.failed() || show.failed()) return OutOfMemoryError();

  Error error;
  if (!SendLine(create, &error)) {
    if (!error.ok()) return error;
    OnGroupError(this);
  }
  SendLine(show, &error);  // a ShowGroup that was not sent is not reported
  return error;
}

Error TProgMan::SplitItemLine(const AnsiString& line, AnsiString* command_line, AnsiString* name,
                              AnsiString* third) {
  AnsiString* slots[3] = {command_line, name, third};
  for (AnsiString* slot : slots) slot->Clear();
  const char* data = line.data();
  size_t size = line.size();
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const void* comma = i < 2 ? memchr(data + start, ',', size - start) : nullptr;
    if (!comma) {
      slots[i]->Append(data + start, size - start);
      break;
    }
    size_t end = static_cast<size_t>(static_cast<const char*>(comma) - data);
    slots[i]->Append(data + start, end - start);
    start = end + 1;
  }
  for (AnsiString* slot : slots) {
    if (slot->failed()) return OutOfMemoryError();
  }
  return NoError();
}

Error TProgMan::SendAddItem(const AnsiString& command_line, const AnsiString& name,
                            const AnsiString& third) {
  // An empty name is left out with its comma: a third field then comes second.
  AnsiString text("[AddItem(");
  text += command_line;
  if (!name.empty()) {
    text += ',';
    text += name;
  }
  if (!third.empty()) {
    text += ',';
    text += third;
  }
  text += ")]";
  Error error;
  if (!SendLine(text, &error)) {
    if (!error.ok()) return error;
    OnItemError(this);
  }
  return NoError();
}

void TProgMan::DisconnectProgman() { CloseConversation(); }

bool TProgMan::SendLine(AnsiString& text, Error* error) {
  text += "\r\n";
  if (text.failed()) {
    *error = OutOfMemoryError();
    return false;
  }
  if (text.size() < kCommandBufferSize) {
    memcpy(command_buffer_, text.c_str(), text.size() + 1);
    return SendCommand(command_buffer_, false);
  }
  // Longer than the buffer: sent whole from the string itself, never cut.
  return SendCommand(text.c_str(), false);
}

}  // namespace vek
