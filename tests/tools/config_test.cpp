// The installer's configuration: the reader shared by vekpack and the stub (good and
// bad files), the block vekpack writes between stub and archive, and vek list.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "check.h"
#include "list.h"
#include "open.h"
#include "stubconfig.h"
#include "testsupport.h"
#include "vekbuild.h"

namespace vek {
namespace {

using build::BuildError;
using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

struct Parsed {
  ConfigResult result;
  StubConfig config;
  std::string text;  // owns what config points into
};

Parsed Parse(const std::string& text) {
  Parsed p;
  p.text = text;
  p.result = ParseStubConfig(p.text.data(), p.text.size(), &p.config);
  return p;
}

TEST(ConfigReader, GoodFiles) {
  const struct {
    std::string text;
    ConfigKey key;
    const char* value;
  } cases[] = {
      {"caption = Acme Setup\n", kKeyCaption, "Acme Setup"},
      {"caption=Acme Setup", kKeyCaption, "Acme Setup"},  // no blanks, no line end
      {"\xEF\xBB\xBF"
       "caption = x\r\n",
       kKeyCaption, "x"},  // byte-order mark, CR LF
      {"# comment = yes\n\n  \t\ncaption =\t a = b # c \t\n", kKeyCaption, "a = b # c"},
      {"prompt =\n", kKeyPrompt, ""},  // prompt may be empty
      {"footer = \xCE\x95\xCE\xBA\xCE\xB4\xCF\x8C\xCF\x83\xCE\xB5\xCE\xB9\xCF\x82\n", kKeyFooter,
       "\xCE\x95\xCE\xBA\xCE\xB4\xCF\x8C\xCF\x83\xCE\xB5\xCE\xB9\xCF\x82"},  // Greek
      {"folder = C:\\Program Files (x86)\\Acme\\\n", kKeyFolder, "C:\\Program Files (x86)\\Acme\\"},
      {"folder = d:\\\xC5\x98\xC3\xAD\xC5\xA1"
       "e\n",
       kKeyFolder,
       "d:\\\xC5\x98\xC3\xAD\xC5\xA1"
       "e"},  // Czech
      {"group = Acme 2.0 - Tools\n", kKeyGroup, "Acme 2.0 - Tools"},
      {"done = Done: see Start, Programs (Acme).\n", kKeyDone, "Done: see Start, Programs (Acme)."},
      {"folder-error = No folder.\ngroup-error = No group.\n", kKeyGroupError, "No group."},
      {"extract-button = &Install\nquit-button = &Cancel\n", kKeyQuitButton, "&Cancel"},
      {"caption = " + std::string(60, 'c'), kKeyCaption, nullptr},  // at its limit
      {"folder = {localappdata}\\Programs\\Acme\n", kKeyFolder, "{localappdata}\\Programs\\Acme"},
      {"folder = {desktop}\\Acme\\\n", kKeyFolder, "{desktop}\\Acme\\"},
      {"version = 0.65535.10.2\n", kKeyVersion, "0.65535.10.2"},
      {"open = docs/read me (1).htm\n", kKeyOpen, "docs/read me (1).htm"},
      {"version = 7\npublisher = Acme Ltd.\n", kKeyPublisher, "Acme Ltd."},
      {"copyright = \xC2\xA9 2026 Acme\nproduct = Acme\n", kKeyProduct, "Acme"},
      {"icon = art/acme 2.ico\n", kKeyIcon, "art/acme 2.ico"},
      {"folder = {temp}\nconfirm = yes\n", kKeyFolder, "{temp}"},
      {"run = setup.exe\n", kKeyRun, "setup.exe"},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.text);
    ASSERT_TRUE(p.result.ok()) << c.text << ": line " << p.result.line << ": " << DescribeConfigProblem(p.result);
    ASSERT_NE(p.config.text[c.key], nullptr) << c.text;
    if (c.value) {
      EXPECT_STREQ(p.config.text[c.key], c.value) << c.text;
    }
  }
}

// run = PROGRAM ARGUMENTS: PROGRAM in quotes when it holds a blank.
TEST(ConfigReader, RunSplitsItsProgramFromItsArguments) {
  const struct {
    const char* text;
    const char* program;
    const char* arguments;
  } cases[] = {
      {"run = setup.exe\n", "setup.exe", ""},
      {"run = bin/setup.exe  /q \"a b\"\n", "bin/setup.exe", "/q \"a b\""},
      {"run = \"my setup.exe\"\n", "my setup.exe", ""},
      {"run = \"my setup.exe\" -x\n", "my setup.exe", "-x"},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.text);
    ASSERT_TRUE(p.result.ok()) << c.text << ": " << DescribeConfigProblem(p.result);
    EXPECT_STREQ(p.config.text[kKeyRun], c.program) << c.text;
    EXPECT_STREQ(p.config.run_arguments, c.arguments) << c.text;
  }
}

TEST(ConfigReader, ItemsRepeatInOrderAndKeysLeftOutStayUnset) {
  Parsed p = Parse("item = index.htm , Acme\nitem=docs/a b/help.htm,Acme Help\n");
  ASSERT_TRUE(p.result.ok()) << DescribeConfigProblem(p.result);
  ASSERT_EQ(p.config.item_count, 2);
  EXPECT_STREQ(p.config.items[0].target, "index.htm");
  EXPECT_STREQ(p.config.items[0].name, "Acme");
  EXPECT_STREQ(p.config.items[1].target, "docs/a b/help.htm");
  EXPECT_STREQ(p.config.items[1].name, "Acme Help");
  for (int k = 0; k < kConfigKeyCount; ++k) EXPECT_EQ(p.config.text[k], nullptr);
}

TEST(ConfigReader, BadFilesNameTheirLine) {
  const std::string sixteen_items = [] {
    std::string s;
    for (int i = 0; i < 17; ++i) s += "item = f" + std::to_string(i) + ",n\n";
    return s;
  }();
  const struct {
    std::string text;
    uint32_t line;
    ConfigProblem problem;
  } cases[] = {
      {"caption = a\ncaptoin = b\n", 2, ConfigProblem::kUnknownKey},
      {"Caption = a\n", 1, ConfigProblem::kUnknownKey},
      {"# c\ncaption\n", 2, ConfigProblem::kMalformed},
      {" = value\n", 1, ConfigProblem::kMalformed},
      {"group = a\n\ngroup = b\n", 3, ConfigProblem::kDuplicateKey},
      // A block's texts per language: the form of the tag, text keys only.
      {"caption[de] = a\ncaption[d] = b\n", 2, ConfigProblem::kBadLanguage},
      {"caption[de_AT] = a\n", 1, ConfigProblem::kBadLanguage},
      {"caption[] = a\n", 1, ConfigProblem::kBadLanguage},
      {"group[de] = a\n", 1, ConfigProblem::kLanguageOnKey},
      {"item[de] = a,b\n", 1, ConfigProblem::kLanguageOnKey},
      {"caption[de] =\n", 1, ConfigProblem::kEmpty},
      {"caption =\n", 1, ConfigProblem::kEmpty},
      {"item = index.htm\n", 1, ConfigProblem::kItemWithoutComma},
      {"item = ,Name\n", 1, ConfigProblem::kEmpty},
      {"item = index.htm,\n", 1, ConfigProblem::kEmpty},
      {sixteen_items, 17, ConfigProblem::kTooManyItems},
      {"item = ..\\x.htm,N\n", 1, ConfigProblem::kTargetLeaves},
      {"item = a/../../x.htm,N\n", 1, ConfigProblem::kTargetLeaves},
      {"item = \\x.htm,N\n", 1, ConfigProblem::kTargetLeaves},
      {"item = /x.htm,N\n", 1, ConfigProblem::kTargetLeaves},
      {"item = C:x.htm,N\n", 1, ConfigProblem::kTargetLeaves},
      {"item = a\\\\x.htm,N\n", 1, ConfigProblem::kTargetLeaves},
      {"item = a\\.\\x.htm,N\n", 1, ConfigProblem::kTargetLeaves},
      {"item = a\\,N\n", 1, ConfigProblem::kTargetLeaves},
      {"item = x?.htm,N\n", 1, ConfigProblem::kBadName},
      // Names may hold what a file name may: the stub quotes them in its commands.
      {"item = x.htm,Reader (HTML), 3.11\n", 0, ConfigProblem::kNone},
      {"item = x[1].htm,N\n", 1, ConfigProblem::kBadCharacter},
      {"item = x.htm,a/b\n", 1, ConfigProblem::kBadName},
      {"group = A\\B\n", 1, ConfigProblem::kBadName},
      {"group = Acme (64-bit) [beta]\n", 0, ConfigProblem::kNone},
      {"folder = Acme\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = \\Acme\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = C:\\\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = C:\\a\\..\\b\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = C:\\a\\\\b\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = C:\\a,b\n", 1, ConfigProblem::kBadCharacter},
      {"folder = C:\\a:b\n", 1, ConfigProblem::kBadName},
      {"folder = C:\\a/b\n", 1, ConfigProblem::kBadName},
      {"folder = C:\\a\\...\\b\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = C:/a\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = {programfiles}\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = {documents}\\\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = {documents}/a\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = {desktop}\\..\\a\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = {appdata}\\Acme\n", 1, ConfigProblem::kUnknownFolder},
      {"folder = {Desktop}\\Acme\n", 1, ConfigProblem::kUnknownFolder},
      {"folder = {desktop}x\\Acme\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"folder = {programfiles}\\CON\n", 1, ConfigProblem::kBadName},
      {"caption = " + std::string(61, 'c') + "\n", 1, ConfigProblem::kTooLong},
      {"prompt = " + std::string(51, 'p') + "\n", 1, ConfigProblem::kTooLong},
      {"footer = " + std::string(65, 'f') + "\n", 1, ConfigProblem::kTooLong},
      {"done = " + std::string(301, 'd') + "\n", 1, ConfigProblem::kTooLong},
      {"quit-button = " + std::string(13, 'q') + "\n", 1, ConfigProblem::kTooLong},
      {"product = " + std::string(61, 'p') + "\n", 1, ConfigProblem::kTooLong},
      {"version =\n", 1, ConfigProblem::kEmpty},
      {"open = ..\\x.htm\n", 1, ConfigProblem::kTargetLeaves},
      {"open = C:\\x.htm\n", 1, ConfigProblem::kTargetLeaves},
      {"open = docs\\con.htm\n", 1, ConfigProblem::kBadName},
      {"version = 1.2.3.4.5\n", 1, ConfigProblem::kBadVersion},
      {"version = 65536\n", 1, ConfigProblem::kBadVersion},
      {"version = 1..2\n", 1, ConfigProblem::kBadVersion},
      {"version = 1.\n", 1, ConfigProblem::kBadVersion},
      {"version = v1\n", 1, ConfigProblem::kBadVersion},
      {"version = 1.-2\n", 1, ConfigProblem::kBadVersion},
      {"version = 1 .2\n", 1, ConfigProblem::kBadVersion},
      {"uninstall = Yes\n", 1, ConfigProblem::kNotYesNo},
      {"confirm = 1\n", 1, ConfigProblem::kNotYesNo},
      {"run = \"my setup.exe /q\n", 1, ConfigProblem::kOpenQuote},
      {"run = \"\" /q\n", 1, ConfigProblem::kEmpty},
      {"run = ..\\setup.exe\n", 1, ConfigProblem::kTargetLeaves},
      {"folder = {temp}\\\n", 1, ConfigProblem::kFolderNotAbsolute},
      {"uninstall = 1\n", 1, ConfigProblem::kNotYesNo},
      {"id = Acme\\Reader\n", 1, ConfigProblem::kBadName},
      {"id = con\n", 1, ConfigProblem::kBadName},
      {"item = " + std::string(101, 't') + ",N\n", 1, ConfigProblem::kTooLong},
      {"caption = a\tb\n", 1, ConfigProblem::kControlCharacter},
      {"caption = a\rb\n", 1, ConfigProblem::kControlCharacter},
      {"caption = \xC2\x85\n", 1, ConfigProblem::kControlCharacter},  // U+0085 (C1)
      {"caption = \xB9\n", 1, ConfigProblem::kBadUtf8},               // Windows-1250, not UTF-8
      {"caption = \xC0\xAF\n", 1, ConfigProblem::kBadUtf8},           // over-long "/"
      {"# \xFF\n", 1, ConfigProblem::kBadUtf8},
      {"caption = a\n" + std::string(kConfigTextLimit, '#'), 0, ConfigProblem::kTooLarge},
  };
  for (const auto& c : cases) {
    Parsed p = Parse(c.text);
    EXPECT_EQ(p.result.problem, c.problem) << c.text.substr(0, 80);
    EXPECT_EQ(p.result.line, c.line) << c.text.substr(0, 80);
  }
  // A limit counts characters, not bytes: 60 Greek letters are 120 bytes.
  std::string greek;
  for (int i = 0; i < 60; ++i) greek += "\xCE\xB1";
  EXPECT_TRUE(Parse("caption = " + greek).result.ok());
  EXPECT_EQ(Parse("caption = " + greek + "\xCE\xB1").result.problem, ConfigProblem::kTooLong);
}

// A stub with the .vekofs section; with room for the configuration offset or not.
std::string FakeStub(bool holds_config_offset) {
  std::string pe(0x600, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  testing::PatchU32(pe, 0x3C, 0x40);
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  testing::PatchU16(pe, 0x44 + 2, 1);
  const size_t table = 0x44 + 20;
  pe.replace(table, 7, ".vekofs");
  testing::PatchU32(pe, table + 8, holds_config_offset ? 8 : 4);
  testing::PatchU32(pe, table + 16, 0x200);
  testing::PatchU32(pe, table + 20, 0x200);
  return pe;
}

struct PackedExe {
  std::string exe;
  std::string path;
};

PackedExe PackWithConfig(ScratchFolder& out, const std::string& config, bool new_stub = true,
                         std::vector<std::string>* warnings = nullptr) {
  std::filesystem::create_directories(out / "src");
  WriteWholeFile(out / "src" / "index.htm", "<html></html>");
  std::filesystem::create_directories(out / "src" / "docs");
  WriteWholeFile(out / "src" / "docs" / "a.htm", "a");
  WriteWholeFile(out / "stub.exe", FakeStub(new_stub));
  WriteWholeFile(out / "setup.cfg", config);
  build::PackOptions options;
  options.source_folder = (out / "src").string();
  options.output = (out / "setup.exe").string();
  options.stub = (out / "stub.exe").string();
  options.config = (out / "setup.cfg").string();
  if (warnings) options.warn = [&](const std::string& text) { warnings->push_back(text); };
  build::Pack(options);
  return {ReadWholeFile(out / "setup.exe"), (out / "setup.exe").string()};
}

TEST(ConfigBlock, LiesBetweenStubAndArchiveNamedByTheStubsConstants) {
  ScratchFolder out;
  PackedExe p = PackWithConfig(out, "# Acme\ngroup = Acme\ncaption=Acme Setup\nitem = docs/a.htm , A\n");
  const std::string text = "caption = Acme Setup\ngroup = Acme\nitem = docs\\a.htm,A\n";
  const uint32_t archive = 0x600 + kConfigMagicSize + text.size();
  const auto* constants = reinterpret_cast<const unsigned char*>(&p.exe[0x200]);
  EXPECT_EQ(LoadU32(constants), archive);
  EXPECT_EQ(LoadU32(constants + 4), 0x600u);
  EXPECT_EQ(p.exe.substr(0x600, archive - 0x600), std::string(kConfigMagic, kConfigMagicSize) + text);
  EXPECT_EQ(p.exe.substr(archive, 6), "RN-VEK");

  std::string error;
  auto start = tools::LocateArchive(p.path, &error);
  ASSERT_TRUE(start) << error;
  EXPECT_EQ(start->offset, archive);
  EXPECT_EQ(start->config_offset, 0x600u);

  // vek list prints it above the entries; vek test finds nothing wrong.
  tools::OpenedArchive archive_file;
  ASSERT_TRUE(tools::OpenArchive(p.path, &archive_file, &error)) << error;
  FILE* f = tmpfile();
  ASSERT_NE(f, nullptr);
  tools::ListArchive(archive_file, f);
  rewind(f);
  std::string shown;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) shown.append(buffer, n);
  fclose(f);
  EXPECT_TRUE(tools::CheckArchive(archive_file).empty());
  tools::CloseArchive(&archive_file);
  EXPECT_NE(shown.find("Configuration (at 1536):\n  caption = Acme Setup\n  group = Acme\n"
                       "  item = docs\\a.htm,A\n\n"),
            std::string::npos)
      << shown;
  EXPECT_LT(shown.find("Configuration"), shown.find("\\index.htm"));
}

TEST(ConfigBlock, RefusalsNameTheFileAndLineAndWriteNothing) {
  const struct {
    std::string config;
    bool new_stub;
    std::string message;
  } cases[] = {
      {"caption = a\ncolour = red\n", true, "setup.cfg:2: colour: unknown key"},
      {"item = index.htm\n", true, "setup.cfg:1: item: an item is TARGET,NAME"},
      {"item = ../x.htm,X\n", true, "setup.cfg:1: item: TARGET must stay inside"},
      // Names that Windows would not take as written: a device, a dropped dot, "." and "..".
      {"group = CON\n", true, "setup.cfg:1: group: a Windows device name (CON, PRN, AUX, NUL,"},
      {"# Acme\ngroup = Acme.\n", true, "setup.cfg:2: group: a trailing dot or blank, which Windows drops"},
      {"group = LPT1.txt\n", true, "setup.cfg:1: group: a Windows device name"},
      {"group = ..\n", true, "setup.cfg:1: group: \".\", \"..\" or only dots and blanks"},
      {"group = .\n", true, "setup.cfg:1: group: \".\", \"..\" or only dots and blanks"},
      {"item = index.htm,NUL\n", true, "setup.cfg:1: item: NAME: a Windows device name"},
      {"item = index.htm,Manual.\n", true, "setup.cfg:1: item: NAME: a trailing dot or blank"},
      {"item = CON,Name\n", true, "setup.cfg:1: item: TARGET: a Windows device name"},
      {"item = docs\\aux.htm,Name\n", true, "setup.cfg:1: item: TARGET: a Windows device name"},
      {"folder = C:\\CON\\x\n", true, "setup.cfg:1: folder: a Windows device name"},
      {"folder = C:\\Acme \\x\n", true, "setup.cfg:1: folder: a trailing dot or blank"},
      {"group = a*b\n", true, "setup.cfg:1: group: a character Windows forbids in names"},
      {"caption = " + std::string(61, 'c'), true,
       "setup.cfg:1: caption: the value is too long (61 characters; at most 60)"},
      {"item = a.htm," + std::string(61, 'n'), true, "setup.cfg:1: item: NAME is too long (61 characters; at most 60)"},
      {"item = index.htm,Index\nitem = docs\\missing.htm,M\n", true,
       "setup.cfg:2: item: TARGET docs\\missing.htm is not in the packed folder"},
      {"group = a\n", false, "stub.exe: this stub cannot carry a configuration"},
      {"folder = {home}\\Acme\n", true,
       "setup.cfg:1: folder: a folder by name is {localappdata}, {programfiles}, {documents}, {desktop} or {temp}"},
      // {temp}: a folder for run alone, removed after it.
      {"folder = {temp}\n", true, "setup.cfg:1: folder: {temp} needs run = PROGRAM"},
      {"run = missing.exe /q\n", true, "setup.cfg:1: run: missing.exe is not in the packed folder"},
      {"folder = {temp}\nrun = index.htm\ngroup = G\n", true, "setup.cfg:3: group: not with folder = {temp}"},
      {"folder = {temp}\nitem = index.htm,I\nrun = index.htm\n", true, "setup.cfg:2: item: not with folder = {temp}"},
      {"product = P\nuninstall = yes\nfolder = {temp}\nrun = index.htm\n", true,
       "setup.cfg:2: uninstall: not with folder = {temp}"},
      {"open = docs/missing.htm\n", true, "setup.cfg:1: open: docs\\missing.htm is not in the packed folder"},
      {"version = 2.x\n", true, "setup.cfg:1: version: the version must be one to four numbers from 0 to 65535"},
      {"publisher = Acme\n", true, "stub.exe: this stub cannot carry version information"},
      {"icon =\n", true, "setup.cfg:1: icon: the value must not be empty"},
      {"icon = missing.ico\n", true, "setup.cfg:1: icon: "},
      {"icon = missing.ico\n", true, "missing.ico: cannot open the icon: "},
  };
  for (const auto& c : cases) {
    ScratchFolder out;
    try {
      PackWithConfig(out, c.config, c.new_stub);
      ADD_FAILURE() << "accepted: " << c.config;
    } catch (const BuildError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(out / "setup.exe"));
  }
}

// The publisher's mistakes, each with the whole message: the line, the key and the fix.
TEST(ConfigFile, MistakesNameTheirLineAndWhatWasMeant) {
  const struct {
    std::string config;
    std::string message;  // after the file's path; "..." at its end: the rest varies
  } cases[] = {
      {"caption = a\ncaptoin = b\n", ":2: captoin: unknown key (did you mean \"caption\"?)"},
      {"Caption = a\n", ":1: Caption: unknown key (did you mean \"caption\"?)"},
      {"grop = Acme\n", ":1: grop: unknown key (did you mean \"group\"?)"},
      {"original-filname = a.exe\n", ":1: original-filname: unknown key (did you mean \"original-filename\"?)"},
      {"colour = red\n", ":1: colour: unknown key"},
      {"uninstall = true\n", ":1: uninstall: \"true\" is not yes or no"},
      {"elevation = root\n", ":1: elevation: \"root\" is not admin or user"},
      {"elevation =\n", ":1: elevation: the value must not be empty"},
      // Invisible and direction-changing characters, a byte-order mark but the first.
      {"caption = a\n\xEF\xBB\xBF"
       "folder = C:\\Acme\n",
       ":2: folder: an invisible or direction-changing character (U+FEFF) in the key"},
      {"caption = Acme \xE2\x80\xAE"
       "exe.txt\n",
       ":1: caption: an invisible or direction-changing character (U+202E) in the value"},
      {"item = index.htm,Ac\xE2\x80\x8Bme\n",
       ":1: item: an invisible or direction-changing character (U+200B) in the value"},
      {"group = \xE2\x81\xA6"
       "Acme\n",
       ":1: group: an invisible or direction-changing character (U+2066) in the value"},
      {"co\xE2\x80\x8Fmments = x\n", ":1: comments: an invisible or direction-changing character (U+200F) in the key"},
      // The id of the Apps & Features entry: given, or taken from the product alone.
      {"uninstall = yes\n",
       ":1: uninstall: yes needs an id (the key of the Apps & Features entry) or a product to take it from"},
      {"group = Acme\nuninstall = YES\n",
       ":2: uninstall: yes needs an id (the key of the Apps & Features entry) or a product to take it from"},
      {"product = Acme.\nuninstall = yes\n",
       ":1: product: cannot serve as the id of the Apps & Features entry (a trailing dot or blank, which Windows "
       "drops); give an id"},
      {"id = Acme\nuninstall = yes\n", ":2: uninstall: the packed folder holds uninstall.exe, the uninstaller's name"},
      // What the packed tree lacks.
      {"# x\nitem = docs/missing.htm,M\n", ":2: item: TARGET docs\\missing.htm is not in the packed folder"},
      {"open = nothing.htm\n", ":1: open: nothing.htm is not in the packed folder"},
      {"\nicon = missing.ico\n", ":2: icon: ..."},
      // vekpack's own keys.
      {"comments = a\ncomments = b\n", ":2: comments: the key is given twice"},
      {"original-filename = setup?.exe\n",
       ":1: original-filename: a character Windows forbids in names (\\ / : * ? \" < > | or a control character)"},
      {"internal-name = " + std::string(61, 'i') + "\n",
       ":1: internal-name: the value is too long (61 characters; at most 60)"},
      {"comments = a\tb\n", ":1: comments: a control character (such as a tab) in the line"},
      // The first problem of the file, whichever reader finds it.
      {"caption\nuninstall = true\n", ":1: not a \"key = value\" line"},
      {"uninstall = true\ncaption\n", ":1: uninstall: \"true\" is not yes or no"},
      {"icon = a.ico\nicon = \"b.ico\"\n", ":2: icon: the key is given twice"},
  };
  for (const auto& c : cases) {
    ScratchFolder out;
    if (c.config.find("id = Acme") == 0) {
      std::filesystem::create_directories(out / "src");
      WriteWholeFile(out / "src" / "uninstall.exe", "MZ");
    }
    try {
      PackWithConfig(out, c.config);
      ADD_FAILURE() << "accepted: " << c.config;
    } catch (const BuildError& e) {
      const std::string expected = (out / "setup.cfg").string() + c.message;
      const size_t rest = expected.rfind("...");
      if (rest == expected.size() - 3) {
        EXPECT_EQ(std::string(e.what()).substr(0, rest), expected.substr(0, rest));
      } else {
        EXPECT_EQ(e.what(), expected);
      }
    }
  }
}

// A text per language: refused with its line and key as written.
TEST(ConfigFile, LanguagesAreRefusedByLine) {
  const struct {
    std::string config;
    std::string message;  // after the file's path
  } cases[] = {
      {"caption = a\ncaption[xx] = b\n",
       ":2: caption[xx]: unknown language \"xx\" (a language's two letters, optionally with a region's: de, de-AT, "
       "pt-BR)"},
      {"caption[de-AUT] = b\n",
       ":1: caption[de-AUT]: unknown language \"de-AUT\" (a language's two letters, optionally with a region's: de, "
       "de-AT, pt-BR)"},
      {"\nfolder[de] = C:\\Acme\n",
       ":2: folder[de]: folder takes no language; the texts that do: caption, prompt, footer, done, folder-error, "
       "group-error, extract-button, quit-button, damaged, rights-error, run-error"},
      {"comments[de] = x\n", ":1: comments[de]: comments takes no language; the texts that do: caption, prompt, "
                             "footer, done, folder-error, group-error, extract-button, quit-button, damaged, rights-error, "
                             "run-error"},
      {"captoin[de] = x\n", ":1: captoin[de]: unknown key (did you mean \"caption\"?)"},
      {"caption[pl] = " + std::string(61, 'c') + "\n",
       ":1: caption[pl]: the value is too long (61 characters; at most 60)"},
      {"extract-button[ja] = " + [] {
         std::string a;
         for (int i = 0; i < 13; ++i) a += "\xE3\x81\x82";  // 13 characters of 3 bytes
         return a;
       }() + "\n",
       ":1: extract-button[ja]: the value is too long (13 characters; at most 12)"},
      {"done[de] = a\ndone = b\ndone[DE] = c\n", ":3: done[DE]: the key is given twice for language de"},
      {"done[pt-br] = a\ndone[pt-BR] = c\n", ":2: done[pt-BR]: the key is given twice for language pt-BR"},
  };
  for (const auto& c : cases) {
    ScratchFolder out;
    try {
      PackWithConfig(out, c.config);
      ADD_FAILURE() << "accepted: " << c.config;
    } catch (const BuildError& e) {
      EXPECT_EQ(e.what(), (out / "setup.cfg").string() + c.message);
    }
  }
}

// The stub's choice of each text: the run's language, its primary language, the default.
TEST(ConfigReader, EachTextTakesTheBestLanguageItHas) {
  const std::string text =
      "caption = Setup\ncaption[de] = Installation\ncaption[DE-at] = Installation (AT)\n"
      "caption[ja] = \xE3\x82\xBB\xE3\x83\x83\xE3\x83\x88\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97\n"
      "prompt[de] = Zielordner:\nprompt = Folder:\ndone = Done.\n";
  const struct {
    const char* language;
    const char* caption;
    const char* prompt;
  } cases[] = {
      {"de-AT", "Installation (AT)", "Zielordner:"},   // exact; prompt from the primary
      {"de-at", "Installation (AT)", "Zielordner:"},   // letter case aside
      {"de-CH", "Installation", "Zielordner:"},        // the primary language
      {"de", "Installation", "Zielordner:"},
      {"ja-JP", "\xE3\x82\xBB\xE3\x83\x83\xE3\x83\x88\xE3\x82\xA2\xE3\x83\x83\xE3\x83\x97", "Folder:"},  // a key missing
      {"fr-FR", "Setup", "Folder:"},                   // a language not given
      {"d", "Setup", "Folder:"},
      {"", "Setup", "Folder:"},  // vekpack's: the defaults
  };
  for (const auto& c : cases) {
    std::string copy = text;
    StubConfig config;
    ASSERT_TRUE(ParseStubConfig(copy.data(), copy.size(), &config, c.language).ok());
    EXPECT_STREQ(config.text[kKeyCaption], c.caption) << c.language;
    EXPECT_STREQ(config.text[kKeyPrompt], c.prompt) << c.language;
    EXPECT_STREQ(config.text[kKeyDone], "Done.");
  }
}

// What vekpack takes in a form of its own, and the block it writes in canonical form.
TEST(ConfigFile, ForgivenFormsAreWrittenCanonicallyWithAWarning) {
  const struct {
    std::string config;
    std::string block;
    std::vector<std::string> warnings;  // after the file's path
  } cases[] = {
      {"caption = \"My App Setup\"\nuninstall = Yes\nproduct = Acme\\Reader\n",
       "caption = My App Setup\nproduct = Acme\\Reader\nuninstall = yes\nid = Acme-Reader\n",
       {":1: caption: the double quotes around the value were taken off (a value needs none)"}},
      {"\xEF\xBB\xBFid = Acme\ncaption = \"a \"quoted\" word\"\n",
       "caption = \"a \"quoted\" word\"\nid = Acme\n",
       {":1: id: not used without uninstall = yes"}},
      {"uninstall = NO\ndone = \"\"quoted\"\"\n", "done = \"\"quoted\"\"\nuninstall = no\n", {}},
      // Texts per language follow their key's default, the tags in canonical case.
      {"prompt[PT-br] = Pasta:\ncaption[De] = Installation\ncaption = Setup\nfolder = C:\\Acme\n",
       "caption = Setup\ncaption[de] = Installation\nprompt[pt-BR] = Pasta:\nfolder = C:\\Acme\n", {}},
      {"folder = {temp}\nconfirm = Yes\nrun = \"docs/a b.exe\"  /q\n",
       "folder = {temp}\nrun = \"docs\\a b.exe\" /q\nconfirm = yes\n", {}},
      {"confirm = no\n", "confirm = no\n", {":1: confirm: not used without folder = {temp}"}},
  };
  for (const auto& c : cases) {
    ScratchFolder out;
    WriteWholeFile(out / "setup.cfg", c.config);
    std::vector<std::string> warnings;
    const std::string block = build::MakeConfigBlock(PlatformPackEdge(), (out / "setup.cfg").string(), nullptr, nullptr,
                                                     [&](const std::string& text) { warnings.push_back(text); });
    EXPECT_EQ(block, std::string(kConfigMagic, kConfigMagicSize) + c.block) << c.config;
    std::vector<std::string> expected;
    for (const std::string& w : c.warnings) expected.push_back((out / "setup.cfg").string() + w);
    EXPECT_EQ(warnings, expected) << c.config;
  }
}

// The uninstaller's name is the installer's own with uninstall = yes.
TEST(ConfigBlock, AFileNamedLikeTheUninstallerIsRefusedOnlyWithUninstallYes) {
  for (const char* config : {"product = Acme\nuninstall = yes\n", "uninstall = no\n"}) {
    ScratchFolder out;
    std::filesystem::create_directories(out / "src");
    WriteWholeFile(out / "src" / "Uninstall.EXE", "MZ");
    const bool refused = std::string(config) != "uninstall = no\n";
    try {
      PackWithConfig(out, config);
      EXPECT_FALSE(refused) << config;
    } catch (const BuildError& e) {
      EXPECT_TRUE(refused) << config;
      EXPECT_NE(std::string(e.what()).find("the packed folder holds uninstall.exe"), std::string::npos) << e.what();
    }
  }
}

TEST(ConfigBlock, ExecutablesWithoutOneStayAsTheyWere) {
  ScratchFolder out;
  std::filesystem::create_directories(out / "src");
  WriteWholeFile(out / "src" / "Index.htm", "<html></html>");
  WriteWholeFile(out / "stub.exe", FakeStub(true));
  build::PackOptions options;
  options.source_folder = (out / "src").string();
  options.output = (out / "setup.exe").string();
  options.stub = (out / "stub.exe").string();
  std::vector<std::string> warnings;
  options.warn = [&](const std::string& text) { warnings.push_back(text); };
  build::Pack(options);
  // Where the stub's own texts install, and whether its one item finds its target.
  const std::string sample =
      "no --config: the installer shows the stub's Polish sample texts, proposes C:\\Tarnovista_3_99 and makes the "
      "Start-menu group \"NWM Tarnovista\" with an item for INDEX.HTM";
  ASSERT_FALSE(warnings.empty());
  EXPECT_EQ(warnings[0], sample);
  std::filesystem::rename(out / "src" / "Index.htm", out / "src" / "other.htm");
  warnings.clear();
  build::Pack(options);
  ASSERT_FALSE(warnings.empty());
  EXPECT_EQ(warnings[0], sample + ", which the packed folder lacks");
  const std::string exe = ReadWholeFile(out / "setup.exe");
  EXPECT_EQ(LoadU32(reinterpret_cast<const unsigned char*>(&exe[0x204])), 0u);
  EXPECT_EQ(exe.substr(0x600, 6), "RN-VEK");
  std::string error;
  auto start = tools::LocateArchive(options.output, &error);
  ASSERT_TRUE(start) << error;
  EXPECT_EQ(start->config_offset, 0u);
}

// A configuration offset that the stub refuses to run with is a problem for vek test too.
TEST(ConfigBlock, AnOffsetOutsideTheBlockIsAProblem) {
  ScratchFolder out;
  const PackedExe p = PackWithConfig(out, "group = Acme\n");
  const uint32_t archive = LoadU32(reinterpret_cast<const unsigned char*>(&p.exe[0x200]));
  for (uint32_t offset : {0x40u, archive, archive + 10, static_cast<uint32_t>(p.exe.size() + 100)}) {
    std::string exe = p.exe;
    testing::PatchU32(exe, 0x204, offset);
    WriteWholeFile(out / "moved.exe", exe);
    tools::OpenedArchive archive_file;
    std::string error;
    ASSERT_TRUE(tools::OpenArchive((out / "moved.exe").string(), &archive_file, &error)) << error;
    const auto problems = tools::CheckArchive(archive_file);
    tools::CloseArchive(&archive_file);
    ASSERT_EQ(problems.size(), 1u) << offset;
    EXPECT_NE(problems[0].text.find("outside the space between its image and the archive"), std::string::npos)
        << problems[0].text;
  }
}

}  // namespace
}  // namespace vek
