#include "extract.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "check.h"
#include "errorwords.h"
#include "extractor.h"
#include "messagebox.h"
#include "open.h"
#include "shown.h"
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

}  // namespace

int ExtractCommand(const std::string& path, const std::string& folder, bool progress) {
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
  FileEdge& tree = PlatformFileEdge();  // the edge the archive was opened through
  // The root (an empty destination) is there already.
  Error e = destination.empty() ? NoError() : ForceDestination(destination, tree);
  if (e) {
    fprintf(stderr, "vek: %s: %s\n", folder.c_str(), ReportText(e).c_str());
    return kExitFailure;
  }
  // Refused before the first file when the files cannot fit (gone on when it is not known).
  uint64_t free = 0;
  const uint64_t needed = TotalOriginalSize(reader);
  if (tree.FreeSpace(destination.c_str(), &free) && free < needed) {
    fprintf(stderr, "vek: %s: not enough free space: the files take %llu bytes; %llu bytes are free\n",
            folder.c_str(), static_cast<unsigned long long>(needed), static_cast<unsigned long long>(free));
    return kExitFailure;
  }
  ConsoleMessages messages(reader);
  MessageBoxPresenter* previous = SetMessageBoxPresenter(&messages);
  ProgressLine line("extracting", progress);
  int status = kExitSuccess;
  const uint32_t count = reader.GetEntryCount();
  CopyRoom room;
  for (uint32_t id = 1; id <= count; ++id) {
    messages.current = id;
    e = ExtractEntry(reader, tree, static_cast<int32_t>(id), destination, DataCheck::kVerify, &room);
    if (e) {
      line.Finish();
      fprintf(stderr, "vek: %s (%s)\n", ReportText(e).c_str(), ExtractedLabel(reader, id).c_str());
      status = kExitFailure;
      break;
    }
    line.Update(id, count);
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
