#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dde_fixture.h"
#include "progman.h"
#include "recording_ddeml.h"
#include "recording_shelllink.h"

namespace vek::testing {
namespace {

using ::testing::ElementsAre;

// An execute as the server receives it: the command, CR LF and one zero byte.
std::string Exec(const std::string& command) { return command + "\r\n" + std::string(1, '\0'); }

class ProgManTest : public DdeTest {
 protected:
  void SetUp() override {
    DdeTest::SetUp();
    pm = new TProgMan(nullptr);
    pm->OnGroupError = group_errors.Event();
    pm->OnItemError = item_errors.Event();
  }
  void TearDown() override {
    delete pm;
    DdeTest::TearDown();
  }
  void SetItems(const std::vector<std::string>& lines) {
    pm->programItems().Clear();
    for (const std::string& line : lines) ASSERT_TRUE(pm->programItems().Add(AnsiString(line.data(), line.size())));
  }

  TProgMan* pm = nullptr;
  EventCounter group_errors;
  EventCounter item_errors;
};

TEST(SplitItemLineTest, SplitsAtFirstTwoCommasAndBuildsAddItem) {
  const struct {
    const char* line;
    const char* command_line;
    const char* name;
    const char* third;
    const char* add_item;
  } cases[] = {
      {"x", "x", "", "", "[AddItem(x)]"},
      {"x,y", "x", "y", "", "[AddItem(x,y)]"},
      {"x,y,z", "x", "y", "z", "[AddItem(x,y,z)]"},
      {"x,,z", "x", "", "z", "[AddItem(x,z)]"},
      {",y", "", "y", "", "[AddItem(,y)]"},
      {"x,", "x", "", "", "[AddItem(x)]"},
      {"", "", "", "", "[AddItem()]"},
      {",,", "", "", "", "[AddItem()]"},
      // Text after a third comma stays in the third field.
      {"x,y,z,1", "x", "y", "z,1", "[AddItem(x,y,z,1)]"},
      {"a,b,,,e", "a", "b", ",,e", "[AddItem(a,b,,,e)]"},
      // Blanks stay; a field with parentheses goes in quotes.
      {" C:\\A B\\f (1).htm , Name (2)", " C:\\A B\\f (1).htm ", " Name (2)", "",
       "[AddItem(\" C:\\A B\\f (1).htm \",\" Name (2)\")]"},
      // A quoted command or name holds commas; the third field keeps its quotes and
      // is sent argument by argument.
      {"\"C:\\a,b\\x.htm\",N", "C:\\a,b\\x.htm", "N", "", "[AddItem(\"C:\\a,b\\x.htm\",N)]"},
      {"x,\"N,1\"", "x", "N,1", "", "[AddItem(x,\"N,1\")]"},
      {"\"C:\\x.htm\"", "C:\\x.htm", "", "", "[AddItem(C:\\x.htm)]"},
      {"x,y,\"C:\\a,b.ico\",1", "x", "y", "\"C:\\a,b.ico\",1", "[AddItem(x,y,\"C:\\a,b.ico\",1)]"},
      {"x,y,C:\\(x86)\\a.ico,0", "x", "y", "C:\\(x86)\\a.ico,0", "[AddItem(x,y,\"C:\\(x86)\\a.ico\",0)]"},
      {"\"x,y", "x,y", "", "", "[AddItem(\"x,y\")]"},  // no closing quote: to the end
  };
  for (const auto& c : cases) {
    AnsiString command_line("junk"), name("junk"), third("junk");
    ASSERT_TRUE(TProgMan::SplitItemLine(c.line, &command_line, &name, &third).ok());
    EXPECT_EQ(command_line, c.command_line) << c.line;
    EXPECT_EQ(name, c.name) << c.line;
    EXPECT_EQ(third, c.third) << c.line;

    RecordingDdeml ddeml;
    ASSERT_TRUE(InitDdeManager(nullptr, ddeml).ok());
    {
      TProgMan pm(nullptr);
      pm.programGroup = "G";
      ASSERT_TRUE(pm.programItems().Add(c.line));
      ASSERT_TRUE(pm.CreateProgramGroup().ok());
      ASSERT_EQ(ddeml.executes.size(), 3u);
      EXPECT_EQ(ddeml.executes[2], Exec(c.add_item)) << c.line;
    }
    delete DdeManager;
  }
}

TEST_F(ProgManTest, TheGroupAndItsItemGoOutAsThreeCommandsAndTheConversationCloses) {
  pm->programGroup = "NWM Tarnovista";
  SetItems({"C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99"});
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_THAT(ddeml.executes, ElementsAre(Exec("[CreateGroup(NWM Tarnovista)]"), Exec("[ShowGroup(NWM Tarnovista,1)]"),
                                          Exec("[AddItem(C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99)]")));
  EXPECT_THAT(ddeml.CallsOf("DdeConnect"), ElementsAre("DdeConnect(7,\"progman\",0,cb=36,cp=1004)"));
  EXPECT_EQ(ddeml.Count("WinExec"), 0u);
  EXPECT_EQ(ddeml.OpenConversations(), 0u);
  EXPECT_EQ(pm->ConversationHandle(), 0u);
  EXPECT_EQ(group_errors.calls + item_errors.calls, 0);
  EXPECT_EQ(pm->GroupOutcome(), groupSent);

  // A second call sends the same commands again.
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_EQ(ddeml.executes.size(), 6u);
  EXPECT_EQ(ddeml.executes[5], ddeml.executes[2]);
}

TEST_F(ProgManTest, ShowGroupNumbers) {
  const struct {
    TActivateType show;
    const char* command;
  } cases[] = {
      {activateNormalSize, "[ShowGroup(G,1)]"},
      {activateAndIconize, "[ShowGroup(G,2)]"},
      {activateMaximize, "[ShowGroup(G,3)]"},
      {iconizeNoActivate, "[ShowGroup(G,7)]"},
  };
  pm->programGroup = "G";
  for (const auto& c : cases) {
    ddeml.executes.clear();
    pm->ShowGroup = c.show;
    ASSERT_TRUE(pm->CreateProgramGroup().ok());  // no items
    EXPECT_THAT(ddeml.executes, ElementsAre(Exec("[CreateGroup(G)]"), Exec(c.command)));
  }
}

TEST_F(ProgManTest, APersonalGroupSaysSo) {
  pm->programGroup = "G";
  pm->PersonalGroup = true;
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_THAT(ddeml.executes, ElementsAre(Exec("[CreateGroup(G,0)]"), Exec("[ShowGroup(G,1,0)]")));
}

TEST_F(ProgManTest, NoServerFiresEventsAndStillCloses) {
  ddeml.server_running = false;
  ddeml.winexec_starts_server = false;
  pm->programGroup = "G";
  SetItems({"a", "b,c", "d"});
  EXPECT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_EQ(group_errors.calls, 1);
  EXPECT_EQ(group_errors.last_sender, pm);
  EXPECT_EQ(item_errors.calls, 0) << "no AddItem is tried without its group";
  EXPECT_THAT(ddeml.CallsOf("WinExec"), ElementsAre("WinExec(\"\"C:\\WINDOWS\\progman.exe\"\",7)"));
  EXPECT_EQ(ddeml.Count("DdeConnect"), 3u);
  EXPECT_EQ(ddeml.Count("DdeCreateDataHandle"), 0u);
  EXPECT_EQ(ddeml.LiveStringHandles(), 1u);  // only the manager's own service name
  EXPECT_EQ(pm->DdeService(), "");
  EXPECT_EQ(pm->GroupOutcome(), groupNotRegistered);
}

// A refused CreateGroup is reported, and nothing of the group goes after it: an AddItem
// without its group lands in whatever group the shell has at hand (Wine's shell,
// having none, crashes).
TEST_F(ProgManTest, ARefusedCreateGroupIsReportedAndNothingFollowsIt) {
  SetItems({"a", "b"});
  pm->programGroup = "G";
  ddeml.fail_transactions = true;
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_EQ(group_errors.calls, 1);
  EXPECT_EQ(item_errors.calls, 0);
  EXPECT_EQ(ddeml.Count("DdeClientTransaction"), 1u);
  EXPECT_EQ(ddeml.OpenConversations(), 0u);
}

TEST_F(ProgManTest, LineCountIsReadOnce) {
  pm->programGroup = "G";
  SetItems({"a\"", "b\""});  // refused: a double quote
  struct Grower {
    TProgMan* pm;
    int calls = 0;
    void Grow(TComponent*) {
      // Bounded, so that a loop that rereads the count ends with a failure.
      if (++calls <= 3) {
        EXPECT_TRUE(pm->programItems().Add("more"));
      }
    }
  } grower{pm};
  pm->OnItemError = MakeNotifyEvent<&Grower::Grow>(&grower);
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_EQ(grower.calls, 2);
  EXPECT_EQ(pm->programItems().Count(), 4);  // two lines added
  EXPECT_EQ(ddeml.executes.size(), 2u) << "CreateGroup and ShowGroup only";
}

TEST_F(ProgManTest, CommandsLongerThanTheBufferAreSentWhole) {
  const std::string folder = "C:\\" + std::string(250, 'd');
  pm->programGroup = AnsiString(std::string(240, 'g').c_str());
  SetItems({folder + "\\INDEX.HTM,Tarnovista 3_99"});
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  ASSERT_EQ(ddeml.executes.size(), 3u);
  EXPECT_EQ(ddeml.executes[0], Exec("[CreateGroup(" + std::string(240, 'g') + ")]"));
  EXPECT_EQ(ddeml.executes[2], Exec("[AddItem(" + folder + "\\INDEX.HTM,Tarnovista 3_99)]"));
  EXPECT_EQ(ddeml.executes[2].size(), 39 + folder.size() + 1);
  EXPECT_EQ(group_errors.calls + item_errors.calls, 0);
}

TEST_F(ProgManTest, ConnectModeFailureStopsTheRun) {
  pm->programGroup = "G";
  ASSERT_TRUE(pm->SetConnectMode(ddeManual).ok());
  ASSERT_TRUE(pm->AssignLink("progman", "Main"));
  ddeml.server_running = false;
  ddeml.winexec_starts_server = false;
  SetItems({"a"});
  EXPECT_EQ(pm->CreateProgramGroup(), GeneralError("Unable to connect DDE conversation"));
  EXPECT_EQ(ddeml.Count("DdeCreateDataHandle"), 0u);
  EXPECT_EQ(group_errors.calls + item_errors.calls, 0);
}

TEST(QuoteFieldTest, QuotesWhatWouldEndAFieldAndRefusesQuotes) {
  const struct {
    const char* field;
    bool carried;
    const char* sent;
  } cases[] = {
      {"NWM Tarnovista", true, "NWM Tarnovista"},
      {"C:\\Tarnovista,3_99", true, "\"C:\\Tarnovista,3_99\""},
      {"C:\\Program Files (x86)\\Tarnovista", true, "\"C:\\Program Files (x86)\\Tarnovista\""},
      {"a)", true, "\"a)\""},
      {"[x]", true, "\"[x]\""},
      {"   ", true, "   "},
      {"", true, ""},
      {"say \"hi\"", false, ""},
      {"\"", false, ""},
  };
  for (const auto& c : cases) {
    AnsiString out("junk");
    EXPECT_EQ(TProgMan::QuoteField(c.field, &out), c.carried) << c.field;
    EXPECT_EQ(out, c.sent) << c.field;
  }
}

TEST_F(ProgManTest, QuotedNamesReachTheCommandsAndARefusedOneIsNotSent) {
  pm->programGroup = "A, B (1)";
  SetItems({"C:\\x.htm,Say \"hi\"", "C:\\y.htm,Y"});
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_THAT(ddeml.executes, ElementsAre(Exec("[CreateGroup(\"A, B (1)\")]"), Exec("[ShowGroup(\"A, B (1)\",1)]"),
                                          Exec("[AddItem(C:\\y.htm,Y)]")));
  EXPECT_EQ(item_errors.calls, 1);
  EXPECT_EQ(pm->GroupOutcome(), groupNotRegistered);

  // A group that cannot be sent: no conversation, nothing sent.
  ddeml.executes.clear();
  ddeml.calls.clear();
  pm->programGroup = "\"G\"";
  SetItems({"x"});
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_TRUE(ddeml.executes.empty());
  EXPECT_EQ(ddeml.Count("DdeConnect"), 0u);
  EXPECT_EQ(group_errors.calls, 1);
}

// Only ASCII goes over DDE: a group, a name, a command or an argument holding any other
// character is not sent (Windows-1250 and UTF-8 alike), and its group's items neither.
TEST_F(ProgManTest, OnlyAsciiGoesOverDde) {
  const struct {
    const char* group;
    const char* line;
    bool utf8;
    std::vector<std::string> sent;
  } cases[] = {
      {"G",
       "C:\\a\\x.htm,A",
       false,
       {Exec("[CreateGroup(G)]"), Exec("[ShowGroup(G,1)]"), Exec("[AddItem(C:\\a\\x.htm,A)]")}},
      {"G", "C:\\a\\x.htm,Ja\x9F\xF1", false, {Exec("[CreateGroup(G)]"), Exec("[ShowGroup(G,1)]")}},
      {"G", "C:\\a\\x.htm,Ja\xC5\xBA\xC5\x84", true, {Exec("[CreateGroup(G)]"), Exec("[ShowGroup(G,1)]")}},
      {"G",
       "C:\\\xA3\xF3"
       "d\x9F\\x.htm,A",
       false,
       {Exec("[CreateGroup(G)]"), Exec("[ShowGroup(G,1)]")}},
      {"G", "C:\\a\\x.htm,A,C:\\\xCE\x95.ico", true, {Exec("[CreateGroup(G)]"), Exec("[ShowGroup(G,1)]")}},
      {"Za\xBF\xF3\xB3\xE6", "C:\\a\\x.htm,A", false, {}},
      {"\xCE\x95\xCE\xBA", "C:\\a\\x.htm,A", true, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ddeml.executes.clear();
    pm->Utf8 = c.utf8;
    pm->programGroup = c.group;
    SetItems({c.line});
    ASSERT_TRUE(pm->CreateProgramGroup().ok());
    EXPECT_EQ(ddeml.executes, c.sent);
    EXPECT_EQ(pm->GroupOutcome(), c.sent.size() == 3 ? groupSent : groupNotRegistered);
  }
}

// The first connect is the one it always was; Wine's shell, for one, refuses it and
// answers the documented topic; only when nothing answers either is the Program
// Manager of the Windows directory started.
TEST_F(ProgManTest, ReachesTheShellByItsTopicBeforeStartingAnything) {
  const std::string any = "DdeConnect(7,\"progman\",0,cb=36,cp=1004)";
  const std::string documented = "DdeConnect(7,\"progman\",\"PROGMAN\",cb=36,cp=1004)";
  auto all = [](const std::string&, const std::string&) { return true; };
  auto progman_topic = [](const std::string&, const std::string& topic) { return topic == "PROGMAN"; };
  const struct {
    const char* what;
    bool running;
    std::function<bool(const std::string&, const std::string&)> accepts;
    std::set<std::string> files;
    std::vector<std::string> connects;
    size_t starts;
    bool sent;
  } cases[] = {
      {"any topic", true, all, {"C:\\WINDOWS\\progman.exe"}, {any}, 0, true},
      {"the documented topic only", true, progman_topic, {"C:\\WINDOWS\\progman.exe"}, {any, documented}, 0, true},
      {"none until started",
       false,
       progman_topic,
       {"C:\\WINDOWS\\progman.exe"},
       {any, documented, documented},
       1,
       true},
      {"none, and a progman.exe only in the current folder", false, all, {"progman.exe"}, {any, documented}, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ddeml.calls.clear();
    ddeml.executes.clear();
    ddeml.server_running = c.running;
    ddeml.accepts = c.accepts;
    ddeml.files = c.files;
    pm->programGroup = "NWM Tarnovista";
    SetItems({"C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99"});
    ASSERT_TRUE(pm->CreateProgramGroup().ok());
    EXPECT_EQ(ddeml.CallsOf("DdeConnect"), c.connects);
    EXPECT_EQ(ddeml.Count("WinExec"), c.starts);
    EXPECT_EQ(ddeml.executes.size(), c.sent ? 3u : 0u);
    EXPECT_EQ(pm->GroupOutcome(), c.sent ? groupSent : groupNotRegistered);
    EXPECT_EQ(ddeml.OpenConversations(), 0u);
  }
}

// What Program Manager did not get, or the shell did not make in time, goes into the
// Start menu as a folder and shortcuts.
TEST_F(ProgManTest, WithTheFallbackWhatIsNotThereBecomesShortcuts) {
  const char* kGroup = "NWM Tarnovista";
  const std::string kFolder = "folder NWM Tarnovista";
  constexpr int kNever = -1;
  const int all_waits = static_cast<int>(TProgMan::kShellWaitMs / TProgMan::kShellPollMs);
  const struct {
    const char* what;
    bool server;
    const char* group;
    std::vector<std::string> lines;
    bool fail_folders;
    bool fail_shortcuts;
    int shell_done;
    bool quiet;
    size_t sent;
    std::vector<std::string> calls;
    int waits;
    TGroupOutcome outcome;
  } cases[] = {
      {"no server",
       false,
       kGroup,
       {"C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99"},
       false,
       false,
       0,
       false,
       0,
       {kFolder, "shortcut NWM Tarnovista|Tarnovista 3_99|C:\\Tarnovista_3_99\\INDEX.HTM|C:\\Tarnovista_3_99|"},
       0,
       groupShortcuts},
      {"a drive root, no name, an icon",
       false,
       kGroup,
       {"C:\\INDEX.HTM,,C:\\i.ico,2"},
       false,
       false,
       0,
       false,
       0,
       {kFolder, "shortcut NWM Tarnovista|INDEX|C:\\INDEX.HTM|C:\\|C:\\i.ico"},
       0,
       groupShortcuts},
      {"one AddItem refused",
       true,
       kGroup,
       {"C:\\a\\x.htm,A", "C:\\b\\y\"z.htm,B"},
       false,
       false,
       0,
       false,
       3,
       {kFolder, "shortcut NWM Tarnovista|B|C:\\b\\y\"z.htm|C:\\b|"},
       0,
       groupShortcuts},
      {"everything made by the shell", true, kGroup, {"C:\\a\\x.htm,A"}, false, false, 0, false, 3, {}, 0, groupSent},
      {"made by the shell after a while",
       true,
       kGroup,
       {"C:\\a\\x.htm,A"},
       false,
       false,
       4,
       false,
       3,
       {},
       4,
       groupSent},
      {"sent, never made",
       true,
       kGroup,
       {"C:\\a\\x.htm,A"},
       false,
       false,
       kNever,
       false,
       3,
       {kFolder, "shortcut NWM Tarnovista|A|C:\\a\\x.htm|C:\\a|"},
       all_waits,
       groupShortcuts},
      {"a group without items, never made",
       true,
       kGroup,
       {},
       false,
       false,
       kNever,
       false,
       2,
       {kFolder},
       all_waits,
       groupShortcuts},
      {"never made, and the shortcut fails",
       true,
       kGroup,
       {"C:\\a\\x.htm,A"},
       false,
       true,
       kNever,
       false,
       3,
       {kFolder, "shortcut NWM Tarnovista|A|C:\\a\\x.htm|C:\\a|"},
       all_waits,
       groupNotRegistered},
      {"quiet: nothing over DDE",
       true,
       kGroup,
       {"C:\\a\\x.htm,A"},
       false,
       false,
       0,
       true,
       0,
       {kFolder, "shortcut NWM Tarnovista|A|C:\\a\\x.htm|C:\\a|"},
       0,
       groupShortcuts},
      {"a name outside ASCII",
       true,
       kGroup,
       {"C:\\a\\x.htm,A", "C:\\a\\y.htm,Y\xB3"},
       false,
       false,
       0,
       false,
       3,
       {kFolder, "shortcut NWM Tarnovista|Y\xB3|C:\\a\\y.htm|C:\\a|"},
       0,
       groupShortcuts},
      {"a group outside ASCII",
       true,
       "G\xB3",
       {"C:\\a\\x.htm,A"},
       false,
       false,
       0,
       false,
       0,
       {"folder G\xB3", "shortcut G\xB3|A|C:\\a\\x.htm|C:\\a|"},
       0,
       groupShortcuts},
      {"the shortcut fails",
       false,
       kGroup,
       {"C:\\a\\x.htm,A"},
       false,
       true,
       0,
       false,
       0,
       {kFolder, "shortcut NWM Tarnovista|A|C:\\a\\x.htm|C:\\a|"},
       0,
       groupNotRegistered},
      {"the folder fails",
       false,
       kGroup,
       {"C:\\a\\x.htm,A"},
       true,
       false,
       0,
       false,
       0,
       {kFolder},
       0,
       groupNotRegistered},
      {"a group that is no file name",
       false,
       "..\\Startup",
       {"C:\\a\\x.htm,A"},
       false,
       false,
       0,
       false,
       0,
       {},
       0,
       groupNotRegistered},
      {"an item name that is no file name",
       false,
       kGroup,
       {"C:\\a\\x.htm,A:B", "C:\\a\\y.htm,Y."},
       false,
       false,
       0,
       false,
       0,
       {kFolder},
       0,
       groupNotRegistered},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing::RecordingShellLinks links;
    links.fail_folders = c.fail_folders;
    links.fail_shortcuts = c.fail_shortcuts;
    links.shell_done_after_waits = c.shell_done;
    pm->ShortcutFallback = &links;
    pm->Quiet = c.quiet;
    ddeml.server_running = c.server;
    ddeml.files.clear();
    ddeml.executes.clear();
    group_errors.calls = item_errors.calls = 0;
    pm->programGroup = c.group;
    SetItems(c.lines);
    ASSERT_TRUE(pm->CreateProgramGroup().ok());
    EXPECT_EQ(ddeml.executes.size(), c.sent);
    EXPECT_EQ(links.calls, c.calls);
    EXPECT_EQ(links.waits, c.waits);
    EXPECT_EQ(pm->GroupOutcome(), c.outcome);
    if (!c.server) {
      EXPECT_EQ(group_errors.calls, 1) << "the events still tell";
    }
  }
}

// The shell's result is looked for by the name it gives each shortcut, in the group.
TEST_F(ProgManTest, TheShellsShortcutsAreLookedForByTheirNames) {
  testing::RecordingShellLinks links;
  pm->ShortcutFallback = &links;
  pm->programGroup = "G";
  SetItems({"C:\\a\\x.htm,A", "C:\\a\\INDEX.HTM", "C:\\b\\y\"z.htm,B"});
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_THAT(links.looked_for, ElementsAre("G|A", "G|INDEX"));
  EXPECT_THAT(links.calls, ElementsAre("folder G", "shortcut G|B|C:\\b\\y\"z.htm|C:\\b|"));
}

}  // namespace
}  // namespace vek::testing
