// Unit DdeMan: the program's link to the Windows DDE management library.
//
// `TDdeMgr` owns the one DDEML instance of the program (its single object is
// `DdeManager`, made at start-up before any form and destroyed after every form) and
// registers the program's own service name. `TDdeClientConv` holds one client
// conversation with a server named by a service and a topic and sends execute
// commands over it.
//
// Only the client side of DDE is built: the program serves nothing and links no data
// items, so there are no item or server-conversation classes and the steps that would
// concern them are absent.
//
// Failures of single DDE operations are Boolean results. The two failures that are
// errors (the manager's start-up and the ConnectMode writer) are returned as Error.
#pragma once

#include <stdint.h>

#include "ansistring.h"
#include "classes.h"
#include "ddemledge.h"
#include "error.h"

namespace vek {

class TDdeClientConv;

class TDdeMgr : public TComponent {
 public:
  // Opens the DDEML instance and registers the program's base name as a service. A
  // failure to open the instance stops there and is kept as InitError(); use
  // InitDdeManager, which reports it. The instance is an ANSI one: the program sends
  // only ASCII commands (progman.h), which read the same in every code page.
  TDdeMgr(TComponent* owner, DdemlEdge& edge);
  // Unregisters and frees the service name, then ends the DDEML instance.
  ~TDdeMgr() override;

  // The function registered with DDEML. Only the client part does anything: a server
  // that ends a conversation ends it on this side too.
  static HDDEDATA ManagerCallback(uint32_t type, uint32_t format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                                  uintptr_t data1, uintptr_t data2);

  uint32_t InstanceId() const { return instance_id_; }
  DdemlEdge& Edge() const { return edge_; }
  const Error& InitError() const { return init_error_; }

 private:
  DdemlEdge& edge_;
  HSZ app_service_handle_ = 0;
  uint32_t instance_id_ = 0;
  Error init_error_;
};

// The program's DDE manager; nullptr before InitDdeManager and after its destruction.
extern TDdeMgr* DdeManager;

// Creates DdeManager owned by owner. On failure it is destroyed again, DdeManager stays
// nullptr and the error (EDdeError, or out of memory) is returned: the program then
// ends with runtime error 217.
Error InitDdeManager(TComponent* owner, DdemlEdge& edge);

// The base name of an executable path: the file name without its directory, cut
// before its first "." ("C:\a\setup.exe" gives "setup", "a.b.exe" gives "a").
AnsiString ServiceNameFromPath(const char* path);

enum TDataMode : uint8_t { ddeAutomatic = 0, ddeManual = 1 };

class TDdeClientConv : public TComponent {
 public:
  explicit TDdeClientConv(TComponent* owner);
  ~TDdeClientConv() override;

  // Closes any conversation and sets the link; in automatic mode also opens it
  // (SwitchLink). Returns whether the link was set (and, if automatic, opened).
  bool AssignLink(const AnsiString& service, const AnsiString& topic);
  // Closes, sets the link and opens; on failure service and topic end up empty.
  bool SwitchLink(const AnsiString& service, const AnsiString& topic) { return SwitchLink(service, topic, true); }
  // The same; with may_start false a failed connect starts nothing.
  bool SwitchLink(const AnsiString& service, const AnsiString& topic, bool may_start);
  // True when this call opened a conversation. Starts the server program once when
  // the first connect fails (ServerStartCommand) and then tries once more. Names or a
  // start command over 255 characters fail it.
  bool OpenConversation() { return Open(true); }
  // The command that starts the server of service and topic: ServiceApplication as it
  // is when set; else the program named by the service in the Windows directory, by
  // its full path in double quotes and followed by a space and the topic when there is
  // one, provided that file exists; else empty. A bare name is never handed to the
  // platform, which would look for it first in the folder the program was started
  // from; a service that is not a plain file name has no program.
  AnsiString ServerStartCommand(const AnsiString& service, const AnsiString& topic) const;
  // Runs command minimised without activating it; true when the platform reports it
  // started. An empty or overlong command runs nothing.
  bool StartServer(const AnsiString& command);
  // Ends any conversation (OnClose fires if one was open), frees the string handles
  // and empties service and topic. Closing twice is harmless.
  void CloseConversation();
  // Starts an asynchronous execute transaction with the zero-terminated command and
  // its terminating zero byte, and does not wait for it. True when the transaction
  // was started.
  bool SendCommand(const char* command);

  const AnsiString& DdeService() const { return service_; }
  const AnsiString& DdeTopic() const { return topic_; }
  TDataMode ConnectMode() const { return connect_mode_; }
  // Switching to ddeAutomatic with service and topic set opens the conversation; when
  // that fails the mode stays and "Unable to connect DDE conversation" is returned.
  Error SetConnectMode(TDataMode mode);
  AnsiString ServiceApplication;  // start command of the server; empty by default
  TNotifyEvent OnClose;
  TNotifyEvent OnOpen;

  HCONV ConversationHandle() const { return conversation_handle_; }

 private:
  friend class TDdeMgr;  // ManagerCallback

  bool Open(bool may_start);
  bool TryConnect();
  // Forgets the conversation (OnClose fires if one was open); no DdeDisconnect.
  void ConversationEnded();

  AnsiString service_;
  AnsiString topic_;
  HCONV conversation_handle_ = 0;
  HSZ service_handle_ = 0;
  HSZ topic_handle_ = 0;
  uint32_t execute_format_ = 0;  // the conversation's data format
  TDataMode connect_mode_ = ddeAutomatic;
};

}  // namespace vek
