// The command line's switches, an unattended install's exit codes and Start menu, and
// a configured run: its texts, its items and where its group goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ddeman.h"
#include "recording_ddeml.h"
#include "recording_shelllink.h"
#include "testsupport.h"
#include "vekbuild.h"
#include "veksfxp.h"

namespace vek {
namespace {

using testing::ReadWholeFile;
using testing::ScratchFolder;

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
      {u"/S", false, false, false, u""},                                        // the program's own name
      {u"setup.exe\t/S\t/?", true, true, false, u""},
  };
  for (const auto& c : cases) {
    const Switches s = ParseSwitches(reinterpret_cast<const uint16_t*>(c.line.c_str()));
    const std::u16string destination(reinterpret_cast<const char16_t*>(s.destination), s.destination_length);
    EXPECT_EQ(s.log, nullptr);
    SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
    EXPECT_EQ(s.silent, c.silent);
    EXPECT_EQ(s.help, c.help);
    EXPECT_EQ(s.has_destination, c.has_destination);
    EXPECT_EQ(destination, c.destination);
  }
}

TEST(Switches, TheLogFile) {
  const struct {
    std::u16string line;
    std::u16string log;
    bool silent;
  } cases[] = {
      {u"setup.exe /S /LOG=C:\\setup.log", u"C:\\setup.log", true},
      {u"setup.exe /log=setup.log /S /D=C:\\A B", u"setup.log", true},
      {u"setup.exe \"/LOG=C:\\My Logs\\a.log\" /S", u"C:\\My Logs\\a.log", true},
      {u"setup.exe /LOG=\"C:\\My Logs\\a.log\"", u"C:\\My Logs\\a.log", false},
  };
  for (const auto& c : cases) {
    const Switches s = ParseSwitches(reinterpret_cast<const uint16_t*>(c.line.c_str()));
    SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
    ASSERT_NE(s.log, nullptr);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(s.log), s.log_length), c.log);
    EXPECT_EQ(s.silent, c.silent);
  }
}

// After "--": the arguments of the program that "run" starts, also after /D=.
TEST(Switches, TheProgramsArguments) {
  const struct {
    std::u16string line;
    bool silent;
    std::u16string destination, arguments;
    bool has_arguments;
  } cases[] = {
      {u"setup.exe /S -- /quiet \"a b\"", true, u"", u"/quiet \"a b\"", true},
      {u"setup.exe --   x /S", false, u"", u"x /S", true},
      {u"setup.exe /S --", true, u"", u"", true},
      {u"setup.exe /D=C:\A -- B -- x", false, u"C:\A", u"B -- x", true},
      {u"setup.exe /D=C:\A--B --x", false, u"C:\A--B --x", u"", false},
      {u"setup.exe --x /S", true, u"", u"", false},
  };
  for (const auto& c : cases) {
    const Switches s = ParseSwitches(reinterpret_cast<const uint16_t*>(c.line.c_str()));
    SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
    EXPECT_EQ(s.silent, c.silent);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(s.destination), s.destination_length), c.destination);
    EXPECT_EQ(s.run_arguments != nullptr, c.has_arguments);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(s.run_arguments), s.run_arguments_length), c.arguments);
  }
}

// The run's language: /LANG= over the user's interface language.
TEST(Switches, TheLanguageOfTheTexts) {
  const std::u16string system = u"pl-PL";
  const struct {
    std::u16string line;
    const char16_t* system;
    const char* language;
  } cases[] = {
      {u"setup.exe", system.c_str(), "pl-PL"},
      {u"setup.exe /LANG=de-AT /S", system.c_str(), "de-AT"},
      {u"setup.exe /lang=ja", system.c_str(), "ja"},
      {u"setup.exe /LANG=ja", nullptr, "ja"},
      {u"setup.exe", nullptr, ""},
      {u"setup.exe /LANG=", system.c_str(), "pl-PL"},  // no tag: the system's
      {u"setup.exe /LANG=éé /D=C:\A", system.c_str(), "??"},
      {u"setup.exe /LANG=abcdefghijklmnopqrstu", system.c_str(), "abcdefghijklmno"},  // cut to its room
  };
  for (const auto& c : cases) {
    const Switches s = ParseSwitches(reinterpret_cast<const uint16_t*>(c.line.c_str()));
    char language[kLanguageSize];
    RunLanguage(s, reinterpret_cast<const uint16_t*>(c.system), language);
    EXPECT_STREQ(language, c.language) << std::string(c.line.begin(), c.line.end());
  }
}

using testing::kFakeStub;

// The host of an unattended install over a scratch folder.
class SilentHost final : public ApplicationHost {
 public:
  explicit SilentHost(std::string module) : module_(std::move(module)) {}
  ShellLinkEdge& ShellLinks() override { return links; }
  Error CreateMainWindow(TComponent*) override {
    ADD_FAILURE() << "a window was made";
    return NoError();
  }
  void Run() override {}
  void ShowSystemMessage(const char*, const char*, bool) override { ++system_messages; }
  const char* ModuleName() override { return "setup.exe"; }
  uint32_t RelativeAddress(const void*) override { return 0; }
  uint32_t ArchiveStart() override { return static_cast<uint32_t>(kFakeStub.size()); }
  ExtensionPlace Extension() override { return extension; }
  AnsiString ModulePath() override { return AnsiString(module_.c_str()); }
  void ShowSwitches(const char* text, const char*) override { switches_text = text; }

  int system_messages = 0;
  std::string switches_text;
  ExtensionPlace extension;
  testing::RecordingShellLinks links;

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

build::ArchiveBuilder SampleTree() {
  build::ArchiveBuilder b;
  b.AddFile(0, "index.htm", "<html>start</html>", 0x26AE6000);
  uint16_t docs = b.AddDirectory(0, "docs");
  b.AddFile(docs, "help.htm", "help", 0x26AE6000);
  return b;
}
std::string Sample() { return kFakeStub + SampleTree().Serialize(); }

struct Silent {
  ScratchFolder scratch;
  testing::RecordingDdeml ddeml;
  CountedBoxes boxes;
  std::string exe_bytes = Sample();
  ExtensionPlace extension;
  bool fail_shortcuts = false;
  std::vector<std::string> links;  // what the run wrote into the Start menu
  bool links_utf8 = false;

  int Run(const std::string& destination, const StubSettings& settings = DefaultSettings()) {
    testing::WriteWholeFile(scratch / "setup.exe", exe_bytes);
    SilentHost host((scratch / "setup.exe").string());
    host.extension = extension;
    host.links.fail_shortcuts = fail_shortcuts;
    StartOptions options;
    options.silent = true;
    options.settings = &settings;
    options.has_destination = true;
    options.destination = AnsiString(destination.c_str());
    const int code = RunProgram(host, ddeml, options);
    EXPECT_EQ(host.system_messages, 0);
    EXPECT_EQ(boxes.shown, 0);
    // A shell opens the group's window on CreateGroup: nothing goes over DDE.
    EXPECT_TRUE(ddeml.executes.empty());
    links = host.links.calls;
    links_utf8 = host.links.last_utf8;
    return code;
  }
  std::string Out() const { return scratch.destination("out"); }
};

TEST(Unattended, ExitCodes) {
  {
    Silent s;  // the group and its item written straight into the Start menu
    EXPECT_EQ(s.Run(s.Out()), kExitOk);
    EXPECT_EQ(ReadWholeFile(s.scratch / "out" / "docs" / "help.htm"), "help");
    EXPECT_EQ(s.links,
              (std::vector<std::string>{"folder NWM Tarnovista", "shortcut NWM Tarnovista|Tarnovista 3_99|" + s.Out() +
                                                                     "\\INDEX.HTM|" + s.Out() + "|"}));
  }
  {
    Silent s;  // a file stands where the destination goes: nothing is written
    testing::WriteWholeFile(s.scratch / "out", "in the way");
    EXPECT_EQ(s.Run(s.Out() + PlatformFileEdge().Separator() + "sub"), kExitFolderFailed);
    EXPECT_EQ(ReadWholeFile(s.scratch / "out"), "in the way");
    EXPECT_TRUE(s.links.empty());
  }
  for (const char* separators : {"\\", "/"}) {
    Silent s;  // /D=\ names no folder: nothing is written anywhere
    EXPECT_EQ(s.Run(separators), kExitFolderFailed);
    EXPECT_TRUE(s.links.empty());
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
    Silent s;  // files sharing data: a damaged installer, no file written
    testing::PatchU32(s.exe_bytes, kFakeStub.size() + testing::RecordAt(3) + EntryRecord::kDataOffsetOffset, 0);
    EXPECT_EQ(s.Run(s.Out()), kExitDamaged);
    EXPECT_FALSE(std::filesystem::exists(s.scratch / "out" / "index.htm"));
  }
  // With checksums: sound, then a byte flipped in the table or in the last file's data.
  enum Damage { kNone, kTable, kLastFile };
  for (Damage damage : {kNone, kTable, kLastFile}) {
    Silent s;
    s.exe_bytes = testing::WithBlockInStub(kFakeStub, SampleTree().Serialize(build::ArchiveOptions{}), &s.extension);
    const size_t at = damage == kTable ? kFakeStub.size() + 56 + 256 + 30 : s.exe_bytes.size() - 1;
    if (damage != kNone) s.exe_bytes[at] = static_cast<char>(s.exe_bytes[at] ^ 1);
    EXPECT_EQ(s.Run(s.Out()), damage == kNone ? kExitOk : kExitDamaged);
    EXPECT_EQ(std::filesystem::exists(s.scratch / "out"), damage == kNone) << "nothing made from damage";
  }
  {
    Silent s;  // no shell answers: the same shortcut
    s.ddeml.accepts = [](const std::string&, const std::string&) { return false; };
    EXPECT_EQ(s.Run(s.Out()), kExitOk);
    EXPECT_EQ(s.links.size(), 2u);
  }
  {
    Silent s;  // the shortcut cannot be written: files installed, the group not made
    s.fail_shortcuts = true;
    EXPECT_EQ(s.Run(s.Out()), kExitRegisterFailed);
    EXPECT_EQ(ReadWholeFile(s.scratch / "out" / "index.htm"), "<html>start</html>");
  }
}

struct RecordedLog final : RunLog {
  RecordedLog() { InstallLog = this; }
  ~RecordedLog() override { InstallLog = nullptr; }
  void Line(const char* const* parts, int count) override {
    lines.emplace_back();
    for (int i = 0; i < count; ++i) lines.back() += parts[i];
  }
  std::vector<std::string> lines;
};

// The log names the destination and every entry, each with its outcome.
TEST(Unattended, TheLogNamesEveryFolderAndFileAndTheError) {
  const char separator = PlatformFileEdge().Separator();
  {
    Silent s;
    RecordedLog log;
    EXPECT_EQ(s.Run(s.Out()), kExitOk);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "destination " + s.Out() + ": ok", "file " + s.Out() + separator + "index.htm: ok",
                             "folder " + s.Out() + separator + "docs: ok",
                             "file " + s.Out() + separator + "docs" + separator + "help.htm: ok"}));
  }
  {
    Silent s;  // a folder in the way of the first file
    RecordedLog log;
    std::filesystem::create_directories(s.scratch / "out" / "index.htm");
    EXPECT_EQ(s.Run(s.Out()), kExitExtractFailed);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[1].rfind("file " + s.Out() + separator + "index.htm: error 5: ", 0), 0u) << log.lines[1];
  }
  {
    Silent s;  // the destination cannot be made
    RecordedLog log;
    testing::WriteWholeFile(s.scratch / "out", "in the way");
    EXPECT_EQ(s.Run(s.Out() + separator + "sub"), kExitFolderFailed);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0].rfind("destination " + s.Out() + separator + "sub: error ", 0), 0u) << log.lines[0];
  }
}

TEST(Unattended, TheSwitchesBoxInstallsNothingAndWithSShowsNothing) {
  ScratchFolder scratch;
  testing::RecordingDdeml ddeml;
  SilentHost host((scratch / "setup.exe").string());
  StartOptions options;
  options.help = true;
  options.silent = true;
  EXPECT_EQ(RunProgram(host, ddeml, options), kExitOk);
  EXPECT_EQ(host.switches_text, "");
  EXPECT_TRUE(ddeml.calls.empty());
  EXPECT_TRUE(std::filesystem::is_empty(scratch.path()));

  options.silent = false;
  EXPECT_EQ(RunProgram(host, ddeml, options), kExitOk);
  EXPECT_EQ(
      host.switches_text,
      "/S  install without a window or message into the proposed folder\n"
      "/D=PATH  install into PATH (last on the command line; it may hold blanks)\n"
      "/?  show this list\n"
      "/LOG=FILE  write what is installed, the errors and the exit code into FILE\n"
      "/LANG=TAG  the texts in language TAG (de, pt-BR)\n"
      "\n"
      "Exit codes of /S: 0 installed, 2 the folder could not be made, 3 extraction "
      "failed, 4 the Start-menu group, an item or the uninstaller could not be made (files installed), 5 the "
      "installer is damaged (nothing written), 9 the folder needs an administrator, 10 the program to run could not be "
      "started.");
  EXPECT_TRUE(ddeml.calls.empty()) << "no DDE instance either";
}

// A configured run: its group and items, UTF-8 to the Start menu.
TEST(Configured, AGreekGroupAndItsItemsGoIntoTheStartMenuInUtf8) {
  const std::string greek = "\xCE\x95\xCE\xBA\xCE\xB4\xCF\x8C\xCF\x83\xCE\xB5\xCE\xB9\xCF\x82";
  std::string text = "group = " + greek + "\nitem = index.htm,Start\nitem = docs\\help.htm,Pomoc \xC5\x82\n";
  StubConfig config;
  ASSERT_TRUE(ParseStubConfig(text.data(), text.size(), &config).ok());
  ConfiguredSettings configured;
  ASSERT_TRUE(configured.Init(config));
  const StubSettings& settings = configured.settings();
  EXPECT_TRUE(settings.utf8);
  // Keys left out keep the stub's own texts, in UTF-8.
  EXPECT_STREQ(settings.folder_error,
               "B\xC5\x82\xC4\x85"
               "d podczas tworzenia podkatalogu...");
  EXPECT_STREQ(settings.folder, kDefaultDestination);

  Silent s;
  ASSERT_EQ(s.Run(s.Out(), settings), kExitOk);
  EXPECT_EQ(s.links,
            (std::vector<std::string>{
                "folder " + greek, "shortcut " + greek + "|Start|" + s.Out() + "\\index.htm|" + s.Out() + "|",
                "shortcut " + greek + "|Pomoc \xC5\x82|" + s.Out() + "\\docs\\help.htm|" + s.Out() + "\\docs|"}));
  EXPECT_TRUE(s.links_utf8);
}

// A folder by name is the path that the system gives for it followed by the rest; one
// that the system cannot place becomes empty, which no run makes (the folder message).
AnsiString PlacedKnownFolder(KnownFolder folder) {
  static const char* const kPlaces[] = {"C:\\Users\\Ewa\\AppData\\Local", "C:\\Program Files",
                                        "D:\\\xCE\x95\xCE\xBA\xCE\xB4", nullptr};
  const char* place = kPlaces[static_cast<int>(folder)];
  return place ? AnsiString(place) : AnsiString();
}

TEST(Configured, AFolderByNameIsWhereTheSystemPlacesIt) {
  const struct {
    const char* folder;
    const char* resolved;
  } cases[] = {
      {"{localappdata}\\Programs\\Acme", "C:\\Users\\Ewa\\AppData\\Local\\Programs\\Acme"},
      {"{programfiles}\\Acme\\", "C:\\Program Files\\Acme\\"},
      {"{documents}\\Acme", "D:\\\xCE\x95\xCE\xBA\xCE\xB4\\Acme"},
      {"{desktop}\\Acme", ""},
      {"C:\\{localappdata}", "C:\\{localappdata}"},
  };
  for (const auto& c : cases) {
    for (const bool elevated : {true, false}) {
      std::string text = std::string("folder = ") + c.folder + "\n";
      StubConfig config;
      ASSERT_TRUE(ParseStubConfig(text.data(), text.size(), &config).ok()) << c.folder;
      ConfiguredSettings configured;
      ASSERT_TRUE(configured.Init(config));
      ASSERT_TRUE(configured.ResolveFolder(PlacedKnownFolder, elevated));
      EXPECT_STREQ(configured.settings().folder, c.resolved) << c.folder;
      // The machine's places only for an elevated installer, and not for the user's folders.
      EXPECT_EQ(configured.settings().personal, !elevated || (c.folder[1] != 'p' && c.folder[0] == '{')) << c.folder;
    }
  }
}

}  // namespace
}  // namespace vek
