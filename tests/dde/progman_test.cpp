#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dde_fixture.h"
#include "progman.h"
#include "recording_ddeml.h"

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
    TStringList list;
    for (const std::string& line : lines) ASSERT_TRUE(list.Add(AnsiString(line.data(), line.size())));
    ASSERT_TRUE(pm->SetprogramItems(list).ok());
  }

  TProgMan* pm = nullptr;
  EventCounter group_errors;
  EventCounter item_errors;
};

TEST(SplitItemLineTest, SplitsAtFirstTwoCommasAndBuildsAddItem) {
  const struct {
    const char* line; const char* command_line; const char* name; const char* third;
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
      {" C:\\A B\\f (1).htm , Name (2) ", " C:\\A B\\f (1).htm ", " Name (2) ", "",
       "[AddItem( C:\\A B\\f (1).htm , Name (2) )]"},
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
      ASSERT_TRUE(pm.programItems().Add(c.line));
      ASSERT_TRUE(pm.CreateProgramGroup().ok());
      ASSERT_EQ(ddeml.executes.size(), 3u);
      EXPECT_EQ(ddeml.executes[2], Exec(c.add_item)) << c.line;
    }
    delete DdeManager;
  }
}

TEST_F(ProgManTest, WorkedExampleSendsThreeCommandsAndCloses) {
  pm->programGroup = "NWM Tarnovista";
  SetItems({"C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99"});
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_THAT(ddeml.executes, ElementsAre(Exec("[CreateGroup(NWM Tarnovista)]"),
                                          Exec("[ShowGroup(NWM Tarnovista,1)]"),
                                          Exec("[AddItem(C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99)]")));
  EXPECT_THAT(ddeml.CallsOf("DdeConnect"), ElementsAre("DdeConnect(7,\"progman\",0,cb=36,cp=1004)"));
  EXPECT_EQ(ddeml.Count("WinExec"), 0u);
  EXPECT_EQ(ddeml.OpenConversations(), 0u);
  EXPECT_EQ(pm->ConversationHandle(), 0u);
  EXPECT_EQ(group_errors.calls + item_errors.calls, 0);

  // A second call sends the same commands again.
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_EQ(ddeml.executes.size(), 6u);
  EXPECT_EQ(ddeml.executes[5], ddeml.executes[2]);
}

TEST_F(ProgManTest, ShowGroupNumbersAndEmptyNames) {
  const struct { TActivateType show; const char* command; } cases[] = {
      {activateNormalSize, "[ShowGroup(,1)]"}, {activateAndIconize, "[ShowGroup(,2)]"},
      {activateMaximize, "[ShowGroup(,3)]"}, {iconizeNoActivate, "[ShowGroup(,7)]"},
  };
  for (const auto& c : cases) {
    ddeml.executes.clear();
    pm->ShowGroup = c.show;
    ASSERT_TRUE(pm->CreateProgramGroup().ok());  // empty group, no items
    EXPECT_THAT(ddeml.executes, ElementsAre(Exec("[CreateGroup()]"), Exec(c.command)));
  }
}

TEST_F(ProgManTest, NoServerFiresEventsAndStillCloses) {
  ddeml.server_running = false;
  ddeml.winexec_starts_server = false;
  pm->programGroup = "G";
  SetItems({"a", "b,c", "d"});
  EXPECT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_EQ(group_errors.calls, 1);
  EXPECT_EQ(group_errors.last_sender, pm);
  EXPECT_EQ(item_errors.calls, 3);
  EXPECT_THAT(ddeml.CallsOf("WinExec"), ElementsAre("WinExec(\"progman \",7)"));
  EXPECT_EQ(ddeml.Count("DdeConnect"), 2u);
  EXPECT_EQ(ddeml.Count("DdeCreateDataHandle"), 0u);
  EXPECT_EQ(ddeml.LiveStringHandles(), 1u);  // only the manager's own service name
  EXPECT_EQ(pm->DdeService(), "");
}

TEST_F(ProgManTest, RefusedCommandsFireTheirOwnEvents) {
  SetItems({"a", "b"});
  ddeml.fail_transactions = true;
  ASSERT_TRUE(pm->CreateProgramGroup().ok());
  EXPECT_EQ(group_errors.calls, 1);  // CreateGroup; a failed ShowGroup is not reported
  EXPECT_EQ(item_errors.calls, 2);
  EXPECT_EQ(ddeml.Count("DdeClientTransaction"), 4u);
  EXPECT_EQ(ddeml.OpenConversations(), 0u);
}

TEST_F(ProgManTest, LineCountIsReadOnce) {
  ddeml.server_running = false;
  ddeml.winexec_starts_server = false;
  SetItems({"a", "b"});
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
  EXPECT_EQ(pm->programItems().Count(), 4);  // two lines added, none sent
}

TEST_F(ProgManTest, AssigningItemsCopiesLines) {
  TStringList* own = &pm->programItems();
  TStringList other;
  ASSERT_TRUE(other.Add("x,y"));
  ASSERT_TRUE(pm->SetprogramItems(other).ok());
  ASSERT_TRUE(other.Add("z"));
  other.Clear();
  ASSERT_TRUE(other.Add("changed"));
  EXPECT_EQ(&pm->programItems(), own);
  ASSERT_EQ(pm->programItems().Count(), 1);
  EXPECT_EQ(pm->programItems()[0], "x,y");
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
  ASSERT_TRUE(pm->SetConnectMode(ddeManual).ok());
  ASSERT_TRUE(pm->AssignLink("progman", "Main"));
  ddeml.server_running = false;
  ddeml.winexec_starts_server = false;
  SetItems({"a"});
  EXPECT_EQ(pm->CreateProgramGroup(), GeneralError("Unable to connect DDE conversation"));
  EXPECT_EQ(ddeml.Count("DdeCreateDataHandle"), 0u);
  EXPECT_EQ(group_errors.calls + item_errors.calls, 0);
}

}  // namespace
}  // namespace vek::testing
