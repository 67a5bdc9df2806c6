// Unit Progman: `TProgMan` registers a program group and its items with the shell's
// Program Manager by sending it DDE execute commands over a conversation with the
// service "progman":
//
//   [CreateGroup(<group>)]          then CR LF
//   [ShowGroup(<group>,<n>)]        n = 1, 2, 3 or 7 after ShowGroup
//   [AddItem(<command>,<name>,<third>)]  one per line of programItems
//
// Failures of single commands are reported only through OnGroupError (CreateGroup)
// and OnItemError (each AddItem); ShowGroup reports nothing. CreateProgramGroup
// returns an Error only when setting the connect mode fails or memory runs out; the
// commands after it are then not sent and the conversation stays open.
#pragma once

#include <stdint.h>

#include "ansistring.h"
#include "classes.h"
#include "ddeman.h"
#include "error.h"

namespace vek {

enum TActivateType : uint8_t {
  activateNormalSize = 0,
  activateAndIconize = 1,
  activateMaximize = 2,
  iconizeNoActivate = 3,
};

// The Windows show-window command number for a ShowGroup value (1, 2, 3, 7).
int ShowGroupNumber(TActivateType show);

class TProgMan : public TDdeClientConv {
 public:
  // A command and its zero byte normally travel through this buffer.
  static constexpr size_t kCommandBufferSize = 256;

  explicit TProgMan(TComponent* owner);
  ~TProgMan() override;

  // Opens a conversation with "progman", sends CreateGroup and ShowGroup for
  // programGroup, one AddItem per line of programItems, and closes the conversation.
  Error CreateProgramGroup();

  // Automatic connect mode, then AssignLink("progman", current topic). Whether the
  // conversation opened is not reported.
  Error ConnectProgman();
  Error SendCreateGroup(const AnsiString& group);
  // Splits an item line at its first two commas into command line, item name and
  // third field. Anything after the second comma, further commas included, stays in
  // the third field, so extra AddItem arguments pass through unchanged.
  static Error SplitItemLine(const AnsiString& line, AnsiString* command_line, AnsiString* name,
                             AnsiString* third);
  Error SendAddItem(const AnsiString& command_line, const AnsiString& name,
                    const AnsiString& third);
  void DisconnectProgman();

  // Published properties.
  TStringList& programItems() { return program_items_; }
  // Copies the lines of lines into the component's own list.
  Error SetprogramItems(const TStringList& lines);
  AnsiString programGroup;
  TActivateType ShowGroup = activateNormalSize;
  TNotifyEvent OnGroupError;
  TNotifyEvent OnItemError;

 private:
  // Sends text followed by CR LF; false when it was not sent.
  bool SendLine(AnsiString& text, Error* error);

  TStringList program_items_;
  char command_buffer_[kCommandBufferSize] = {};
};

}  // namespace vek
