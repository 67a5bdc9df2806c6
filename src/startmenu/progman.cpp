#include "progman.h"

#include <stdlib.h>
#include <string.h>

#include "winpath.h"

namespace vek {
namespace {

constexpr char kProgmanService[] = "progman";

// Whether name is a name that Windows takes as written: the group becomes a folder of
// the Start menu and an item a shortcut file in it, whether Program Manager makes them
// or the fallback does.
bool IsWindowsName(const AnsiString& name, bool utf8) {
  const NameEncoding encoding = utf8 ? NameEncoding::kUtf8 : NameEncoding::kWindows1250;
  return CheckWindowsName(name.data(), name.size(), encoding) == NameRule::kFine;
}

// Whether text is ASCII, the only text that every shell reads as written: Wine's shell
// drops (or, for a group, crashes on) a command holding any other character, and a
// Windows shell reads the bytes in the machine's ANSI code page, which a configured
// name need not fit.
bool IsAscii(const AnsiString& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) >= 0x80) return false;
  }
  return true;
}

// A field as a command carries it (TProgMan::QuoteField), when it is ASCII; false
// when it cannot be sent.
bool CarryField(const AnsiString& field, AnsiString* out) { return IsAscii(field) && TProgMan::QuoteField(field, out); }

// The same for a group or item name, which must also be a name that Windows takes.
bool CarryName(const AnsiString& name, bool utf8, AnsiString* out) {
  return IsWindowsName(name, utf8) && CarryField(name, out);
}

// The characters that end a field or a command in Program Manager's syntax.
bool NeedsQuotes(const AnsiString& field) {
  for (size_t i = 0; i < field.size(); ++i) {
    if (strchr(",()[]", field[i]) && field[i] != 0) return true;
  }
  return false;
}

// The folder a shortcut to command starts in: everything before the last backslash,
// with the backslash kept after a bare drive ("C:\INDEX.HTM" gives "C:\").
AnsiString CommandFolder(const AnsiString& command) {
  size_t end = command.size();
  while (end > 0 && command[end - 1] != '\\') --end;
  if (end == 0) return AnsiString();
  if (!(end == 1 || (end == 3 && command[1] == ':'))) --end;
  return AnsiString(command.data(), end);
}

// The name Program Manager gives an item that has none: the command's file name
// without its extension.
AnsiString FileTitle(const AnsiString& command) {
  size_t start = command.size();
  while (start > 0 && command[start - 1] != '\\' && command[start - 1] != ':') --start;
  size_t end = command.size();
  for (size_t i = command.size(); i > start; --i) {
    if (command[i - 1] == '.') {
      end = i - 1;
      break;
    }
  }
  return AnsiString(command.data() + start, end - start);
}

}  // namespace

int ShowGroupNumber(TActivateType show) {
  switch (show) {
    case activateAndIconize: return kSwShowMinimized;
    case activateMaximize: return kSwShowMaximized;
    case iconizeNoActivate: return kSwShowMinNoActive;
    case activateNormalSize:
    default: return kSwShowNormal;
  }
}

TProgMan::TProgMan(TComponent* owner) : TDdeClientConv(owner) {}

TProgMan::~TProgMan() {
  CloseConversation();
  free(item_outcomes_);
  // program_items_ goes next, then the conversation's own destructor closes again,
  // which finds nothing left to close.
}

void TProgMan::ClearReport() {
  group_sent_ = group_missing_ = group_folder_ = false;
  free(item_outcomes_);
  item_outcomes_ = nullptr;
  item_count_ = 0;
}

Error TProgMan::CreateProgramGroup() {
  ClearReport();
  const int count = program_items_.Count();  // read once: handlers may add lines
  if (count > 0) {
    item_outcomes_ = static_cast<uint8_t*>(calloc(static_cast<size_t>(count), 1));
    if (!item_outcomes_) return OutOfMemoryError();
  }
  item_count_ = count;
  if (!Quiet) VEK_TRY(SendProgramGroup(count));
  if (ShortcutFallback) {
    if (group_sent_) AwaitShell(*ShortcutFallback);
    WriteShortcuts(*ShortcutFallback);
  }
  return NoError();
}

Error TProgMan::SendProgramGroup(int count) {
  // A group that cannot go over DDE needs no conversation: it is reported as a
  // CreateGroup that was not sent.
  AnsiString unused;
  if (!CarryName(programGroup, Utf8, &unused)) {
    OnGroupError(this);
    return NoError();
  }
  VEK_TRY(ConnectProgman());
  // Without a conversation every send below fails and reports through the events.
  VEK_TRY(SendCreateGroup(programGroup));
  for (int i = 0; group_sent_ && i < count && i < program_items_.Count(); ++i) {
    AnsiString command_line, name, third;
    VEK_TRY(SplitItemLine(program_items_[i], &command_line, &name, &third));
    VEK_TRY(SendAddItem(command_line, name, third));
    item_outcomes_[i] = item_sent_ ? itemSent : itemNotRegistered;
  }
  DisconnectProgman();
  return NoError();
}

Error TProgMan::ConnectProgman() {
  VEK_TRY(SetConnectMode(ddeAutomatic));
  AnsiString topic(DdeTopic());  // taken before the link is reset
  if (topic.failed()) return OutOfMemoryError();
  // As always first, so that a shell that answers it sees what it always saw; nothing
  // is started before the documented topic has been asked too.
  if (SwitchLink(kProgmanService, topic, false)) return NoError();
  if (!(topic == kDocumentedTopic) && SwitchLink(kProgmanService, kDocumentedTopic, false)) {
    return NoError();
  }
  if (StartServer(ServerStartCommand(kProgmanService, topic))) {
    SwitchLink(kProgmanService, kDocumentedTopic, false);
  }
  return NoError();
}

bool TProgMan::QuoteField(const AnsiString& field, AnsiString* out) {
  out->Clear();
  if (memchr(field.data(), '"', field.size())) return false;
  const bool quoted = NeedsQuotes(field);
  if (quoted) *out += '"';
  *out += field;
  if (quoted) *out += '"';
  return true;
}

Error TProgMan::SendCreateGroup(const AnsiString& group) {
  // Both commands are built before anything is sent, so an error handler that changes
  // programGroup does not change the ShowGroup command.
  AnsiString name;
  const bool carried = CarryName(group, Utf8, &name);
  AnsiString create("[CreateGroup(");
  create += name;
  const char* personal = PersonalGroup ? ",0)]" : ")]";
  create += personal;
  AnsiString show("[ShowGroup(");
  show += name;
  show += ',';
  show += static_cast<char>('0' + ShowGroupNumber(ShowGroup));
  show += personal;
  if (name.failed() || create.failed() || show.failed()) return OutOfMemoryError();

  Error error;
  group_sent_ = carried && SendLine(create, &error);
  if (!group_sent_) {
    if (!error.ok()) return error;
    OnGroupError(this);
  }
  if (group_sent_) SendLine(show, &error);  // a ShowGroup that was not sent is not reported
  return error;
}

Error TProgMan::SplitItemLine(const AnsiString& line, AnsiString* command_line, AnsiString* name, AnsiString* third) {
  AnsiString* slots[3] = {command_line, name, third};
  for (AnsiString* slot : slots) slot->Clear();
  size_t pos = 0;
  if (ReadField(line, &pos, command_line) && ReadField(line, &pos, name)) {
    third->Append(line.data() + pos, line.size() - pos);  // the rest, as it is
  }
  for (AnsiString* slot : slots) {
    if (slot->failed()) return OutOfMemoryError();
  }
  return NoError();
}

bool TProgMan::ReadField(const AnsiString& list, size_t* pos, AnsiString* field) {
  const char* data = list.data();
  const size_t size = list.size();
  size_t start = *pos;
  if (start < size && data[start] == '"') {
    // Quoted: to the next quote, commas and all; the quotes go.
    const void* close = memchr(data + start + 1, '"', size - start - 1);
    const size_t end = close ? static_cast<size_t>(static_cast<const char*>(close) - data) : size;
    field->Append(data + start + 1, end - start - 1);
    start = close ? end + 1 : size;
  }
  const void* comma = memchr(data + start, ',', size - start);
  const size_t end = comma ? static_cast<size_t>(static_cast<const char*>(comma) - data) : size;
  field->Append(data + start, end - start);
  *pos = comma ? end + 1 : size;
  return comma != nullptr;
}

Error TProgMan::SendAddItem(const AnsiString& command_line, const AnsiString& name, const AnsiString& third) {
  // An empty name is left out with its comma: a third field then comes second.
  AnsiString field;
  AnsiString text("[AddItem(");
  bool carried = CarryField(command_line, &field);
  text += field;
  if (!name.empty()) {
    carried = CarryName(name, Utf8, &field) && carried;
    text += ',';
    text += field;
  }
  if (!third.empty()) {
    // The rest of the arguments: each one quoted as it needs.
    size_t pos = 0;
    bool more = true;
    while (more) {
      AnsiString argument;
      more = ReadField(third, &pos, &argument);
      carried = CarryField(argument, &field) && carried;
      text += ',';
      text += field;
    }
  }
  text += ")]";
  if (field.failed()) return OutOfMemoryError();
  Error error;
  item_sent_ = carried && SendLine(text, &error);
  if (!item_sent_) {
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
    return SendCommand(command_buffer_);
  }
  // Longer than the buffer: sent whole from the string itself, never cut.
  return SendCommand(text.c_str());
}

namespace {

// A line's shortcut: its command, its name (the command's file name when it has
// none) and its icon, the first argument of the third field.
bool ShortcutFields(const AnsiString& line, AnsiString* command_line, AnsiString* name, AnsiString* icon) {
  AnsiString third;
  if (!TProgMan::SplitItemLine(line, command_line, name, &third).ok()) return false;
  size_t pos = 0;
  TProgMan::ReadField(third, &pos, icon);
  if (name->empty()) *name = FileTitle(*command_line);
  return !name->failed() && !icon->failed();
}

}  // namespace

bool TProgMan::ShellMadeAll(ShellLinkEdge& edge, bool mark) {
  bool all = true, any_sent = false;
  for (int i = 0; i < item_count_ && i < program_items_.Count(); ++i) {
    if (item_outcomes_[i] != itemSent) continue;
    any_sent = true;
    AnsiString command_line, name, icon;
    if (ShortcutFields(program_items_[i], &command_line, &name, &icon) && IsWindowsName(name, Utf8) &&
        edge.Exists(programGroup.c_str(), name.c_str(), Utf8)) {
      continue;
    }
    all = false;
    if (!mark) return false;
    item_outcomes_[i] = itemNotRegistered;
  }
  if (!any_sent && !edge.Exists(programGroup.c_str(), nullptr, Utf8)) {
    all = false;
    if (mark) group_missing_ = true;
  }
  return all;
}

void TProgMan::AwaitShell(ShellLinkEdge& edge) {
  // Wine's shell has done its work when the conversation has closed; a busy shell may
  // take longer. What it has not made in the end is written by the fallback.
  for (uint32_t waited = 0; !ShellMadeAll(edge, false); waited += kShellPollMs) {
    if (waited >= kShellWaitMs) {
      ShellMadeAll(edge, true);
      return;
    }
    edge.Wait(kShellPollMs);
  }
}

void TProgMan::WriteShortcuts(ShellLinkEdge& edge) {
  // Without CreateGroup no AddItem went out: every line is written then.
  const bool every_line = !group_sent_;
  bool folder_tried = false;
  auto folder = [&] {
    if (!folder_tried) {
      folder_tried = true;
      group_folder_ = IsWindowsName(programGroup, Utf8) && edge.CreateGroupFolder(programGroup.c_str(), Utf8);
    }
    return group_folder_;
  };
  if (every_line || group_missing_) folder();
  for (int i = 0; i < item_count_ && i < program_items_.Count(); ++i) {
    if (every_line) {
      item_outcomes_[i] = itemNotRegistered;
    } else if (item_outcomes_[i] == itemSent) {
      continue;
    }
    if (!folder()) return;
    AnsiString command_line, name, icon;
    if (!ShortcutFields(program_items_[i], &command_line, &name, &icon)) return;
    const AnsiString working_folder = CommandFolder(command_line);
    if (!IsWindowsName(name, Utf8) || command_line.empty() || working_folder.failed()) continue;
    if (edge.CreateShortcut(programGroup.c_str(), name.c_str(), command_line.c_str(), working_folder.c_str(),
                            icon.c_str(), Utf8)) {
      item_outcomes_[i] = itemShortcut;
    }
  }
}

TGroupOutcome TProgMan::GroupOutcome() const {
  if (!group_folder_ && (!group_sent_ || group_missing_)) return groupNotRegistered;
  bool shortcuts = group_folder_;
  for (int i = 0; i < item_count_ && i < program_items_.Count(); ++i) {
    if (item_outcomes_[i] == itemNotRegistered) return groupNotRegistered;
    if (item_outcomes_[i] == itemShortcut) shortcuts = true;
  }
  return shortcuts ? groupShortcuts : groupSent;
}

}  // namespace vek
