// Unit Progman: `TProgMan` registers a program group and its items with the shell's
// Program Manager by sending it DDE execute commands over a conversation with the
// service "progman":
//
//   [CreateGroup(<group>)]          then CR LF
//   [ShowGroup(<group>,<n>)]        n = 1, 2, 3 or 7 after ShowGroup
//   [AddItem(<command>,<name>,<third>)]  one per line of programItems
//
// A name or field holding a comma, a parenthesis or a square bracket goes in double
// quotes. Only what every shell reads as written goes over DDE: ASCII text. A field
// holding any other character, or a double quote (which no quoting carries), is not
// sent, and neither is a group or item name that Windows would not take as written
// (winpath.h): Program Manager makes a folder and a file of them. No AddItem goes
// without its CreateGroup: it would land in whatever group the shell has at hand.
//
// Reaching the shell: first service "progman" with the component's topic (empty on
// the main window), then the documented topic "PROGMAN", and only then the Program
// Manager of the Windows directory is started, if there is one, and asked once more.
//
// Failures of single commands are reported through OnGroupError (CreateGroup) and
// OnItemError (each AddItem tried); ShowGroup reports nothing. With ShortcutFallback
// set, the commands' result is looked for where the shell keeps it, and what the shell
// did not get or did not make is written as the group's folder and shortcuts in the
// user's Start menu instead. GroupOutcome tells what the last CreateProgramGroup
// achieved. CreateProgramGroup returns an Error only when setting the connect mode
// fails or memory runs out; the commands after it are then not sent and the
// conversation stays open.
#pragma once

#include <stdint.h>

#include "ansistring.h"
#include "classes.h"
#include "ddeman.h"
#include "error.h"
#include "shelllink.h"

namespace vek {

enum TActivateType : uint8_t {
  activateNormalSize = 0,
  activateAndIconize = 1,
  activateMaximize = 2,
  iconizeNoActivate = 3,
};

// The Windows show-window command number for a ShowGroup value (1, 2, 3, 7).
int ShowGroupNumber(TActivateType show);

// What became of one line of programItems in the last CreateProgramGroup.
enum TItemOutcome : uint8_t {
  itemNotRegistered = 0,
  itemSent = 1,      // its AddItem was handed to the DDE library
  itemShortcut = 2,  // written as a shortcut by the fallback
};

// What the last CreateProgramGroup achieved for the group as a whole.
enum TGroupOutcome : uint8_t {
  groupNotRegistered = 0,  // the group or some line reached the shell neither way
  groupSent = 1,           // CreateGroup and every AddItem were sent over DDE (and, with
                           // ShortcutFallback, found made by the shell)
  groupShortcuts = 2,      // all there, the fallback's folder and shortcuts included
};

class TProgMan : public TDdeClientConv {
 public:
  // A command and its zero byte normally travel through this buffer.
  static constexpr size_t kCommandBufferSize = 256;

  // The topic of the Program Manager service as documented.
  static constexpr char kDocumentedTopic[] = "PROGMAN";
  // The execute transactions are asynchronous: how long the shell is given to make the
  // group and its shortcuts, and how often it is looked for meanwhile.
  static constexpr uint32_t kShellWaitMs = 3000;
  static constexpr uint32_t kShellPollMs = 100;

  explicit TProgMan(TComponent* owner);
  ~TProgMan() override;

  // Opens a conversation with "progman", sends CreateGroup and ShowGroup for
  // programGroup, one AddItem per line of programItems, and closes the conversation;
  // then, with ShortcutFallback, waits until the shell has made the group and the
  // items sent (kShellWaitMs at most) and writes what is missing. With Quiet nothing
  // goes over DDE and the fallback writes everything.
  Error CreateProgramGroup();

  // Automatic connect mode, then the link to "progman" with the current topic; when
  // that finds no server, the documented topic; when that finds none either, the
  // Program Manager of the Windows directory is started (never one found along the
  // search path) and the documented topic asked once more. Whether the conversation
  // opened is not reported.
  Error ConnectProgman();
  Error SendCreateGroup(const AnsiString& group);
  // Splits an item line at its first two commas into command line, item name and
  // third field. Anything after the second comma, further commas included, stays in
  // the third field, so extra AddItem arguments pass through. The command line and
  // the name may be given in double quotes to hold commas (ReadField); the third field
  // is kept as it is, quotes and all, and split into arguments when it is sent.
  static Error SplitItemLine(const AnsiString& line, AnsiString* command_line, AnsiString* name, AnsiString* third);
  Error SendAddItem(const AnsiString& command_line, const AnsiString& name, const AnsiString& third);
  void DisconnectProgman();

  // A name or field as a command carries it: in double quotes when it holds a comma,
  // a parenthesis or a square bracket, unchanged otherwise. false when it holds a
  // double quote: such a field is refused, not sent.
  static bool QuoteField(const AnsiString& field, AnsiString* out);
  // Reads the field of a comma-separated list that starts at *pos into field and
  // moves *pos past its comma; false when no comma ended it. A field that begins with
  // a double quote runs to the next double quote, commas included; the two quotes are
  // not part of it, and text after the closing one is kept.
  static bool ReadField(const AnsiString& list, size_t* pos, AnsiString* field);
  // The report of the last CreateProgramGroup.
  TGroupOutcome GroupOutcome() const;

  // Option: when set, CreateProgramGroup ends by writing through this edge what
  // Program Manager did not get or did not make in time: when CreateGroup was not
  // sent, the group's folder and every line as a shortcut; otherwise each line whose
  // AddItem was not sent or whose shortcut is not there (and the folder, when no line
  // was sent and it is not there). A shortcut is named by the item's name (by the
  // command's file name when that is empty), points at the command line, starts in
  // the command's folder and takes the first argument of the third field as its
  // icon. A group or shortcut name that Windows would not take as written is not
  // written.
  ShellLinkEdge* ShortcutFallback = nullptr;
  // Option: nothing goes over DDE. A shell opens the group's window on CreateGroup
  // (Windows' Explorer and Wine's shell alike), which an unattended install must not
  // cause; the group and its items are then written through ShortcutFallback alone.
  bool Quiet = false;
  // The group and the item lines are UTF-8 (a configured installer), else in the ANSI
  // code page, judged as Windows-1250.
  bool Utf8 = false;
  // The group is the user's own (",0" after CreateGroup's and ShowGroup's arguments):
  // Explorer otherwise makes it for all users when the user is an administrator.
  bool PersonalGroup = false;

  // Published properties.
  TStringList& programItems() { return program_items_; }
  AnsiString programGroup;
  TActivateType ShowGroup = activateNormalSize;
  TNotifyEvent OnGroupError;
  TNotifyEvent OnItemError;

 private:
  // Sends text followed by CR LF; false when it was not sent.
  bool SendLine(AnsiString& text, Error* error);
  void ClearReport();
  Error SendProgramGroup(int count);
  // Whether the shell has made every line sent (or, with none, the group's folder);
  // with mark, the lines it has not made are marked as not registered.
  bool ShellMadeAll(ShellLinkEdge& edge, bool mark);
  void AwaitShell(ShellLinkEdge& edge);
  void WriteShortcuts(ShellLinkEdge& edge);

  TStringList program_items_;
  bool group_sent_ = false;
  bool group_missing_ = false;        // sent, but its folder not found afterwards
  bool group_folder_ = false;         // made by the fallback
  bool item_sent_ = false;            // the last SendAddItem's command was sent
  uint8_t* item_outcomes_ = nullptr;  // TItemOutcome per line read
  int item_count_ = 0;
  char command_buffer_[kCommandBufferSize] = {};
};

}  // namespace vek
