// The command line's switches, an unattended install's exit codes, and a configured
// run: its texts, items and the UTF-16 commands a Unicode DDE instance sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ddeman.h"
#include "recording_ddeml.h"
#include "testsupport.h"
#include "vekbuild.h"
#include "veksfxp.h"

namespace vek {
namespace {

using testing::ReadWholeFile;
using testing::ScratchFolder;

std::u16string U16(const char* ascii) { return std::u16string(ascii, ascii + strlen(ascii)); }

TEST(Switches, FromTheCommandLine) {
  const struct {
    std::u16string line;
    bool silent, help, has_destination;
    std::u16string destination;
  } cases[] = {
      {u"setup.exe", false, false, false, u""},
      {u"\"C:\\My Files\\setup.exe\" /S", true, false, false, u""},
      {u"setup.exe /s", true, false, false, u""},
      {u"setup.exe /S /D=C:\\Some Where\\Else", true, false, true, u"C:\\Some Where\\Else"},
      {u"setup.exe /S \"/D=C:\\Some Where\\Else\"  ", true, false, true, u"C:\\Some Where\\Else"},
      {u"setup.exe /D=\"C:\\Some Where\"", false, false, true, u"C:\\Some Where"},
      {u"setup.exe /d=C:\\\u0395\u03ba\u03b4 /S", false, false, true, u"C:\\\u0395\u03ba\u03b4 /S"},  // /D= is last
      {u"setup.exe /D=", false, false, true, u""},
      {u"setup.exe /?", false, true, false, u""},
      {u"setup.exe /Silent /SS -S S /X=1 \"/S x\"", false, false, false, u""},  // unknown: ignored
      {u"/S", false, false, false, u""},  // the program's own name
      {u"setup.exe\t/S\t/?", true, true, false, u""},
  };
  for (const auto& c : cases) {
    const Switches s = ParseSwitches(reinterpret_cast<const uint16_t*>(c.line.c_str()));
    const std::u16string destination(reinterpret_cast<const char16_t*>(s.destination),
                                     s.destination_length);
    SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
    EXPECT_EQ(s.silent, c.silent);
    EXPECT_EQ(s.help, c.help);
    EXPECT_EQ(s.has_destination, c.has_destination);
    EXPECT_EQ(destination, c.destination);
  }
}

const std::string kFakeStub = "MZ" + std::string(1022, '\x90');

// The host of an unattended install over a scratch folder.
class SilentHost final : public ApplicationHost {
 public:
  explicit SilentHost(std::string module) : module_(std::move(module)) {}
  Error CreateMainWindow(TComponent*) override {
    ADD_FAILURE() << "a window was made";
    return NoError();
  }
  void Run() override {}
  void ShowSystemMessage(const char*, const char*, bool) override { ++system_messages; }
  const char* ModuleName() override { return "setup.exe"; }
  uint32_t RelativeAddress(const void*) override { return 0; }
  uint32_t ArchiveStart() override { return static_cast<uint32_t>(kFakeStub.size()); }
  AnsiString ModulePath() override { return AnsiString(module_.c_str()); }
  void ShowSwitches(const char* text, const char*) override { switches_text = text; }

  int system_messages = 0;
  std::string switches_text;

 private:
  std::string module_;
};

// Records every box; an unattended install must show none.
class CountedBoxes final : public MessageBoxPresenter {
 public:
  CountedBoxes() { previous_ = SetMessageBoxPresenter(this); }
  ~CountedBoxes() override { SetMessageBoxPresenter(previous_); }
  void ShowMessageBox(const char*, MessageKind) override { ++shown; }
  int shown = 0;

 private:
  MessageBoxPresenter* previous_;
};

std::string Sample() {
  build::ArchiveBuilder b;
  b.AddFile(0, "index.htm", "<html>start</html>", 0x26AE6000);
  uint16_t docs = b.AddDirectory(0, "docs");
  b.AddFile(docs, "help.htm", "help", 0x26AE6000);
  return kFakeStub + b.Serialize();
}

struct Silent {
  ScratchFolder scratch;
  testing::RecordingDdeml ddeml;
  CountedBoxes boxes;
  std::string exe_bytes = Sample();

  int Run(const std::string& destination, const StubSettings& settings = DefaultSettings()) {
    testing::WriteWholeFile(scratch / "setup.exe", exe_bytes);
    SilentHost host((scratch / "setup.exe").string());
    StartOptions options;
    options.silent = true;
    options.settings = &settings;
    options.has_destination = true;
    options.destination = AnsiString(destination.c_str());
    const int code = RunProgram(host, ddeml, options);
    EXPECT_EQ(host.system_messages, 0);
    EXPECT_EQ(boxes.shown, 0);
    return code;
  }
  std::string Out() const { return scratch.destination("out"); }
};

TEST(Unattended, ExitCodes) {
  {
    Silent s;
    EXPECT_EQ(s.Run(s.Out()), kExitOk);
    EXPECT_EQ(ReadWholeFile(s.scratch / "out" / "docs" / "help.htm"), "help");
    EXPECT_EQ(s.ddeml.executes.size(), 3u);
  }
  {
    Silent s;  // a file stands where the destination goes: nothing is written
    testing::WriteWholeFile(s.scratch / "out", "in the way");
    EXPECT_EQ(s.Run(s.Out() + PlatformFileEdge().Separator() + "sub"), kExitFolderFailed);
    EXPECT_EQ(ReadWholeFile(s.scratch / "out"), "in the way");
    EXPECT_TRUE(s.ddeml.executes.empty());
  }
  for (const char* separators : {"\\", "/"}) {
    Silent s;  // /D=\ names no folder: nothing is written anywhere
    EXPECT_EQ(s.Run(separators), kExitFolderFailed);
    EXPECT_TRUE(s.ddeml.executes.empty());
  }
  {
    Silent s;  // the executable cut inside its entry table
    s.exe_bytes.resize(kFakeStub.size() + 56 + 256 + 10);
    EXPECT_EQ(s.Run(s.Out()), kExitExtractFailed);
  }
  {
    Silent s;  // a file cannot be written: a folder stands in its place
    std::filesystem::create_directories(s.scratch / "out" / "index.htm");
    EXPECT_EQ(s.Run(s.Out()), kExitExtractFailed);
  }
  {
    Silent s;  // no shell answers: files installed, the group not made
    s.ddeml.accepts = [](const std::string&, const std::string&) { return false; };
    EXPECT_EQ(s.Run(s.Out()), kExitRegisterFailed);
    EXPECT_EQ(ReadWholeFile(s.scratch / "out" / "index.htm"), "<html>start</html>");
  }
}

TEST(Unattended, TheSwitchesBoxInstallsNothing) {
  ScratchFolder scratch;
  testing::RecordingDdeml ddeml;
  SilentHost host((scratch / "setup.exe").string());
  StartOptions options;
  options.help = true;
  EXPECT_EQ(RunProgram(host, ddeml, options), kExitOk);
  EXPECT_EQ(host.switches_text,
            "/S  install without a window or message into the proposed folder\n"
            "/D=PATH  install into PATH (last on the command line; it may hold blanks)\n"
            "/?  show this list\n"
            "\n"
            "Exit codes of /S: 0 installed, 2 the folder could not be made, 3 extraction "
            "failed, 4 the Start-menu group or an item could not be made (files installed).");
  EXPECT_TRUE(ddeml.calls.empty()) << "no DDE instance either";
}

// A configured run: its group and items, and UTF-16 commands for a Greek group.
TEST(Configured, GroupAndItemsGoOutInUtf16) {
  std::string text =
      "group = \xCE\x95\xCE\xBA\xCE\xB4\xCF\x8C\xCF\x83\xCE\xB5\xCE\xB9\xCF\x82\n"
      "item = index.htm,Start\nitem = docs\\help.htm,Help\n";
  StubConfig config;
  ASSERT_TRUE(ParseStubConfig(text.data(), text.size(), &config).ok());
  ConfiguredSettings configured;
  ASSERT_TRUE(configured.Init(config));
  const StubSettings& settings = configured.settings();
  EXPECT_TRUE(settings.utf8);
  // Keys left out keep the stub's own texts, in UTF-8.
  EXPECT_STREQ(settings.folder_error, "B\xC5\x82\xC4\x85" "d podczas tworzenia podkatalogu...");
  EXPECT_STREQ(settings.folder, kDefaultDestination);

  Silent s;
  ASSERT_EQ(s.Run(s.Out(), settings), kExitOk);
  auto utf16 = [](const std::u16string& command) {
    const std::u16string line = command + u"\r\n" + std::u16string(1, u'\0');
    return std::string(reinterpret_cast<const char*>(line.data()), line.size() * 2);
  };
  const std::u16string group = u"\u0395\u03ba\u03b4\u03cc\u03c3\u03b5\u03b9\u03c2";
  const std::u16string out = U16(s.Out().c_str());
  const std::vector<std::string> expected = {
      utf16(u"[CreateGroup(" + group + u")]"), utf16(u"[ShowGroup(" + group + u",1)]"),
      utf16(u"[AddItem(" + out + u"\\index.htm,Start)]"),
      utf16(u"[AddItem(" + out + u"\\docs\\help.htm,Help)]")};
  EXPECT_EQ(s.ddeml.executes, expected);
}

}  // namespace
}  // namespace vek
