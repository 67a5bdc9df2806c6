// One table of names through every part that names something on Windows: the rules
// themselves (winpath) in both encodings, the reader's path check, vekpack's scan of a
// folder, the configuration's group, item NAME, item TARGET and folder, the Program
// Manager commands and the shortcuts the run writes itself. Each must take exactly the
// names the rules take.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cp1250.h"
#include "progman.h"
#include "recording_ddeml.h"
#include "recording_shelllink.h"
#include "rnvek100.h"
#include "stubconfig.h"
#include "testsupport.h"
#include "vekbuild.h"
#include "winpath.h"

namespace vek {
namespace {

namespace fs = std::filesystem;

struct NameCase {
  std::string name;  // Windows-1250
  NameRule rule;
  bool windows1250_only = false;  // its bytes mean this only in an 8-bit code page
};

const NameCase kNames[] = {
    // Device names in any case, with an extension, with blanks and dots after them.
    {"NUL", NameRule::kDeviceName},
    {"con", NameRule::kDeviceName},
    {"Aux", NameRule::kDeviceName},
    {"prn", NameRule::kDeviceName},
    {"COM1", NameRule::kDeviceName},
    {"com9", NameRule::kDeviceName},
    {"LPT1", NameRule::kDeviceName},
    {"LPT1.txt", NameRule::kDeviceName},
    {"lpt9.log", NameRule::kDeviceName},
    {"CONIN$", NameRule::kDeviceName},
    {"conout$", NameRule::kDeviceName},
    {"aux.txt", NameRule::kDeviceName},
    {"nul.tar.gz", NameRule::kDeviceName},
    {"CON .txt", NameRule::kDeviceName},
    {"NUL ", NameRule::kDeviceName},
    {"nul.", NameRule::kDeviceName},
    {"COM\xB9", NameRule::kDeviceName, true},
    {"lpt\xB2.x", NameRule::kDeviceName, true},
    {"COM\xB3", NameRule::kDeviceName, true},
    // Near misses are ordinary names.
    {"COM0", NameRule::kFine},
    {"COM10", NameRule::kFine},
    {"LPT", NameRule::kFine},
    {"CONSOLE", NameRule::kFine},
    {"nul_", NameRule::kFine},
    {"xcon", NameRule::kFine},
    {" CON", NameRule::kFine},
    {"CONIN", NameRule::kFine},
    {"auxiliary.txt", NameRule::kFine},
    {".nul", NameRule::kFine},
    {"COM\xB4", NameRule::kFine},
    // Characters Windows forbids, control characters, bytes Windows-1250 leaves undefined.
    {"a*b", NameRule::kForbiddenCharacter},
    {"a?b", NameRule::kForbiddenCharacter},
    {"a<b", NameRule::kForbiddenCharacter},
    {"a>b", NameRule::kForbiddenCharacter},
    {"a|b", NameRule::kForbiddenCharacter},
    {"a\"b", NameRule::kForbiddenCharacter},
    {"a:b", NameRule::kForbiddenCharacter},
    {"a\\b", NameRule::kForbiddenCharacter},
    {"a/b", NameRule::kForbiddenCharacter},
    {"a\x01"
     "b",
     NameRule::kForbiddenCharacter},
    {"tab\t", NameRule::kForbiddenCharacter},
    {"a\x1F", NameRule::kForbiddenCharacter},
    {std::string("a\0b", 3), NameRule::kForbiddenCharacter},
    {"x\x81", NameRule::kForbiddenCharacter, true},
    {"x\x98", NameRule::kForbiddenCharacter, true},
    // Windows drops a trailing dot or blank: "evil." and "evil " are "evil".
    {"evil.", NameRule::kTrailingDotOrBlank},
    {"evil ", NameRule::kTrailingDotOrBlank},
    {"Acme.", NameRule::kTrailingDotOrBlank},
    {"Manual.", NameRule::kTrailingDotOrBlank},
    {"a. .", NameRule::kTrailingDotOrBlank},
    {"", NameRule::kEmpty},
    {".", NameRule::kDotName},
    {"..", NameRule::kDotName},
    {"...", NameRule::kDotName},
    {" . ", NameRule::kDotName},
    {"index.htm", NameRule::kFine},
    {".hidden", NameRule::kFine},
    {"a..b", NameRule::kFine},
    {" lead", NameRule::kFine},
    {"Acme Reader 2.0", NameRule::kFine},
    {"Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1", NameRule::kFine},
    {"a\x7F"
     "b",
     NameRule::kFine},
};

std::string Utf8(const std::string& cp1250) {
  std::string out(cp1250.size() * 3 + 1, '\0');
  out.resize(Cp1250ToUtf8(cp1250.data(), cp1250.size(), out.data(), out.size()));
  return out;
}

bool Has(const std::string& name, const char* bytes) { return name.find_first_of(bytes) != std::string::npos; }

// Whether a file of that name (UTF-8) can be made in folder as written: the folder
// then lists it and nothing else. Windows opens a device instead of making a file
// (Wine hands COM1's bytes to the serial port), so there no device name is tried.
bool MakeFileAsWritten(const fs::path& folder, const std::string& name, NameRule rule) {
#ifdef _WIN32
  if (rule == NameRule::kDeviceName) return false;
#else
  (void)rule;
#endif
  if (name.empty() || name == "." || name == ".." || Has(name, "/") || name.find('\0') != std::string::npos) {
    return false;
  }
  const fs::path file = folder / fs::u8path(name);
  testing::WriteWholeFile(file, "x");
  std::error_code error;
  fs::directory_iterator it(folder, error);
  if (error || it == fs::directory_iterator() || it->path().filename() != file.filename()) return false;
  it.increment(error);
  return !error && it == fs::directory_iterator();
}

// The configuration's parse of text: whether it took the name, and with kBadName the
// rule it names.
void ExpectConfig(const std::string& text, const NameCase& c, const char* user) {
  std::string copy = text;
  StubConfig config;
  const ConfigResult result = ParseStubConfig(copy.data(), copy.size(), &config);
  EXPECT_EQ(result.ok(), c.rule == NameRule::kFine) << user << ": " << DescribeConfigProblem(result);
  if (result.problem == ConfigProblem::kBadName) {
    EXPECT_EQ(result.name_rule, c.rule) << user;
  }
}

TEST(NameRules, EveryUserTakesExactlyTheNamesTheRulesTake) {
  for (const NameCase& c : kNames) {
    SCOPED_TRACE("name \"" + c.name + "\"");
    const bool fine = c.rule == NameRule::kFine;
    const std::string utf8 = Utf8(c.name);
    EXPECT_EQ(CheckWindowsName(c.name.data(), c.name.size()), c.rule);
    if (!c.windows1250_only) {
      EXPECT_EQ(CheckWindowsName(utf8.data(), utf8.size(), NameEncoding::kUtf8), c.rule) << "UTF-8";
    }

    // The reader: an entry of that name, and one below it.
    {
      build::ArchiveBuilder b;
      const uint16_t folder = b.AddDirectory(0, c.name);
      b.AddFile(folder, "leaf.txt", "x", 0x26AE6000);
      testing::LoadedArchive loaded(b.Serialize());
      ASSERT_TRUE(loaded.load_error.ok());
      const PathSafety expected[] = {PathSafety::kSafe,
                                     PathSafety::kEmptyName,
                                     PathSafety::kDotName,
                                     PathSafety::kForbiddenCharacter,
                                     PathSafety::kTrailingDotOrBlank,
                                     PathSafety::kDeviceName};
      EXPECT_EQ(loaded.reader.CheckEntryPath(1), expected[static_cast<int>(c.rule)]) << "reader";
      EXPECT_EQ(loaded.reader.CheckEntryPath(2), expected[static_cast<int>(c.rule)]) << "reader, below";
    }

    // vekpack's scan of a folder holding a file of that name, where this system's
    // file names can hold it as written.
    if (testing::ScratchFolder source; !c.windows1250_only && MakeFileAsWritten(source.path(), utf8, c.rule)) {
      build::ArchiveBuilder b;
      try {
        build::ScanFolder(source.path().string(), b, [](const std::string&) {});
        EXPECT_TRUE(fine) << "vekpack took it";
      } catch (const build::BuildError& e) {
        EXPECT_FALSE(fine) << "vekpack: " << e.what();
        EXPECT_NE(std::string(e.what()).find(DescribeNameRule(c.rule)), std::string::npos) << e.what();
      }
    }

    // The configuration: blanks around a value are no part of it, so a name that
    // begins or ends with one means something else as the group or an item's NAME;
    // inside TARGET and the folder it stays. Its text holds no control character at
    // all, DEL (which Windows allows in names) included.
    if (!c.windows1250_only && c.name.find('\x7F') == std::string::npos) {
      if (!Has(c.name.substr(0, 1), " \t") && !Has(c.name.substr(c.name.empty() ? 0 : c.name.size() - 1), " \t")) {
        ExpectConfig("group = " + utf8 + "\n", c, "group");
        ExpectConfig("item = index.htm," + utf8 + "\n", c, "item NAME");
      }
      if (!Has(c.name, "\\/")) {
        ExpectConfig("item = docs\\" + utf8 + "\\a.htm,Name\n", c, "item TARGET");
        ExpectConfig("folder = C:\\" + utf8 + "\\x\n", c, "folder");
      }
    }

    // The Program Manager commands and the shortcuts the run writes itself: names in
    // Windows-1250 or UTF-8 (a configured installer). Only ASCII goes over DDE; a name
    // the rules take that is not ASCII becomes a shortcut even with a Program Manager.
    // An empty item name asks Program Manager for one of its own: not a case here.
    if (c.name.empty()) continue;
    const bool ascii = std::all_of(c.name.begin(), c.name.end(), [](char b) { return (b & 0x80) == 0; });
    for (const bool configured : {false, true}) {
      if (configured && c.windows1250_only) continue;
      SCOPED_TRACE(configured ? "UTF-8" : "Windows-1250");
      const std::string name = configured ? utf8 : c.name;
      for (const bool server : {true, false}) {
        testing::RecordingDdeml ddeml;
        ddeml.server_running = server;
        ddeml.winexec_starts_server = false;
        ASSERT_TRUE(InitDdeManager(nullptr, ddeml).ok());
        testing::RecordingShellLinks links;
        {
          TProgMan pm(nullptr);
          pm.ShortcutFallback = &links;
          pm.Utf8 = configured;
          pm.programGroup = AnsiString(name.data(), name.size());
          const std::string line = "C:\\a\\x.htm," + name;
          ASSERT_TRUE(pm.programItems().Add(AnsiString(line.data(), line.size())));
          ASSERT_TRUE(pm.CreateProgramGroup().ok());
          EXPECT_EQ(pm.GroupOutcome(), !fine ? groupNotRegistered : server && ascii ? groupSent : groupShortcuts);
        }
        delete DdeManager;
        const bool sent = fine && ascii && server;
        EXPECT_EQ(ddeml.executes.size(), sent ? 3u : 0u) << "commands";
        if (sent) {
          EXPECT_EQ(ddeml.executes[0], "[CreateGroup(" + name + ")]\r\n" + std::string(1, '\0'));
          EXPECT_EQ(ddeml.executes[2], "[AddItem(C:\\a\\x.htm," + name + ")]\r\n" + std::string(1, '\0'));
        }
        const std::vector<std::string> written = {"folder " + name,
                                                  "shortcut " + name + "|" + name + "|C:\\a\\x.htm|C:\\a|"};
        EXPECT_EQ(links.calls, fine && !sent ? written : std::vector<std::string>{}) << "shortcuts";
      }
    }
  }
}

}  // namespace
}  // namespace vek
