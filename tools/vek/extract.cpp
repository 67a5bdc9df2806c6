#include "extract.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "beside.h"
#include "casefold.h"
#include "check.h"
#include "errorwords.h"
#include "extractor.h"
#include "messagebox.h"
#include "open.h"
#include "shown.h"
#include "solid.h"
#include "terminal.h"
#include "toolhost.h"

namespace vek::tools {
namespace {

// How an entry is named in extraction's messages: "entry 12, \dir\file".
std::string ExtractedLabel(const ArchiveReader& reader, uint32_t id) {
  return "entry " + std::to_string(id) + ", " + ShownPath(reader, static_cast<int32_t>(id));
}

// Boxes become lines on standard error; an error box makes the run fail.
class ConsoleMessages final : public MessageBoxPresenter {
 public:
  explicit ConsoleMessages(const ArchiveReader& reader) : reader_(reader) {}
  void ShowMessageBox(const char* text, MessageKind kind) override {
    if (kind == MessageKind::kError) ++errors;
    fprintf(stderr, "\nvek: %s: %s (%s)\n", kind == MessageKind::kError ? "error" : "note",
            PrintableText(text, strlen(text), NameEncoding::kWindows1250).c_str(),
            ExtractedLabel(reader_, current).c_str());
  }
  int errors = 0;
  uint32_t current = 0;  // the entry being extracted

 private:
  const ArchiveReader& reader_;
};

// The text of the default error report, as the stub shows it.
std::string ReportText(const Error& error) { return ReportInWords(error); }

// The entries that names choose: each name's entry (a path in the archive, "\\" or
// "/" between its names, letter case as Windows takes it) and everything below it,
// with the folders above them; every entry without names. *unknown: a name that no
// entry has.
std::vector<bool> Chosen(const ArchiveReader& reader, const std::vector<std::string>& names, std::string* unknown) {
  const uint32_t count = reader.GetEntryCount();
  std::vector<bool> chosen(count + 1, names.empty());
  if (names.empty()) return chosen;
  std::vector<std::string> paths(count + 1);
  for (uint32_t id = 1; id <= count; ++id) {
    const AnsiString path = reader.GetEntryPath(static_cast<int32_t>(id), '\\');
    paths[id] = FoldedName(path.data(), path.size(), NameEncoding::kUtf8);
  }
  for (const std::string& name : names) {
    std::string wanted;
    for (char c : name) wanted += c == '/' ? '\\' : c;
    while (!wanted.empty() && wanted.back() == '\\') wanted.pop_back();
    if (wanted.empty() || wanted[0] != '\\') wanted.insert(0, 1, '\\');
    wanted = FoldedName(wanted.data(), wanted.size(), NameEncoding::kUtf8);
    bool found = false;
    for (uint32_t id = 1; id <= count; ++id) {
      const std::string& p = paths[id];
      if (p == wanted ||
          (p.size() > wanted.size() && p.compare(0, wanted.size(), wanted) == 0 && p[wanted.size()] == '\\')) {
        chosen[id] = found = true;
      }
    }
    if (!found) {
      *unknown = name;
      return chosen;
    }
  }
  // The folders on the way, made before what lies in them.
  for (uint32_t id = count; id >= 1; --id) {
    if (!chosen[id]) continue;
    for (uint32_t parent = reader.GetEntryParentId(static_cast<int32_t>(id)), steps = 0;
         parent >= 1 && parent <= count && !chosen[parent] && steps < count; ++steps) {
      chosen[parent] = true;
      parent = reader.GetEntryParentId(static_cast<int32_t>(parent));
    }
  }
  return chosen;
}

// A block's files written, each named to the console's messages and counted as done.
class ConsoleBlockFiles final : public BlockFileSink {
 public:
  ConsoleBlockFiles(ArchiveReader& reader, TreeMaker& tree, const AnsiString& destination, ConsoleMessages& messages,
                    const std::function<void()>& done)
      : files_(reader, tree, destination, shared_), messages_(messages), done_(done) {}
  Error Begin(const ArchiveEntry& entry) override {
    messages_.current = entry.id;
    return files_.Begin(entry);
  }
  Error Write(const unsigned char* data, size_t size) override { return files_.Write(data, size); }
  Error End(const ArchiveEntry& entry, const Error& outcome) override {
    messages_.current = entry.id;
    VEK_TRY(files_.End(entry, outcome));
    done_();
    return NoError();
  }

 private:
  BlockFiles shared_;
  BlockExtraction files_;
  ConsoleMessages& messages_;
  const std::function<void()>& done_;
};

}  // namespace

int ExtractCommand(const std::string& path, const std::string& folder, bool progress,
                   const std::vector<std::string>& names) {
  std::string destination_text;
  if (!DestinationFolder(folder, &destination_text)) {
    fprintf(stderr, "vek: %s: the system cannot read this folder name\n", folder.c_str());
    return kExitFailure;
  }
  OpenedArchive archive;
  std::string error;
  if (!OpenArchive(path, &archive, &error)) {
    fprintf(stderr, "vek: %s: %s\n", path.c_str(), error.c_str());
    return kExitFailure;
  }
  NoteHowFound(archive, stderr);
  // What vek test would report is reported here too; the run still writes what the
  // installer would, and ends with the status of problems found.
  const std::vector<Problem> problems = CheckArchive(archive);
  for (const std::string& line : SummariseProblems(problems)) {
    fprintf(stderr, "vek: %s: %s\n", path.c_str(), line.c_str());
  }
  ArchiveReader& reader = archive.reader;
  std::string unknown;
  const std::vector<bool> chosen = Chosen(reader, names, &unknown);
  if (!unknown.empty()) {
    fprintf(stderr, "vek: %s: no entry %s in the archive\n", path.c_str(), unknown.c_str());
    return kExitFailure;
  }
  if (reader.ExtensionUnusable()) {
    fprintf(stderr, "vek: %s: the archive is damaged: %s\n", path.c_str(), ChecksumsInWords(reader.extension()));
    return kExitFailure;
  }
  // Files sharing data (vek test's "overlap") could write far more than the archive holds.
  const auto overlap =
      std::find_if(problems.begin(), problems.end(), [](const Problem& p) { return p.kind == "overlap"; });
  if (overlap != problems.end()) {
    fprintf(stderr,
            "vek: %s: refused, nothing written: %s (files sharing bytes could write far more than the archive "
            "holds)\n",
            path.c_str(), overlap->text.c_str());
    return kExitFailure;
  }
  AnsiString destination(destination_text.c_str());
  // The edge the archive was opened through; with checksums, a file that replaces an
  // existing one is checked beside it first.
  WriteBeside beside(PlatformFileEdge(), PlatformPackEdge(), path);
  FileEdge& tree = reader.HasChecksums() ? beside : PlatformFileEdge();
  // The root (an empty destination) is there already.
  Error e = destination.empty() ? NoError() : ForceDestination(destination, tree);
  if (e) {
    fprintf(stderr, "vek: %s: %s\n", folder.c_str(), ReportText(e).c_str());
    return kExitFailure;
  }
  // Refused before the first file when the files cannot fit (gone on when it is not known).
  uint64_t free = 0;
  uint64_t needed = 0;
  const uint32_t count = reader.GetEntryCount();
  uint32_t files = 0;
  for (uint32_t id = 1; id <= count; ++id) {
    ArchiveEntry entry;
    if (chosen[id] && reader.FindEntry(static_cast<int32_t>(id), &entry) && entry.id == id &&
        entry.kind == kEntryKindFile && entry.size >= 0) {
      needed += entry.original_size;
      ++files;
    }
  }
  if (tree.FreeSpace(destination.c_str(), &free) && free < needed) {
    fprintf(stderr, "vek: %s: not enough free space: the files take %llu bytes; %llu bytes are free\n", folder.c_str(),
            static_cast<unsigned long long>(needed), static_cast<unsigned long long>(free));
    return kExitFailure;
  }
  ConsoleMessages messages(reader);
  MessageBoxPresenter* previous = SetMessageBoxPresenter(&messages);
  ProgressLine line("extracting", progress);
  int status = kExitSuccess;
  CopyRoom room;
  uint32_t done = 0;
  const std::function<void()> one_more = [&] { line.Update(++done, files); };
  auto failed = [&](const Error& error, uint32_t id) {
    line.Finish();
    fprintf(stderr, "vek: %s (%s)\n", ReportText(error).c_str(), ExtractedLabel(reader, id).c_str());
    status = kExitFailure;
  };
  // The folders and the files stored in table order, then each block that holds a
  // chosen file, its files in the order of their data.
  for (uint32_t id = 1; id <= count && status == kExitSuccess; ++id) {
    ArchiveEntry entry;
    reader.FindEntry(static_cast<int32_t>(id), &entry);
    if (!chosen[id] || entry.method == kMethodLzmaSolid) continue;
    messages.current = id;
    e = ExtractEntry(reader, tree, static_cast<int32_t>(id), destination, DataCheck::kVerify, &room);
    if (e) failed(e, id);
    if (entry.kind == kEntryKindFile) one_more();
  }
  SolidPlan plan;
  if (status == kExitSuccess && !plan.Make(reader)) failed(OutOfMemoryError(), 0);
  for (uint32_t block = 0; block < plan.blocks() && status == kExitSuccess; ++block) {
    uint32_t n = 0;
    const uint32_t* ids = plan.Files(block, &n);
    std::vector<uint32_t> wanted;
    for (uint32_t i = 0; i < n; ++i) {
      if (chosen[ids[i]] &&
          reader.CheckEntryPathBelow(destination, static_cast<int32_t>(ids[i])) != PathSafety::kSafe) {
        failed(InOutError(kIoInvalidFilename), ids[i]);  // as ExtractEntry refuses it
        break;
      }
      if (chosen[ids[i]]) wanted.push_back(ids[i]);
    }
    if (status != kExitSuccess || wanted.empty()) continue;
    ConsoleBlockFiles out(reader, tree, destination, messages, one_more);
    uint32_t slot = 0;
    e = DecodeBlock(reader, reader.file(), block, wanted.data(), static_cast<uint32_t>(wanted.size()), out, &slot);
    if (e) failed(e, slot);
  }
  line.Finish();
  SetMessageBoxPresenter(previous);
  if (status == kExitSuccess && messages.errors > 0) status = kExitFailure;
  if (status == kExitSuccess && !problems.empty()) {
    fprintf(stderr, "vek: %s: extracted as the installer would, with %zu problem%s in the archive\n", path.c_str(),
            problems.size(), problems.size() == 1 ? "" : "s");
    status = kExitProblems;
  }
  return status;
}

}  // namespace vek::tools
