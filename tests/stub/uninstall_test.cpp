// The uninstaller: installs of a configuration with "uninstall = yes" through the
// extraction run into a scratch folder (the real file edge), the entry and
// uninstall.exe through a recording Apps & Features edge, then the uninstall itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "configured.h"
#include "ddeman.h"
#include "messagebox.h"
#include "recording_ddeml.h"
#include "recording_shelllink.h"
#include "testsupport.h"
#include "uninstall.h"
#include "vekbuild.h"
#include "veksfxu.h"

namespace vek {
namespace {

namespace fs = std::filesystem;
using build::ArchiveBuilder;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

const uint32_t kInstalledStamp = testing::DosStamp(2026, 3, 14, 12, 30, 44);
const std::string kShortFakeStub = "MZ" + std::string(510, '\x90');

std::string Footer(size_t record_size) {
  std::string footer(kRecordFooterSize, '\0');
  StoreU32(reinterpret_cast<unsigned char*>(&footer[0]), static_cast<uint32_t>(record_size));
  footer.replace(4, 4, kRecordFooterMagic, 4);
  return footer;
}

// Records the entries; writes uninstall.exe as the Windows edge lays it out.
class RecordingApps final : public AppsEdge {
 public:
  bool machine_writable = true;
  bool uninstaller_writable = true;
  std::vector<std::string> calls;
  bool WriteEntry(bool machine, const AppsEntry& e) override {
    if (machine && !machine_writable) return false;
    calls.push_back(std::string("write ") + (machine ? "machine|" : "user|") + e.id + "|" + e.name + "|" + e.version +
                    "|" + e.publisher + "|" + std::to_string(e.size_kib));
    return true;
  }
  void RemoveEntry(bool machine, const char* id, const char*) override {
    calls.push_back(std::string("remove ") + (machine ? "machine|" : "user|") + id);
  }
  Error WriteUninstaller(const char* path, uint32_t program_size, const AnsiString& record) override {
    if (!uninstaller_writable) return InOutError(kIoAccessDenied);
    const std::string tail = std::string(kRecordMagic, sizeof kRecordMagic) + record.c_str();
    WriteWholeFile(path, ReadWholeFile(OwnPath.c_str()).substr(0, program_size) + tail + Footer(tail.size()));
    return NoError();
  }
};

class SilentWindow final : public TForm1Window {
 public:
  std::string de_text, module_file_name;
  AnsiString DEText() override { return AnsiString(de_text.c_str()); }
  void SetDEText(const char*) override {}
  void SetCaption(const char*) override {}
  void SetPBProgress(int32_t) override {}
  void Close() override {}
  AnsiString ModuleFileName() override { return AnsiString(module_file_name.c_str()); }
  void OpenInstalled(const AnsiString&) override {}
};

class NoBoxes final : public MessageBoxPresenter {
 public:
  void ShowMessageBox(const char*, MessageKind) override {}
};

const char kConfig[] =
    "group = Acme\nitem = index.htm,Acme Reader\nproduct = Acme Reader\nversion = 2.0\npublisher = Acme Ltd.\n"
    "uninstall = yes\n";

class Machine {
 public:
  Machine() {
    EXPECT_TRUE(InitDdeManager(nullptr, ddeml).ok());
    previous_ = SetMessageBoxPresenter(&boxes_);
  }
  ~Machine() {
    SetMessageBoxPresenter(previous_);
    delete DdeManager;
  }
  // Installs the archive with the settings into scratch/out; false when the run failed.
  bool Install(const ArchiveBuilder& archive, const StubSettings& settings) {
    window.module_file_name = (scratch / "setup.exe").string();
    WriteWholeFile(scratch / "setup.exe", kShortFakeStub + archive.Serialize());
    TForm1 form(nullptr, window, PlatformFileEdge(), PlatformUninstallQueries(), PlatformThreads(), links,
                static_cast<uint32_t>(kShortFakeStub.size()), settings);
    EXPECT_TRUE(form.LoadLayout());
    form.SetApps(&apps);
    form.FormCreate(&form);
    window.de_text = destination();
    return form.EXTBTNClick(&form).ok() && form.Outcome() == RunOutcome::kDone;
  }
  UninstallOutcome Uninstall() {
    AnsiString text;
    InstallRecord record;
    EXPECT_TRUE(ReadInstallRecord(PlatformFileEdge(), PlatformUninstallQueries(),
                                  Out(kUninstallerName).string().c_str(), &text));
    EXPECT_TRUE(record.Parse(text.c_str(), text.size()));
    return vek::Uninstall(PlatformFileEdge(), PlatformUninstallQueries(), links, apps, record,
                          AnsiString(destination().c_str()));
  }
  std::string destination() const { return scratch.destination("out"); }
  fs::path Out(const std::string& relative = "") const { return scratch.path() / "out" / relative; }
  // The files and folders below out, "/" separated, sorted.
  std::vector<std::string> Tree() const {
    std::vector<std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(Out())) {
      tree.push_back(fs::relative(entry.path(), Out()).generic_string());
    }
    std::sort(tree.begin(), tree.end());
    return tree;
  }

  testing::ScratchFolder scratch;
  testing::RecordingDdeml ddeml;
  testing::RecordingShellLinks links;
  RecordingApps apps;
  SilentWindow window;

 private:
  NoBoxes boxes_;
  MessageBoxPresenter* previous_;
};

ArchiveBuilder Version(std::vector<std::string> files) {
  ArchiveBuilder b;
  const uint16_t docs = b.AddDirectory(0, "docs");
  for (const std::string& name : files) {
    const bool below = name.rfind("docs/", 0) == 0;
    b.AddFile(below ? docs : 0, below ? name.substr(5) : name, "text of " + name, kInstalledStamp);
  }
  return b;
}

TEST(Uninstall, AnInstallRegistersItsEntryWhereItMayAndWritesTheUninstaller) {
  const struct {
    const char* extra;
    const char* entry;
  } cases[] = {
      {"", "write machine|Acme Reader|Acme Reader 2.0|2.0|Acme Ltd.|1"},
      {"id = acme.reader\n", "write machine|acme.reader|Acme Reader 2.0|2.0|Acme Ltd.|1"},
      // The user's own folder: the user's list, whatever the machine's allows.
      {"folder = {localappdata}\\Programs\\Acme\n", "write user|Acme Reader|Acme Reader 2.0|2.0|Acme Ltd.|1"},
  };
  for (const auto& c : cases) {
    Machine m;
    const Configured config(std::string(kConfig) + c.extra);
    ASSERT_TRUE(m.Install(Version({"index.htm", "docs/a.txt"}), config.settings()));
    EXPECT_EQ(m.apps.calls, std::vector<std::string>{c.entry});
    EXPECT_EQ(m.Tree(), (std::vector<std::string>{"docs", "docs/a.txt", "index.htm", "uninstall.exe"}));
  }
  Machine plain;  // without uninstall = yes: nothing of it
  const Configured config("group = Acme\n");
  ASSERT_TRUE(plain.Install(Version({"index.htm"}), config.settings()));
  EXPECT_TRUE(plain.apps.calls.empty());
  EXPECT_FALSE(fs::exists(plain.Out(kUninstallerName)));
}

TEST(Uninstall, RemovesWhatTheInstallWroteAndLeavesAddedAndChangedFiles) {
  Machine m;
  const Configured config(kConfig);
  ASSERT_TRUE(m.Install(Version({"index.htm", "docs/a.txt", "docs/b.txt"}), config.settings()));
  fs::permissions(m.Out("docs/b.txt"), fs::perms::owner_write, fs::perm_options::remove);  // read-only
  WriteWholeFile(m.Out("docs/mine.txt"), "the user's");
  fs::create_directories(m.Out("docs/own"));
  WriteWholeFile(m.Out("docs/own/x.txt"), "the user's, in a folder of its own");
  WriteWholeFile(m.Out("docs/a.txt"), "changed by the user");
  m.links.calls.clear();
  m.apps.calls.clear();

  const UninstallOutcome outcome = m.Uninstall();
  EXPECT_EQ(outcome.left, 3u);  // the changed file, the user's file and the user's folder
  EXPECT_EQ(outcome.failed, 0u);
  EXPECT_EQ(outcome.ExitCode(), kExitLeftFiles);
  EXPECT_EQ(m.Tree(), (std::vector<std::string>{"docs", "docs/a.txt", "docs/mine.txt", "docs/own", "docs/own/x.txt",
                                                "uninstall.exe"}));
  EXPECT_EQ(m.links.calls, (std::vector<std::string>{"remove Acme|Acme Reader", "remove Acme"}));
  EXPECT_EQ(m.apps.calls, std::vector<std::string>{"remove machine|Acme Reader"});
  EXPECT_EQ(UninstallMessage("Acme Reader 2.0", AnsiString("C:\\Acme"), outcome),
            "Acme Reader 2.0 was removed.\n\nFiles and folders added or changed since the installation (3) were "
            "left in\nC:\\Acme");
}

TEST(Uninstall, AnUpdateRemovesWhatOnlyTheEarlierVersionWroteAndOneUninstallRemovesBoth) {
  Machine m;
  const Configured v1(kConfig);
  const Configured v2(std::string(kConfig) + "item = new.htm,What is new\n");
  ASSERT_TRUE(m.Install(Version({"index.htm", "old.htm", "docs/a.txt", "docs/gone.txt"}), v1.settings()));
  WriteWholeFile(m.Out("docs/a.txt"), "changed by the user");  // in v2 too: overwritten
  m.links.calls.clear();
  ASSERT_TRUE(m.Install(Version({"index.htm", "new.htm", "docs/a.txt"}), v2.settings()));
  EXPECT_EQ(m.Tree(), (std::vector<std::string>{"docs", "docs/a.txt", "index.htm", "new.htm", "uninstall.exe"}))
      << "old.htm and docs/gone.txt, unchanged, go";
  for (const std::string& call : m.links.calls) EXPECT_EQ(call.rfind("remove", 0), std::string::npos) << call;

  const UninstallOutcome outcome = m.Uninstall();
  EXPECT_EQ(outcome.ExitCode(), 0);
  EXPECT_EQ(m.Tree(), std::vector<std::string>{"uninstall.exe"});
  EXPECT_EQ(m.links.calls.back(), "remove Acme");
}

// Anyone who may write into the destination may plant an uninstall.exe with our id:
// a record whose path leaves the destination, or whose group or item leaves the Start
// menu's folder, is no install's, and an update removes nothing of it.
TEST(Uninstall, NoRecordThatReachesOutsideItsFoldersIsTrusted) {
  for (const char* line : {"file\t1\t2\t..\\victim.txt", "file\t1\t2\t\\\\victim.txt", "file\t1\t2\tC:victim.txt",
                           "file\t1\t2\tdocs/../../victim.txt", "file\t1\t2\tdocs\\CON", "folder\tdocs\\..\\..",
                           "group\t..\\..\\Startup", "item\t..\\evil"}) {
    const std::string text = std::string("id\tAcme\n") + line + "\n";
    InstallRecord record;
    EXPECT_FALSE(record.Parse(text.data(), text.size())) << line;
  }

  Machine m;
  const Configured config(kConfig);
  ASSERT_TRUE(m.Install(Version({"index.htm", "a.txt"}), config.settings()));
  AnsiString text;
  ASSERT_TRUE(ReadInstallRecord(PlatformFileEdge(), PlatformUninstallQueries(),
                                m.Out(kUninstallerName).string().c_str(), &text));
  // A victim beside the destination with a.txt's bytes and time, as the record says.
  const fs::path victim = m.Out() / ".." / "victim.txt";
  fs::copy_file(m.Out("a.txt"), victim);
  fs::last_write_time(victim, fs::last_write_time(m.Out("a.txt")));
  std::string planted = text.c_str();
  const size_t at = planted.find("\t\\a.txt");
  ASSERT_NE(at, std::string::npos) << planted;
  planted.replace(at, 7, "\t\\..\\victim.txt");
  planted = std::string(kRecordMagic, sizeof kRecordMagic) + planted;
  const std::string planted_file = kShortFakeStub + planted + Footer(planted.size());
  WriteWholeFile(m.Out(kUninstallerName), planted_file);
  // The files go in; the uninstaller that is not this product's stays as it is, and
  // this install has none.
  EXPECT_FALSE(m.Install(Version({"index.htm"}), config.settings()));
  EXPECT_TRUE(fs::exists(victim));
  EXPECT_EQ(ReadWholeFile(m.Out(kUninstallerName)), planted_file);
}

// The uninstaller is written before its entry: an install that fails there writes no
// entry and removes none (the product's entry may name an install elsewhere).
TEST(Uninstall, NoEntryWithoutItsUninstallerAndNoOtherProductsUninstallerReplaced) {
  const std::string others = std::string(kRecordMagic, sizeof kRecordMagic) + "id\tOther\n";
  const struct {
    const char* what;
    std::string in_place;  // what stands at uninstall.exe before the install; empty: nothing
    bool writable, machine_writable;
  } cases[] = {
      {"another product's uninstaller", kShortFakeStub + others + Footer(others.size()), true, true},
      {"a file of that name", "notes", true, true},
      {"an uninstaller that cannot be written", "", false, true},
      {"an entry that cannot be written (the uninstaller stays)", "", true, false},
  };
  for (const auto& c : cases) {
    Machine m;
    const Configured config(kConfig);
    fs::create_directories(m.Out());
    if (!c.in_place.empty()) WriteWholeFile(m.Out(kUninstallerName), c.in_place);
    m.apps.uninstaller_writable = c.writable;
    m.apps.machine_writable = c.machine_writable;
    EXPECT_FALSE(m.Install(Version({"index.htm"}), config.settings())) << c.what;
    EXPECT_TRUE(m.apps.calls.empty()) << c.what << ": " << (m.apps.calls.empty() ? "" : m.apps.calls[0]);
    if (!c.in_place.empty()) EXPECT_EQ(ReadWholeFile(m.Out(kUninstallerName)), c.in_place) << c.what;
    EXPECT_EQ(fs::exists(m.Out(kUninstallerName)), !c.in_place.empty() || c.writable) << c.what;
  }
}

// Names that a file name may hold, commas and brackets too, reach Program Manager
// quoted, each one field.
TEST(StartMenuNames, WithCommasAndBracketsAreQuotedInTheCommands) {
  Machine m;
  const Configured config("group = Acme (64-bit) [beta]\nitem = index.htm,Reader (HTML), 3.11\n");
  ASSERT_TRUE(m.Install(Version({"index.htm"}), config.settings()));
  const std::string end = ")]\r\n" + std::string(1, '\0');
  ASSERT_EQ(m.ddeml.executes.size(), 3u);
  EXPECT_EQ(m.ddeml.executes[0], "[CreateGroup(\"Acme (64-bit) [beta]\"" + end);
  EXPECT_EQ(m.ddeml.executes[2], "[AddItem(" + m.destination() + "\\index.htm,\"Reader (HTML), 3.11\"" + end);
}

TEST(Uninstall, FilesDeletedByHandAndASecondRunEndCleanly) {
  Machine m;
  const Configured config(kConfig);
  ASSERT_TRUE(m.Install(Version({"index.htm", "docs/a.txt", "docs/b.txt"}), config.settings()));
  fs::remove_all(m.Out("docs"));
  EXPECT_EQ(m.Uninstall().ExitCode(), 0);
  EXPECT_EQ(m.Uninstall().ExitCode(), 0);
  EXPECT_EQ(m.Tree(), std::vector<std::string>{"uninstall.exe"});
}

TEST(Uninstall, OnlyAWholeRecordAfterItsMagicAndBeforeItsFooterIsRead) {
  const std::string record = std::string(kRecordMagic, sizeof kRecordMagic) + "id\tAcme\nfile\t1\t2\tx\n";
  const struct {
    std::string bytes;
    bool read;
  } cases[] = {
      {kShortFakeStub + record + Footer(record.size()), true},
      {record + Footer(record.size()), true},
      {kShortFakeStub + record, false},                                     // no footer
      {kShortFakeStub + record + Footer(record.size() + 1), false},         // magic not where it says
      {record + Footer(record.size() + kShortFakeStub.size() + 1), false},  // beyond the file's start
      {kShortFakeStub + "VEK-XXX1" + record.substr(8) + Footer(record.size()), false},
      {"VEKU", false},
  };
  testing::ScratchFolder scratch;
  for (const auto& c : cases) {
    WriteWholeFile(scratch / "uninstall.exe", c.bytes);
    AnsiString text;
    EXPECT_EQ(ReadInstallRecord(PlatformFileEdge(), PlatformUninstallQueries(),
                                (scratch / "uninstall.exe").string().c_str(), &text),
              c.read);
    if (c.read) {
      EXPECT_EQ(text, "id\tAcme\nfile\t1\t2\tx\n");
    }
  }
  InstallRecord record_read;  // lines it does not know, or malformed, are left out
  const std::string text = "id\tAcme\nmachine\t1\nfuture\tx\nfile\t1\tx\tbad\nfile\t3\t4\tdocs\\a.txt\nfolder\tdocs";
  ASSERT_TRUE(record_read.Parse(text.data(), text.size()));
  EXPECT_STREQ(record_read.id, "Acme");
  EXPECT_TRUE(record_read.machine);
  ASSERT_EQ(record_read.count, 2u);
  EXPECT_EQ(record_read.lines[0].kind, 'F');
  EXPECT_EQ(record_read.lines[0].size, 3u);
  EXPECT_STREQ(record_read.lines[1].text, "docs");
}

}  // namespace
}  // namespace vek
