#include <set>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dde_fixture.h"
#include "ddeman.h"
#include "recording_ddeml.h"

namespace vek::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Message(const Error& error) {
  char text[128];
  FormatErrorMessage(error, text, sizeof text);
  return text;
}

// The program's own service is registered under its base name and given back with
// everything else when the manager ends.
TEST(DdeManagerTest, RegistersItsServiceAndGivesEverythingBack) {
  RecordingDdeml ddeml;
  ASSERT_TRUE(InitDdeManager(nullptr, ddeml).ok());
  ASSERT_NE(DdeManager, nullptr);
  EXPECT_THAT(ddeml.CallsOf("DdeNameService"), ElementsAre("DdeNameService(7,\"setup\",0,1)"));
  delete DdeManager;
  EXPECT_EQ(DdeManager, nullptr);
  EXPECT_THAT(ddeml.CallsOf("DdeNameService"),
              ElementsAre("DdeNameService(7,\"setup\",0,1)", "DdeNameService(7,\"setup\",0,2)"));
  EXPECT_EQ(ddeml.LiveStringHandles(), 0u);
  EXPECT_EQ(ddeml.Count("DdeUninitialize"), 1u);
}

TEST(DdeManagerTest, ServiceNameIsBaseNameBeforeFirstDot) {
  const struct {
    const char* path;
    const char* name;
  } cases[] = {
      {"C:\\Program Files\\setup.exe", "setup"},
      {"C:\\x.y\\a.b.exe", "a"},
      {"tarnov", "tarnov"},
      {"C:prog.exe", "prog"},
      {"C:\\dir\\.hidden", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ServiceNameFromPath(c.path), c.name) << c.path;
}

TEST(DdeManagerTest, FailedInitializeGivesOneOfThreeMessages) {
  const struct {
    uint32_t code;
    const char* message;
  } cases[] = {
      {0x4007, "Error occurred when DDE ran out of memory ($04007)"},
      {0x4008, "Error occurred when DDE ran out of memory ($04008)"},
      {0x400A, "DDE Error - conversation not established ($0400A)"},
      {0x4006, "An error returned from DDE  ($04006)"},
  };
  for (const auto& c : cases) {
    RecordingDdeml ddeml;
    ddeml.initialize_result = c.code;
    ddeml.last_error = c.code;
    Error error = InitDdeManager(nullptr, ddeml);
    EXPECT_EQ(error, DdeError(c.code));
    EXPECT_EQ(Message(error), c.message);
    EXPECT_EQ(DdeManager, nullptr);
    EXPECT_EQ(ddeml.Count("DdeNameService"), 0u);
    EXPECT_EQ(ddeml.Count("DdeGetLastError"), 1u);
  }
}

TEST_F(DdeTest, OpenRefusesWhenOpenOrUnnamed) {
  TDdeClientConv conv(nullptr);
  EXPECT_FALSE(conv.OpenConversation());  // no service, no topic
  EXPECT_THAT(ddeml.calls, IsEmpty());

  ASSERT_TRUE(conv.AssignLink("progman", "x"));
  HCONV open = conv.ConversationHandle();
  ddeml.calls.clear();
  EXPECT_FALSE(conv.OpenConversation());
  EXPECT_EQ(conv.ConversationHandle(), open);
  EXPECT_THAT(ddeml.calls, IsEmpty());
}

TEST_F(DdeTest, ConnectsWithContextAndUserHandle) {
  ddeml.conversation_format = 0;  // reported as none: commands go as CF_TEXT
  EventCounter opened;
  TDdeClientConv conv(nullptr);
  conv.OnOpen = opened.Event();
  ASSERT_TRUE(conv.AssignLink("progman", "Tarnovista"));
  EXPECT_THAT(ddeml.CallsOf("DdeConnect"), ElementsAre("DdeConnect(7,\"progman\",\"Tarnovista\",cb=36,cp=1004)"));
  ConvContext expected = {};
  expected.cb = 36;
  expected.iCodePage = 1004;
  EXPECT_EQ(memcmp(&ddeml.last_context, &expected, sizeof expected), 0);
  EXPECT_EQ(ddeml.UserHandle(conv.ConversationHandle()), reinterpret_cast<uintptr_t>(&conv));
  EXPECT_EQ(opened.calls, 1);
  EXPECT_EQ(opened.last_sender, &conv);
  ASSERT_TRUE(conv.SendCommand("[x]"));
  EXPECT_THAT(ddeml.CallsOf("DdeCreateDataHandle"), ElementsAre("DdeCreateDataHandle(7,\"[x]\\0\",4,0,0,1,0)"));
}

TEST_F(DdeTest, StartsServerOnceWhenFirstConnectFails) {
  const struct {
    const char* service;
    const char* topic;
    const char* application;
    uint32_t winexec;
    bool comes_up;
    const char* command;
    size_t connects;
    bool opened;
  } cases[] = {
      {"progman", "", "", 32, true, "\"C:\\WINDOWS\\progman.exe\"", 2, true},
      {"progman", "", "", 33, false, "\"C:\\WINDOWS\\progman.exe\"", 2, false},
      {"progman", "", "", 31, true, "\"C:\\WINDOWS\\progman.exe\"", 1, false},
      {"progman", "t", "", 2, true, "\"C:\\WINDOWS\\progman.exe\" t", 1, false},
      {"", "t", "C:\\pm.exe /x", 40, true, "C:\\pm.exe /x", 2, true},
      {"", "t", "", 40, true, nullptr, 1, false},
      {"other", "", "", 40, true, nullptr, 1, false},  // no C:\WINDOWS\other.exe
  };
  for (const auto& c : cases) {
    ddeml.calls.clear();
    ddeml.server_running = false;
    ddeml.winexec_result = c.winexec;
    ddeml.winexec_starts_server = c.comes_up;
    TDdeClientConv conv(nullptr);
    conv.ServiceApplication = c.application;
    EXPECT_EQ(conv.SwitchLink(c.service, c.topic), c.opened) << c.service << "|" << c.topic;
    EXPECT_EQ(ddeml.Count("DdeConnect"), c.connects) << c.service << "|" << c.topic;
    if (c.command) {
      EXPECT_THAT(ddeml.CallsOf("WinExec"), ElementsAre("WinExec(\"" + std::string(c.command) + "\",7)"));
    } else {
      EXPECT_EQ(ddeml.Count("WinExec"), 0u);
    }
  }
}

// The server program is only ever the one in the Windows directory, by its full
// path: a program of that name in the current folder, or one that a service name
// reaching out of the folder would find, is never started.
TEST_F(DdeTest, TheServerProgramComesOnlyFromTheWindowsDirectory) {
  const std::string overlong(256, 'w');
  const struct {
    const char* service;
    const char* windows;
    std::set<std::string> files;
    const char* command;  // nullptr: nothing started
  } cases[] = {
      {"progman", "C:\\WINDOWS", {"progman.exe", "C:\\Users\\u\\Downloads\\progman.exe"}, nullptr},
      {"progman", "C:\\WINDOWS", {"C:\\WINDOWS\\progman.exe"}, "\"C:\\WINDOWS\\progman.exe\""},
      {"progman", "C:\\", {"C:\\progman.exe"}, "\"C:\\progman.exe\""},
      {"progman", "D:\\Win Dir", {"D:\\Win Dir\\progman.exe"}, "\"D:\\Win Dir\\progman.exe\""},
      {"progman", "", {"progman.exe", "\\progman.exe"}, nullptr},  // no Windows directory
      {"progman", overlong.c_str(), {}, nullptr},
      {"..\\Downloads\\progman", "C:\\WINDOWS", {"C:\\WINDOWS\\..\\Downloads\\progman.exe"}, nullptr},
      {"C:progman", "C:\\WINDOWS", {"C:progman.exe"}, nullptr},
      {"..", "C:\\WINDOWS", {"C:\\WINDOWS\\...exe"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.service + std::string(" in ") + c.windows);
    ddeml.calls.clear();
    ddeml.server_running = false;
    ddeml.windows_directory = c.windows;
    ddeml.files = c.files;
    TDdeClientConv conv(nullptr);
    EXPECT_EQ(conv.SwitchLink(c.service, ""), c.command != nullptr);  // started: it answers
    if (c.command) {
      EXPECT_THAT(ddeml.CallsOf("WinExec"), ElementsAre("WinExec(\"" + std::string(c.command) + "\",7)"));
    } else {
      EXPECT_EQ(ddeml.Count("WinExec"), 0u);
    }
    // Only the Windows directory's file is ever looked at.
    for (const std::string& call : ddeml.CallsOf("GetFileAttributesA")) {
      EXPECT_EQ(call.rfind("GetFileAttributesA(\"" + std::string(c.windows), 0), 0u) << call;
    }
  }
}

TEST_F(DdeTest, OverlongNamesFailTheOpen) {
  const std::string fits(255, 'a'), too_long(256, 'a');
  TDdeClientConv conv(nullptr);
  EXPECT_TRUE(conv.SwitchLink(fits.c_str(), fits.c_str()));
  EXPECT_FALSE(conv.SwitchLink(too_long.c_str(), "t"));
  EXPECT_FALSE(conv.SwitchLink("s", too_long.c_str()));
  for (const std::string& call : ddeml.CallsOf("DdeCreateStringHandleA")) {
    EXPECT_EQ(call.find(too_long), std::string::npos);
  }
  ddeml.calls.clear();
  ddeml.server_running = false;
  conv.ServiceApplication = too_long.c_str();
  EXPECT_FALSE(conv.SwitchLink("s", "t"));
  EXPECT_EQ(ddeml.Count("WinExec"), 0u);
}

TEST_F(DdeTest, SendCommandStartsAsyncExecuteWithOneZeroByte) {
  TDdeClientConv conv(nullptr);
  EXPECT_FALSE(conv.SendCommand("[x]"));  // no conversation
  EXPECT_THAT(ddeml.calls, IsEmpty());

  ASSERT_TRUE(conv.AssignLink("progman", ""));
  ddeml.calls.clear();
  EXPECT_TRUE(conv.SendCommand("[a(b)]\r\n"));
  EXPECT_THAT(ddeml.calls, ElementsAre("DdeCreateDataHandle(7,\"[a(b)]\\r\\n\\0\",9,0,0,1,0)",
                                       "DdeClientTransaction(D1,0xFFFFFFFF,C1,0,1,0x4050,0xFFFFFFFF)"));
  EXPECT_THAT(ddeml.executes, ElementsAre(std::string("[a(b)]\r\n\0", 9)));

  ddeml.fail_data_handles = true;
  EXPECT_FALSE(conv.SendCommand("[x]"));
  ddeml.fail_data_handles = false;
  ddeml.fail_transactions = true;
  EXPECT_FALSE(conv.SendCommand("[x]"));
  ddeml.fail_transactions = false;
  EXPECT_TRUE(conv.SendCommand("[y]")) << "a command is never waited for";
}

TEST_F(DdeTest, CloseEndsConversationOnceAndUnlinks) {
  EventCounter closed;
  TDdeClientConv conv(nullptr);
  conv.OnClose = closed.Event();
  ASSERT_TRUE(conv.AssignLink("progman", "t"));
  ddeml.calls.clear();
  conv.CloseConversation();
  conv.CloseConversation();
  EXPECT_EQ(closed.calls, 1);
  EXPECT_THAT(ddeml.calls, ElementsAre("DdeSetUserHandle(C1,QID_SYNC,0)", "DdeDisconnect(C1)",
                                       "DdeFreeStringHandle(7,\"progman\")", "DdeFreeStringHandle(7,\"t\")"));
  EXPECT_EQ(conv.DdeService(), "");
  EXPECT_EQ(conv.DdeTopic(), "");
  EXPECT_EQ(ddeml.OpenConversations(), 0u);
}

TEST_F(DdeTest, ServerEndingConversationLeavesItLinked) {
  EventCounter closed;
  TDdeClientConv conv(nullptr);
  conv.OnClose = closed.Event();
  ASSERT_TRUE(conv.AssignLink("progman", "t"));
  ddeml.EndConversation(conv.ConversationHandle());
  EXPECT_EQ(closed.calls, 1);
  EXPECT_EQ(conv.ConversationHandle(), 0u);
  EXPECT_EQ(conv.DdeService(), "progman");
  EXPECT_FALSE(conv.SendCommand("[x]"));

  ddeml.calls.clear();
  conv.CloseConversation();
  EXPECT_EQ(closed.calls, 1);
  EXPECT_EQ(ddeml.Count("DdeDisconnect"), 0u);
  EXPECT_EQ(ddeml.Count("DdeFreeStringHandle"), 2u);
}

TEST_F(DdeTest, ConnectModeRules) {
  TDdeClientConv conv(nullptr);
  EXPECT_TRUE(conv.SetConnectMode(ddeAutomatic).ok());  // unchanged: nothing happens
  EXPECT_THAT(ddeml.calls, IsEmpty());
  ASSERT_TRUE(conv.SetConnectMode(ddeManual).ok());
  EXPECT_TRUE(conv.AssignLink("progman", "t"));  // manual: linked, not opened
  EXPECT_EQ(ddeml.Count("DdeConnect"), 0u);

  ddeml.server_running = false;
  ddeml.winexec_starts_server = false;
  EXPECT_EQ(conv.SetConnectMode(ddeAutomatic), GeneralError("Unable to connect DDE conversation"));
  EXPECT_EQ(conv.ConnectMode(), ddeManual);

  ddeml.server_running = true;
  ASSERT_TRUE(conv.OpenConversation());
  // An open conversation makes OpenConversation report false, so the switch fails too.
  EXPECT_EQ(conv.SetConnectMode(ddeAutomatic), GeneralError("Unable to connect DDE conversation"));
  EXPECT_EQ(conv.ConnectMode(), ddeManual);

  conv.CloseConversation();
  ASSERT_TRUE(conv.AssignLink("progman", "t"));
  EXPECT_TRUE(conv.SetConnectMode(ddeAutomatic).ok());
  EXPECT_EQ(conv.ConnectMode(), ddeAutomatic);
  EXPECT_NE(conv.ConversationHandle(), 0u);
  EXPECT_TRUE(conv.SetConnectMode(ddeManual).ok());  // leaves the conversation open
  EXPECT_NE(conv.ConversationHandle(), 0u);
}

TEST_F(DdeTest, AFailedSwitchLeavesNoLink) {
  TDdeClientConv conv(nullptr);
  ddeml.accepts = [](const std::string&, const std::string&) { return false; };
  ddeml.winexec_result = 2;
  EXPECT_FALSE(conv.SwitchLink("progman", "t"));
  EXPECT_EQ(conv.DdeService(), "");
  EXPECT_EQ(conv.DdeTopic(), "");
}

TEST(DdeOwnershipTest, OwnerClosesConversationsBeforeManagerEnds) {
  RecordingDdeml ddeml;
  TComponent* application = new TComponent(nullptr);
  ASSERT_TRUE(InitDdeManager(application, ddeml).ok());
  TComponent* form = new TComponent(application);
  TDdeClientConv* conv = new TDdeClientConv(form);
  ASSERT_TRUE(conv->AssignLink("progman", "t"));
  delete application;  // the form (and its conversation) first, then the manager
  std::string order;
  for (const std::string& call : ddeml.calls) {
    if (call.rfind("DdeDisconnect", 0) == 0) order += "D";
    if (call.rfind("DdeUninitialize", 0) == 0) order += "U";
  }
  EXPECT_EQ(order, "DU");
  EXPECT_EQ(DdeManager, nullptr);
}

}  // namespace
}  // namespace vek::testing
