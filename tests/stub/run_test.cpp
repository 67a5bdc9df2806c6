// The extraction run (TForm1::EXTBTNClick) against a scripted window, the real file
// edge (wrapped to inject faults) and the recording DDEML: what lands on disk, what
// the gauge is given, which boxes appear, what Program Manager receives, and that
// nothing stays open when a run ends early.
#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "configured.h"
#include "crc32.h"
#include "ddeman.h"
#include "extended80.h"
#include "extension.h"
#include "layout.h"
#include "recording_ddeml.h"
#include "recording_shelllink.h"
#include "testsupport.h"
#include "vekbuild.h"
#include "veksfxu.h"

namespace vek {
namespace {

namespace fs = std::filesystem;
using build::ArchiveBuilder;
using testing::DosStamp;
using testing::FaultyFileEdge;
using testing::Op;
using testing::ReadWholeFile;
using testing::ScratchFolder;
using Fault = FaultyFileEdge::Fault;

using testing::kFakeStub;
using testing::kStamp;

class ScriptedWindow final : public TForm1Window {
 public:
  std::string de_text;
  std::string caption;
  std::vector<int32_t> progress;  // every value given to PB, in order
  int closes = 0;
  std::string module_file_name;

  AnsiString DEText() override { return AnsiString(de_text.data(), de_text.size()); }
  void SetDEText(const char* text) override { de_text = text; }
  void SetCaption(const char* text) override { caption = text; }
  void SetPBProgress(int32_t value) override { progress.push_back(value); }
  void Close() override { ++closes; }
  AnsiString ModuleFileName() override { return AnsiString(module_file_name.c_str()); }
  void OpenInstalled(const AnsiString& path) override { opened.push_back(path.c_str()); }
  std::vector<std::string> opened;
};

struct Box {
  std::string text;
  MessageKind kind;
};

// Records the boxes and lets a test act while one is up (as a nested message loop would).
class ScriptedBoxes final : public MessageBoxPresenter {
 public:
  ScriptedBoxes() { previous_ = SetMessageBoxPresenter(this); }
  ~ScriptedBoxes() override { SetMessageBoxPresenter(previous_); }
  void ShowMessageBox(const char* text, MessageKind kind) override {
    boxes.push_back({text, kind});
    if (while_up) while_up(boxes.back());
  }
  std::vector<Box> boxes;
  std::function<void(const Box&)> while_up;

 private:
  MessageBoxPresenter* previous_;
};

std::string Exec(const std::string& command) { return command + "\r\n" + std::string(1, '\0'); }

std::vector<std::string> GroupCommands(const std::string& destination, int items = 1) {
  std::vector<std::string> commands = {Exec("[CreateGroup(NWM Tarnovista)]"), Exec("[ShowGroup(NWM Tarnovista,1)]")};
  for (int i = 0; i < items; ++i) {
    commands.push_back(Exec("[AddItem(" + destination + "\\INDEX.HTM,Tarnovista 3_99)]"));
  }
  return commands;
}

// One form on a scripted window, the recording DDEML and a scratch folder; the
// destination's last folder does not exist yet.
class Harness {
 public:
  explicit Harness(const StubSettings& settings = DefaultSettings()) {
    EXPECT_TRUE(InitDdeManager(nullptr, ddeml).ok());
    form = new TForm1(nullptr, window, files, files, files, links, static_cast<uint32_t>(kFakeStub.size()), settings);
    EXPECT_TRUE(form->LoadLayout());
    destination = scratch.destination("out");
  }
  ~Harness() {
    delete form;
    delete DdeManager;
  }

  // Writes the self-extracting executable (fake stub + archive) and runs FormCreate.
  void Pack(const ArchiveBuilder& builder) { Pack(kFakeStub + builder.Serialize()); }
  void Pack(const std::string& bytes) {
    window.module_file_name = (scratch / "setup.exe").string();
    testing::WriteWholeFile(scratch / "setup.exe", bytes);
    form->FormCreate(form);
    window.progress.clear();
  }

  Error Extract(const std::string& typed) {
    window.de_text = typed;
    return form->EXTBTNClick(form);
  }
  std::string Report(const Error& error) {
    char text[128];
    FormatErrorReport(error, text, sizeof text);
    return text;
  }

  fs::path Out(const std::string& relative = "") const { return scratch.path() / "out" / relative; }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const Box& box : boxes.boxes) texts.push_back(box.text);
    return texts;
  }

  ScratchFolder scratch;
  testing::RecordingDdeml ddeml;
  testing::RecordingShellLinks links;
  FaultyFileEdge files{PlatformFileEdge()};
  ScriptedWindow window;
  ScriptedBoxes boxes;
  TForm1* form = nullptr;
  std::string destination;
};

ArchiveBuilder SampleArchive() {
  ArchiveBuilder b;
  b.AddFile(0, "index.htm", "<html>start</html>", kStamp);
  uint16_t numery = b.AddDirectory(0, "numery");
  b.AddFile(numery, "3-99.htm", std::string(40000, 'x'), kStamp);
  return b;
}

ArchiveBuilder FlatArchive(int entries) {
  ArchiveBuilder b;
  for (int i = 0; i < entries; ++i) b.AddFile(0, "f" + std::to_string(i), "", kStamp);
  return b;
}

TEST(Run, FormCreateFillsInTheWindow) {
  Harness h;
  h.window.module_file_name = "C:\\Program Files\\setup.exe";
  h.form->FormCreate(h.form);
  EXPECT_EQ(OwnPath, "C:\\Program Files\\setup.exe");
  EXPECT_EQ(h.window.caption,
            "Samorozpakowuj\xB9"
            "ce si\xEA archiwum VEK.");
  EXPECT_EQ(h.window.de_text, "C:\\Tarnovista_3_99");
  EXPECT_EQ(h.window.progress, std::vector<int32_t>{0});
}

TEST(Run, ACompleteRunExtractsRegistersTellsAndCloses) {
  Harness h;
  h.Pack(SampleArchive());
  ASSERT_TRUE(h.Extract(h.destination).ok());

  EXPECT_EQ(ReadWholeFile(h.Out("index.htm")), "<html>start</html>");
  EXPECT_EQ(ReadWholeFile(h.Out("numery/3-99.htm")), std::string(40000, 'x'));
  EXPECT_EQ(h.ddeml.executes, GroupCommands(h.destination));
  EXPECT_EQ(h.form->LastRegistration(), groupSent);
  EXPECT_TRUE(h.links.calls.empty());
  ASSERT_EQ(h.boxes.boxes.size(), 1u);
  EXPECT_EQ(h.boxes.boxes[0].text, kClosingMessage);
  EXPECT_EQ(h.boxes.boxes[0].kind, MessageKind::kInformation);
  EXPECT_EQ(h.window.closes, 1);
  EXPECT_EQ(EntryCount, 3);
  EXPECT_EQ(h.files.OpenHandles(), 0);
}

// "open": the installed file, once the closing message was read, and only then.
TEST(Run, WhatToOpenIsOpenedAfterTheClosingMessageOfACompleteRun) {
  StubSettings settings;
  settings.open = "numery\\3-99.htm";
  const char separator = PlatformFileEdge().Separator();
  {
    Harness h(settings);
    h.Pack(SampleArchive());
    h.boxes.while_up = [&](const Box&) { EXPECT_TRUE(h.window.opened.empty()) << "opened before the message"; };
    ASSERT_TRUE(h.Extract(h.destination).ok());
    EXPECT_EQ(h.window.opened, std::vector<std::string>{h.destination + separator + "numery" + separator + "3-99.htm"});
  }
  Harness failed(settings);  // the destination cannot be made: the folder message, nothing opened
  failed.Pack(SampleArchive());
  testing::WriteWholeFile(failed.scratch / "out", "in the way");
  ASSERT_TRUE(failed.Extract(failed.destination + separator + "sub").ok());
  EXPECT_EQ(failed.BoxTexts(), std::vector<std::string>{kSubfolderErrorMessage});
  EXPECT_TRUE(failed.window.opened.empty());
}

// "run": the program starts where a completed run put the files, once the window is
// gone; with {temp} nothing is registered or said first.
TEST(Run, AProgramToRunIsLeftForAfterTheWindowOfACompleteRun) {
  for (const bool temp : {false, true}) {
    SCOPED_TRACE(temp ? "temp" : "folder");
    StubSettings settings;
    settings.run = "index.htm";
    settings.temp = temp;
    RunFolder = AnsiString();
    Harness h(settings);
    h.Pack(SampleArchive());
    ASSERT_TRUE(h.Extract(h.destination).ok());
    EXPECT_EQ(ReadWholeFile(h.Out("index.htm")), "<html>start</html>");
    EXPECT_EQ(std::string(RunFolder.c_str()), h.destination);
    EXPECT_EQ(h.form->Outcome(), RunOutcome::kDone);
    EXPECT_EQ(h.window.closes, 1);
    EXPECT_EQ(h.ddeml.executes.empty(), temp);
    EXPECT_EQ(h.BoxTexts(), temp ? std::vector<std::string>{} : std::vector<std::string>{kClosingMessage});
  }
  RunFolder = AnsiString();
  StubSettings settings;
  settings.run = "index.htm";
  Harness failed(settings);  // the destination cannot be made: nothing to start
  failed.Pack(SampleArchive());
  testing::WriteWholeFile(failed.scratch / "out", "in the way");
  ASSERT_TRUE(failed.Extract(failed.destination + PlatformFileEdge().Separator() + "sub").ok());
  EXPECT_TRUE(RunFolder.empty());
}

// {temp}'s folder is made new: a name already there is passed over, never reused.
TEST(Run, APrivateFolderIsANewOneWithANameNotTakenBefore) {
  ScratchFolder scratch;
  static int calls;
  calls = 0;
  auto random = [](void* bytes, uint32_t size) {
    memset(bytes, calls++ == 0 ? 0xAB : 0x01, size);
    return true;
  };
  const std::string base = scratch.path().string() + PlatformFileEdge().Separator();
  fs::create_directory(scratch / "vekABABABABABABABAB");
  testing::WriteWholeFile(scratch / "vekABABABABABABABAB" / "theirs.txt", "theirs");
  const AnsiString folder = MakePrivateFolder(base.c_str(), PlatformFileEdge(), random);
  EXPECT_EQ(std::string(folder.c_str()), base + "vek0101010101010101");
  EXPECT_TRUE(fs::is_directory(scratch / "vek0101010101010101"));
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(ReadWholeFile(scratch / "vekABABABABABABABAB" / "theirs.txt"), "theirs");
  // Without a random source, or below a folder that is not there: none.
  EXPECT_TRUE(MakePrivateFolder(base.c_str(), PlatformFileEdge(), [](void*, uint32_t) { return false; }).empty());
  const std::string missing = base + "missing" + PlatformFileEdge().Separator();
  EXPECT_TRUE(MakePrivateFolder(missing.c_str(), PlatformFileEdge(), random).empty());
}

// Extraction and the item line are as for the destination itself.
TEST(Run, EveryTrailingSeparatorGoesAndNothingElseChanges) {
  Harness h;
  h.Pack(SampleArchive());
  ASSERT_TRUE(h.Extract(h.destination + "\\/\\").ok());
  EXPECT_EQ(ReadWholeFile(h.Out("index.htm")), "<html>start</html>");
  EXPECT_EQ(h.ddeml.executes, GroupCommands(h.destination));
}

TEST(Run, TheGaugeIsGivenTheExtendedPrecisionPercentageAfterEachEntry) {
  std::vector<int32_t> hundred;
  for (int i = 1; i <= 100; ++i) hundred.push_back(i == 53 ? 52 : i == 59 ? 58 : i);
  const struct {
    int entries;
    std::vector<int32_t> progress;
  } cases[] = {
      {0, {}},
      {1, {100}},
      {3, {33, 66, 100}},
      {100, hundred},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entries);
    Harness h;
    h.Pack(FlatArchive(c.entries));
    ASSERT_TRUE(h.Extract(h.destination).ok());
    EXPECT_EQ(h.window.progress, c.progress);
    // N = 0 still registers the group, tells and closes.
    EXPECT_EQ(h.ddeml.executes, GroupCommands(h.destination));
    EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{kClosingMessage});
    EXPECT_EQ(h.window.closes, 1);
  }
}

TEST(Run, ADestinationThatCannotBeMadeShowsTheSubfolderMessageAndTouchesNothing) {
  // Empty, a relative folder of 3+ characters that is not there, one below a file, a
  // short name that is no drive, and only separators: below the root of the current
  // drive, or with two of them below a network path, no folder anybody chose.
  for (std::string typed : {"", "no-such-folder-here", "*\\setup.exe\\sub", "ab", "\\", "\\\\\\", "/", "//", "\\/\\"}) {
    SCOPED_TRACE(typed);
    Harness h;
    h.Pack(SampleArchive());
    if (typed[0] == '*') typed = h.scratch.destination("setup.exe/sub");
    ASSERT_TRUE(h.Extract(typed).ok());
    ASSERT_EQ(h.boxes.boxes.size(), 1u);
    EXPECT_EQ(h.boxes.boxes[0].text,
              "B\xB3\xB9"
              "d podczas tworzenia podkatalogu...");
    EXPECT_EQ(h.boxes.boxes[0].kind, MessageKind::kInformation);
    EXPECT_EQ(h.files.Calls(Op::kOpenRead), 0);
    EXPECT_EQ(h.files.Calls(Op::kCreate), 0);
    EXPECT_TRUE(h.ddeml.executes.empty());
    EXPECT_TRUE(h.window.progress.empty());
    EXPECT_EQ(h.window.closes, 0);
    EXPECT_EQ(h.form->Outcome(), RunOutcome::kFolderFailed) << "/S ends with the folder's exit code";
  }
}

// A directory entry that cannot be made (a file stands in its place) ends the run with
// its error report at that entry, not "File not found" at a file inside it later.
TEST(Run, AFolderEntryThatCannotBeMadeEndsTheRunWithItsReport) {
  Harness h;
  h.Pack(SampleArchive());  // 1 index.htm, 2 numery, 3 numery\3-99.htm
  fs::create_directories(h.Out());
  testing::WriteWholeFile(h.Out("numery"), "in the way");
  Error e = h.Extract(h.destination);
  EXPECT_EQ(e, InOutError(kWinErrorAlreadyExists));
  EXPECT_EQ(h.Report(e), "I/O error 183.");
  EXPECT_EQ(h.window.progress, std::vector<int32_t>{33});
  EXPECT_TRUE(h.boxes.boxes.empty());
  EXPECT_EQ(h.window.closes, 0);
}

// A failure between opening the archive and closing it is returned for the default
// error report; the file is closed and the table released, the window stays open and
// the gauge keeps the percentage of the last entry done.
TEST(Run, AnErrorPartWayIsReportedAndReleasesTheFileAndTheTable) {
  // SampleArchive: 1 index.htm (18 bytes), 2 numery, 3 numery\3-99.htm (40,000 bytes).
  const struct {
    const char* what;
    Op op;
    int nth;
    Fault fault;
    uint32_t code;
    const char* report;
    std::vector<int32_t> progress;
  } cases[] = {
      {"own file not found", Op::kOpenRead, 1, Fault::kRefuse, 2, "File not found.", {}},
      {"seek refused", Op::kSeek, 1, Fault::kRefuse, 131, "I/O error 131.", {}},
      {"signature cut short", Op::kRead, 1, Fault::kShort, 0, "Read beyond end of file.", {}},
      {"table read refused", Op::kRead, 3, Fault::kRefuse, 5, "File access denied.", {}},
      {"a file cannot be created", Op::kCreate, 2, Fault::kRefuse, 5, "File access denied.", {33, 66}},
      {"disk full", Op::kWrite, 2, Fault::kRefuse, 112, "I/O error 112.", {33, 66}},
      {"closing the archive", Op::kClose, 3, Fault::kRefuse, 6, "I/O error 6.", {33, 66, 100}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Harness h;
    h.Pack(SampleArchive());
    h.files.Plan(c.op, c.nth, c.fault, c.code);

    EXPECT_EQ(h.Report(h.Extract(h.destination)), c.report);
    EXPECT_EQ(h.window.progress, c.progress);
    EXPECT_EQ(h.files.OpenHandles(), 0);
    EXPECT_TRUE(h.boxes.boxes.empty());
    EXPECT_TRUE(h.ddeml.executes.empty());
    EXPECT_EQ(h.window.closes, 0);
    EXPECT_FALSE(h.form->Running()) << "Extract can be pressed again";
  }
}

TEST(Run, AnArchiveCutShortInItsTableReadsBeyondTheEnd) {
  Harness h;
  const std::string exe = kFakeStub + SampleArchive().Serialize();
  h.Pack(exe.substr(0, kFakeStub.size() + kArchivePrologueSize + EntryRecord::kSize + 17));
  EXPECT_EQ(h.Report(h.Extract(h.destination)), "Read beyond end of file.");
  EXPECT_EQ(h.files.OpenHandles(), 0);
}

// An executable with checksums is checked whole before anything is made: a byte
// flipped anywhere in the header, the table, the block or a file's data ends the run
// with the report of a damaged installer naming the entry, the window open and
// nothing written; the sound one extracts as always. So on one thread, and on two
// where there are two processors.
TEST(Run, ADamagedInstallerIsReportedBeforeAnythingIsMade) {
  const size_t data = kFakeStub.size() + kArchivePrologueSize + 3 * EntryRecord::kSize;
  const std::string damaged = std::string(kDamagedMessage) + "\n\n";
  struct Case {
    const char* what;
    size_t at;  // the byte flipped (0: none)
    std::string report;
  } cases[] = {
      {"sound", 0, ""},
      {"header", kFakeStub.size() + 20, std::string(kDamagedMessage)},
      {"table", kFakeStub.size() + kArchivePrologueSize + 2 * EntryRecord::kSize + 100, std::string(kDamagedMessage)},
      {"block", kFakeStub.size() - 5, std::string(kDamagedMessage)},
      {"first file", data, damaged + "\\index.htm"},
      {"last file", data + 18 + 39999, damaged + "\\numery\\3-99.htm"},
  };
  const bool two = PlatformThreads().Processors() >= 2;
  for (const Case& c : cases) {
    for (bool threads : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (threads ? ", threads" : ", one thread"));
      Harness h;
      h.files.threads = threads;
      ExtensionPlace place;
      std::string exe = testing::WithBlockInStub(kFakeStub, SampleArchive().Serialize(build::ArchiveOptions{}), &place);
      ASSERT_LT(c.at, exe.size());
      if (c.at) exe[c.at] = static_cast<char>(exe[c.at] ^ 0x40);
      h.form->SetExtension(place);
      h.Pack(exe);
      const Error error = h.Extract(h.destination);
      if (c.report.empty()) {
        EXPECT_TRUE(error.ok());
        EXPECT_EQ(h.form->Outcome(), RunOutcome::kDone);
        EXPECT_EQ(fs::file_size(h.Out("numery/3-99.htm")), 40000u);
        EXPECT_EQ(h.files.started, threads && two ? 1 : 0);
        continue;
      }
      char report[512];
      FormatErrorReport(error, report, sizeof report);
      EXPECT_EQ(std::string(report), c.report + (c.report.back() == '.' ? "" : "."));
      EXPECT_EQ(h.form->Outcome(), RunOutcome::kDamaged);
      EXPECT_FALSE(fs::exists(h.Out()));
      EXPECT_EQ(h.window.closes, 0);
      EXPECT_TRUE(h.BoxTexts().empty());
      EXPECT_EQ(h.files.OpenHandles(), 0);
    }
  }
}

// A solid installer (index.htm and numery\3-99.htm in one block): a byte flipped in
// the block or its record is found before anything is made, as are props that no
// decoder takes under checksums made to match; a block that ends short of its size
// is found as it is written, its files sound, and reported the same, naming its last
// file. So on one thread and on two.
TEST(Run, ASolidInstallerIsCheckedBeforeAndAsItsBlockIsWritten) {
  build::ArchiveOptions options;
  options.compress_level = 9;
  const std::string bare = SampleArchive().Serialize(options);
  const auto* header = reinterpret_cast<const unsigned char*>(bare.data() + ArchiveSignature::kSize);
  const size_t index = kArchivePrologueSize + LoadU32(header + ArchiveHeader::kSolidIndexAtOffset);
  const size_t record = index + SolidIndexHeader::kSize;
  const size_t block = bare.size() - ExtensionFooter::kSize - ExtensionBlockSize(3);
  // The block's record given a field's value, the checksums made to match.
  auto sealed = [&](size_t field, uint32_t value) {
    std::string a = bare;
    StoreU32(reinterpret_cast<unsigned char*>(&a[record + field]), value);
    auto* b = reinterpret_cast<unsigned char*>(&a[block]);
    StoreU32(b + ExtensionHeader::kPrologueCrcOffset,
             Crc32(Crc32(0, a.data(), kArchivePrologueSize), &a[index], block - index));
    SealExtensionBlock(b, ExtensionBlockSize(3));
    return a;
  };
  auto flipped = [&](size_t at) {
    std::string a = bare;
    a[at] = static_cast<char>(a[at] ^ 0x40);
    return a;
  };
  const uint32_t decoded =
      LoadU32(reinterpret_cast<const unsigned char*>(&bare[record]) + SolidBlockRecord::kDecodedSizeOffset);
  const std::string damaged = std::string(kDamagedMessage) + "\n\n";
  struct Case {
    const char* what;
    std::string archive;
    std::string report;  // "": the run completes
    bool written;        // the files are there, whole
  } cases[] = {
      {"sound", bare, "", true},
      {"the block's first byte", flipped(kArchivePrologueSize), damaged + "\\index.htm", false},
      {"the block's record", flipped(record + SolidBlockRecord::kCrcOffset), kDamagedMessage, false},
      {"a dictionary above the limit", sealed(SolidBlockRecord::kPropsOffset + 1, 1u << 30), damaged + "\\index.htm",
       false},
      {"ending short of its size", sealed(SolidBlockRecord::kDecodedSizeOffset, decoded + 1),
       damaged + "\\numery\\3-99.htm", true},  // the last in the block, in table order
  };
  for (const Case& c : cases) {
    for (bool threads : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (threads ? ", threads" : ", one thread"));
      Harness h;
      h.files.threads = threads;
      ExtensionPlace place;
      const std::string exe = testing::WithBlockInStub(kFakeStub, c.archive, &place);
      h.form->SetExtension(place);
      h.Pack(exe);
      const Error error = h.Extract(h.destination);
      if (c.report.empty()) {
        EXPECT_TRUE(error.ok());
        EXPECT_EQ(h.form->Outcome(), RunOutcome::kDone);
      } else {
        char report[512];
        FormatErrorReport(error, report, sizeof report);
        EXPECT_EQ(std::string(report), c.report + (c.report.back() == '.' ? "" : "."));
        EXPECT_EQ(h.form->Outcome(), RunOutcome::kDamaged);
      }
      if (c.written) {
        EXPECT_EQ(ReadWholeFile(h.Out("numery/3-99.htm")), std::string(40000, 'x'));
        EXPECT_EQ(ReadWholeFile(h.Out("index.htm")), "<html>start</html>");
      } else {
        EXPECT_FALSE(fs::exists(h.Out()));
      }
      EXPECT_EQ(h.files.OpenHandles(), 0);
    }
  }
}

// A compressed installer: its files are decoded from their block, and the files' size
// (40,018 bytes once extracted) is compared with the destination's free space first: without
// room the run is refused naming both sizes, before any file is written; when the
// free space cannot be known the run goes on.
TEST(Run, ACompressedInstallerExtractsWhenItsFilesFit) {
  struct Case {
    const char* what;
    int64_t free_space;  // as FaultyFileEdge takes it
    const char* report;  // "": the run completes
  } cases[] = {
      {"room enough", 40018, ""},
      {"free space unknown", -2, ""},
      {"one byte short", 40017,
       "Not enough free space: the files take 40018 bytes; the destination has 40017 bytes free."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Harness h;
    h.files.free_space = c.free_space;
    build::ArchiveOptions options;
    options.compress_level = 9;
    ExtensionPlace place;
    const std::string exe = testing::WithBlockInStub(kFakeStub, SampleArchive().Serialize(options), &place);
    ASSERT_LT(exe.size(), kFakeStub.size() + 2000);  // 3-99.htm compressed
    h.form->SetExtension(place);
    h.Pack(exe);
    const Error error = h.Extract(h.destination);
    if (!*c.report) {
      EXPECT_TRUE(error.ok());
      EXPECT_EQ(ReadWholeFile(h.Out("numery/3-99.htm")), std::string(40000, 'x'));
      continue;
    }
    EXPECT_EQ(h.Report(error), c.report);
    EXPECT_EQ(h.form->Outcome(), RunOutcome::kExtractFailed);
    EXPECT_TRUE(fs::is_empty(h.Out()));
    EXPECT_EQ(h.files.OpenHandles(), 0);
  }
}

// The damaged file is named in the encoding of the texts around it: Windows-1250 for
// the stub's own, UTF-8 for a configuration's, with ? where Windows-1250 has no letter.
TEST(Run, TheDamagedFileIsNamedInTheEncodingOfTheTexts) {
  StubSettings configured;
  configured.utf8 = true;
  configured.damaged = "Pobierz ponownie.";
  struct Case {
    const char* what;
    const char* name;  // UTF-8
    const StubSettings& settings;
    std::string report;
  } cases[] = {
      {"own texts",
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA.htm",
       DefaultSettings(),
       "\\\xA3\xF3"
       "d\x9F.htm"},
      {"own texts, no such letter", "\xE6\x97\xA5\xE6\x9C\xAC.htm", DefaultSettings(), "\\??.htm"},
      {"configured",
       "\xC5\x81\xC3\xB3"
       "d\xC5\xBA.htm",
       configured,
       "\\\xC5\x81\xC3\xB3"
       "d\xC5\xBA.htm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ArchiveBuilder b;
    b.StoreNamesInUtf8();
    b.AddFile(0, c.name, "<html>start</html>", kStamp);
    ExtensionPlace place;
    std::string exe = testing::WithBlockInStub(kFakeStub, b.Serialize(build::ArchiveOptions{}), &place);
    const size_t data = kFakeStub.size() + kArchivePrologueSize + EntryRecord::kSize;
    exe[data] = static_cast<char>(exe[data] ^ 0x40);
    Harness h(c.settings);
    h.form->SetExtension(place);
    h.Pack(exe);
    char report[512];
    FormatErrorReport(h.Extract(h.destination), report, sizeof report);
    const std::string text = report;
    EXPECT_EQ(text.substr(text.rfind("\n\n") + 2), c.report + ".");
  }
}

// Cut where the data of numery\3-99.htm begins (after index.htm's 18 bytes), and
// three bytes into it: the run ends at that entry with its error report, after the
// "Error writing file" box when its read got nothing; no closing message, and a
// second Extract ends the same way.
TEST(Run, AFileWhoseDataIsCutShortEndsTheRunWithItsReport) {
  for (size_t into : {0, 3}) {
    SCOPED_TRACE(into);
    Harness h;
    const std::string exe = kFakeStub + SampleArchive().Serialize();
    h.Pack(exe.substr(0, kFakeStub.size() + kArchivePrologueSize + 3 * EntryRecord::kSize + 18 + into));
    std::vector<std::string> boxes;
    if (into == 0) boxes.push_back("Error writing file");
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(h.Report(h.Extract(h.destination)), "Read beyond end of file.");
      EXPECT_EQ(h.BoxTexts(), boxes);
      EXPECT_EQ(fs::file_size(h.Out("numery/3-99.htm")), into);
      EXPECT_EQ(h.window.closes, 0);
      EXPECT_EQ(h.files.OpenHandles(), 0);
      EXPECT_FALSE(h.form->Running()) << "Extract can be pressed again";
      h.boxes.boxes.clear();
    }
    EXPECT_TRUE(h.ddeml.executes.empty());
  }
}

TEST(Run, AFolderInTheWayOfAFileIsAccessDeniedAndASecondRunCompletes) {
  Harness h;
  h.Pack(SampleArchive());
  fs::create_directories(h.Out("index.htm"));
  EXPECT_EQ(h.Report(h.Extract(h.destination)), "File access denied.");
  EXPECT_EQ(h.window.closes, 0);

  fs::remove(h.Out("index.htm"));
  ASSERT_TRUE(h.Extract(h.destination).ok());
  EXPECT_EQ(ReadWholeFile(h.Out("index.htm")), "<html>start</html>");
  EXPECT_EQ(h.window.closes, 1);
}

TEST(Run, AFailedRegistrationShowsTheGroupMessageAndTheNextRunAddsASecondItem) {
  Harness h;
  h.Pack(SampleArchive());
  // PM linked in manual mode with no server: switching it to automatic, as
  // CreateProgramGroup does, fails with an error.
  ASSERT_TRUE(h.form->PM->SetConnectMode(ddeManual).ok());
  ASSERT_TRUE(h.form->PM->AssignLink("progman", "Tarnovista"));
  h.ddeml.server_running = false;
  h.ddeml.winexec_starts_server = false;

  ASSERT_TRUE(h.Extract(h.destination).ok());
  EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{"B\xB3\xB9"
                                                   "d podczas tworzenia grupy..."});
  EXPECT_EQ(h.boxes.boxes[0].kind, MessageKind::kInformation);
  EXPECT_EQ(ReadWholeFile(h.Out("index.htm")), "<html>start</html>") << "extracted files stay";
  EXPECT_EQ(h.window.closes, 0);
  EXPECT_EQ(h.window.progress, (std::vector<int32_t>{33, 66, 100}));

  h.boxes.boxes.clear();
  h.window.progress.clear();
  h.ddeml.server_running = true;
  ASSERT_TRUE(h.Extract(h.destination).ok());
  EXPECT_EQ(h.form->PM->programItems().Count(), 2);
  EXPECT_EQ(h.ddeml.executes, GroupCommands(h.destination, 2));
  EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{kClosingMessage});
  EXPECT_EQ(h.window.progress, (std::vector<int32_t>{33, 66, 100})) << "everything extracted again";
  EXPECT_EQ(h.window.closes, 1);
}

// Without a Program Manager the item becomes a shortcut; the closing message comes
// only when the group and its item got there one way or the other.
TEST(Run, NoServerMeansAShortcutOrTheGroupMessageNeverAFalseDone) {
  const struct {
    const char* what;
    bool fallback;
    bool fail_shortcuts;
    TGroupOutcome outcome;
    const char* box;
    int closes;
  } cases[] = {
      {"shortcut written", true, false, groupShortcuts, kClosingMessage, 1},
      {"shortcut fails", true, true, groupNotRegistered, kGroupErrorMessage, 0},
      {"no fallback", false, false, groupNotRegistered, kGroupErrorMessage, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Harness h;
    h.Pack(SampleArchive());
    h.ddeml.server_running = false;
    h.ddeml.winexec_starts_server = false;
    h.links.fail_shortcuts = c.fail_shortcuts;
    if (!c.fallback) h.form->PM->ShortcutFallback = nullptr;
    ASSERT_TRUE(h.Extract(h.destination).ok());
    EXPECT_TRUE(h.ddeml.executes.empty());
    EXPECT_EQ(h.form->LastRegistration(), c.outcome);
    EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{c.box});
    EXPECT_EQ(h.window.closes, c.closes);
    if (c.fallback) {
      EXPECT_EQ(h.links.calls.back(),
                "shortcut NWM Tarnovista|Tarnovista 3_99|" + h.destination + "\\INDEX.HTM|" + h.destination + "|");
    }
  }
}

// A destination with a comma, parentheses or brackets stays one field of one item.
TEST(Run, ADestinationWithCommasOrParenthesesIsQuotedInTheItem) {
  const struct { const char* folder; } cases[] = {{"out,3_99"}, {"Program Files (x86)"}, {"a[1],(2)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder);
    Harness h;
    h.Pack(SampleArchive());
    const std::string destination = h.scratch.destination(c.folder);
    ASSERT_TRUE(h.Extract(destination).ok());
    ASSERT_EQ(h.ddeml.executes.size(), 3u);
    EXPECT_EQ(h.ddeml.executes[2], Exec("[AddItem(\"" + destination + "\\INDEX.HTM\",Tarnovista 3_99)]"));
    EXPECT_EQ(h.form->LastRegistration(), groupSent);
    EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{kClosingMessage});
  }
  EXPECT_EQ(ProgramItemLine("C:\\Tarnovista_3_99"), "C:\\Tarnovista_3_99\\INDEX.HTM,Tarnovista 3_99");
  EXPECT_EQ(ProgramItemLine("C:\\T,3"), "\"C:\\T,3\\INDEX.HTM\",Tarnovista 3_99");
}

TEST(Run, APressWhileARunIsInProgressStartsNoNestedRun) {
  Harness h;
  h.Pack(SampleArchive());
  int presses = 0;
  h.boxes.while_up = [&](const Box&) {
    if (presses++ == 0) {
      EXPECT_TRUE(h.form->EXTBTNClick(h.form).ok());
    }
  };
  ASSERT_TRUE(h.Extract(h.destination).ok());
  EXPECT_EQ(h.files.Calls(Op::kOpenRead), 1);
  EXPECT_EQ(h.ddeml.executes, GroupCommands(h.destination));
  EXPECT_EQ(h.BoxTexts(), std::vector<std::string>{kClosingMessage});
  EXPECT_EQ(h.window.closes, 1);

  // Once the run is over a press starts a run again.
  h.boxes.while_up = nullptr;
  ASSERT_TRUE(h.Extract(h.destination).ok());
  EXPECT_EQ(h.files.Calls(Op::kOpenRead), 2);
}

TEST(Run, QuitClosesTheWindowAndWritesNothing) {
  Harness h;
  h.Pack(SampleArchive());
  h.form->QUITBTNClick(h.form);
  EXPECT_EQ(h.window.closes, 1);
  EXPECT_FALSE(fs::exists(h.Out()));
  EXPECT_TRUE(h.ddeml.executes.empty());
}

// Access denied on making the destination, or on the trial folder made in one that is
// there: a configured installer's own message naming the folder, and nothing written;
// the unconfigured one keeps its folder message.
TEST(Run, AFolderTheUserMayNotWriteIsSaidSo) {
  const Configured configured("caption = Acme\n");
  const std::string rights = kRightsErrorMessage;
  const struct {
    const char* what;
    bool configured, there;
    std::vector<int> denied;  // the MakeDirectory calls refused with access denied
    RunOutcome outcome;
    bool rights_box;
  } cases[] = {
      {"configured, not made", true, false, {1, 2}, RunOutcome::kNoRights, true},
      {"configured, there, not writable", true, true, {2}, RunOutcome::kNoRights, true},
      {"configured, there, writable", true, true, {}, RunOutcome::kDone, false},
      {"unconfigured, not made", false, false, {1, 2}, RunOutcome::kFolderFailed, false},
      {"unconfigured, there: not tried", false, true, {2}, RunOutcome::kDone, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Harness h(c.configured ? configured.settings() : DefaultSettings());
    h.Pack(SampleArchive());
    if (c.there) fs::create_directories(h.Out());
    for (int n : c.denied) h.files.Plan(Op::kMakeDirectory, n, FaultyFileEdge::Fault::kRefuse, kIoAccessDenied);
    EXPECT_TRUE(h.Extract(h.destination).ok());
    EXPECT_EQ(h.form->Outcome(), c.outcome);
    ASSERT_FALSE(h.boxes.boxes.empty());
    EXPECT_EQ(h.boxes.boxes[0].text == rights + "\n\n" + h.destination, c.rights_box) << h.boxes.boxes[0].text;
    if (c.outcome != RunOutcome::kDone) EXPECT_TRUE(!fs::exists(h.Out()) || fs::is_empty(h.Out()));
    EXPECT_FALSE(fs::exists(h.Out("vek-write-check.tmp")));
  }
}

// A configured installer's Quit: kExitCancelled while nothing is written, the code of
// /S after a run that wrote files and failed; an unconfigured one's always 0.
TEST(Run, AConfiguredInstallersQuitSaysWhetherAnythingWasWritten) {
  const Configured configured("caption = Acme\n");
  enum Before { kNone, kFolderFails, kFileFails, kGroupFails };
  const struct {
    const char* what;
    bool configured;
    Before run;
    int code;
  } cases[] = {
      {"unconfigured", false, kNone, kExitOk},
      {"unconfigured, a file failed", false, kFileFails, kExitOk},
      {"configured", true, kNone, kExitCancelled},
      {"configured, the folder failed", true, kFolderFails, kExitCancelled},
      {"configured, a file failed", true, kFileFails, kExitExtractFailed},
      {"configured, the group failed", true, kGroupFails, kExitRegisterFailed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Harness h(c.configured ? configured.settings() : DefaultSettings());
    h.Pack(SampleArchive());
    if (c.run == kFolderFails) testing::WriteWholeFile(h.scratch / "out", "in the way");
    if (c.run == kFileFails) fs::create_directories(h.Out("index.htm"));
    if (c.run == kGroupFails) {
      h.ddeml.server_running = false;
      h.ddeml.winexec_starts_server = false;
      h.form->PM->ShortcutFallback = nullptr;
    }
    if (c.run != kNone) (void)h.Extract(h.destination);
    EXPECT_EQ(h.form->WindowExitCode(), kExitOk) << "before Quit";
    h.form->QUITBTNClick(h.form);
    EXPECT_EQ(h.form->WindowExitCode(), c.code);
    EXPECT_EQ(h.window.closes, 1);
  }
}

}  // namespace
}  // namespace vek
