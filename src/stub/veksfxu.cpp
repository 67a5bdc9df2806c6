#include "veksfxu.h"

#include <string.h>

#include "archivecheck.h"
#include "cp1250.h"
#include "crc32.h"
#include "dataranges.h"
#include "decodesink.h"
#include "extended80.h"
#include "extractor.h"
#include "messagebox.h"
#include "rnvek100.h"
#include "solid.h"
#include "text.h"
#include "winpath.h"

namespace vek {

RunLog* InstallLog = nullptr;
TForm1* Form1 = nullptr;
AnsiString OwnPath;
uint16_t EntryCount = 0;
AnsiString RunFolder;

AnsiString MakePrivateFolder(const char* base, TreeMaker& edge, bool (*random)(void*, uint32_t)) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    uint64_t bytes;
    if (!random(&bytes, sizeof bytes)) break;
    FixedText<3 + 16 + 1> name;
    name.Text("vek").Hex(bytes, 16);
    AnsiString folder(base);
    folder += name.c_str();
    if (folder.failed()) break;
    const Error made = edge.MakeDirectory(folder.c_str());
    if (!made) return folder;
    if (!(made == InOutError(kWinErrorAlreadyExists))) break;
  }
  return AnsiString();
}

AnsiString RunDestination(const AnsiString& typed, bool* only_separators, char separator) {
  AnsiString destination;
  const size_t length = TrimDestination(typed.data(), typed.size(), only_separators);
  if (!destination.Reserve(length)) return AnsiString("", static_cast<size_t>(-1));  // failed
  for (size_t i = 0; i < length; ++i) destination.Append(separator == '\\' && typed[i] == '/' ? '\\' : typed[i]);
  return destination;
}

TForm1::TForm1(TComponent* owner, TForm1Window& window, FileEdge& files, UninstallQueries& queries, Threads& threads,
               ShellLinkEdge& links, uint32_t archive_start_offset, const StubSettings& settings)
    : TComponent(owner),
      window_(window),
      files_(files),
      queries_(queries),
      threads_(threads),
      links_(links),
      archive_start_offset_(archive_start_offset),
      settings_(settings) {
  Name = "Form1";
}

bool TForm1::LoadLayout() {
  PM = new TProgMan(this);
  if (!PM) return false;
  PM->Name = "PM";
  PM->ShowGroup = activateNormalSize;
  // Where no Program Manager makes the group, it goes straight into the Start menu.
  PM->ShortcutFallback = &links_;
  PM->Utf8 = settings_.utf8;
  PM->PersonalGroup = settings_.personal;
  return !PM->Name.failed();
}

void TForm1::FormCreate(TComponent*) {
  OwnPath = window_.ModuleFileName();
  window_.SetCaption(settings_.caption);
  window_.SetPBProgress(0);
  window_.SetDEText(settings_.folder);
}

void TForm1::QUITBTNClick(TComponent*) {
  // Files written by a run that failed are left as they are: not nothing installed.
  if (settings_.utf8) {
    exit_code_ = outcome_ == RunOutcome::kRegisterFailed  ? kExitRegisterFailed
                 : outcome_ == RunOutcome::kExtractFailed ? kExitExtractFailed
                                                          : kExitCancelled;
  }
  window_.Close();
}

namespace {

struct RunningFlag {
  bool& flag;
  explicit RunningFlag(bool& f) : flag(f) { flag = true; }
  ~RunningFlag() { flag = false; }
};

// The gauge after done of total bytes, as ExtractionPercent takes entries.
int32_t BytesPercent(uint64_t done, uint64_t total) {
  while (total >> 32) {
    total >>= 1;
    done >>= 1;
  }
  return total ? ExtractionPercent(static_cast<uint32_t>(done), static_cast<uint32_t>(total)) : 100;
}

}  // namespace

Error TForm1::EXTBTNClick(TComponent*) {
  if (running_) return NoError();
  RunningFlag running(running_);

  // Every trailing "\" and "/" goes. A text made only of them names no folder that
  // the run could make: written below the root of the current drive, or with a "/"
  // below a network path, the entries would land where nobody chose.
  bool only_separators = false;
  const AnsiString destination = RunDestination(window_.DEText(), &only_separators, files_.Separator());
  if (destination.failed()) return OutOfMemoryError();

  // Nothing is made or written from a damaged installer.
  if (extension_.present()) {
    outcome_ = RunOutcome::kExtractFailed;
    VEK_TRY(CheckInstaller());  // kDamaged when it is
  }
  Error made = only_separators ? InOutError(kWinErrorPathNotFound) : ForceDestination(destination, files_);
  if (!made && settings_.rights_error) {
    // A folder that was there already is tried with a folder of its own, made new and
    // removed at once: one of that name already there tells nothing.
    AnsiString trial = destination;
    trial += files_.Separator();
    trial += "vek-write-check.tmp";
    if (trial.failed()) return OutOfMemoryError();
    made = files_.MakeDirectory(trial.c_str());
    if (!made) (void)queries_.RemoveEmptyFolder(trial.c_str());
    if (!(made == InOutError(kIoAccessDenied))) made = NoError();
  }
  LogOutcome("destination", destination.c_str(), "", made);
  if (made) {
    // A configured installer tells a folder the user may not write from the others.
    if (settings_.rights_error && made == InOutError(kIoAccessDenied)) {
      outcome_ = RunOutcome::kNoRights;
      AnsiString text(settings_.rights_error);
      text += "\n\n";
      text += destination;
      ShowMessageBox(text.c_str(), MessageKind::kError);
      return NoError();
    }
    outcome_ = RunOutcome::kFolderFailed;
    ShowMessageBox(settings_.folder_error, MessageKind::kInformation);
    return NoError();
  }
  outcome_ = RunOutcome::kExtractFailed;
  VEK_TRY(ExtractArchive(destination));
  if (settings_.temp) {
    // The files are there for the program alone: nothing to register or say.
    outcome_ = RunOutcome::kDone;
    RunFolder = destination;
    window_.Close();
    return NoError();
  }
  const bool grouped = RegisterProgramGroup(destination) != groupNotRegistered;
  if (!grouped || uninstaller_) {
    outcome_ = RunOutcome::kRegisterFailed;
    if (!grouped) ShowMessageBox(settings_.group_error, MessageKind::kInformation);
    return uninstaller_;
  }
  outcome_ = RunOutcome::kDone;
  ShowMessageBox(settings_.done, MessageKind::kInformation);
  if (settings_.open) {
    // destination\TARGET, every separator the file edge's.
    AnsiString path = destination;
    path += files_.Separator();
    for (const char* p = settings_.open; *p; ++p) path += IsWindowsSeparator(*p) ? files_.Separator() : *p;
    if (!path.failed()) window_.OpenInstalled(path);
  }
  if (settings_.run) RunFolder = destination;
  window_.Close();
  return NoError();
}

Error TForm1::ExtractArchive(const AnsiString& destination) {
  FileHandle archive = kNoFile;
  VEK_TRY(files_.OpenRead(OwnPath.c_str(), &archive));
  ArchiveReader reader;  // closes the archive on every way out
  // With the block, checked before: it says which files are deflated.
  VEK_TRY(reader.Open(files_, archive, archive_start_offset_, extension_));
  if (reader.ExtensionUnusable()) return Damaged(reader, 0);
  EntryCount = reader.GetEntryCount();
  if (!extension_.present()) VEK_TRY(RefuseSharedData(reader));  // else checked before
  // Refused before the first file when the files cannot fit (gone on when it is not known).
  uint64_t free = 0;
  const uint64_t needed = TotalOriginalSize(reader);
  if (files_.FreeSpace(destination.c_str(), &free) && free < needed) return NoRoom(needed, free);

  // The folders and the stored files in table order, then the blocks, their files
  // written as they are decoded. The gauge follows the entries, or in a solid archive
  // the bytes written.
  const uint32_t n = EntryCount;
  const bool solid = reader.SolidBlockCount() > 0;
  uint64_t done = 0;
  for (uint32_t i = 1; i <= n; ++i) {
    ArchiveEntry entry;
    reader.FindEntry(static_cast<int32_t>(i), &entry);
    if (entry.method == kMethodLzmaSolid) continue;
    const Error error = ExtractEntry(reader, files_, static_cast<int32_t>(i), destination);
    if (InstallLog) {
      const char* what = entry.kind == kEntryKindDirectory ? "folder" : "file";
      LogOutcome(what, destination.c_str(), reader.GetEntryPath(static_cast<int32_t>(i), files_.Separator()).c_str(),
                 error);
    }
    // A stream that does not give its file (its bytes checked before): a damaged installer.
    if (error == GeneralError(kBadCompressedData)) return Damaged(reader, i);
    VEK_TRY(error);
    if (entry.kind == kEntryKindFile) done += entry.original_size;
    window_.SetPBProgress(solid ? BytesPercent(done, needed) : ExtractionPercent(i, n));
  }
  if (solid) {
    SolidPlan plan;
    if (!plan.Make(reader)) return OutOfMemoryError();
    struct Hearing {
      TForm1Window& window;
      ArchiveReader& reader;
      const AnsiString& destination;
      char separator;
      uint64_t done, needed;
    } hearing{window_, reader, destination, files_.Separator(), done, needed};
    BlockRun run;
    run.context = &hearing;
    run.progress = [](void* context, uint64_t written) {
      auto* h = static_cast<Hearing*>(context);
      h->window.SetPBProgress(BytesPercent(h->done + written, h->needed));
    };
    if (InstallLog) {
      run.ended = [](void* context, const ArchiveEntry& entry, const Error& outcome) {
        auto* h = static_cast<Hearing*>(context);
        LogOutcome("file", h->destination.c_str(), h->reader.GetEntryPath(entry.id, h->separator).c_str(), outcome);
      };
    }
    uint32_t slot = 0;
    const Error error = ExtractBlocks(reader, files_, threads_, OwnPath.c_str(), destination, plan, run, &slot);
    if (error && IsDamage(error)) return Damaged(reader, slot);
    VEK_TRY(error);
  }
  // The files are there: they get their uninstaller whatever becomes of the group.
  if (apps_ && settings_.app_name) {
    // The version installed in another folder keeps its files and its uninstall.exe;
    // the entry names this folder from now on.
    if (InstallLog && settings_.installed && !SameAsWindowsNames(settings_.installed, destination.c_str())) {
      const char* const line[] = {"earlier install kept: ", settings_.installed, " (the entry names this one)"};
      InstallLog->Line(line, 3);
    }
    uninstaller_ =
        RegisterUninstaller(files_, queries_, links_, *apps_, reader, destination, settings_, archive_start_offset_);
    LogOutcome("uninstaller", destination.c_str(), "", uninstaller_);
  }
  return reader.Close();
}

// The stub's own bytes, read whole from the start of file up to the checksum block
// (the stub with its resources: some hundred kilobytes), against the checksum vekpack
// wrote into its constants.
bool TForm1::SelfIntact(FileHandle file) {
  const uint32_t size = extension_.offset;
  const SelfCrcExclusions& excluded = extension_.self_excluded;
  unsigned char* bytes = static_cast<unsigned char*>(malloc(size));
  uint32_t got = 0;
  bool intact = bytes && !files_.Read(file, bytes, size, &got) && got == size;
  for (int i = 0; intact && i < SelfCrcExclusions::kCount; ++i) {
    intact = excluded.offset[i] <= size && excluded.size[i] <= size - excluded.offset[i];
    if (intact) memset(bytes + excluded.offset[i], 0, excluded.size[i]);
  }
  intact = intact && Crc32(0, bytes, size) == extension_.self_crc;
  free(bytes);
  return intact;
}

Error TForm1::CheckInstaller() {
  FileHandle archive = kNoFile;
  VEK_TRY(files_.OpenRead(OwnPath.c_str(), &archive));
  ArchiveReader reader;  // closes the archive on every way out
  if (extension_.self_check && !SelfIntact(archive)) {
    (void)files_.Close(archive);
    return Damaged(reader, 0);
  }
  Error error = reader.Open(files_, archive, archive_start_offset_, extension_);
  if (!error && reader.ExtensionUnusable()) error = GeneralError(kArchiveDamaged);
  uint32_t slot = 0;
  if (!error) VEK_TRY(RefuseSharedData(reader));
  if (!error) error = CheckEntries(reader, &slot);
  if (error && IsDamage(error)) return Damaged(reader, slot);
  window_.SetPBProgress(0);
  if (error) return error;
  return reader.Close();
}

namespace {

// The check shared out among threads; the gauge follows the calling thread's entries.
struct SharedCheck {
  SharedCheck(ArchiveReader& r, TForm1Window& w) : queue(r), reader(r), window(w) {}
  CheckQueue queue;
  ArchiveReader& reader;
  TForm1Window& window;
  SpinLock lock;
  Error error = NoError();
  uint32_t slot = 0;
};

void CheckOn(void* context, ArchiveFile& file, bool caller) {
  auto* check = static_cast<SharedCheck*>(context);
  DataChecker checker(check->reader, false, &file);
  uint32_t slot = 0;
  const Error error = CheckShare(
      check->queue, checker, &slot,
      caller ? +[](void* context, uint32_t id) {
        auto* c = static_cast<SharedCheck*>(context);
        c->window.SetPBProgress(ExtractionPercent(id, c->queue.count()));
      } : nullptr,
      check);
  // The lowest faulty entry of all is the first in table order.
  check->lock.Lock();
  if (error && (!check->error || slot < check->slot)) {
    check->error = error;
    check->slot = slot;
  }
  check->lock.Unlock();
}

}  // namespace

// Every file's bytes, and every block's, against their checksums: the entries and
// blocks are shared out between this thread and one beside it for each further
// processor, each reading through its own handle, so that the check costs about
// that much less time. The gauge follows this thread's entries.
Error TForm1::CheckEntries(ArchiveReader& reader, uint32_t* slot) {
  SharedCheck check(reader, window_);
  PrepareCrc32();
  RunSideBySide(threads_, files_, OwnPath.c_str(), reader.file(), check.queue.count(), &CheckOn, &check);
  *slot = check.slot;
  return check.error;
}

// Files sharing data could write far more than the installer holds: a damaged one.
Error TForm1::RefuseSharedData(const ArchiveReader& reader) {
  DataOverlap overlap;
  if (!FindFirstDataOverlap(reader, &overlap)) return OutOfMemoryError();
  return overlap.file != 0 ? Damaged(reader, overlap.file) : NoError();
}

Error TForm1::Damaged(const ArchiveReader& reader, uint32_t slot) {
  outcome_ = RunOutcome::kDamaged;
  damage_report_ = settings_.damaged;
  if (slot != 0) {
    const AnsiString path = reader.GetEntryPath(static_cast<int32_t>(slot));
    damage_report_ += "\n\n";
    if (settings_.utf8) {
      damage_report_ += path;
    } else {
      // The path is UTF-8; the stub's own texts are Windows-1250. A name that the code
      // page cannot hold keeps its ASCII characters, with ? for each of the others.
      char* text = static_cast<char*>(malloc(path.size() + 1));
      if (text) {
        size_t length = Utf8ToCp1250(path.c_str(), path.size(), text, path.size() + 1);
        if (length == static_cast<size_t>(-1)) {
          length = 0;
          for (size_t i = 0; i < path.size(); ++i) {
            const char c = path.data()[i];
            if ((c & 0xC0) != 0x80) text[length++] = (c & 0x80) ? '?' : c;
          }
        }
        damage_report_.Append(text, length);
      }
      free(text);
    }
  }
  if (damage_report_.failed()) return OutOfMemoryError();
  return GeneralError(damage_report_.c_str());
}

Error TForm1::NoRoom(uint64_t needed, uint64_t free) {
  room_report_ = kNoRoomText;
  room_report_ += FixedText<kDecimalSize>().Decimal(needed).c_str();
  room_report_ += " bytes; the destination has ";
  room_report_ += FixedText<kDecimalSize>().Decimal(free).c_str();
  room_report_ += " bytes free";
  if (room_report_.failed()) return OutOfMemoryError();
  return GeneralError(room_report_.c_str());
}

AnsiString ProgramItemLine(const AnsiString& destination, const char* suffix) {
  if (!memchr(destination.data(), ',', destination.size())) return destination + suffix;
  const char* comma = strchr(suffix, ',');
  AnsiString line("\"");
  line += destination;
  line.Append(suffix, static_cast<size_t>(comma - suffix));
  line += '"';
  line += comma;
  return line;
}

TGroupOutcome TForm1::RegisterProgramGroup(const AnsiString& path) {
  registration_ = groupNotRegistered;
  // The commands carry the destination in the settings' encoding's conversation:
  // UTF-8 over a Unicode one, else the ANSI code page, as typed text always went.
  const AnsiString destination = settings_.utf8 ? path : window_.AnsiCodePageText(path);
  if (destination.failed()) return registration_;
  PM->programGroup = settings_.group;
  if (PM->programGroup.failed()) return registration_;
  const int count = settings_.items ? settings_.item_count : 1;
  for (int i = 0; i < count; ++i) {
    // destination\TARGET,NAME (without items: destination + kProgramItemSuffix)
    AnsiString suffix(kProgramItemSuffix);
    if (settings_.items) {
      suffix = "\\";
      suffix += settings_.items[i].target;
      suffix += ',';
      // A name with a comma in quotes, as the item list reads its fields (a name
      // holds no quote).
      const char* name = settings_.items[i].name;
      const bool quoted = strchr(name, ',') != nullptr;
      if (quoted) suffix += '"';
      suffix += name;
      if (quoted) suffix += '"';
    }
    AnsiString line = ProgramItemLine(destination, suffix.c_str());
    if (suffix.failed() || line.failed() || !PM->programItems().Add(line)) return registration_;
  }
  // An error stops PM part-way: nothing it reports can be relied on then.
  if (PM->CreateProgramGroup().ok()) registration_ = PM->GroupOutcome();
  return registration_;
}

// ---- The application's reports -------------------------------------------------------

void LogOutcome(const char* what, const char* folder, const char* below, const Error& error) {
  if (!InstallLog) return;
  char outcome[3 * kErrorMessageSize + 24] = ": ok";
  if (error) {
    const size_t length = TextBuilder(outcome, sizeof outcome).Text(": error ").Decimal(error.code).Text(": ").length();
    char message[kErrorMessageSize];
    size_t message_length = FormatErrorMessage(error, message, sizeof message);
    if (message_length >= sizeof message) message_length = sizeof message - 1;
    Cp1250ToUtf8(message, message_length, outcome + length, sizeof outcome - length);
  }
  const char* const parts[] = {what, " ", folder, below, outcome};
  InstallLog->Line(parts, 5);
}

size_t FormatRuntimeError(uint32_t error_number, uint32_t address, char* buf, size_t size) {
  TextBuilder out(buf, size);
  return out.Text("Runtime error").Decimal(error_number, 4, ' ').Text(" at ").Hex(address, 8).length();
}

size_t FormatApplicationError(const Error& error, const char* module_name, uint32_t address, char* buf, size_t size) {
  TextBuilder out(buf, size);
  out.Text("Exception ").Text(ErrorClassName(error)).Text(" in module ").Text(module_name);
  out.Text(" at ").Hex(address, 8).Text(".\n");
  char message[kErrorMessageSize];
  size_t length = FormatErrorMessage(error, message, sizeof message);
  if (length >= sizeof message) length = sizeof message - 1;
  out.Text(message);
  if (length > 0 && message[length - 1] != '.') out.Text(".");
  return out.length();
}

size_t ApplicationTitle(const uint16_t* path, uint16_t (*lower)(uint16_t), uint16_t* out, size_t size) {
  const uint16_t* name = NameFromPath(path);
  Utf16Builder title(out, size);
  for (const uint16_t* p = name; *p && *p != '.'; ++p) title.Put(p == name ? *p : lower(*p));
  return title.Finish();
}

}  // namespace vek
